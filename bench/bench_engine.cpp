// Messages per second through the whole translation engine, and the time each message adds: console
// traffic read from a port in chunks, running status restored, matched against a 500-rule map
// (rules on "Mixer In" and on two virtual ports), rules fired, bytes written to ports that only
// count. The same pipeline with the plain reference match tree runs beside it for a ratio.

#include "Common/MIDI/RunningStatusExpander.h"
#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "tests/support/ConsoleTraffic.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/ReferenceMatchManager.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <vector>

namespace
{
QString Hex2(int Value)
{
    return QString::number(Value, 16).rightJustified(2, '0').toUpper();
}

QJsonObject Rule(const QString& Name, const QString& InMidi, const QString& InPort, const QString& OutMidi,
                 const QStringList& OutPorts)
{
    return QJsonObject{{"name", Name},
                       {"incoming", QJsonObject{{"midi", InMidi}, {"ports", QJsonArray{InPort}}}},
                       {"outgoing", QJsonObject{{"midi", OutMidi}, {"ports", QJsonArray::fromStringList(OutPorts)}}}};
}

// 500 rules in the shape of a real console map: per channel a fader, eight encoders, eight
// buttons, pitch bend and scene recall from the console; the DAW's replies on its two ports. With
// ValueTables every rule that captures v instead sends it through a two-point table (the identity,
// so the same bytes go out) and needs the console: the optional keys' cost on every firing.
QByteArray MakeMap(bool ValueTables = false)
{
    const QString mixerIn = "Mixer In";
    const QString daw = "Quillon MIDI DAW";
    const QString ext = "Quillon MIDI Ext";
    QJsonArray rules;
    for (int c = 0; c < 16; ++c)
    {
        const QString ch = QString::number(c, 16).toUpper();
        rules.append(Rule("fader " + ch, "B" + ch + " 07 v", mixerIn, "E" + ch + " 00 v", {daw}));
        for (int k = 0; k < 8; ++k)
            rules.append(Rule("encoder", "B" + ch + " " + Hex2(0x10 + k) + " v", mixerIn,
                              "B0 " + Hex2(0x20 + 8 * (c % 4) + k) + " v", {daw}));
        for (int k = 0; k < 8; ++k)
            rules.append(Rule("button", "9" + ch + " " + Hex2(0x18 * (c % 5) + k) + " v", mixerIn,
                              "90 " + Hex2(8 * c + k) + " v", {daw, "Mixer Out"}));
        rules.append(Rule("bend", "E" + ch + " v w", mixerIn, "E" + ch + " v w", {ext}));
        rules.append(Rule("scene", "C" + ch + " v", mixerIn, "C0 v", {ext}));
    }
    for (int c = 0; c < 16; ++c)
    {
        const QString ch = QString::number(c, 16).toUpper();
        rules.append(Rule("DAW fader", "E" + ch + " 00 v", daw, "B*n " + Hex2(0x40 + c) + " v", {"Mixer Out"}));
        for (int k = 0; k < 8; ++k)
            rules.append(Rule("DAW lamp", "90 " + Hex2(8 * c + k) + " v", daw, "9" + ch + " " + Hex2(k) + " v",
                              {"Mixer Out"}));
    }
    for (int k = 0; k < 52; ++k)
        rules.append(Rule("DAW meter", "D" + QString::number(k % 16, 16).toUpper() + " " + Hex2(k) + " v", ext,
                          "B*n " + Hex2(0x60 + k % 32) + " v", {"Mixer Out"}));

    const QJsonObject map{
        {"virtual_ports", QJsonArray{daw, ext}},
        {"port_aliases", QJsonArray{QJsonObject{{"type", "input"}, {"name", "Desk In"}, {"alias", "Mixer In"}},
                                    QJsonObject{{"type", "output"}, {"name", "Desk Out"}, {"alias", "Mixer Out"}}}},
        {"variables", QJsonArray{QJsonObject{{"name", "MIDI Channel"},
                                             {"variable_name", "n"},
                                             {"default", 0},
                                             {"values", QJsonArray{QJsonObject{{"value", 0}, {"name", "1"}}}}}}},
        {"rules", rules}};
    if (ValueTables)
    {
        QJsonArray changed;
        for (const QJsonValue& value : rules)
        {
            QJsonObject rule = value.toObject();
            if (rule.value("incoming").toObject().value("midi").toString().contains(" v"))
            {
                QJsonObject outgoing = rule.value("outgoing").toObject();
                outgoing.insert("midi", outgoing.value("midi").toString().replace(" v", " q"));
                rule.insert("outgoing", outgoing);
                rule.insert("value", QJsonObject{{"from", "v"}, {"to", "q"}, {"table", QJsonArray{QJsonArray{0, 0}, QJsonArray{127, 127}}}});
                rule.insert("needs_console", true);
            }
            changed.append(rule);
        }
        QJsonObject withTables = map;
        withTables.insert("rules", changed);
        return QJsonDocument(withTables).toJson(QJsonDocument::Compact);
    }
    return QJsonDocument(map).toJson(QJsonDocument::Compact);
}

const std::vector<uint8_t>& Traffic()
{
    static const std::vector<uint8_t> traffic = MakeConsoleTraffic(1 << 20);
    return traffic;
}

// Messages in the traffic: every status byte but an exclusive end starts one, and every channel
// message sent with running status counts as one more.
long CountMessages(const std::vector<uint8_t>& Bytes)
{
    cRunningStatusExpander expander;
    std::vector<uint8_t> expanded;
    expander.Expand(Bytes, expanded);
    return static_cast<long>(std::count_if(expanded.begin(), expanded.end(), [](uint8_t b) { return b >= 0x80 && b != 0xF7; }));
}

// The traffic cut into single messages (each status byte, real-time bytes included, begins one).
std::vector<QByteArray> SplitMessages(const std::vector<uint8_t>& Bytes)
{
    cRunningStatusExpander expander;
    std::vector<uint8_t> expanded;
    expander.Expand(Bytes, expanded);
    std::vector<QByteArray> messages;
    for (const uint8_t b : expanded)
    {
        if ((b >= 0x80 && b != 0xF7) || messages.empty())
            messages.emplace_back();
        messages.back().append(static_cast<char>(b));
    }
    return messages;
}

// One engine as the application builds it, on the in-memory back-end with counting ports.
struct sEngine
{
    QTemporaryDir dir;
    cFakeSystemMIDIConfiguration* registry = new cFakeSystemMIDIConfiguration;
    std::unique_ptr<cMIDITranslatorConfiguration> configuration{new cMIDITranslatorConfiguration(registry)};
    cFakeMIDIPort* deskIn = nullptr;
    cFakeMIDIPort* deskOut = nullptr;

