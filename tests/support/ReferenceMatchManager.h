#pragma once
// A match tree written for clarity, not speed: nodes with child lists, partial matches that copy
// their nibble history and keep their own list of already reported triggers. The tests, fuzz
// harness and benchmark check cMIDIMatchManager against it. Single-threaded, owned by its user.

#include "Common/MIDI/MIDIMatch/MIDIMatchTrigger.h"
#include "Common/MIDI/MIDIMatch/MIDIMatchTriggerListener.h"

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class cReferenceMatchManager
{
public:
    explicit cReferenceMatchManager(cMIDIMatchTriggerListener* Listener);
    cReferenceMatchManager(const cReferenceMatchManager&) = delete;
    cReferenceMatchManager& operator=(const cReferenceMatchManager&) = delete;

    void AddTrigger(const sMIDIMatchTrigger& Trigger);
    void ProcessByte(uint8_t Byte);

private:
    struct sRecord
    {
        cMIDIMatchTriggerListener* listener = nullptr;
        int32_t id = 0;
        std::vector<sMatchNibble> nibbles;
    };

    struct sNode
    {
        sMatchNibble key;
        uint32_t depth = 0;
        sNode* parent = nullptr;
        std::vector<std::unique_ptr<sNode>> children; // the wildcard child, if any, first
        std::vector<std::unique_ptr<sRecord>> triggers;
        std::vector<sRecord*> descendantTriggers;
    };

    struct sState
    {
        sNode* node = nullptr;
        std::vector<uint8_t> nibbles;
        std::vector<sRecord*> fired;
    };

    static bool SameKey(const sMatchNibble& A, const sMatchNibble& B);
    static void MatchChildren(const sNode& Node, uint8_t Nibble, std::vector<sNode*>& Continuing,
                              std::vector<sRecord*>& Collected);
    void ProcessNibble(uint8_t Nibble, bool Start);
    static void Report(const sState& State, const sRecord& Record);

    cMIDIMatchTriggerListener* mListener;
    std::unique_ptr<sNode> mRoot;
    std::vector<sState> mStates;
    std::map<int32_t, sRecord*> mIdentifiers;
};
