#pragma once
// One system MIDI input through RtMidi. Created and destroyed by the registry on the GUI thread;
// RtMidi's callback runs on the MIDI system's thread (ALSA's input thread, CoreMIDI's).

#include "Common/MIDI/MIDIInput.h"
#include "Common/MIDI/MIDIReceiveBuffer.h"

#include <QByteArray>
#include <QString>

#include <RtMidi.h>

#include <memory>
#include <vector>

class cMIDIInputRt : public cMIDIInput
{
public:
    // Opens the port that Api lists as SystemName; a port that cannot be opened is logged and
    // receives nothing.
    cMIDIInputRt(RtMidi::Api Api, const QString& SystemName, QObject* Parent);
    ~cMIDIInputRt() override;

    void Read(QByteArray& Data) override;

    bool IsOpen() const;

private:
    // Appends one received message and announces it, only while someone listens.
    void Received(const std::vector<unsigned char>& Message);
    static void Callback(double TimeStamp, std::vector<unsigned char>* Message, void* Port);
    static void Error(RtMidiError::Type Type, const std::string& Text, void* Port);

    QString mName;
    cMIDIReceiveBuffer mReceived;
    std::unique_ptr<RtMidiIn> mIn;
};
