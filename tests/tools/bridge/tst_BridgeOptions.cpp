// The bridge's command line and the lines it prints for what its console session does (how it reads
// the settings store is tst_SessionSettings's).

#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tools/bridge/Bridge.h"
#include "tools/bridge/BridgeOptions.h"

#include <QTemporaryDir>
#include <QtTest>

class tst_BridgeOptions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void parsesTheCommandLine_data();
    void parsesTheCommandLine();
    void reportsWhatTheSessionDoes();

private:
    QTemporaryDir mDir;
};

void tst_BridgeOptions::initTestCase()
{
    QVERIFY(mDir.isValid());
    QFile file(mDir.filePath("mixer_map.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"mixers":[
        {"name":"Ny-16","daws":[{"name":"Mackie Control","file":"ny.json"},{"name":"HUI","file":"ny_hui.json"}]},
        {"name":"KRT-32","daws":[{"name":"Mackie Control","file":"krt.json"}]}]})");
    file.close();
}

void tst_BridgeOptions::parsesTheCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("message"); // part of the error message

    const int run = int(eBridgeAction::Run);
    const int error = int(eBridgeAction::Error);
    QTest::newRow("nothing") << QStringList{} << run << "";
    QTest::newRow("everything for the network") << QStringList{"--mixer", "Ny-16", "--daw", "HUI", "--channel", "16", "--console", "10.0.0.7", "--monitor", "--no-resync"} << run << "";
    QTest::newRow("ports") << QStringList{"--midi-in", "Desk", "--midi-out", "Desk"} << run << "";
    QTest::newRow("help") << QStringList{"--help"} << int(eBridgeAction::Help) << "";
    QTest::newRow("version") << QStringList{"--version"} << int(eBridgeAction::Version) << "";
    QTest::newRow("list") << QStringList{"--list"} << int(eBridgeAction::List) << "";
    QTest::newRow("discover 3") << QStringList{"--discover", "3"} << int(eBridgeAction::Discover) << "";
    QTest::newRow("channel 0") << QStringList{"--channel", "0"} << error << "from 1 to 16";
    QTest::newRow("channel 17") << QStringList{"--channel", "17"} << error << "from 1 to 16";
    QTest::newRow("channel word") << QStringList{"--channel", "one"} << error << "not \"one\"";
    QTest::newRow("address part over 255") << QStringList{"--console", "192.168.1.300"} << error << "IPv4 address";
    QTest::newRow("address with three parts") << QStringList{"--console", "10.0.7"} << error << "IPv4 address";
    QTest::newRow("host name as address") << QStringList{"--console", "desk.local"} << error << "IPv4 address";
    QTest::newRow("IPv6 address") << QStringList{"--console", "::1"} << error << "IPv4 address";
    QTest::newRow("address and name") << QStringList{"--console", "10.0.0.7", "--console-name", "Desk"} << error << "one way";
    QTest::newRow("address and port") << QStringList{"--console", "10.0.0.7", "--midi-out", "Desk"} << error << "one way";
    QTest::newRow("empty name") << QStringList{"--console-name", ""} << error << "console's name";
    QTest::newRow("empty family") << QStringList{"--mixer", ""} << error << "family";
    QTest::newRow("unknown option") << QStringList{"--colour"} << error << "colour";
    QTest::newRow("value missing") << QStringList{"--channel"} << error << "channel";
    QTest::newRow("stray argument") << QStringList{"Ny-16"} << error << "unexpected argument";
    QTest::newRow("discover 0 s") << QStringList{"--discover", "0"} << error << "1 to 3600";
    QTest::newRow("list and discover") << QStringList{"--list", "--discover", "2"} << error << "cannot go together";
}

void tst_BridgeOptions::parsesTheCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QString, message);
    sBridgeOptions options;
    QString said;
    arguments.prepend(QStringLiteral("quillon-bridge"));
    QCOMPARE(int(cBridgeOptions::Parse(arguments, options, said)), action);
    QVERIFY2(said.contains(message), qPrintable(said));
    if (action == int(eBridgeAction::Error))
        QVERIFY(!said.isEmpty());
    if (QTest::currentDataTag() == QLatin1String("everything for the network"))
    {
        QCOMPARE(options.Channel, 15);
        QCOMPARE(options.Console, QString("10.0.0.7"));
        QVERIFY(options.Monitor && options.NoResync);
    }
}

void tst_BridgeOptions::reportsWhatTheSessionDoes()
{
    QFile map(mDir.filePath("ny.json"));
    QVERIFY(map.open(QIODevice::WriteOnly) && map.write(R"({"rules":[{"name":"r","incoming":{"midi":"90 k v","ports":["D"]},"outgoing":{"midi":"90 k v","ports":["D"]}}]})") > 0);
    map.close();
    sBridgeSetup setup{"", "", "", map.fileName(), 0, eConsoleMode::MidiPorts, QHostAddress(), "Stage", "", "Desk", true, true};
    QStringList said;
    sSessionEnvironment environment;
    environment.Registry = new cFakeSystemMIDIConfiguration;
    environment.MapsDirectory = mDir.path() + '/';
    cBridge bridge(setup, [&](const QString& Line) { said << QString(Line).remove(QRegularExpression("^\\d+\\.\\d{6} ")); }, environment);
    QVERIFY(bridge.Start());
    cConsoleSession* session = bridge.GetSession();
    emit session->StateTextChanged("Connecting...");
    emit session->StateTextChanged("Connecting...");
    emit session->TryStarted(2, QHostAddress("10.0.0.7"), true);
    emit session->ConsoleNotFound(3);
    emit session->RetryScheduled(1500);
    emit session->ConnectTimedOut(QHostAddress("10.0.0.7"), 5000);
    emit session->ConsoleAnswered(sUnit{QHostAddress("10.0.0.8"), "Stage", "NY Find"});
    emit session->ResyncSent("Desk", {QByteArray::fromHex("901040")});
    bridge.Stop();
    emit session->RetryScheduled(1000);
    QCOMPARE(said.mid(3), QStringList({"console: MIDI ports in \"\", out \"Desk\"", "console: Connecting...",
                                       "try 2: \"Stage\" does not answer discovery; trying its last address",
                                       "try 2: connecting to 10.0.0.7", "try 3: \"Stage\" not found yet",
                                       "console: trying again in 1.5 s", "console: no connection to 10.0.0.7 within 5 s",
                                       "console: \"Stage\" answers from 10.0.0.8",
                                       "out console 90 10 40  Note On 16 velocity 64 on channel 1",
                                       "resync: 1 control sent to the console", "stopping"}));
}

QTEST_GUILESS_MAIN(tst_BridgeOptions)
#include "tst_BridgeOptions.moc"
