#include "Common/MIDI/RunningStatusExpander.h"

void cRunningStatusExpander::Expand(const std::vector<uint8_t>& In, std::vector<uint8_t>& Out)
{
    Out.clear();
    // Every data byte adds at most one status byte, so the output never grows past this.
    Out.reserve(In.size() * 2);
    for (const uint8_t byte : In)
    {
        if (byte < 0x80)
        {
            if (!mInSysEx && mStatus != 0)
            {
                if (mReceived == mExpected)
                {
                    Out.push_back(mStatus);
                    mReceived = 0;
                }
                ++mReceived;
            }
        }
        else if (byte < 0xF0)
        {
            mInSysEx = false;
            mStatus = byte;
            const uint8_t kind = byte & 0xF0;
            mExpected = (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
            mReceived = 0;
        }
        else if (byte < 0xF8)
        {
            // Exclusive and system common messages end running status; an exclusive message's
            // data passes untouched.
            mInSysEx = byte == 0xF0;
            mStatus = 0;
            mExpected = -1;
            mReceived = 0;
        }
        // Real-time bytes (0xF8 and up) pass where they stand and change nothing.
        Out.push_back(byte);
    }
}
