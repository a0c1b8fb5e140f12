// The console session at work with a console simulator on loopback and an in-memory DAW side: the
// console is brought back to the DAW's last values after its link closes or resets, for a family
// of single messages (control changes) and one of sequences (NRPNs); the link is tried again
// with a growing pause while the console is away; over MIDI ports the console is reachable while
// its output is there, and a locked console gets from the DAW only what the map marks safe.

#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "session/ConsoleSession.h"
#include "tests/network/SimulatorProcess.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/RealComponent.h"
#include "tests/support/TestFile.h"

#include <QTemporaryDir>
#include <memory>
#include <QtTest>

namespace
{
// One console family's map: the DAW's Mackie Control faders (pitch bend on the strip's channel)
// and lamps (notes) go to the console in the family's own messages; console faders come back.
QByteArray MapFile(const QString& FaderOut)
{
    return QStringLiteral(R"({"virtual_ports":["Mackie Control"],
 "port_aliases":[{"type":"input","name":"Desk","alias":"Mixer In"},{"type":"output","name":"Desk","alias":"Mixer Out"}],
 "variables":[{"name":"MIDI Channel","variable_name":"n","default":0,"values":[{"value":0,"name":"1"},{"value":1,"name":"2"}]}],
 "rules":[
  {"name":"fader to DAW","incoming":{"midi":"B*n 0k v","ports":["Mixer In"]},"outgoing":{"midi":"Ek v v","ports":["Mackie Control"]}},
  {"name":"fader to desk","incoming":{"midi":"Ek l m","ports":["Mackie Control"]},"outgoing":{"midi":"%1","ports":["Mixer Out"]}},
  {"name":"lamp to desk","incoming":{"midi":"90 k v","ports":["Mackie Control"]},"outgoing":{"midi":"9*n k v","ports":["Mixer Out"]},"safe":true}
 ]})")
        .arg(FaderOut)
        .toUtf8();
}

// A session on loopback with the in-memory registry, its map (one family's) loaded.
struct sSession
{
    sSession(const QString& FaderOut, quint16 ConsolePort, int FirstRetryMs = 100, int LongestRetryMs = 30000)
    {
        Registry = new cFakeSystemMIDIConfiguration;
        sSessionEnvironment environment;
        environment.Registry = Registry;
        environment.DiscoveryDestination = QHostAddress::LocalHost;
        environment.DiscoveryPort = 9;
        environment.MapsDirectory = Dir.path() + '/';
        environment.ConsolePort = ConsolePort;
        environment.FirstRetryMs = FirstRetryMs;
        environment.LongestRetryMs = LongestRetryMs;
        Session.reset(new cConsoleSession(environment));
        Session->LoadMapFile(WriteTestFile(Dir.filePath("map.json"), MapFile(FaderOut)));
        Session->SetChannel(0);
    }
    QTemporaryDir Dir;
    cFakeSystemMIDIConfiguration* Registry;
    std::unique_ptr<cConsoleSession> Session;
};
} // namespace

class tst_ConsoleSession : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void bringsTheConsoleBackAfterItsLinkDrops_data();
    void bringsTheConsoleBackAfterItsLinkDrops();
    void triesAgainWithAGrowingPause();
    void consolePortsReachableWhilePresentAndLockHoldsBack();

private:
    QTemporaryDir mDir;
};

void tst_ConsoleSession::initTestCase()
{
    QUILLON_REQUIRE(cSimulatorProcess::Available(), QStringLiteral("the console simulator is not built"));
}

void tst_ConsoleSession::bringsTheConsoleBackAfterItsLinkDrops_data()
{
    QTest::addColumn<QString>("faderOut");   // the family's fader message
    QTest::addColumn<QString>("fault");      // the simulator's option
    QTest::addColumn<bool>("resync");
    QTest::addColumn<QString>("live");       // what the console gets from the DAW's moves
    QTest::addColumn<QString>("afterwards"); // what it gets on the next connection

    // The DAW moves fader 1 to 40, fader 2 to 20, fader 1 to 50, lights lamp 10 and puts it out.
    const QString ccLive = "b0 00 40,b0 01 20,b0 00 50,90 10 7f,90 10 00,";
    QTest::newRow("control changes, closed") << "B*n k m" << "--close-after" << true << ccLive << "b0 01 20,b0 00 50,90 10 00,";
    QTest::newRow("NRPN, reset") << "B*n 63 00 B*n 62 k B*n 06 m B*n 26 l" << "--reset-after" << true
                                 << "b0 63 00,b0 62 00,b0 06 40,b0 26 00,b0 63 00,b0 62 01,b0 06 20,b0 26 00,"
                                    "b0 63 00,b0 62 00,b0 06 50,b0 26 00,90 10 7f,90 10 00,"
                                 << "b0 63 00,b0 62 01,b0 06 20,b0 26 00,b0 63 00,b0 62 00,b0 06 50,b0 26 00,90 10 00,";
    QTest::newRow("no resync") << "B*n k m" << "--close-after" << false << ccLive << "";
}

