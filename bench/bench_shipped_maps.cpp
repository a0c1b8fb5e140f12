// The burst a DAW sends when its control-surface ports connect (its whole state at once: about 450
// messages in 100 ms), through each shipped map with the engine as the application runs it: the
// burst arrives in one read on the DAW's port, running status is restored, every rule that
// matches fires and writes to ports that only count. Reports the time per burst.

#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"

#include <QByteArray>
#include <QString>

#include <benchmark/benchmark.h>

#include <memory>

namespace
{
void Append(QByteArray& Bytes, std::initializer_list<int> Values)
{
    for (const int value : Values)
        Bytes.append(char(value));
}

// What a DAW speaking Mackie Control sends at connection: device queries, every fader to zero
// then to its position, every button lamp, V-Pot rings, timecode digits, meters, both LCD lines,
// and another maker's exclusive messages.
QByteArray MackieBurst(int& Messages)
{
    QByteArray bytes;
    Messages = 0;
    for (const int model : {0x14, 0x15, 0x10, 0x11})
        Append(bytes, {0xF0, 0x00, 0x00, 0x66, model, 0x00, 0xF7}), ++Messages;
    for (int strip = 0; strip <= 8; ++strip)
    {
        Append(bytes, {0xE0 | strip, 0x00, 0x00});
        Append(bytes, {0xE0 | strip, 0x08, 0x64});
        Messages += 2;
    }
    for (int note = 0; note <= 0x75; ++note)
        Append(bytes, {0x90, note, note % 3 == 0 ? 0x7F : 0x00}), ++Messages;
    for (int ring = 0; ring < 8; ++ring)
        Append(bytes, {0xB0, 0x30 + ring, 0x16}), ++Messages;
    for (int digit = 0; digit < 10; ++digit)
        Append(bytes, {0xB0, 0x40 + digit, 0x30 + digit}), ++Messages;
    for (int round = 0; round < 36; ++round)
        for (int strip = 0; strip < 8; ++strip)
            Append(bytes, {0xD0, (strip << 4) | (round % 13)}), ++Messages;
    for (const int offset : {0x00, 0x38})
    {
        Append(bytes, {0xF0, 0x00, 0x00, 0x66, 0x14, 0x12, offset});
        for (int c = 0; c < 56; ++c)
            Append(bytes, {'A' + c % 26});
        Append(bytes, {0xF7});
        ++Messages;
    }
    for (int i = 0; i < 4; ++i)
        Append(bytes, {0xF0, 0x00, 0x20, 0x32, 0x41, i, 0x12, 0x34, 0xF7}), ++Messages;
    return bytes;
}

// What a DAW speaking HUI sends: the ping, every lamp of every zone (zone select, then port, with
// running status), faders, V-Pot rings and meters.
QByteArray HuiBurst(int& Messages)
{
    QByteArray bytes;
    Messages = 0;
    Append(bytes, {0x90, 0x00, 0x00}), ++Messages;
    for (int zone = 0; zone < 0x1E; ++zone)
        for (int port = 0; port < 8; ++port)
        {
            Append(bytes, {0xB0, 0x0C, zone, 0x2C, (zone + port) % 2 ? 0x40 | port : port});
            Messages += 2;
        }
    for (int strip = 0; strip < 8; ++strip)
    {
        Append(bytes, {0xB0, strip, 0x50, 0xB0, 0x20 + strip, 0x10});
        Append(bytes, {0xB0, 0x10 + strip, 0x16});
        Append(bytes, {0xA0, strip, 0x08, 0xA0, strip, 0x18});
        Messages += 5;
    }
    return bytes;
}

void BM_DawBurst(benchmark::State& State, const char* File, const char* Port, bool Mackie)
{
    auto* registry = new cFakeSystemMIDIConfiguration;
    registry->SetRecordWrites(false);
    auto configuration = std::make_unique<cMIDITranslatorConfiguration>(registry);
    cFakeMIDIPort console;
    console.SetRecordWrites(false);
    configuration->SetTCPInputOutput(&console);
    configuration->LoadFile(QStringLiteral(QUILLON_MAPS_DIR "/") + QLatin1String(File));
    configuration->SetMixerInputPortName(cMIDITranslatorConfiguration::TCPPortName());
    configuration->SetMixerOutputPortName(cMIDITranslatorConfiguration::TCPPortName());
    configuration->SetConsoleReachable(true); // the answers to the query and the ping need it
    cFakeMIDIPort* daw = registry->VirtualPort(QLatin1String(Port));
    if (!daw)
    {
        State.SkipWithError("the map has no such port");
        return;
    }
    int messages = 0;
    const QByteArray burst = Mackie ? MackieBurst(messages) : HuiBurst(messages);
    for (auto _ : State)
        daw->Deliver(burst);
    State.SetItemsProcessed(State.iterations() * messages);
    State.SetBytesProcessed(State.iterations() * burst.size());
    State.counters["messages_per_burst"] = messages;
    State.counters["console_bytes_per_burst"] = double(console.WrittenByteCount()) / double(State.iterations());
}
} // namespace

BENCHMARK_CAPTURE(BM_DawBurst, ny16_mackie, "ny16_mackie.json", "Quillon MIDI Mackie", true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DawBurst, krt8_mackie, "krt8_mackie.json", "Quillon MIDI Mackie", true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DawBurst, oskel8_mackie, "oskel8_mackie.json", "Quillon MIDI Mackie", true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DawBurst, ny16_hui, "ny16_hui.json", "Quillon MIDI HUI", false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DawBurst, krt8_hui, "krt8_hui.json", "Quillon MIDI HUI", false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_DawBurst, oskel8_hui, "oskel8_hui.json", "Quillon MIDI HUI", false)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
