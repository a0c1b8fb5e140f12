#pragma once
// A port that both receives and sends: the TCP link, a virtual port pair, a fake in the tests.
// As a cMIDIInput* it is the object itself; its cMIDIOutput* is the second base.

#include "Common/MIDI/MIDIInput.h"
#include "Common/MIDI/MIDIOutput.h"

class cMIDIInputOutput : public cMIDIInput, public cMIDIOutput
{
public:
    explicit cMIDIInputOutput(QObject* Parent = nullptr) : cMIDIInput(Parent) {}
    ~cMIDIInputOutput() override = default;
};
