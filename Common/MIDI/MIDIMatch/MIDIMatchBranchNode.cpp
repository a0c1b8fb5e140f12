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
    if (Key.value < 16)
        return mExactChildren[Key.value];
    for (const auto& child : mUnreachableChildren)
    {
        if (child.first == Key.value)
            return child.second;
    }
    return kNone;
}

void cMIDIMatchBranchNode::AttachChild(const sMatchNibble& Key, int32_t Child)
{
    if (Key.wildcard)
        mWildcardChild = Child;
    else if (Key.value < 16)
        mExactChildren[Key.value] = Child;
    else
        mUnreachableChildren.emplace_back(Key.value, Child);
    ++mChildCount;
}
