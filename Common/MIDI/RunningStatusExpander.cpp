#include "Common/MIDI/RunningStatusExpander.h"

#include "Common/MIDI/MidiMessageLength.h"

void cRunningStatusExpander::Expand(const std::vector<uint8_t>& In, std::vector<uint8_t>& Out)
{
    Out.clear();
    // Every data byte adds at most one status byte, so the output never grows past this.
    Out.resize(In.size() * 2);
    uint8_t* out = Out.data();

    // Kept in locals: stores through a byte pointer could alias the members, which would make the
    // compiler reload them for every byte.
    uint8_t status = mStatus;
    int32_t expected = mExpected;
    int32_t received = mReceived;
    bool inSysEx = mInSysEx;

    for (const uint8_t byte : In)
    {
        if (byte < 0x80)
        {
            if (!inSysEx && status != 0)
            {
                if (received == expected)
                {
                    *out++ = status;
                    received = 0;
                }
                ++received;
            }
        }
        else if (byte < 0xF0)
        {
            inSysEx = false;
            status = byte;
            expected = cMidiMessageLength::DataBytes(byte);
            received = 0;
        }
        else if (byte < 0xF8)
        {
            // Exclusive and system common messages end running status; an exclusive message's
            // data passes untouched.
            inSysEx = byte == 0xF0;
            status = 0;
            expected = -1;
            received = 0;
        }
        // Real-time bytes (0xF8 and up) pass where they stand and change nothing.
        *out++ = byte;
    }

    Out.resize(static_cast<std::size_t>(out - Out.data()));
    mStatus = status;
    mExpected = expected;
    mReceived = received;
    mInSysEx = inSysEx;
}
