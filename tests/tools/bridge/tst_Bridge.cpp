// The bridge at work with a console simulator on loopback and an in-memory DAW side: the console is
// brought back to the DAW's state after its link closes or resets, for a console family of each
// kind of message (control changes, NRPNs, exclusive messages), and the link is tried again with a
// growing pause while the console is away.

#include "tests/support/RealComponent.h"
#include "tests/network/SimulatorProcess.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tools/bridge/Bridge.h"

#include <QTemporaryDir>
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
  {"name":"lamp to desk","incoming":{"midi":"90 k v","ports":["Mackie Control"]},"outgoing":{"midi":"9*n k v","ports":["Mixer Out"]}}
 ]})")
        .arg(FaderOut)
        .toUtf8();
}

bool WriteFile(const QString& Path, const QByteArray& Content)
{
    QFile file(Path);
    return file.open(QIODevice::WriteOnly) && file.write(Content) == Content.size();
}

QStringList Lines(const QString& Hex)
{
    return Hex.split(QLatin1Char(','), Qt::SkipEmptyParts);
}
} // namespace

class tst_Bridge : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void bringsTheConsoleBackAfterItsLinkDrops_data();
    void bringsTheConsoleBackAfterItsLinkDrops();
    void triesAgainWithAGrowingPause();

private:
    QTemporaryDir mDir;
};

void tst_Bridge::initTestCase()
{
    QVERIFY(mDir.isValid());
    QUILLON_REQUIRE(cSimulatorProcess::Available(), QStringLiteral("the console simulator is not built"));
}

void tst_Bridge::bringsTheConsoleBackAfterItsLinkDrops_data()
{
    QTest::addColumn<QString>("faderOut"); // the family's fader message
    QTest::addColumn<QString>("fault");    // the simulator's option
    QTest::addColumn<bool>("resync");
    QTest::addColumn<QString>("live");     // what the console gets from the DAW's moves
    QTest::addColumn<QString>("afterwards"); // what it gets on the next connection

    // The DAW moves fader 1 to 40, fader 2 to 20, fader 1 to 50, lights lamp 10 and puts it out.
    const QString cc = "B*n k m";
    const QString ccLive = "b0 00 40,b0 01 20,b0 00 50,90 10 7f,90 10 00,";
    const QString ccBack = "b0 01 20,b0 00 50,90 10 00,";
    const QString nrpn = "B*n 63 00 B*n 62 k B*n 06 m B*n 26 l";
    const QString nrpnLive = "b0 63 00,b0 62 00,b0 06 40,b0 26 00,b0 63 00,b0 62 01,b0 06 20,b0 26 00,"
                             "b0 63 00,b0 62 00,b0 06 50,b0 26 00,90 10 7f,90 10 00,";
    const QString nrpnBack = "b0 63 00,b0 62 01,b0 06 20,b0 26 00,b0 63 00,b0 62 00,b0 06 50,b0 26 00,90 10 00,";
    const QString sysex = "F0 43 10 3E k m l F7";
    const QString sysexLive = "f0 43 10 3e 00 40 00 f7,f0 43 10 3e 01 20 00 f7,f0 43 10 3e 00 50 00 f7,90 10 7f,90 10 00,";
    const QString sysexBack = "f0 43 10 3e 01 20 00 f7,f0 43 10 3e 00 50 00 f7,90 10 00,";
    for (const char* fault : {"--close-after", "--reset-after"})
    {
        QTest::addRow("control changes, %s", fault) << cc << fault << true << ccLive << ccBack;
        QTest::addRow("NRPN, %s", fault) << nrpn << fault << true << nrpnLive << nrpnBack;
        QTest::addRow("exclusive, %s", fault) << sysex << fault << true << sysexLive << sysexBack;
    }
    QTest::newRow("no resync") << cc << "--close-after" << false << ccLive << "";
}

