#pragma once
// Rewrites a MIDI byte stream so that every channel message carries its own status byte (undoes
// running status). Owned by value by the input matcher and fed on the GUI thread, one chunk per read.

#include <cstdint>
#include <vector>

class cRunningStatusExpander
{
public:
    // Replaces Out with In rewritten. State carries over to the next call, so running status that
    // spans two reads is expanded too.
    void Expand(const std::vector<uint8_t>& In, std::vector<uint8_t>& Out);

private:
    uint8_t mStatus = 0;
    int32_t mExpected = -1;
    int32_t mReceived = 0;
    bool mInSysEx = false;
};
