// Throughput of the MIDI parser and of the running-status expander on a realistic console stream.

#include "Common/MIDI/MidiParser.h"
#include "Common/MIDI/RunningStatusExpander.h"
#include "tests/support/ConsoleTraffic.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace
{
// Counts what it is handed, so every message costs a real virtual call.
class cCountingParser : public cMidiParser
{
public:
    cCountingParser() { mOmni = true; } // as the virtual port is set up

    long Messages = 0;
    long Others = 0;

protected:
    bool Count()
    {
        ++Messages;
        return true;
    }
    bool ActiveSensing() override { return Count(); }
    bool SysEx() override { return Count(); }
    bool NoteOff(uint8_t, uint8_t) override { return Count(); }
    bool NoteOn(uint8_t, uint8_t) override { return Count(); }
    bool PolyPressure(uint8_t, uint8_t) override { return Count(); }
    bool ControlChange(uint8_t, uint8_t) override { return Count(); }
    bool ProgramChange(uint8_t) override { return Count(); }
    bool ChannelPressure(uint8_t) override { return Count(); }
    bool PitchBend(uint8_t, uint8_t) override { return Count(); }
    bool MTCQuarterFrame(uint8_t) override { return Count(); }
    bool SongPosition(uint8_t, uint8_t) override { return Count(); }
    bool SongSelect(uint8_t) override { return Count(); }
    bool TuneRequest() override { return Count(); }
    void Unhandled() override { ++Others; }
    void UnhandledControlChange() override { ++Others; }
};

const std::vector<uint8_t>& Traffic()
{
    static const std::vector<uint8_t> traffic = MakeConsoleTraffic(1 << 20);
    return traffic;
}

void BM_ParserParseByte(benchmark::State& State)
{
    const std::vector<uint8_t>& traffic = Traffic();
    cCountingParser parser;
    for (auto _ : State)
    {
        for (const uint8_t byte : traffic)
            parser.ParseByte(byte);
        benchmark::DoNotOptimize(parser.Messages);
    }
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(traffic.size()));
    State.counters["messages/pass"] = double(parser.Messages) / double(State.iterations());
}
BENCHMARK(BM_ParserParseByte)->Unit(benchmark::kMicrosecond);

// The stream cut into reads of Range(0) bytes beforehand, as a port hands them over.
void BM_ExpanderExpand(benchmark::State& State)
{
    const std::vector<uint8_t>& traffic = Traffic();
    const std::size_t readSize = std::size_t(State.range(0));
    std::vector<std::vector<uint8_t>> reads;
    for (std::size_t at = 0; at < traffic.size(); at += readSize)
        reads.emplace_back(traffic.begin() + at, traffic.begin() + std::min(at + readSize, traffic.size()));

    cRunningStatusExpander expander;
    std::vector<uint8_t> out;
    std::size_t produced = 0;
    for (auto _ : State)
    {
        for (const std::vector<uint8_t>& read : reads)
        {
            expander.Expand(read, out);
            benchmark::DoNotOptimize(out.data());
            produced += out.size();
        }
    }
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(traffic.size()));
    State.counters["out/in"] = double(produced) / double(State.iterations()) / double(traffic.size());
}
BENCHMARK(BM_ExpanderExpand)->Arg(64)->Arg(1 << 20)->Unit(benchmark::kMicrosecond);
} // namespace

BENCHMARK_MAIN();