void tst_ConsoleSession::bringsTheConsoleBackAfterItsLinkDrops()
{
    QFETCH(QString, faderOut);
    QFETCH(QString, fault);
    QFETCH(bool, resync);
    QFETCH(QString, live);
    QFETCH(QString, afterwards);

    // On each connection the console waits, sends one fader move and drops the link.
    const QString script = WriteTestFile(mDir.filePath("script.txt"), "sleep 1500\nb0 07 33\n");
    cSimulatorProcess sim;
    QVERIFY2(sim.Start({"--port", "0", "--no-discovery", "--script", script, fault, "3"}), qPrintable(sim.Errors()));

    sSession s(faderOut, sim.TcpPort);
    s.Session->SetResync(resync);
    s.Session->UseNetwork();
    s.Session->Connect(QHostAddress(QHostAddress::LocalHost));
    cFakeMIDIPort* daw = s.Registry->VirtualPort("Mackie Control");
    QVERIFY(daw != nullptr);

    QTRY_COMPARE_WITH_TIMEOUT(s.Session->GetConnectionCount(), 1, 10000);
    for (const char* move : {"e00040", "e10020", "e00050", "90107f", "901000"})
        daw->Deliver(QByteArray::fromHex(move));
    QTRY_COMPARE_WITH_TIMEOUT(sim.OutputLines(), live.split(',', Qt::SkipEmptyParts), 10000);

    // The console drops the link after its move; the session connects again and catches it up.
    QTRY_COMPARE_WITH_TIMEOUT(s.Session->GetConnectionCount(), 2, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(sim.OutputLines(), (live + afterwards).split(',', Qt::SkipEmptyParts), 10000);
    // The console's own move reached the DAW as a Mackie Control fader.
    QVERIFY(daw->WrittenBytes().startsWith(QByteArray::fromHex("e73333")));
}

void tst_ConsoleSession::triesAgainWithAGrowingPause()
{
    auto sim = std::make_unique<cSimulatorProcess>();
    QVERIFY2(sim->Start({"--port", "0", "--no-discovery"}), qPrintable(sim->Errors()));
    const QStringList again{"--port", QString::number(sim->TcpPort), "--no-discovery"};
    sSession s("B*n k m", sim->TcpPort, 50, 200);
    QSignalSpy pauses(s.Session.get(), &cConsoleSession::RetryScheduled);
    s.Session->UseNetwork();
    s.Session->Connect(QHostAddress(QHostAddress::LocalHost));
    QTRY_COMPARE_WITH_TIMEOUT(s.Session->GetConnectionCount(), 1, 10000);

    // The console is switched off: every try fails, the pause doubles up to its longest. Back on
    // the same port, it is connected again, and the next time the pause starts from the beginning.
    for (int round = 0; round < 2; ++round)
    {
        sim.reset(new cSimulatorProcess);
        QTRY_VERIFY_WITH_TIMEOUT(pauses.size() >= 4, 10000);
        QVERIFY(!s.Session->GetConfiguration()->IsConsoleReachable());
        for (int i = 0; i < 4; ++i)
            QCOMPARE(pauses.at(i).at(0).toInt(), QList<int>({50, 100, 200, 200}).at(i));
        QVERIFY2(sim->Start(again), qPrintable(sim->Errors()));
        QTRY_COMPARE_WITH_TIMEOUT(s.Session->GetConnectionCount(), 2 + round, 10000);
        QVERIFY(s.Session->GetConfiguration()->IsConsoleReachable());
        pauses.clear();
    }
}

void tst_ConsoleSession::consolePortsReachableWhilePresentAndLockHoldsBack()
{
    sSession s("B*n k m", 9);
    s.Session->SetConsoleInput("Desk In");
    s.Session->SetConsoleOutput("Desk Out");
    s.Session->UseMIDIPorts();
    s.Registry->PlugInput("Desk In");
    QVERIFY(!s.Session->IsConsoleReachable());
    cFakeMIDIPort* desk = s.Registry->PlugOutput("Desk Out");
    QVERIFY(s.Session->GetConfiguration()->IsConsoleReachable());

    // The DAW moves a fader; the desk is pulled out and plugged in again: it gets the value back.
    cFakeMIDIPort* daw = s.Registry->VirtualPort("Mackie Control");
    daw->Deliver(QByteArray::fromHex("e00040"));
    QTRY_COMPARE(desk->WrittenBytes(), QByteArray::fromHex("b00040"));
    s.Registry->UnplugOutput("Desk Out");
    QVERIFY(!s.Session->GetConfiguration()->IsConsoleReachable());
    desk = s.Registry->PlugOutput("Desk Out");
    QCOMPARE(desk->WrittenBytes(), QByteArray::fromHex("b00040"));

    // Locked: the fader is held back, the lamp (marked safe) passes, and nothing is sent back.
    s.Session->SetConsoleLocked(true);
    for (const char* message : {"e00050", "90107f"})
        daw->Deliver(QByteArray::fromHex(message));
    QTRY_COMPARE(desk->WrittenBytes(), QByteArray::fromHex("b00040 90107f"));
    QCOMPARE(s.Session->GetHeldCount(), quint64(1));
    s.Registry->UnplugOutput("Desk Out");
    QCOMPARE(s.Registry->PlugOutput("Desk Out")->WrittenBytes(), QByteArray());
}

QTEST_GUILESS_MAIN(tst_ConsoleSession)
#include "tst_ConsoleSession.moc"
