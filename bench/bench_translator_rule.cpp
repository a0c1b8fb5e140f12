// Outgoing messages built per second by translation rules, the work done for every match.
// Run: build/bench/bench_translator_rule --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include "MIDITranslator/MIDITranslatorRule.h"
#include "tests/support/FakeVariableSource.h"

#include <QJsonArray>
#include <QJsonObject>

#include <benchmark/benchmark.h>

namespace
{
cMIDITranslatorRule MakeRule(cFakeVariableSource& Source, const char* Incoming, const char* Outgoing)
{
    const QJsonObject json{{"name", "bench"},
                           {"incoming", QJsonObject{{"midi", Incoming}, {"ports", QJsonArray{"Mixer In"}}}},
                           {"outgoing", QJsonObject{{"midi", Outgoing}, {"ports", QJsonArray{"DAW Out"}}}}};
    bool ok = false;
    cMIDITranslatorRule rule = cMIDITranslatorRule::FromJson(json, &Source, &ok);
    if (!ok)
        std::abort();
    return rule;
}

void RunRule(benchmark::State& State, const char* Incoming, const char* Outgoing, std::vector<uint8_t> Matched)
{
    cFakeVariableSource source;
    // A realistic map: the channel variable is not the first one looked through.
    source.AddVariable("g", 0x10, "Bank");
    source.AddVariable("n", 0x02, "MIDI Channel");
    const cMIDITranslatorRule rule = MakeRule(source, Incoming, Outgoing);
    std::vector<uint8_t> out;
    out.reserve(16);
    for (auto _ : State)
    {
        out.clear();
        rule.BuildOutgoingMessage(out, Matched);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    State.SetItemsProcessed(State.iterations());
}

// The typical rule: fader volume in, pitch bend out, channel from a global read at firing time.
void BM_OutgoingMessage_VolumeToPitchBend(benchmark::State& State)
{
    RunRule(State, "B*n 07 v", "E*n 00 v", {0xB2, 0x07, 0x40});
}

// Captures and literals only: what the global lookup costs shows side by side.
void BM_OutgoingMessage_NoteOnToNoteOff(benchmark::State& State)
{
    RunRule(State, "9v k 7F", "8v k 00", {0x93, 0x45, 0x7F});
}

// A longer message with a global in two tokens.
void BM_OutgoingMessage_SysExEightBytes(benchmark::State& State)
{
    RunRule(State, "B*n k v", "F0 00 20 *n k v 00 F7", {0xB2, 0x10, 0x40});
}
} // namespace

BENCHMARK(BM_OutgoingMessage_VolumeToPitchBend);
BENCHMARK(BM_OutgoingMessage_NoteOnToNoteOff);
BENCHMARK(BM_OutgoingMessage_SysExEightBytes);

BENCHMARK_MAIN();
