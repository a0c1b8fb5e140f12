// What the MIDI monitor costs. BM_SessionTraffic: console fader moves and DAW lamps through a
// console session with the KRT-8/Mackie Control map on the in-memory back-end, without any monitor
// (0), with a monitor window shown once and closed (1), and with it open (2), one beside the other
// in one run. BM_MonitorFlood: 10,000 console messages a second for three seconds into an open
// monitor window (offscreen), with the longest stall of the event loop as the tests' probe sees it.

#include "app/MonitorModel.h"
#include "app/MonitorWindow.h"
#include "session/ConsoleSession.h"
#include "tests/support/EventLoopProbe.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <benchmark/benchmark.h>

#include <memory>

namespace
{
struct sBenchSession
{
    explicit sBenchSession(int Monitor)
    {
        registry = new cFakeSystemMIDIConfiguration;
        registry->SetRecordWrites(false);
        sSessionEnvironment environment;
        environment.Registry = registry;
        environment.DiscoveryDestination = QHostAddress::LocalHost;
        environment.DiscoveryPort = 9;
        environment.MapsDirectory = QStringLiteral(QUILLON_MAPS_DIR "/");
        session.reset(new cConsoleSession(environment));
        session->LoadMap("KRT-8", "Mackie Control");
        session->SetConsoleInput("Desk In");
        session->SetConsoleOutput("Desk Out");
        session->UseMIDIPorts();
        desk = registry->PlugInput("Desk In");
        registry->PlugOutput("Desk Out");
        daw = registry->VirtualPort("Quillon MIDI Mackie");
        if (Monitor > 0)
        {
            monitor.reset(new cMonitorWindow(session.get()));
            monitor->resize(1200, 600);
            monitor->show();
            QCoreApplication::processEvents();
            if (Monitor == 1)
                monitor->hide();
        }
    }
    cFakeSystemMIDIConfiguration* registry;
    std::unique_ptr<cConsoleSession> session;
    std::unique_ptr<cMonitorWindow> monitor;
    cFakeMIDIPort* desk;
    cFakeMIDIPort* daw;
};

// One fader move of strip S (1 to 8) to Value on the console: four parameter messages.
QByteArray FaderMove(int Strip, int Value)
{
    const char bytes[] = {'\xb0', 0x63, 0x01, '\xb0', 0x62, char(Strip - 1), '\xb0', 0x06, char(Value & 0x7F), '\xb0', 0x26, 0x00};
    return QByteArray(bytes, sizeof bytes);
}

void BM_SessionTraffic(benchmark::State& State)
{
    sBenchSession bench(int(State.range(0)));
    std::vector<QByteArray> console;
    std::vector<QByteArray> lamps;
    for (int i = 0; i < 256; ++i)
    {
        console.push_back(FaderMove(1 + i % 8, i));
        lamps.push_back(QByteArray::fromHex(i % 2 ? "90107f" : "901000"));
    }
    for (auto _ : State)
    {
        for (std::size_t i = 0; i < console.size(); ++i)
        {
            bench.desk->Deliver(console[i]);
            bench.daw->Deliver(lamps[i]);
        }
        // What the flush timer does every 50 ms while the window is open.
        if (bench.monitor)
            bench.monitor->GetModel()->Flush();
    }
    State.SetItemsProcessed(State.iterations() * int64_t(console.size() * 5));
}
BENCHMARK(BM_SessionTraffic)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

void BM_MonitorFlood(benchmark::State& State)
{
    for (auto _ : State)
    {
        sBenchSession bench(2);
        cEventLoopProbe probe;
        QTimer sender;
        QElapsedTimer clock;
        long sent = 0;
        int value = 0;
        QByteArray pending;
        // Every 5 ms the messages due by then (10,000 a second), fader moves cut wherever they fall.
        QObject::connect(&sender, &QTimer::timeout, [&] {
            const long due = clock.elapsed() * 10;
            QByteArray chunk;
            for (; sent < due; ++sent)
            {
                if (pending.isEmpty())
                    pending = FaderMove(1 + value % 8, value), ++value;
                chunk += pending.left(3);
                pending.remove(0, 3);
            }
            bench.desk->Deliver(chunk);
        });
        QEventLoop loop;
        QTimer::singleShot(3000, &loop, &QEventLoop::quit);
        clock.start();
        probe.Start();
        sender.start(5);
        loop.exec();
        sender.stop();
        State.counters["longest_stall_ms"] = double(probe.LongestGapMs());
        State.counters["messages_per_s"] = double(sent) / (clock.elapsed() / 1000.0);
        bench.monitor->GetModel()->Flush();
        State.counters["lines_kept"] = bench.monitor->GetModel()->rowCount();
    }
}
BENCHMARK(BM_MonitorFlood)->Iterations(1)->Unit(benchmark::kMillisecond);
} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    return 0;
}
