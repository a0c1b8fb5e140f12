#pragma once
// A virtual port pair of a build without a virtual MIDI back-end: nothing reaches it and what is
// written to it is dropped. Created and destroyed by the registry on the GUI thread.

#include "Common/MIDI/MIDIInputOutput.h"

#include <QString>

class cVirtualMIDIInputOutputNone : public cMIDIInputOutput
{
public:
    // Logs that the port cannot reach a DAW, so a user of such a build learns why.
    cVirtualMIDIInputOutputNone(const QString& Name, QObject* Parent);

    void Read(QByteArray& Data) override;
    void Write(const QByteArray& Data) override;
};
