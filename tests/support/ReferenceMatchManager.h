#pragma once
// The firing rules of the match tree written out by brute force, for the tests, fuzz harness and
// benchmark to check cMIDIMatchManager against: no tree, only the stream so far and the partial
// matches, each a start byte and the pattern nibbles it followed. Single-threaded, owned by its user.

#include "Common/MIDI/MIDIMatch/MIDIMatchTrigger.h"
#include "Common/MIDI/MIDIMatch/MIDIMatchTriggerListener.h"

#include <cstdint>
#include <vector>

class cReferenceMatchManager
{
public:
    explicit cReferenceMatchManager(cMIDIMatchTriggerListener* Listener) : mListener(Listener) {}

    void AddTrigger(const sMIDIMatchTrigger& Trigger) { mTriggers.push_back({Trigger, -1}); }
    void ProcessByte(uint8_t Byte);

private:
    struct sTrigger
    {
        sMIDIMatchTrigger trigger;
        int64_t lastReport; // stream index of the last byte of its latest report, -1 before any
    };
    struct sPartial
    {
        int64_t start;
        std::vector<sMatchNibble> path;
    };

    void Step(uint8_t Nibble);

    cMIDIMatchTriggerListener* mListener;
    std::vector<sTrigger> mTriggers;
    std::vector<sPartial> mPartials;
    std::vector<uint8_t> mStream;
};
