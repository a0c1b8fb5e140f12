#include "tests/support/ReferenceMatchManager.h"

#include "Common/LogError.h"

#include <algorithm>

cReferenceMatchManager::cReferenceMatchManager(cMIDIMatchTriggerListener* Listener)
    : mListener(Listener), mRoot(std::make_unique<sNode>())
{
}

bool cReferenceMatchManager::SameKey(const sMatchNibble& A, const sMatchNibble& B)
{
    if (A.wildcard || B.wildcard)
        return A.wildcard && B.wildcard;
    return A.value == B.value;
}

namespace
{
template <typename tRecord> bool Contains(const std::vector<tRecord*>& List, const tRecord* Record)
{
    return std::find(List.begin(), List.end(), Record) != List.end();
}
} // namespace

void cReferenceMatchManager::AddTrigger(const sMIDIMatchTrigger& Trigger)
{
    if (mIdentifiers.count(Trigger.id) != 0)
        LOG_ERROR("Identifier %d is alread in use", Trigger.id);
    // As in cMIDIMatchManager, an odd pattern builds its nodes but never fires: it could not be
    // reported as whole bytes. (Exact values above 15 need nothing special here: they never match.)
    const bool fires = Trigger.nibbles.size() % 2 == 0;

    sNode* node = mRoot.get();
    while (node->depth < Trigger.nibbles.size())
    {
        const sMatchNibble& element = Trigger.nibbles[node->depth];
        sNode* next = nullptr;
        for (const auto& child : node->children)
        {
            if (SameKey(child->key, element))
            {
                next = child.get();
                break;
            }
        }
        if (next == nullptr)
            break;
        node = next;
    }
    for (std::size_t depth = node->depth; depth < Trigger.nibbles.size(); ++depth)
    {
        auto child = std::make_unique<sNode>();
        child->key = Trigger.nibbles[depth];
        child->depth = static_cast<uint32_t>(depth + 1);
        child->parent = node;
        sNode* raw = child.get();
        if (child->key.wildcard)
            node->children.insert(node->children.begin(), std::move(child));
        else
            node->children.push_back(std::move(child));
        node = raw;
    }

    if (!fires)
    {
        mIdentifiers[Trigger.id] = nullptr;
        return;
    }

    auto record = std::make_unique<sRecord>();
    record->listener = mListener;
    record->id = Trigger.id;
    record->nibbles = Trigger.nibbles;
    sRecord* raw = record.get();
    node->triggers.push_back(std::move(record));
    for (sNode* ancestor = node->parent; ancestor != nullptr; ancestor = ancestor->parent)
        ancestor->descendantTriggers.push_back(raw);
    mIdentifiers[Trigger.id] = raw;
}

void cReferenceMatchManager::MatchChildren(const sNode& Node, uint8_t Nibble, std::vector<sNode*>& Continuing,
                                           std::vector<sRecord*>& Collected)
{
    for (const auto& child : Node.children)
    {
        if (!child->key.wildcard && child->key.value != Nibble)
            continue;
        for (const auto& record : child->triggers)
            Collected.push_back(record.get());
        if (!child->children.empty())
            Continuing.push_back(child.get());
        if (!child->key.wildcard)
            break;
    }
}

void cReferenceMatchManager::ProcessByte(uint8_t Byte)
{
    ProcessNibble(static_cast<uint8_t>(Byte >> 4), true);
    ProcessNibble(static_cast<uint8_t>(Byte & 0x0F), false);
}

void cReferenceMatchManager::ProcessNibble(uint8_t Nibble, bool Start)
{
    std::vector<sState> newStates;
    std::vector<sRecord*> firedNow;

    if (Start)
    {
        std::vector<sNode*> continuing;
        MatchChildren(*mRoot, Nibble, continuing, firedNow);
        for (sNode* child : continuing)
            newStates.push_back(sState{child, {Nibble}, {}});
    }

    for (sState& state : mStates)
    {
        state.nibbles.push_back(Nibble);
        std::vector<sNode*> continuing;
        std::vector<sRecord*> collected;
        MatchChildren(*state.node, Nibble, continuing, collected);
        for (sRecord* record : collected)
        {
            if (Contains(state.fired, record))
                continue;
            Report(state, *record);
            firedNow.push_back(record);
        }
        if (continuing.empty())
        {
            state.node = nullptr;
            continue;
        }
        state.node = continuing[0];
        for (std::size_t i = 1; i < continuing.size(); ++i)
            newStates.push_back(sState{continuing[i], state.nibbles, state.fired});
    }

    std::vector<sState> survivors;
    for (sState& state : mStates)
    {
        if (state.node != nullptr)
            survivors.push_back(std::move(state));
    }
    for (sState& state : newStates)
        survivors.push_back(std::move(state));
    mStates = std::move(survivors);

    for (sState& state : mStates)
    {
        std::vector<sRecord*> kept;
        for (sRecord* record : state.fired)
        {
            if (Contains(state.node->descendantTriggers, record))
                kept.push_back(record);
        }
        for (sRecord* record : firedNow)
        {
            if (Contains(state.node->descendantTriggers, record))
                kept.push_back(record);
        }
        state.fired = std::move(kept);
    }
}

void cReferenceMatchManager::Report(const sState& State, const sRecord& Record)
{
    std::vector<uint8_t> message;
    for (std::size_t i = 0; i + 1 < State.nibbles.size(); i += 2)
        message.push_back(static_cast<uint8_t>((State.nibbles[i] << 4) | (State.nibbles[i + 1] & 0x0F)));
    if (Record.listener != nullptr)
        Record.listener->MIDIMatchTriggered(Record.id, message);
}
