// The faults of a real network, end to end, each once. The console simulator on loopback sends a
// quarter of a GiB of random bytes, or trickles one byte at a time, into the link behind the engine
// as the window sets it up; a flood of discovery answers reaches the window's own finder and list;
// meanwhile a probe timer checks that the event loop is never held for two seconds (frozen to a
// user). And over a real network, with real broadcasts kept off the machine's own: two network
// namespaces made by this test (named with its pid) and joined by a veth pair, the simulator in
// one; the test's own thread enters the other, where a finder and a link made as the application
// makes them find the console by broadcast, link on the console port and carry MIDI both ways.
// Then the wire is cut: a console switched off sends nothing more, not even a reset, and keep-alive
// must end the link within seconds, not hours (needs root; in CI a missing namespace is a
// failure). Slow, so it runs in the plain build only. A console that resets the link in the middle
// of a message is tst_TCPMIDIInptOutput's.

#include "network/MultiUnitFinder.h"
#include "network/UnitFinder.h"
#include "tests/app/WindowFixture.h"
#include "tests/network/LinkEngine.h"
#include "tests/network/SimulatorProcess.h"
#include "tests/support/EventLoopProbe.h"
#include "tests/support/NetworkNamespaces.h"
#include "tests/support/RealComponent.h"

#include <QEventLoop>
#include <QNetworkInterface>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <fcntl.h>
#include <sched.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace
{
// A range reserved for network tests, used only inside the namespaces.
const QString kConsoleAddress = QStringLiteral("198.18.51.1");
const QString kAppAddress = QStringLiteral("198.18.51.2");

} // namespace

class tst_LinkFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void randomBytesThenAValidMessage();
    void trickleDelaysNothingElse();
    void floodOfDiscoveryAnswers();
    void consoleFoundByBroadcastThenItsWireCut();

private:
    // Starts the simulator with Arguments and Script, and the engine behind its link.
    std::unique_ptr<sLinkEngine> Start(cSimulatorProcess& Sim, const QStringList& Arguments, const QByteArray& Script)
    {
        const QString script = WriteTestFile(mDir.filePath("script.txt"), Script);
        if (script.isEmpty() || !Sim.Start(QStringList{"--address", "127.0.0.1", "--port", "0", "--no-discovery",
                                                       "--script", script} + Arguments))
            return nullptr;
        auto engine = std::make_unique<sLinkEngine>(Sim.TcpPort);
        mProbe.Start();
        engine->Link.ConnectToHost(QHostAddress(QHostAddress::LocalHost));
        return engine;
    }
    // The event loop was never held for two seconds, and resident memory grew by 16 MiB at most.
    void VerifyHealthy()
    {
        const qint64 growth = mProbe.PeakResidentBytes() - mProbe.StartResidentBytes();
        qInfo("resident memory grew by %lld KiB; longest event-loop gap %lld ms", growth / 1024, mProbe.LongestGapMs());
        QVERIFY(mProbe.StartResidentBytes() > 0);
        QVERIFY2(growth <= 16LL * 1024 * 1024, qPrintable(QString::number(growth)));
        QVERIFY2(mProbe.LongestGapMs() < cEventLoopProbe::kMostGapMs, qPrintable(QString::number(mProbe.LongestGapMs())));
    }

    QTemporaryDir mDir;
    cEventLoopProbe mProbe;
    // The test thread's own network namespace while it is inside another one.
    int mHome = -1;
};

void tst_LinkFaults::initTestCase()
{
    QVERIFY(mDir.isValid());
    QUILLON_REQUIRE(cSimulatorProcess::Available(),
                    QStringLiteral("the console simulator is not built at %1").arg(cSimulatorProcess::ProgramPath()));
}

void tst_LinkFaults::cleanup()
{
    mProbe.Stop();
    if (mHome >= 0)
    {
        QVERIFY(::setns(mHome, CLONE_NEWNET) == 0);
        ::close(mHome);
        mHome = -1;
    }
}