void tst_Bridge::bringsTheConsoleBackAfterItsLinkDrops()
{
    QFETCH(QString, faderOut);
    QFETCH(QString, fault);
    QFETCH(bool, resync);
    QFETCH(QString, live);
    QFETCH(QString, afterwards);

    const QString mapPath = mDir.filePath(QStringLiteral("map-%1.json").arg(QTest::currentDataTag()).replace(' ', '_'));
    QVERIFY(WriteFile(mapPath, MapFile(faderOut)));
    // On each connection the console waits, sends one fader move and drops the link.
    const QString script = mDir.filePath("script.txt");
    QVERIFY(WriteFile(script, "sleep 1500\nb0 07 33\n"));
    cSimulatorProcess sim;
    QVERIFY2(sim.Start({"--port", "0", "--no-discovery", "--script", script, fault, "3"}), qPrintable(sim.Errors()));

    sBridgeSetup setup;
    setup.Family = "Test";
    setup.Daw = "Mackie Control";
    setup.MapFile = mapPath;
    setup.Channel = 0;
    setup.Mode = eConsoleMode::Address;
    setup.Address = QHostAddress(QHostAddress::LocalHost);
    setup.Resync = resync;
    setup.Monitor = true;
    sBridgeNetwork network;
    network.ConsolePort = sim.TcpPort;
    network.FirstRetryMs = 100;
    QStringList said;
    auto* registry = new cFakeSystemMIDIConfiguration;
    cBridge bridge(setup, [&](const QString& Line) { said << Line; }, registry, network);
    QVERIFY(bridge.Start());
    cFakeMIDIPort* daw = registry->VirtualPort("Mackie Control");
    QVERIFY(daw != nullptr);

    QTRY_COMPARE_WITH_TIMEOUT(bridge.GetConnectionCount(), 1, 10000);
    for (const char* move : {"e00040", "e10020", "e00050", "90107f", "901000"})
        daw->Deliver(QByteArray::fromHex(move));
    QTRY_COMPARE_WITH_TIMEOUT(sim.OutputLines(), Lines(live), 10000);

    // The console drops the link after its move; the bridge connects again and catches it up.
    QTRY_COMPARE_WITH_TIMEOUT(bridge.GetConnectionCount(), 2, 15000);
    QTRY_COMPARE_WITH_TIMEOUT(sim.OutputLines(), Lines(live + afterwards), 10000);
    QVERIFY2(said.contains("console: trying again in 0.1 s"), qPrintable(said.join('\n')));
    if (resync)
        QVERIFY2(said.contains("resync: 3 controls sent to the console"), qPrintable(said.join('\n')));
    // The console's own move reached the DAW as a Mackie Control fader, and the monitor said so.
    QVERIFY(daw->WrittenBytes().startsWith(QByteArray::fromHex("e73333")));
    // Monitor lines begin with the time in seconds, to the microsecond.
    for (const char* line : {"in  console b0 07 33  CC 7 = 51 on channel 1", "out DAW \"Mackie Control\" e7 33 33  Pitch Bend 6579 on channel 8",
                             "in  DAW \"Mackie Control\" 90 10 7f  Note On 16 velocity 127 on channel 1"})
        QVERIFY2(!said.filter(QRegularExpression("^\\d+\\.\\d{6} " + QRegularExpression::escape(line) + '$')).isEmpty(), qPrintable(said.join('\n')));
    QTest::qWait(200);
    QCOMPARE(sim.OutputLines(), Lines(live + afterwards));
}

void tst_Bridge::triesAgainWithAGrowingPause()
{
    const QString mapPath = mDir.filePath("map-retry.json");
    QVERIFY(WriteFile(mapPath, MapFile("B*n k m")));
    cSimulatorProcess sim;
    QVERIFY2(sim.Start({"--port", "0", "--no-discovery"}), qPrintable(sim.Errors()));
    const quint16 port = sim.TcpPort;

    sBridgeSetup setup;
    setup.MapFile = mapPath;
    setup.Mode = eConsoleMode::Address;
    setup.Address = QHostAddress(QHostAddress::LocalHost);
    sBridgeNetwork network;
    network.ConsolePort = port;
    network.FirstRetryMs = 50;
    network.LongestRetryMs = 200;
    QStringList said;
    cBridge bridge(setup, [&](const QString& Line) { said << Line; }, new cFakeSystemMIDIConfiguration, network);
    QVERIFY(bridge.Start());
    QTRY_COMPARE_WITH_TIMEOUT(bridge.GetConnectionCount(), 1, 10000);

    // The console is switched off: every try fails, the pause doubles up to its longest.
    sim.Kill();
    QTRY_VERIFY_WITH_TIMEOUT(said.filter("trying again").size() >= 5, 10000);
    QCOMPARE(said.filter("trying again").mid(0, 5),
             QStringList({"console: trying again in 0.05 s", "console: trying again in 0.1 s", "console: trying again in 0.2 s",
                          "console: trying again in 0.2 s", "console: trying again in 0.2 s"}));
    QVERIFY(said.contains("try 3: connecting to 127.0.0.1"));
    QCOMPARE(bridge.GetStateText(), QString("Not Connected"));

    // Back on the same port: connected again, and the pause starts from the beginning.
    cSimulatorProcess again;
    QVERIFY2(again.Start({"--port", QString::number(port), "--no-discovery"}), qPrintable(again.Errors()));
    QTRY_COMPARE_WITH_TIMEOUT(bridge.GetConnectionCount(), 2, 10000);
    QCOMPARE(bridge.GetStateText(), QString("Connected"));
    const int before = said.size();
    again.Kill();
    QTRY_VERIFY_WITH_TIMEOUT(said.mid(before).contains("console: trying again in 0.05 s"), 10000);
}

QTEST_GUILESS_MAIN(tst_Bridge)
#include "tst_Bridge.moc"
