#pragma once
// Receives the matches of a match tree, synchronously, on the thread that feeds the tree.

#include <cstdint>
#include <vector>

class cMIDIMatchTriggerListener
{
public:
    // Message holds exactly the matched bytes: as many as the pattern has.
    virtual void MIDIMatchTriggered(int Id, const std::vector<uint8_t>& Message) = 0;

protected:
    // Listeners are never deleted through this interface.
    ~cMIDIMatchTriggerListener() = default;
};