void tst_LinkFaults::randomBytesThenAValidMessage()
{
    // Scene messages, each after a status byte that closes whatever the garbage left open.
    cSimulatorProcess sim;
    auto engine = Start(sim, {"--garbage", QString::number(256LL * 1024 * 1024), "--seed", "15"},
                        "f7 f0 7d 51 55 21 f7\nf0 7d 51 55 22 f7\n");
    QVERIFY2(engine, qPrintable(sim.Errors()));
    QTRY_VERIFY_WITH_TIMEOUT(engine->Daw()->Writes().size() >= 2 && engine->Daw()->Writes().last() == QByteArray::fromHex("c022"), 280000);
    QCOMPARE(engine->Daw()->Writes().mid(engine->Daw()->Writes().size() - 2),
             (QList<QByteArray>{QByteArray::fromHex("c021"), QByteArray::fromHex("c022")}));
    QVERIFY(engine->Link.IsConnected());
    VerifyHealthy();
}

void tst_LinkFaults::trickleDelaysNothingElse()
{
    // A hundred fader messages, one byte every 5 ms: a second and a half at the very least.
    QByteArray script;
    QList<QByteArray> translated;
    for (int value = 0; value < 100; ++value)
    {
        script += QByteArray("b0 07 ") + QByteArray::number(value, 16).rightJustified(2, '0') + '\n';
        translated += QByteArray::fromHex("e000") + char(value);
    }
    cSimulatorProcess sim;
    auto engine = Start(sim, {"--trickle", "5"}, script);
    QVERIFY2(engine, qPrintable(sim.Errors()));
    QTRY_VERIFY(!engine->Daw()->Writes().isEmpty());

    // Meanwhile the DAW moves its fader: each move reaches the console while the trickle goes on.
    QStringList sent;
    for (int value = 0x40; value < 0x48; ++value)
    {
        engine->Daw()->Deliver(QByteArray::fromHex("e100") + char(value));
        sent += QStringLiteral("b1 07 %1").arg(value, 2, 16, QLatin1Char('0'));
        QTRY_COMPARE(sim.OutputLines(), sent);
        QVERIFY2(engine->Daw()->Writes().size() < translated.size(), "the trickle ended before the DAW's messages went out");
    }
    QTRY_COMPARE_WITH_TIMEOUT(engine->Daw()->Writes(), translated, 30000);
    VerifyHealthy();
}

