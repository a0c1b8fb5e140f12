#include "tests/support/ConsoleTraffic.h"

namespace
{
class cRandom
{
public:
    explicit cRandom(uint32_t Seed) : mState(Seed * 2654435761u + 1) {}
    uint32_t Next()
    {
        // xorshift32: small, fast and the same on every platform.
        mState ^= mState << 13;
        mState ^= mState >> 17;
        mState ^= mState << 5;
        return mState;
    }
    uint32_t Below(uint32_t Limit) { return Next() % Limit; }

private:
    uint32_t mState;
};
} // namespace

std::vector<uint8_t> MakeConsoleTraffic(std::size_t Bytes, uint32_t Seed)
{
    cRandom random(Seed);
    std::vector<uint8_t> out;
    out.reserve(Bytes + 256);

    auto maybeRealTime = [&] {
        const uint32_t roll = random.Below(100);
        if (roll < 4)
            out.push_back(0xF8); // clock
        else if (roll < 5)
            out.push_back(0xFE); // active sensing
    };

    while (out.size() < Bytes)
    {
        const uint32_t kind = random.Below(1000);
        const uint8_t channel = static_cast<uint8_t>(random.Below(16));
        if (kind < 700)
        {
            // A fader move: one status byte, then a run of controller/value pairs.
            out.push_back(static_cast<uint8_t>(0xB0 | channel));
            const uint32_t run = 1 + random.Below(12);
            for (uint32_t i = 0; i < run; ++i)
            {
                out.push_back(static_cast<uint8_t>(random.Below(8) == 0 ? random.Below(128) : 7));
                maybeRealTime();
                out.push_back(static_cast<uint8_t>(random.Below(128)));
                maybeRealTime();
            }
        }
        else if (kind < 950)
        {
            // A button: note on, often followed by its note off.
            const uint8_t key = static_cast<uint8_t>(random.Below(128));
            out.push_back(static_cast<uint8_t>(0x90 | channel));
            out.push_back(key);
            out.push_back(0x7F);
            maybeRealTime();
            if (random.Below(2) == 0)
            {
                out.push_back(static_cast<uint8_t>(0x80 | channel));
                out.push_back(key);
                out.push_back(0x00);
            }
        }
        else if (kind < 970)
        {
            out.push_back(static_cast<uint8_t>(0xE0 | channel)); // pitch bend
            out.push_back(static_cast<uint8_t>(random.Below(128)));
            out.push_back(static_cast<uint8_t>(random.Below(128)));
        }
        else if (kind < 990)
        {
            out.push_back(static_cast<uint8_t>(0xC0 | channel)); // scene recall
            out.push_back(static_cast<uint8_t>(random.Below(128)));
        }
        else
        {
            // Exclusive message: manufacturer header, a body, the end byte.
            out.push_back(0xF0);
            out.push_back(0x43);
            out.push_back(0x10);
            const uint32_t body = 4 + random.Below(60);
            for (uint32_t i = 0; i < body; ++i)
            {
                out.push_back(static_cast<uint8_t>(random.Below(128)));
                if (random.Below(50) == 0)
                    out.push_back(0xF8);
            }
            out.push_back(0xF7);
        }
        maybeRealTime();
    }
    out.resize(Bytes);
    return out;
}
