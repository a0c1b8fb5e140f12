#pragma once
// One system MIDI output through RtMidi. Created and destroyed by the registry; GUI thread only.

#include "Common/MIDI/MIDIOutput.h"
#include "Common/MIDI/MIDISenderRt.h"

#include <QString>

#include <RtMidi.h>

#include <memory>

class cMIDIOutputRt : public cMIDIOutput
{
public:
    // Opens the port that Api lists as SystemName; a port that cannot be opened is logged and
    // sends nothing.
    cMIDIOutputRt(RtMidi::Api Api, const QString& SystemName);
    ~cMIDIOutputRt() override;

    // Sends every complete message of Data on its own.
    void Write(const QByteArray& Data) override;

    bool IsOpen() const;

private:
    static void Error(RtMidiError::Type Type, const std::string& Text, void* Port);

    QString mName;
    std::unique_ptr<RtMidiOut> mOut;
    cMIDISenderRt mSender;
};