    explicit sEngine(bool ValueTables = false)
    {
        registry->SetRecordWrites(false);
        deskIn = registry->PlugInput("Desk In");
        deskOut = registry->PlugOutput("Desk Out");
        const QString path = dir.filePath("bench_map.json");
        QFile file(path);
        if (file.open(QIODevice::WriteOnly))
            file.write(MakeMap(ValueTables));
        file.close();
        configuration->LoadFile(path);
        configuration->SetConsoleReachable(true);
    }

    qint64 Written() const
    {
        return deskOut->WrittenByteCount() + registry->VirtualPort("Quillon MIDI DAW")->WrittenByteCount() +
               registry->VirtualPort("Quillon MIDI Ext")->WrittenByteCount();
    }
};

std::vector<QByteArray> Chunks(int Size)
{
    const std::vector<uint8_t>& traffic = Traffic();
    std::vector<QByteArray> chunks;
    for (std::size_t at = 0; at < traffic.size(); at += static_cast<std::size_t>(Size))
    {
        const std::size_t length = std::min(static_cast<std::size_t>(Size), traffic.size() - at);
        chunks.emplace_back(reinterpret_cast<const char*>(traffic.data() + at), static_cast<int>(length));
    }
    return chunks;
}

// The application's path: the port announces each chunk, the input matcher reads and matches it,
// the configuration writes what the rules build.
void BM_EngineConsoleToDaw(benchmark::State& State)
{
    sEngine engine;
    if (engine.configuration->GetRules().size() != 500)
    {
        State.SkipWithError("the map did not load 500 rules");
        return;
    }
    const std::vector<QByteArray> chunks = Chunks(static_cast<int>(State.range(0)));
    const long messages = CountMessages(Traffic());
    for (auto _ : State)
    {
        for (const QByteArray& chunk : chunks)
            engine.deskIn->Deliver(chunk);
    }
    benchmark::DoNotOptimize(engine.Written());
    State.SetItemsProcessed(State.iterations() * messages);
    State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(Traffic().size()));
    State.counters["written_per_pass"] = static_cast<double>(engine.Written()) / static_cast<double>(State.iterations());
    State.counters["messages_per_pass"] = static_cast<double>(messages);
}
BENCHMARK(BM_EngineConsoleToDaw)->Arg(32)->Arg(256)->Arg(1024)->Unit(benchmark::kMillisecond);

// The same traffic through the map whose rules use the optional keys (MakeMap(true)): the same
// bytes go out, each firing through a value table and the console check.
void BM_EngineConsoleToDawValueTables(benchmark::State& State)
{
    sEngine engine(true);
    const std::vector<QByteArray> chunks = Chunks(static_cast<int>(State.range(0)));
    const long messages = CountMessages(Traffic());
    for (auto _ : State)
    {
        for (const QByteArray& chunk : chunks)
            engine.deskIn->Deliver(chunk);
    }
    benchmark::DoNotOptimize(engine.Written());
    State.SetItemsProcessed(State.iterations() * messages);
    State.counters["written_per_pass"] = static_cast<double>(engine.Written()) / static_cast<double>(State.iterations());
}
BENCHMARK(BM_EngineConsoleToDawValueTables)->Arg(256)->Unit(benchmark::kMillisecond);

