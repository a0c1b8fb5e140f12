#pragma once
// One node of a match tree; the edge from its parent carries one pattern nibble. Nodes live in the
// node table of the cMIDIMatchManager that builds them and name each other by index there; they are
// only touched on the thread that feeds that manager.

#include "Common/MIDI/MIDIMatch/MIDIMatchTrigger.h"

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

class cMIDIMatchBranchNode
{
public:
    static constexpr int32_t kNone = -1;

    cMIDIMatchBranchNode(const sMatchNibble& Nibble, uint32_t Depth, int32_t Parent);

    const sMatchNibble& Nibble() const { return mNibble; }
    // Nibbles from the root to this node (the root has depth 0).
    uint32_t Depth() const { return mDepth; }
    int32_t Parent() const { return mParent; }

    // The child whose key equals Key: both wildcards, or both exact with the same value.
    int32_t FindChild(const sMatchNibble& Key) const;
    void AttachChild(const sMatchNibble& Key, int32_t Child);
    int32_t WildcardChild() const { return mWildcardChild; }
    // The exact child for a stream nibble 0..15, or kNone.
    int32_t ExactChild(uint8_t Value) const { return Value < 16 ? mExactChildren[Value] : kNone; }
    bool HasChildren() const { return mChildCount != 0; }

    // Records (indices into the manager's record table) whose pattern ends here, in registration order.
    const std::vector<uint32_t>& Triggers() const { return mTriggers; }
    void AddTrigger(uint32_t Record) { mTriggers.push_back(Record); }

private:
    sMatchNibble mNibble;
    uint32_t mDepth = 0;
    int32_t mParent = kNone;
    int32_t mWildcardChild = kNone;
    uint32_t mChildCount = 0;
    std::array<int32_t, 16> mExactChildren;
    // Exact keys above 15 (from a faulty pattern): no stream nibble reaches them, but they are part
    // of the tree's shape, which decides the firing order of the other patterns.
    std::vector<std::pair<uint8_t, int32_t>> mUnreachableChildren;
    std::vector<uint32_t> mTriggers;
};
