// The match tree fed a realistic console stream, next to the plain reference matcher with the same
// patterns, so the ratios come from one run.

#include "Common/MIDI/MIDIMatch/MIDIMatchManager.h"
#include "tests/support/ConsoleTraffic.h"
#include "tests/support/ReferenceMatchManager.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace
{
class cCountingListener : public cMIDIMatchTriggerListener
{
public:
    void MIDIMatchTriggered(int Id, const std::vector<uint8_t>& Message) override
    {
        ++mReports;
        mChecksum += static_cast<uint64_t>(Id) + Message.size() + Message.back();
    }

    uint64_t mReports = 0;
    uint64_t mChecksum = 0;
};

// "B?07??": hex digits are exact nibbles, '?' a wildcard.
sMIDIMatchTrigger MakeTrigger(int32_t Id, const std::string& Pattern)
{
    sMIDIMatchTrigger trigger;
    trigger.id = Id;
    for (const char c : Pattern)
    {
        sMatchNibble nibble;
        if (c == '?')
            nibble.wildcard = true;
        else
            nibble.value = static_cast<uint8_t>(std::stoul(std::string(1, c), nullptr, 16));
        trigger.nibbles.push_back(nibble);
    }
    return trigger;
}

std::string Hex(unsigned Value, int Digits)
{
    char text[8];
    std::snprintf(text, sizeof text, "%0*X", Digits, Value);
    return text;
}

// The kind of pattern set a console map registers on its input port: exact controllers, controllers
// on any channel, notes, whole-byte captures, patterns sharing prefixes, exclusive-message prefixes.
std::vector<std::string> ConsolePatterns(std::size_t Count)
{
    std::vector<std::string> patterns;
    for (unsigned channel = 0; channel < 16; ++channel)
        for (unsigned controller : {0x07u, 0x0Au, 0x01u, 0x5Bu})
            patterns.push_back("B" + Hex(channel, 1) + Hex(controller, 2) + "??");
    for (unsigned channel = 0; channel < 16; ++channel)
    {
        patterns.push_back("B" + Hex(channel, 1) + "077F");
        patterns.push_back("B" + Hex(channel, 1) + "0700");
    }
    for (unsigned controller = 0x10; controller < 0x4C; ++controller)
        patterns.push_back("B?" + Hex(controller, 2) + "??");
    for (unsigned key = 0; key < 100; ++key)
        patterns.push_back("9?" + Hex(key, 2) + "??");
    for (unsigned key = 0; key < 50; ++key)
        patterns.push_back("8?" + Hex(key, 2) + "??");
    for (unsigned channel = 0; channel < 4; ++channel)
        for (unsigned key = 0x18; key < 0x30; ++key)
            patterns.push_back("9" + Hex(channel, 1) + Hex(key, 2) + "7F");
    for (unsigned channel = 0; channel < 16; ++channel)
    {
        patterns.push_back("B" + Hex(channel, 1) + "????");
        patterns.push_back("E" + Hex(channel, 1) + "????");
        patterns.push_back("C" + Hex(channel, 1) + "??");
    }
    patterns.push_back("E?????");
    patterns.push_back("C???");
    for (unsigned device = 0; device < 8; ++device)
        patterns.push_back("F043" + Hex(0x10 + device, 2) + "??");
    patterns.push_back("F07E??06");
    patterns.push_back("F07F");
    patterns.push_back("F8");
    patterns.push_back("FE");
    for (unsigned channel = 0; patterns.size() < Count; channel = (channel + 1) % 16)
        patterns.push_back("A" + Hex(channel, 1) + Hex(static_cast<unsigned>(patterns.size()) % 128, 2) + "??");
    patterns.resize(Count);
    return patterns;
}

const std::vector<uint8_t>& Traffic()
{
    static const std::vector<uint8_t> traffic = MakeConsoleTraffic(1 << 20);
    return traffic;
}

template <typename tManager>
void BM_Match(benchmark::State& State)
{
    const std::size_t count = static_cast<std::size_t>(State.range(0));
    const std::vector<std::string> patterns = count == 1 ? std::vector<std::string>{"B007??"} : ConsolePatterns(count);
    const std::vector<uint8_t>& traffic = Traffic();

    cCountingListener listener;
    tManager manager(&listener);
    for (std::size_t i = 0; i < patterns.size(); ++i)
        manager.AddTrigger(MakeTrigger(static_cast<int32_t>(i), patterns[i]));

    for (auto _ : State)
    {
        for (const uint8_t byte : traffic)
            manager.ProcessByte(byte);
        benchmark::DoNotOptimize(listener.mChecksum);
    }
    State.SetBytesProcessed(static_cast<int64_t>(State.iterations()) * static_cast<int64_t>(traffic.size()));
    State.counters["reports_per_MiB"] =
        benchmark::Counter(static_cast<double>(listener.mReports) / static_cast<double>(State.iterations()));
}
} // namespace

BENCHMARK_TEMPLATE(BM_Match, cMIDIMatchManager)->Arg(1)->Arg(500)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Match, cReferenceMatchManager)->Arg(1)->Arg(500)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
