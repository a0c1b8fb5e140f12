#pragma once
// A pattern as a rule hands it to a match tree: one element per nibble, high nibble first.

#include <cstdint>
#include <vector>

struct sMatchNibble
{
    uint8_t value = 0;     // 0..15; 0 when wildcard
    bool wildcard = false; // any nibble value matches
};

struct sMIDIMatchTrigger
{
    int32_t id = 0;
    std::vector<sMatchNibble> nibbles; // two per pattern byte, so always of even length
};
