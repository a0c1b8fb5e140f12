#pragma once
// Finds every occurrence of a set of nibble patterns in the byte stream of one input port and
// reports each to a listener with the matched bytes. Owned by that port's input matcher; every call,
// and every report, happens on the thread that feeds the port's input.

#include "Common/MIDI/MIDIMatch/MIDIMatchBranchNode.h"
#include "Common/MIDI/MIDIMatch/MIDIMatchTrigger.h"
#include "Common/MIDI/MIDIMatch/MIDIMatchTriggerListener.h"

#include <cstdint>
#include <set>
#include <vector>

// The manager's registered copy of one pattern.
struct sTriggerRecord
{
    cMIDIMatchTriggerListener* listener = nullptr;
    int32_t id = 0;
    std::vector<sMatchNibble> nibbles;
    uint32_t byteCount = 0;
    // Stream index of the last byte of this trigger's latest report.
    int64_t lastReportedByte = INT64_MIN;
};

// One partial match in progress. Its nibble history is not stored: it is the last Depth() nibbles of
// the stream, which the manager keeps in its history ring.
struct sMatchState
{
    // Row of the node reached so far in the manager's transition table.
    uint32_t row = 0;
};

class cMIDIMatchManager
{
public:
    explicit cMIDIMatchManager(cMIDIMatchTriggerListener* Listener);
    virtual ~cMIDIMatchManager();
    cMIDIMatchManager(const cMIDIMatchManager&) = delete;
    cMIDIMatchManager& operator=(const cMIDIMatchManager&) = delete;

    // Registers one pattern under its trigger identifier. Meant to be called before the first byte;
    // a pattern added later (even from inside a report) takes part from the next byte on.
    void AddTrigger(const sMIDIMatchTrigger& Trigger);
    // Feeds the next byte of the stream; reports every pattern that ends with it. Not re-entrant: a
    // byte fed from inside a report is logged and dropped.
    void ProcessByte(uint8_t Byte);
    // Forgets every partial match in progress, for a feeder that knows the bytes they hold can no
    // longer make a message (one cut short by the next status byte). Patterns stay registered.
    void AbandonPartialMatches();

private:
    // What a partial match does when it meets one nibble at one node.
    struct sTransition
    {
        int32_t next = -1;  // row the state moves to; -1 ends the state
        int32_t copy = -1;  // row of a copy of the state when both the wildcard and the exact child go on
        uint32_t firstReport = 0; // range in mReportOrder: records collected, in firing order
        uint32_t reportCount = 0;
    };

    void Compile();
    template <bool tStart>
    void Step(uint8_t Nibble);
    void Report(const sTransition& Transition);

    cMIDIMatchTriggerListener* mListener;
    std::vector<cMIDIMatchBranchNode> mNodes; // index 0 is the root
    std::vector<sTriggerRecord> mRecords;
    std::set<int32_t> mIdentifiers; // to spot identifiers registered twice

    // Built from the tree before the first byte after any change: 16 transitions per node that has
    // children (row 0 is the root), so a step is one table look-up per state.
    bool mCompiled = false;
    std::vector<sTransition> mTransitions;
    std::vector<uint32_t> mReportOrder;
    std::vector<int32_t> mNodeOfRow;

    std::vector<sMatchState> mStates; // oldest first

    // The latest bytes of the stream, each stored twice (at i and i + capacity) so that the bytes
    // of any match are contiguous.
    std::vector<uint8_t> mHistory;
    uint32_t mHistoryCapacity = 0; // a power of two, at least the longest pattern
    int64_t mPosition = 0;         // index of the byte being processed
    std::vector<uint8_t> mMessage;  // handed to the listener
    int64_t mMessagePosition = -1; // byte at which mMessage was last filled
    bool mReporting = false;
};
