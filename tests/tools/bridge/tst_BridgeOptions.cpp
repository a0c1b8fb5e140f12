// The bridge's command line, the setup it resolves for the session, and the lines it prints for what
// its console session does (how it reads the settings store is tst_SessionSettings's).

#include "MIDITranslator/MixerDawMap.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/TestFile.h"
#include "tools/bridge/Bridge.h"
#include "tools/bridge/BridgeOptions.h"

#include <QSettings>
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
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, mDir.filePath("settings"));
    QVERIFY(!WriteTestFile(mDir.filePath("mixer_map.json"), R"({"mixers":[
        {"name":"Ny-16","daws":[{"name":"Mackie Control","file":"ny.json"},{"name":"HUI","file":"ny_hui.json"}]},
        {"name":"KRT-32","daws":[{"name":"Mackie Control","file":"krt.json"}]}]})").isEmpty());
}

void tst_BridgeOptions::parsesTheCommandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("result"); // Run with a console: "channel|resync" resolved; Error: part of the message

    const int run = int(eBridgeAction::Run);
    const int error = int(eBridgeAction::Error);
    QTest::newRow("nothing") << QStringList{} << run << "";
    QTest::newRow("everything for the network")
        << QStringList{"--mixer", "Ny-16", "--daw", "HUI", "--channel", "16", "--console", "10.0.0.7", "--monitor", "--no-resync"}
        << run << "15|false";
    QTest::newRow("resync unless told not to") << QStringList{"--console", "10.0.0.7", "--channel", "1"} << run << "0|true";
    QTest::newRow("channel 17") << QStringList{"--channel", "17"} << error << "from 1 to 16";
    QTest::newRow("address part over 255") << QStringList{"--console", "192.168.1.300"} << error << "IPv4 address";
    QTest::newRow("address and port") << QStringList{"--console", "10.0.0.7", "--midi-out", "Desk"} << error << "one way";
    QTest::newRow("list and discover") << QStringList{"--list", "--discover", "2"} << error << "cannot go together";
}

void tst_BridgeOptions::parsesTheCommandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QString, result);
    sBridgeOptions options;
    QString said;
    QCOMPARE(int(cBridgeOptions::Parse(QStringList{"quillon-bridge", "--maps", mDir.path()} + arguments, options, said)), action);
    if (action == int(eBridgeAction::Error))
        QVERIFY2(!said.isEmpty() && said.contains(result), qPrintable(said));
    if (action != int(eBridgeAction::Run) || options.Console.isEmpty())
        return;
    cMixerDawMap map;
    map.Load(mDir.filePath("mixer_map.json"));
    sBridgeSetup setup;
    QStringList notes;
    QVERIFY2(cBridgeOptions::Resolve(options, map, setup, said, notes), qPrintable(said));
    QCOMPARE(QString("%1|%2").arg(setup.Channel).arg(setup.Resync ? "true" : "false"), result);
}

void tst_BridgeOptions::reportsWhatTheSessionDoes()
{
    const QString map = WriteTestFile(mDir.filePath("ny.json"), R"({"rules":[{"name":"r","incoming":{"midi":"90 k v","ports":["D"]},"outgoing":{"midi":"90 k v","ports":["D"]}}]})");
    QVERIFY(!map.isEmpty());
    sBridgeSetup setup{"", "", "", map, 0, eConsoleMode::MidiPorts, QHostAddress(), "Stage", "", "Desk", true, true};
    QStringList said;
    sSessionEnvironment environment;
    environment.Registry = new cFakeSystemMIDIConfiguration;
    environment.MapsDirectory = mDir.path() + '/';
    cBridge bridge(setup, [&](const QString& Line) { said << QString(Line).remove(QRegularExpression("^\\d+\\.\\d{6} ")); }, environment);
    QVERIFY(bridge.Start());
    cConsoleSession* session = bridge.GetSession();
    for (int twice = 0; twice < 2; ++twice)
        emit session->StateTextChanged("Connecting...");
    emit session->TryStarted(2, QHostAddress("10.0.0.7"), true);
    emit session->ConsoleNotFound(3);
    emit session->RetryScheduled(1500);
    emit session->ConsoleAnswered(sUnit{QHostAddress("10.0.0.8"), "Stage", "NY Find"});
    emit session->ResyncSent("Desk", {QByteArray::fromHex("901040")});
    bridge.Stop();
    emit session->RetryScheduled(1000);
    QCOMPARE(said.mid(3), QStringList({"console: MIDI ports in \"\", out \"Desk\"", "console: Connecting...",
                                       "try 2: \"Stage\" does not answer discovery; trying its last address",
                                       "try 2: connecting to 10.0.0.7", "try 3: \"Stage\" not found yet",
                                       "console: trying again in 1.5 s",
                                       "console: \"Stage\" answers from 10.0.0.8",
                                       "out console 90 10 40  Note On 16 velocity 64 on channel 1",
                                       "resync: 1 control sent to the console", "stopping"}));
}

QTEST_GUILESS_MAIN(tst_BridgeOptions)
#include "tst_BridgeOptions.moc"
