#include "Common/MIDI/MIDIMatch/MIDIMatchBranchNode.h"

cMIDIMatchBranchNode::cMIDIMatchBranchNode(const sMatchNibble& Nibble, uint32_t Depth, int32_t Parent)
    : mNibble(Nibble), mDepth(Depth), mParent(Parent)
{
    mExactChildren.fill(kNone);
}

int32_t cMIDIMatchBranchNode::FindChild(const sMatchNibble& Key) const
{
    if (Key.wildcard)
        return mWildcardChild;
    return ExactChild(Key.value);
}

void cMIDIMatchBranchNode::AttachChild(const sMatchNibble& Key, int32_t Child)
{
    // The manager refuses exact values above 15 before it builds nodes, so every key has a slot.
    if (Key.wildcard)
        mWildcardChild = Child;
    else if (Key.value < 16)
        mExactChildren[Key.value] = Child;
    else
        return;
    ++mChildCount;
}
