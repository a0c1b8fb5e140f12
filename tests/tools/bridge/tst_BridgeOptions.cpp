// The bridge's command line, its fallback to the settings the window saved, and the lines it prints
// for what its console session does.

#include "MIDITranslator/MixerDawMap.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
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
    void init();
    void parsesTheCommandLine_data();
    void parsesTheCommandLine();
    void resolvesFromOptionsAndSettings_data();
    void resolvesFromOptionsAndSettings();
    void reportsWhatTheSessionDoes();

private:
    QTemporaryDir mDir;
    cMixerDawMap mMap;
};

void tst_BridgeOptions::initTestCase()
{
    QVERIFY(mDir.isValid());
    QCoreApplication::setOrganizationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationName(QStringLiteral("Quillon"));
    // The store the window writes, moved into the test's own folder.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, mDir.filePath("settings"));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, mDir.filePath("settings"));
    QFile file(mDir.filePath("mixer_map.json"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(R"({"mixers":[
        {"name":"Ny-16","daws":[{"name":"Mackie Control","file":"ny.json"},{"name":"HUI","file":"ny_hui.json"}]},
        {"name":"KRT-32","daws":[{"name":"Mackie Control","file":"krt.json"}]}]})");
    file.close();
    mMap.Load(mDir.filePath("mixer_map.json"));
}

void tst_BridgeOptions::init()
{
    QSettings().clear();
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

// Settings as "key=value" texts, written before resolving; options as on the command line.
void tst_BridgeOptions::resolvesFromOptionsAndSettings_data()
{
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("result"); // "error: part of the message" or the setup in short

    QTest::newRow("nothing saved, nothing given") << QStringList{} << QStringList{} << "error: no console given";
    QTest::newRow("nothing saved, address given") << QStringList{} << QStringList{"--console", "10.0.0.7"}
                                                  << "KRT-32|Mackie Control|krt.json|1|address 10.0.0.7";
    QTest::newRow("saved network console by name")
        << QStringList{"MixerType=Ny-16", "DAWType=HUI", "Ny-16/Mode=TCP", "Ny-16/MIDIChannel=4",
                       "Ny-16/Connection/DefaultUnitName=Stage Left", "Ny-16/Connection/DefaultUnitIP=10.1.1.9"}
        << QStringList{} << "Ny-16|HUI|ny_hui.json|4|name Stage Left last 10.1.1.9";
    QTest::newRow("saved address broken") << QStringList{"MixerType=Ny-16", "Ny-16/Mode=TCP", "Ny-16/Connection/DefaultUnitIP=nowhere"}
                                          << QStringList{} << "error: no IPv4 address";
    QTest::newRow("one port given, the other saved") << QStringList{"MixerType=Ny-16", "Ny-16/MIDI/OutputPort=USB Out"}
                                                     << QStringList{"--midi-in", "Other In"} << "Ny-16|Mackie Control|ny.json|1|ports Other In>USB Out";
    QTest::newRow("given family picks its own settings") << QStringList{"MixerType=Ny-16", "KRT-32/MIDIChannel=9", "KRT-32/Mode=TCP", "KRT-32/Connection/DefaultUnitName=Desk"}
                                                         << QStringList{"--mixer", "KRT-32"} << "KRT-32|Mackie Control|krt.json|9|name Desk last 192.168.1.1";
    QTest::newRow("given channel beats saved") << QStringList{"Ny-16/MIDIChannel=3"} << QStringList{"--mixer", "Ny-16", "--channel", "12", "--console", "10.0.0.7"}
                                               << "Ny-16|Mackie Control|ny.json|11|address 10.0.0.7";
    QTest::newRow("unknown family given") << QStringList{} << QStringList{"--mixer", "Ny-32", "--console", "10.0.0.7"} << "error: unknown console family \"Ny-32\"";
    QTest::newRow("unknown protocol given") << QStringList{} << QStringList{"--mixer", "KRT-32", "--daw", "HUI", "--console", "10.0.0.7"}
                                            << "error: has no DAW protocol \"HUI\"";
}

void tst_BridgeOptions::resolvesFromOptionsAndSettings()
{
    QFETCH(QStringList, settings);
    QFETCH(QStringList, arguments);
    QFETCH(QString, result);
    {
        QSettings store;
        for (const QString& entry : settings)
            store.setValue(entry.section('=', 0, 0), entry.section('=', 1));
    }
    sBridgeOptions options;
    QString message;
    arguments.prepend(QStringLiteral("quillon-bridge"));
    arguments << "--maps" << mDir.path();
    QCOMPARE(cBridgeOptions::Parse(arguments, options, message), eBridgeAction::Run);

    sBridgeSetup setup;
    QStringList notes;
    const bool ok = cBridgeOptions::Resolve(options, mMap, setup, message, notes);
    if (result.startsWith("error: "))
    {
        QVERIFY(!ok);
        QVERIFY2(message.contains(result.mid(7)), qPrintable(message));
        return;
    }
    QVERIFY2(ok, qPrintable(message));
    QString console;
    if (setup.Mode == eConsoleMode::Address)
        console = "address " + setup.Address.toString();
    else if (setup.Mode == eConsoleMode::Name)
        console = "name " + setup.ConsoleName + " last " + setup.Address.toString();
    else
        console = "ports " + setup.MidiIn + ">" + setup.MidiOut;
    const QString got = QStringList{setup.Family, setup.Daw, QFileInfo(setup.MapFile).fileName(), QString::number(setup.Channel), console}.join('|');
    QCOMPARE(got, result);
    QCOMPARE(QFileInfo(setup.MapFile).absolutePath(), QFileInfo(mDir.path()).absoluteFilePath());
    QCOMPARE(setup.FindString, QString(setup.Family.startsWith("Ny") ? "NY Find" : "KRT Find"));
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
