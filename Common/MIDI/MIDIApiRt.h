#pragma once
// Which MIDI system RtMidi talks to in this process: chosen once, on first need, and kept until
// Forget (the virtual port table forgets it when it closes every port). GUI thread only.

#include <QString>

#include <RtMidi.h>

class cMIDIApiRt
{
public:
    // Every RtMidi object of Quillon opens its client under this name.
    static constexpr const char* kClientName = "Quillon";

    // The chosen system: QUILLON_MIDI_API when set, else the first of RtMidi's systems for this
    // platform that opens (ALSA sequencer, then JACK on Linux; CoreMIDI, then JACK on macOS).
    // RtMidi::UNSPECIFIED when none opens; that is logged once, with the reason for each.
    static RtMidi::Api Current();
    // Why no system opened; empty while one did (or before the first Current).
    static QString Failure();
    // The next Current chooses again.
    static void Forget();

    // "alsa", "jack", "core" (any case, surrounding blanks ignored); UNSPECIFIED for an empty
    // value. Known becomes false for anything else.
    static RtMidi::Api FromName(const QString& Name, bool* Known);
    static QString Name(RtMidi::Api Api);

private:
    // Whether a client of Api opens and reaches its server; Why gets the reason when not.
    static bool Opens(RtMidi::Api Api, QString* Why);
};