// Firing as the description reads, step by step: the rule's bytes in a new vector and a new array,
// every outgoing name resolved and looked up in the registry at every firing.
class cDirectFiring : public cMIDIMatchTriggerListener
{
public:
    explicit cDirectFiring(cMIDITranslatorConfiguration& Configuration) : mConfiguration(Configuration) {}

    void MIDIMatchTriggered(int Id, const std::vector<uint8_t>& Message) override
    {
        if (Id < 0 || Id >= mConfiguration.GetRules().size())
            return;
        const cMIDITranslatorRule& rule = mConfiguration.GetRules().at(Id);
        std::vector<uint8_t> outgoing;
        rule.BuildOutgoingMessage(outgoing, Message);
        const QByteArray bytes(reinterpret_cast<const char*>(outgoing.data()), static_cast<int>(outgoing.size()));
        for (const QString& name : rule.GetOutgoingPorts())
        {
            cMIDIOutput* output = mConfiguration.GetSystemMIDIConfiguration()->GetOutput(mConfiguration.ResolveOutputAlias(name));
            if (output != nullptr)
                output->Write(bytes);
        }
    }

private:
    cMIDITranslatorConfiguration& mConfiguration;
};

// The same pipeline with the plain reference match tree in place of the engine's, fed exactly as
// the input matcher feeds its tree. Argument 0: the configuration fires the rules; 1: the direct
// firing above does (the described algorithms throughout).
void BM_ReferenceConsoleToDaw(benchmark::State& State)
{
    sEngine engine;
    cMIDITranslatorConfiguration& configuration = *engine.configuration;
    cDirectFiring direct(configuration);
    cMIDIMatchTriggerListener* listener = State.range(1) == 0 ? static_cast<cMIDIMatchTriggerListener*>(&configuration) : &direct;
    cReferenceMatchManager reference(listener);
    for (const cMIDITranslatorRule& rule : configuration.GetRules())
        for (const QString& port : rule.GetIncomingPorts())
            if (configuration.ResolveInputAlias(port) == "Desk In")
                reference.AddTrigger(*rule.GetMatchTrigger());
    cFakeMIDIPort port;
    cRunningStatusExpander expander;
    QByteArray read;
    std::vector<uint8_t> bytes;
    std::vector<uint8_t> expanded;
    QObject::connect(&port, &cMIDIInput::MIDIReadReady, [&] {
        port.Read(read);
        bytes.assign(reinterpret_cast<const uint8_t*>(read.constData()),
                     reinterpret_cast<const uint8_t*>(read.constData()) + read.size());
        expander.Expand(bytes, expanded);
        for (const uint8_t byte : expanded)
            reference.ProcessByte(byte);
    });
    const std::vector<QByteArray> chunks = Chunks(static_cast<int>(State.range(0)));
    const long messages = CountMessages(Traffic());
    for (auto _ : State)
    {
        for (const QByteArray& chunk : chunks)
            port.Deliver(chunk);
    }
    benchmark::DoNotOptimize(engine.Written());
    State.SetItemsProcessed(State.iterations() * messages);
    State.SetBytesProcessed(State.iterations() * static_cast<int64_t>(Traffic().size()));
    State.counters["written_per_pass"] = static_cast<double>(engine.Written()) / static_cast<double>(State.iterations());
}
BENCHMARK(BM_ReferenceConsoleToDaw)->Args({256, 0})->Args({256, 1})->Unit(benchmark::kMillisecond);

// The time one message adds between its arrival at the port and the end of the writes it causes,
// each message delivered on its own. Percentiles over every message of the traffic, less the cost
// of reading the clock.
void BM_EngineAddedTimePerMessage(benchmark::State& State)
{
    using tClock = std::chrono::steady_clock;
    sEngine engine;
    const std::vector<QByteArray> messages = SplitMessages(Traffic());
    std::vector<int64_t> samples;
    samples.reserve(messages.size());
    std::vector<int64_t> clockCost;
    clockCost.reserve(4096);
    for (auto _ : State)
    {
        samples.clear();
        for (const QByteArray& message : messages)
        {
            const auto start = tClock::now();
            engine.deskIn->Deliver(message);
            const auto end = tClock::now();
            samples.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count());
        }
    }
    for (int i = 0; i < 4096; ++i)
    {
        const auto start = tClock::now();
        const auto end = tClock::now();
        clockCost.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count());
    }
    std::sort(clockCost.begin(), clockCost.end());
    const double clock = static_cast<double>(clockCost[clockCost.size() / 2]);
    std::sort(samples.begin(), samples.end());
    auto percentile = [&](double Fraction) {
        const std::size_t index = std::min(samples.size() - 1, static_cast<std::size_t>(Fraction * static_cast<double>(samples.size())));
        return std::max(0.0, static_cast<double>(samples[index]) - clock);
    };
    State.counters["p50_ns"] = percentile(0.50);
    State.counters["p99_ns"] = percentile(0.99);
    State.counters["clock_ns"] = clock;
    State.SetItemsProcessed(State.iterations() * static_cast<int64_t>(messages.size()));
}
BENCHMARK(BM_EngineAddedTimePerMessage)->Unit(benchmark::kMillisecond);
} // namespace

BENCHMARK_MAIN();
