#include "Common/MIDI/MIDIMatch/MIDIMatchManager.h"

#include "Common/LogError.h"

#include <algorithm>

// How repeated reports are suppressed. A partial match remembers the triggers that were reported
// while it was in progress and that it can still reach, and does not report them again. Every match
// of one trigger spans that trigger's whole length, and a match can reach a trigger only at the
// trigger's own end node, so a match of trigger T that began at byte p and ends at byte q is skipped
// exactly when T was reported at one of the bytes p..q-1. Reports happen only when a byte is
// complete (patterns have two nibbles per byte), and a match that begins at byte p already sees a
// report made at byte p. One index per trigger, the byte of its latest report, therefore replaces
// the per-match lists: T is skipped when that index is at or after p = q - length + 1.

cMIDIMatchManager::cMIDIMatchManager(cMIDIMatchTriggerListener* Listener) : mListener(Listener)
{
    mNodes.emplace_back(sMatchNibble{}, 0, cMIDIMatchBranchNode::kNone);
}

cMIDIMatchManager::~cMIDIMatchManager() = default;

void cMIDIMatchManager::AddTrigger(const sMIDIMatchTrigger& Trigger)
{
    if (!mIdentifiers.insert(Trigger.id).second)
        LOG_ERROR("Identifier %d is alread in use", Trigger.id);

    const std::vector<sMatchNibble>& nibbles = Trigger.nibbles;
    // Faulty patterns cannot come from a pattern string, only from a faulty caller. They are logged
    // and never fire, but their nodes are still built: the tree's shape decides which of two
    // matching paths a partial match follows itself and which one a copy takes, and so the order
    // in which the other patterns fire.
    bool fires = true;
    // A pattern that ends inside a byte cannot be reported as whole bytes.
    if (nibbles.size() % 2 != 0)
    {
        LOG_ERROR("Pattern of identifier %d has an odd number of nibbles (%zu); it never fires", Trigger.id,
                  nibbles.size());
        fires = false;
    }
    for (const sMatchNibble& nibble : nibbles)
    {
        if (fires && !nibble.wildcard && nibble.value > 15)
        {
            LOG_ERROR("Pattern of identifier %d has a nibble value out of range (%u); it never fires", Trigger.id,
                      static_cast<unsigned>(nibble.value));
            fires = false;
        }
    }

    int32_t node = 0;
    for (std::size_t depth = 0; depth < nibbles.size(); ++depth)
    {
        sMatchNibble key = nibbles[depth];
        if (key.wildcard)
            key.value = 0;
        int32_t child = mNodes[node].FindChild(key);
        if (child == cMIDIMatchBranchNode::kNone)
        {
            child = static_cast<int32_t>(mNodes.size());
            mNodes.emplace_back(key, static_cast<uint32_t>(depth + 1), node);
            mNodes[node].AttachChild(key, child);
        }
        node = child;
    }
    mCompiled = false;
    if (!fires)
        return;

    sTriggerRecord record;
    record.listener = mListener;
    record.id = Trigger.id;
    record.nibbles = nibbles;
    record.byteCount = static_cast<uint32_t>(nibbles.size() / 2);
    mRecords.push_back(std::move(record));
    mNodes[node].AddTrigger(static_cast<uint32_t>(mRecords.size() - 1));
}

void cMIDIMatchManager::Compile()
{
    // Rows are renumbered below; live states keep their node.
    std::vector<int32_t> liveNodes;
    liveNodes.reserve(mStates.size());
    for (const sMatchState& state : mStates)
        liveNodes.push_back(mNodeOfRow[state.row]);

    std::vector<int32_t> rowOfNode(mNodes.size(), -1);
    mNodeOfRow.clear();
    for (std::size_t node = 0; node < mNodes.size(); ++node)
    {
        if (node == 0 || mNodes[node].HasChildren())
        {
            rowOfNode[node] = static_cast<int32_t>(mNodeOfRow.size());
            mNodeOfRow.push_back(static_cast<int32_t>(node));
        }
    }

    mTransitions.assign(mNodeOfRow.size() * 16, sTransition{});
    mReportOrder.clear();
    for (std::size_t row = 0; row < mNodeOfRow.size(); ++row)
    {
        const cMIDIMatchBranchNode& node = mNodes[mNodeOfRow[row]];
        const int32_t wildcard = node.WildcardChild();
        for (uint8_t nibble = 0; nibble < 16; ++nibble)
        {
            sTransition& transition = mTransitions[row * 16 + nibble];
            const int32_t exact = node.ExactChild(nibble);
            // The wildcard child is met first: its triggers fire first and the state itself follows
            // it, while the exact path goes to a copy.
            const int32_t matching[2] = {wildcard, exact};
            int32_t continuing[2] = {-1, -1};
            int continuingCount = 0;
            transition.firstReport = static_cast<uint32_t>(mReportOrder.size());
            for (int32_t child : matching)
            {
                if (child == cMIDIMatchBranchNode::kNone)
                    continue;
                // Triggers that end one nibble below the root are odd-length and never registered.
                if (row != 0)
                    mReportOrder.insert(mReportOrder.end(), mNodes[child].Triggers().begin(),
                                        mNodes[child].Triggers().end());
                if (mNodes[child].HasChildren())
                    continuing[continuingCount++] = rowOfNode[child];
            }
            transition.reportCount = static_cast<uint32_t>(mReportOrder.size()) - transition.firstReport;
            transition.next = continuing[0];
            transition.copy = continuing[1];
        }
    }

    for (std::size_t i = 0; i < mStates.size(); ++i)
        mStates[i].row = static_cast<uint32_t>(rowOfNode[liveNodes[i]]);

    uint32_t longest = 1;
    for (const sTriggerRecord& record : mRecords)
        longest = std::max(longest, record.byteCount);
    uint32_t capacity = 1;
    while (capacity < longest)
        capacity <<= 1;
    if (capacity > mHistoryCapacity)
    {
        // Keep the bytes that live partial matches may still report.
        std::vector<uint8_t> history(2 * static_cast<std::size_t>(capacity), 0);
        const int64_t kept = std::min<int64_t>(mPosition, mHistoryCapacity);
        for (int64_t index = mPosition - kept; index < mPosition; ++index)
        {
            const uint8_t byte = mHistory[static_cast<uint32_t>(index) & (mHistoryCapacity - 1)];
            const uint32_t slot = static_cast<uint32_t>(index) & (capacity - 1);
            history[slot] = byte;
            history[slot + capacity] = byte;
        }
        mHistory.swap(history);
        mHistoryCapacity = capacity;
    }
    mMessage.reserve(longest);
    mCompiled = true;
}

