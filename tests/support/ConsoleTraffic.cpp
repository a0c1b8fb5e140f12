#include "tests/support/ConsoleTraffic.h"

#include <random>

std::vector<uint8_t> MakeConsoleTraffic(std::size_t Bytes, uint32_t Seed)
{
    // The standard's engine: the same stream on every platform.
    std::mt19937 engine(Seed);
    const auto below = [&](uint32_t Limit) { return int(engine() % Limit); };
    std::vector<uint8_t> out;
    // Appends the bytes, a clock (now and then active sensing) after some of them.
    const auto add = [&](std::initializer_list<int> Message) {
        for (const int byte : Message)
        {
            out.push_back(uint8_t(byte));
            if (below(100) < 5)
                out.push_back(below(5) == 0 ? 0xFE : 0xF8);
        }
    };
    while (out.size() < Bytes)
    {
        const int kind = below(100);
        const int channel = below(16);
        if (kind < 70)
        {
            // A fader move: one status byte, then a run of controller/value pairs.
            add({0xB0 | channel});
            for (int run = 1 + below(12); run > 0; --run)
                add({below(8) == 0 ? below(128) : 7, below(128)});
        }
        else if (kind < 95)
        {
            // A button: note on, often followed by its note off.
            const int key = below(128);
            add({0x90 | channel, key, 0x7F});
            if (below(2) == 0)
                add({0x80 | channel, key, 0x00});
        }
        else if (kind < 97)
            add({0xE0 | channel, below(128), below(128)}); // pitch bend
        else if (kind < 99)
            add({0xC0 | channel, below(128)}); // scene recall
        else
        {
            // Exclusive message: manufacturer header, a body, the end byte.
            add({0xF0, 0x43, 0x10});
            for (int body = 4 + below(60); body > 0; --body)
                add({below(128)});
            add({0xF7});
        }
    }
    out.resize(Bytes);
    return out;
}
