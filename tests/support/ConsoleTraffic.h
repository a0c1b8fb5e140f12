#pragma once
// A deterministic stream of the MIDI a console sends while it is being used, for benchmarks and
// randomised tests: fader moves as control changes (mostly with running status), button notes,
// clock and active-sensing bytes anywhere, now and then an exclusive message.

#include <cstddef>
#include <cstdint>
#include <vector>

std::vector<uint8_t> MakeConsoleTraffic(std::size_t Bytes, uint32_t Seed = 1);
