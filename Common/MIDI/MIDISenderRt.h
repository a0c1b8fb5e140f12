#pragma once
// Splits what a port's Write gets into complete messages and hands each to an RtMidi output on its
// own (the ALSA sequencer and CoreMIDI take one message per call). Owned by value by its port; GUI
// thread only.

#include "Common/MIDI/MidiParser.h"

#include <QByteArray>
#include <QString>

#include <RtMidi.h>

class cMIDISenderRt : public cMidiParser
{
public:
    cMIDISenderRt();

    // Where complete messages go from now on; null sends nothing. Not owned.
    void SetOutput(RtMidiOut* Output) { mOutput = Output; }
    // Feeds the bytes; every message they complete is sent. Clock, active sensing and the other
    // real-time bytes, and bytes that make no complete message, are not sent. Send failures are
    // logged with Port as the port's name.
    void Send(const QByteArray& Data, const QString& Port);

protected:
    bool SysEx() override;
    void Unhandled() override;
    void UnhandledControlChange() override;

private:
    void SendMessage(const uint8_t* Bytes, int Count);

    RtMidiOut* mOutput = nullptr;
    QString mPort;
};