void tst_LinkFaults::floodOfDiscoveryAnswers()
{
    // The window as users see it (offscreen), its finder's queries going to a loopback socket.
    WindowFixture::cTestPlace place;
    QVERIFY(place.Prepare());
    QUdpSocket sink;
    QVERIFY(sink.bind(QHostAddress(QHostAddress::LocalHost), 0));
    WindowFixture::sWindow w(place.Maps(), QHostAddress::LocalHost, sink.localPort(), cUnitFinder::kPollMs);
    w.Window->show();
    auto* finders = w.Window->findChild<cMultiUnitFinder*>();
    auto* finder = finders ? finders->findChild<cUnitFinder*>() : nullptr;
    QVERIFY(finder);
    QComboBox* list = w.Combo("mUnitComboBox");
    QCOMPARE(list->count(), 1); // "Custom" only

    // Answers from a socket and thread of their own, paced in 1 ms steps: 10,000 a second from
    // 5,000 names, for 30 seconds.
    std::atomic<bool> done{false};
    std::thread flood([&done, port = finder->findChild<QUdpSocket*>()->localPort()] {
        const int descriptor = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const auto start = std::chrono::steady_clock::now();
        for (long step = 0; step < 30000; ++step)
        {
            for (int i = 0; i < 10; ++i)
            {
                const QByteArray name = "Flood Desk " + QByteArray::number(int((step * 10 + i) % 5000));
                ::sendto(descriptor, name.constData(), size_t(name.size()), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
            }
            std::this_thread::sleep_until(start + std::chrono::milliseconds(step + 1));
        }
        ::close(descriptor);
        done = true;
    });
    // Waited for in an event loop as the application's: QTRY's waits sleep between their rounds of
    // events, which the probe would count against the finder.
    mProbe.Start();
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    flood.join();
    VerifyHealthy();
    // Every name answers twice a second, so none is lost during the flood: the list is at its most.
    QCOMPARE(finders->GetUnits().size(), cUnitFinder::kMostUnits);
    QCOMPARE(list->count(), cUnitFinder::kMostUnits + 1);

    // The list still takes a choice: a found unit shows its address, fixed.
    list->setCurrentIndex(list->count() - 1);
    QVERIFY(list->currentText().startsWith("Flood Desk "));
    QCOMPARE(w.Address(), QString("127.0.0.1"));
    QVERIFY(!w.Enabled("mIPAddressEdit"));
    // Once the flood is over, the units run out as usual and the list empties.
    QTRY_COMPARE_WITH_TIMEOUT(list->count(), 1, (cUnitFinder::kCountdown + 3) * cUnitFinder::kPollMs);
}

void tst_LinkFaults::consoleFoundByBroadcastThenItsWireCut()
{
    QString why;
    QUILLON_REQUIRE(cNetworkNamespaces::Available(&why), why);
    // Made first, so removed last: after the processes and sockets inside are gone.
    cNetworkNamespaces namespaces;
    QString consoleEnd, appEnd;
    // The limited broadcast address needs a route to leave by; inside, the only way out is the veth.
    QVERIFY2(namespaces.Add("console") && namespaces.Add("app") &&
                 namespaces.Link("console", kConsoleAddress + "/24", "app", kAppAddress + "/24", &consoleEnd, &appEnd) &&
                 namespaces.Run("app", {"ip", "route", "add", "default", "dev", appEnd}),
             qPrintable(namespaces.Why()));
    cSimulatorProcess sim;
    QVERIFY2(sim.Start({"--address", "0.0.0.0", "--find", "KRT Find", "--find", "NY Find", "--name", "Namespace Desk",
                        "--junk", "junk after the name"},
                       namespaces.Exec("console")),
             qPrintable(sim.Errors()));
    QVERIFY2(sim.TcpPort == cTCPMIDIInptOutput::kConsolePort && sim.UdpPort == cUnitFinder::kDiscoveryPort, qPrintable(sim.Errors()));
    sim.Write("b0 07 64\n");

    // Sockets belong to the namespace of the thread that makes them: the finder's and the link's
    // are made in there, where nothing but loopback and the test's own veth end may be up.
    mHome = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const int inside = ::open(qPrintable("/run/netns/" + namespaces.Name("app")), O_RDONLY | O_CLOEXEC);
    QVERIFY(mHome >= 0 && inside >= 0);
    const bool entered = ::setns(inside, CLONE_NEWNET) == 0;
    ::close(inside);
    QVERIFY(entered);
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces())
        QVERIFY2(interface.flags().testFlag(QNetworkInterface::IsLoopBack) ||
                     interface.name().startsWith(cNetworkNamespaces::kInterfacePrefix),
                 qPrintable(interface.name()));

    // Found by the broadcast query (default destination and port), its name cut at the zero byte.
    cUnitFinder finder("NY Find", nullptr, QHostAddress(QHostAddress::Broadcast), cUnitFinder::kDiscoveryPort, 200);
    QSignalSpy found(&finder, &cUnitFinder::UnitFound);
    QTRY_VERIFY2_WITH_TIMEOUT(!found.isEmpty(), qPrintable(sim.Errors()), 20000);
    const sUnit unit = qvariant_cast<sUnit>(found.first().first());
    QCOMPARE(unit.Name + " @ " + unit.Address.toString(), QString("Namespace Desk @ ") + kConsoleAddress);

    // Linked on the console port, and MIDI both ways through the engine.
    sLinkEngine engine(cTCPMIDIInptOutput::kConsolePort);
    engine.Link.ConnectToHost(unit.Address);
    QTRY_VERIFY_WITH_TIMEOUT(engine.Link.IsConnected(), 10000);
    engine.Daw()->Deliver(QByteArray::fromHex("e10040"));
    QTRY_COMPARE_WITH_TIMEOUT(engine.Daw()->Writes(), QList<QByteArray>{QByteArray::fromHex("e00064")}, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(sim.OutputLines(), QStringList{"b1 07 40"}, 10000);

    // Idle past the first keep-alive probe: a console that answers its probes stays linked.
    QTest::qWait((cTCPMIDIInptOutput::kKeepAliveIdleS + 2) * 1000);
    QVERIFY(engine.Link.IsConnected());
    QVERIFY2(namespaces.Run("console", {"ip", "link", "set", consoleEnd, "down"}), qPrintable(namespaces.Why()));
    QElapsedTimer took;
    took.start();
    QTRY_COMPARE_WITH_TIMEOUT(engine.States.last(), QString("Not Connected"), 60000);
    qInfo("the cut link said \"Not Connected\" after %lld ms", took.elapsed());
}

QTEST_MAIN(tst_LinkFaults)
#include "tst_LinkFaults.moc"
