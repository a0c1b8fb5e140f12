#include "tests/support/ReferenceMatchManager.h"

namespace
{
// Pattern nibbles are the same step of a path: both wildcards, or both the same value.
bool Same(const sMatchNibble& A, const sMatchNibble& B)
{
    return A.wildcard == B.wildcard && (A.wildcard || A.value == B.value);
}

// Whether Path is where Nibbles begin (all of them when Whole).
bool Begins(const std::vector<sMatchNibble>& Nibbles, const std::vector<sMatchNibble>& Path, bool Whole)
{
    if (Nibbles.size() < Path.size() || (Whole && Nibbles.size() != Path.size()))
        return false;
    for (std::size_t i = 0; i < Path.size(); ++i)
        if (!Same(Nibbles[i], Path[i]))
            return false;
    return true;
}
} // namespace

void cReferenceMatchManager::ProcessByte(uint8_t Byte)
{
    mStream.push_back(Byte);
    // Every byte may start a match: the empty path, last in line.
    mPartials.push_back({int64_t(mStream.size()) - 1, {}});
    Step(uint8_t(Byte >> 4));
    Step(uint8_t(Byte & 0x0F));
}

// A partial match follows the wildcard step of its patterns where there is one, and a copy of it,
// behind the matches started at this byte, the exact step; the older matches report first.
void cReferenceMatchManager::Step(uint8_t Nibble)
{
    std::vector<sPartial> following, copies;
    for (const sPartial& partial : mPartials)
    {
        bool followed = false;
        for (const sMatchNibble step : {sMatchNibble{0, true}, sMatchNibble{Nibble, false}})
        {
            std::vector<sMatchNibble> path = partial.path;
            path.push_back(step);
            bool goesOn = false;
            // By index and by copy: a listener may add patterns from inside a report.
            for (std::size_t t = 0; t < mTriggers.size(); ++t)
            {
                const std::vector<sMatchNibble> nibbles = mTriggers[t].trigger.nibbles;
                goesOn = goesOn || (Begins(nibbles, path, false) && nibbles.size() > path.size());
                // Patterns of whole bytes and nibbles 0..15 fire; a report hides an overlapping
                // match of the same pattern.
                bool valid = nibbles.size() % 2 == 0;
                for (const sMatchNibble& nibble : nibbles)
                    valid = valid && (nibble.wildcard || nibble.value <= 15);
                if (!valid || !Begins(nibbles, path, true) || mTriggers[t].lastReport >= partial.start)
                    continue;
                mTriggers[t].lastReport = int64_t(mStream.size()) - 1;
                if (mListener != nullptr)
                    mListener->MIDIMatchTriggered(mTriggers[t].trigger.id, std::vector<uint8_t>(mStream.begin() + partial.start, mStream.end()));
            }
            if (!goesOn)
                continue;
            (followed && !partial.path.empty() ? copies : following).push_back({partial.start, path});
            followed = true;
        }
    }
    mPartials = following;
    mPartials.insert(mPartials.end(), copies.begin(), copies.end());
}