template <bool tStart>
inline void cMIDIMatchManager::Step(uint8_t Nibble)
{
    const std::size_t count = mStates.size();
    // New states gather behind the current ones: first those that begin at this byte, one per root
    // child that takes the nibble, then the copies made while the current ones advance.
    if (tStart)
    {
        const sTransition& start = mTransitions[Nibble];
        if (start.next >= 0)
        {
            mStates.push_back(sMatchState{static_cast<uint32_t>(start.next)});
            if (start.copy >= 0)
                mStates.push_back(sMatchState{static_cast<uint32_t>(start.copy)});
        }
    }

    // Oldest first; a state keeps its place while it advances.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i)
    {
        const sTransition& transition = mTransitions[static_cast<std::size_t>(mStates[i].row) * 16 + Nibble];
        // Patterns end only after a low nibble, so only that step can report.
        if (!tStart && transition.reportCount != 0)
            Report(transition);
        if (transition.next < 0)
            continue;
        mStates[kept++].row = static_cast<uint32_t>(transition.next);
        if (transition.copy >= 0)
            mStates.push_back(sMatchState{static_cast<uint32_t>(transition.copy)});
    }
    if (kept != count)
    {
        // A handful of states at most: a plain loop beats a call to memmove.
        const std::size_t size = mStates.size();
        for (std::size_t i = count; i < size; ++i)
            mStates[kept++] = mStates[i];
        mStates.resize(kept);
    }
}

void cMIDIMatchManager::AbandonPartialMatches()
{
    // From inside a report the states are being advanced; they are left alone then.
    if (!mReporting)
        mStates.clear();
}

void cMIDIMatchManager::ProcessByte(uint8_t Byte)
{
    // A listener that feeds the tree from inside a report would change the states under the loop
    // that is advancing them.
    if (mReporting)
    {
        LOG_ERROR("Byte 0x%02X fed to the match tree from inside one of its reports; it is dropped",
                  static_cast<unsigned>(Byte));
        return;
    }
    if (!mCompiled)
        Compile();
    const uint8_t high = static_cast<uint8_t>(Byte >> 4);
    // Most bytes neither start a match nor meet one in progress. Decided before the byte is stored:
    // a store through a byte pointer would make the compiler reload every member afterwards.
    const bool active = !mStates.empty() || mTransitions[high].next >= 0;
    const uint32_t capacity = mHistoryCapacity;
    const uint32_t slot = static_cast<uint32_t>(mPosition) & (capacity - 1);
    uint8_t* history = mHistory.data();
    history[slot] = Byte;
    history[slot + capacity] = Byte;
    if (active)
    {
        Step<true>(high);
        Step<false>(static_cast<uint8_t>(Byte & 0x0F));
    }
    ++mPosition;
}

void cMIDIMatchManager::Report(const sTransition& Transition)
{
    const uint32_t slot = static_cast<uint32_t>(mPosition) & (mHistoryCapacity - 1);
    const uint8_t* end = mHistory.data() + slot + mHistoryCapacity + 1;
    for (uint32_t i = 0; i < Transition.reportCount; ++i)
    {
        sTriggerRecord& record = mRecords[mReportOrder[Transition.firstReport + i]];
        if (record.lastReportedByte > mPosition - record.byteCount)
            continue;
        record.lastReportedByte = mPosition;
        if (record.listener == nullptr)
            continue;
        // Reports at one byte often share their length (one message, several rules).
        if (mMessagePosition != mPosition || mMessage.size() != record.byteCount)
        {
            mMessage.assign(end - record.byteCount, end);
            mMessagePosition = mPosition;
        }
        mReporting = true;
        record.listener->MIDIMatchTriggered(record.id, mMessage);
        mReporting = false;
    }
}
