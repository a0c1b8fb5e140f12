#pragma once
// One virtual port pair offered to the DAW through RtMidi: what the DAW sends arrives through Read,
// what is written goes to the DAW, one complete message at a time. The pair itself lives in the
// process-wide table and outlives this object. Created and destroyed by the registry on the GUI
// thread; Deliver runs on the MIDI system's thread.

#include "Common/MIDI/MIDIInputOutput.h"
#include "Common/MIDI/MIDISenderRt.h"
#include "Common/MIDI/MIDIReceiveBuffer.h"

#include <QByteArray>
#include <QString>

#include <vector>

class cVirtualMIDIInputOutputRt : public cMIDIInputOutput
{
public:
    // Attaches to the open pair of that name, or opens it; when it cannot be opened, says why
    // in the log and then neither receives nor sends.
    cVirtualMIDIInputOutputRt(const QString& Name, QObject* Parent);
    ~cVirtualMIDIInputOutputRt() override;

    void Read(QByteArray& Data) override;
    void Write(const QByteArray& Data) override;

    // Whether the pair is open and this object sends to it.
    bool IsOpen() const { return mOpen; }

    // The table's input callback: one message from the DAW.
    void Deliver(const std::vector<unsigned char>& Message);
    // The table closed every pair: nothing is sent from now on.
    void PortClosed();

private:
    QString mName;
    cMIDIReceiveBuffer mReceived;
    cMIDISenderRt mSender;
    bool mOpen = false;
};
