#pragma once
// How many data bytes follow each status byte: the one table that the parser, the running-status
// expander, the input matcher and the console simulator read. Constant data, any thread.

#include <cstdint>

class cMidiMessageLength
{
public:
    // Data bytes of an exclusive message run until its end byte (0xF7).
    static constexpr int kExclusive = -1;

    // Data bytes after Status: 2, or 1 for program change (0xCn) and channel pressure (0xDn);
    // 1 for time code quarter frame (0xF1) and song select (0xF3), 2 for song position (0xF2);
    // kExclusive for 0xF0; 0 for everything else (tune request, the undefined 0xF4 and 0xF5, the
    // end byte, real-time bytes, and data bytes, which begin no message).
    static constexpr int DataBytes(uint8_t Status) { return kDataBytes[Status]; }

private:
    static constexpr int8_t kDataBytes[256] = {
        0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // 0x00: data bytes
        0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //
        0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //
        0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //
        0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //
        0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //
        0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //
        0,  0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, //
        2,  2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, // 0x80: note off
        2,  2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, // 0x90: note on
        2,  2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, // 0xA0: poly pressure
        2,  2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, // 0xB0: control change
        1,  1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 0xC0: program change
        1,  1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, // 0xD0: channel pressure
        2,  2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, // 0xE0: pitch bend
        -1, 1, 2, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, // 0xF0: system messages
    };
};
