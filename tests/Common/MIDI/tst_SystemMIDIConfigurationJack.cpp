#include "Common/MIDI/MIDIClientJack.h"
#include "Common/MIDI/MIDIConnectionMemory.h"
#include "Common/MIDI/SystemMIDIConfigurationFactory.h"
#include "Common/MIDI/SystemMIDIConfigurationJack.h"
#include "Common/MIDI/SystemMIDIConfigurationRt.h"
#include "Common/MIDI/VirtualMIDIPortCloser.h"
#include "tests/support/JackPeer.h"
#include "tests/support/JackServer.h"
#include "tests/support/LogCapture.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace
{
// Bytes cross two JACK periods and the event loop; a loaded machine may take a while.
constexpr int kArrival = 10000;
const QString kPort = QStringLiteral("Quillon MIDI Test");
const QString kFromDaw = QStringLiteral("Quillon:Quillon MIDI Test from DAW");
const QString kToDaw = QStringLiteral("Quillon:Quillon MIDI Test to DAW");

QByteArray Hex(const char* Text)
{
    return QByteArray::fromHex(Text);
}

// An exclusive message of Length bytes, 0xF0 through 0xF7.
QByteArray Exclusive(int Length)
{
    QByteArray message(1, char(0xF0));
    for (int i = 1; i < Length - 1; ++i)
        message.append(char(i % 0x80));
    message.append(char(0xF7));
    return message;
}

// Control changes, 0xB0 to 0xBF in turn: far more than one period's buffer carries.
QList<QByteArray> Burst(int Count)
{
    QList<QByteArray> messages;
    for (int i = 0; i < Count; ++i)
    {
        const char message[3] = {char(0xB0 + i % 16), char(i / 128 % 128), char(i % 128)};
        messages << QByteArray(message, 3);
    }
    return messages;
}

// Quillon's client joins JACK's cycle on the next turn of the event loop; only then may others
// connect to its ports.
#define WAIT_FOR_QUILLON()                                                                               \
    QTRY_VERIFY(cMIDIClientJack::Existing() != nullptr && cMIDIClientJack::Existing()->IsActive())

// Under ThreadSanitizer the clients of this process (Quillon's and the test's peers) miss many of
// JACK's periods on a busy machine, and a missed period's events are lost whatever Quillon does:
// what tests the volume of what arrives runs in the plain build only.
#if defined(__SANITIZE_THREAD__)
#define QUILLON_UNDER_TSAN 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define QUILLON_UNDER_TSAN 1
#endif
#endif

// A new JACK connection carries data from a later period on.
#ifdef QUILLON_UNDER_TSAN
constexpr int kSettle = 2000;
#else
constexpr int kSettle = 300;
#endif

// Reads everything that reaches Port from now on, on the GUI thread.
class cReader : public QObject
{
public:
    explicit cReader(cMIDIInput* Port) : mPort(Port)
    {
        connect(Port, &cMIDIInput::MIDIReadReady, this, [this] {
            QByteArray data;
            mPort->Read(data);
            Bytes += data;
        });
    }
    QByteArray Bytes;

private:
    cMIDIInput* mPort;
};

// A new JACK connection carries data only from a later period on, and on a busy machine (or under
// ThreadSanitizer) that may take a while: a tune request each way until both arrive, then a clean
// slate for the data under test.
bool BothWaysLive(cJackPeer& Daw, cReader& Reader, cMIDIOutput* Output)
{
    for (int i = 0; i < 100; ++i)
    {
        if (Reader.Bytes.isEmpty())
            Daw.Send(Hex("f6"));
        if (Daw.Received().isEmpty())
            Output->Write(Hex("f6"));
        QTest::qWait(100);
        if (!Reader.Bytes.isEmpty() && !Daw.Received().isEmpty())
        {
            QTest::qWait(100);
            Reader.Bytes.clear();
            Daw.ClearReceived();
            return true;
        }
    }
    return false;
}
} // namespace

// Quillon's JACK client against a real JACK server: one client for every port, bytes both ways,
// bursts, ports that come and go, the DAW's connections across restarts, and no server at all.
class tst_SystemMIDIConfigurationJack : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void choosesTheMidiSystem_data();
    void choosesTheMidiSystem();
    void namesPortsForTheUser_data();
    void namesPortsForTheUser();
    void virtualPortCarriesBytesBothWays_data();
    void virtualPortCarriesBytesBothWays();
    void virtualPortOutlivesItsObjects();
    void reportsWhatAFullRingDrops();
    void consolePortsComeAndGo();
    void keepsTheDawsConnectionsAcrossRestarts();
    void runsWithoutAServer();

private:
    cJackServer mJack;
    QTemporaryDir mSettings;
};

void tst_SystemMIDIConfigurationJack::initTestCase()
{
    QUILLON_START_JACK(mJack, 256);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, mSettings.path());
    QCoreApplication::setOrganizationName("Corvane");
    QCoreApplication::setApplicationName("Quillon test");
    cMIDIConnectionMemory::SetGroup("Desk", "Test");
}

void tst_SystemMIDIConfigurationJack::cleanup()
{
    CloseAllVirtualMIDIPorts();
    qputenv("QUILLON_MIDI_API", "");
    cMIDIConnectionMemory::SetEnabled(true);
    QSettings().clear();
}

void tst_SystemMIDIConfigurationJack::choosesTheMidiSystem_data()
{
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<bool>("jack");
    QTest::addColumn<QString>("logged");

    QTest::newRow("jack") << QByteArray("jack") << true << QString();
    QTest::newRow("JACK with blanks") << QByteArray(" JACK ") << true << QString();
    QTest::newRow("unset, a server runs") << QByteArray() << true << QString();
    QTest::newRow("unknown, a server runs") << QByteArray("oss") << true
                                            << "Unknown QUILLON_MIDI_API \"oss\" (use alsa, jack or core): trying every MIDI system";
    QTest::newRow("alsa") << QByteArray("alsa") << false << QString();
}

void tst_SystemMIDIConfigurationJack::choosesTheMidiSystem()
{
    QFETCH(QByteArray, setting);
    QFETCH(bool, jack);
    QFETCH(QString, logged);
    qputenv("QUILLON_MIDI_API", setting);
    cLogCapture log;
    std::unique_ptr<cSystemMIDIConfiguration> registry(CreateSystemMIDIConfiguration());
    QCOMPARE(qobject_cast<cSystemMIDIConfigurationJack*>(registry.get()) != nullptr, jack);
    QCOMPARE(registry->ReportsVirtualPortConnections(), jack);
    // RtMidi under ALSA logs whether the sequencer opened; only JACK's choice is checked here.
    if (jack)
        QCOMPARE(log.Messages(), logged.isEmpty() ? QStringList() : QStringList{logged});
}

void tst_SystemMIDIConfigurationJack::namesPortsForTheUser_data()
{
    QTest::addColumn<bool>("alsa");
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("own");

    QTest::newRow("ALSA numbers") << true << "USB Desk:USB Desk MIDI 1 24:0" << "USB Desk:USB Desk MIDI 1" << false;
    QTest::newRow("ALSA name ending in a number") << true << "Desk:Port 2 20:1" << "Desk:Port 2" << false;
    QTest::newRow("JACK name kept") << false << "a2j:Desk 12:0" << "a2j:Desk 12:0" << false;
    QTest::newRow("our JACK client") << false << "Quillon:from Desk/out" << "Quillon:from Desk/out" << true;
    QTest::newRow("a second Quillon's client") << false << "Quillon-01:to Desk/in" << "Quillon-01:to Desk/in" << true;
    QTest::newRow("excluded text anywhere") << false << "bridge:Quillon MIDI 2" << "bridge:Quillon MIDI 2" << true;
    QTest::newRow("client only starting alike") << false << "Quillonaire:out" << "Quillonaire:out" << false;
}

void tst_SystemMIDIConfigurationJack::namesPortsForTheUser()
{
    QFETCH(bool, alsa);
    QFETCH(QString, listed);
    QFETCH(QString, shown);
    QFETCH(bool, own);
    QCOMPARE(alsa ? cSystemMIDIConfigurationRt::UserName(RtMidi::LINUX_ALSA, listed) : listed, shown);
    QCOMPARE(cSystemMIDIConfigurationJack::IsOwnPort(shown), own);
}

void tst_SystemMIDIConfigurationJack::virtualPortCarriesBytesBothWays_data()
{
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QList<QByteArray>>("delivered");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QByteArray>("read");

    QTest::newRow("running-status pair")
        << Hex("903c7f3d00") << QList<QByteArray>{Hex("903c7f"), Hex("903d00")}
        << QList<QByteArray>{Hex("903c7f"), Hex("903d00")} << Hex("903c7f903d00");
    QTest::newRow("exclusive of 1000 bytes")
        << Exclusive(1000) << QList<QByteArray>{Exclusive(1000)} << QList<QByteArray>{Exclusive(1000)} << Exclusive(1000);
    QTest::newRow("clock inside a message")
        << Hex("b007f864") << QList<QByteArray>{Hex("b00764")}
        << QList<QByteArray>{Hex("b00764"), Hex("f8"), Hex("fe"), Hex("c510")} << Hex("b00764f8fec510");
    QTest::newRow("several messages in one write")
        << Hex("b00764c510f04301f7e00040f6") << QList<QByteArray>{Hex("b00764"), Hex("c510"), Hex("f04301f7"), Hex("e00040"), Hex("f6")}
        << QList<QByteArray>{} << QByteArray();
    // A period's buffer carries about 2,700 short events: the rest waits for the next periods.
#ifndef QUILLON_UNDER_TSAN
    QTest::newRow("burst beyond many periods' buffers") << Burst(20000).join() << Burst(20000) << QList<QByteArray>{} << QByteArray();
#endif
}

void tst_SystemMIDIConfigurationJack::virtualPortCarriesBytesBothWays()
{
    QFETCH(QByteArray, written);
    QFETCH(QList<QByteArray>, delivered);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QByteArray, read);

    cSystemMIDIConfigurationJack registry;
    registry.CreateVirtualInputOutput(kPort);
    cReader reader(registry.GetInput(kPort));

    // One client, "Quillon", owns both sides of the pair.
    QStringList ours;
    for (const QString& port : mJack.Ports())
        if (port.startsWith("Quillon"))
            ours << port;
    ours.sort();
    QCOMPARE(ours, (QStringList{kFromDaw, kToDaw}));

    cJackPeer daw("daw");
    WAIT_FOR_QUILLON();
    QVERIFY(daw.Connect(daw.Out(), kFromDaw) && daw.Connect(kToDaw, daw.In()));
    QVERIFY(BothWaysLive(daw, reader, registry.GetOutput(kPort)));
    for (const QByteArray& message : sent)
        daw.Send(message);
    registry.GetOutput(kPort)->Write(written);

    QTRY_COMPARE_WITH_TIMEOUT(daw.Received().size(), delivered.size(), kArrival);
    QCOMPARE(daw.Received(), delivered);
    QTRY_COMPARE_WITH_TIMEOUT(reader.Bytes, read, kArrival);
}

void tst_SystemMIDIConfigurationJack::virtualPortOutlivesItsObjects()
{
    auto registry = std::make_unique<cSystemMIDIConfigurationJack>();
    registry->CreateVirtualInputOutput(kPort);
    cJackPeer daw("daw");
    WAIT_FOR_QUILLON();
    QVERIFY(daw.Connect(daw.Out(), kFromDaw) && daw.Connect(kToDaw, daw.In()));

    // A reload: the object goes, the DAW's ports and connections stay, bytes meanwhile are dropped.
    registry->DeleteVirtualInputOutput(kPort);
    daw.Send(Hex("903c7f"));
    QTest::qWait(100);
    registry = std::make_unique<cSystemMIDIConfigurationJack>();
    registry->CreateVirtualInputOutput(kPort);
    QCOMPARE(daw.Connections(daw.Out()), QStringList{kFromDaw});
    cReader reader(registry->GetInput(kPort));
    daw.Send(Hex("803c00"));
    registry->GetOutput(kPort)->Write(Hex("b00701"));
    QTRY_COMPARE_WITH_TIMEOUT(reader.Bytes, Hex("803c00"), kArrival);
    QTRY_COMPARE_WITH_TIMEOUT(daw.Received(), QList<QByteArray>{Hex("b00701")}, kArrival);

    // Only closing them all makes the ports go; an object left over then sends nothing.
    CloseAllVirtualMIDIPorts();
    QVERIFY(mJack.Ports().filter("Quillon").isEmpty());
    registry->GetOutput(kPort)->Write(Hex("b00702"));
}

void tst_SystemMIDIConfigurationJack::reportsWhatAFullRingDrops()
{
#ifdef QUILLON_UNDER_TSAN
    QSKIP("volume test: plain build only");
#endif
    cSystemMIDIConfigurationJack registry;
    registry.CreateVirtualInputOutput(kPort);
    cReader reader(registry.GetInput(kPort));
    cJackPeer daw("daw");
    WAIT_FOR_QUILLON();
    QVERIFY(daw.Connect(daw.Out(), kFromDaw));
    QTest::qWait(kSettle);

    // The GUI thread is busy while the DAW sends more than the port's ring holds.
    cLogCapture log;
    const QList<QByteArray> burst = Burst(40000);
    for (const QByteArray& message : burst)
        daw.Send(message);
    QThread::msleep(2000);
    // Nothing lost without a word: what was read and what was reported dropped make up the burst.
    const auto dropped = [&] {
        int count = 0;
        for (const QString& line : log.Messages())
            if (line.contains(" incoming messages dropped"))
                count += line.section('"', 2).section(' ', 1, 1).toInt();
        return count;
    };
    QTRY_COMPARE_WITH_TIMEOUT(reader.Bytes.size() / 3 + dropped(), burst.size(), kArrival);
    QVERIFY(dropped() > 0);
    QCOMPARE(reader.Bytes, burst.mid(0, reader.Bytes.size() / 3).join());
}

void tst_SystemMIDIConfigurationJack::consolePortsComeAndGo()
{
    cSystemMIDIConfigurationJack registry;
    QStringList announced;
    connect(&registry, &cSystemMIDIConfiguration::InputAddedSignal, this, [&](QString Name) { announced << "in+ " + Name; });
    connect(&registry, &cSystemMIDIConfiguration::OutputAddedSignal, this, [&](QString Name) { announced << "out+ " + Name; });
    connect(&registry, &cSystemMIDIConfiguration::InputRemovedSignal, this, [&](QString Name) { announced << "in- " + Name; });
    connect(&registry, &cSystemMIDIConfiguration::OutputRemovedSignal, this, [&](QString Name) { announced << "out- " + Name; });
    QCOMPARE(registry.GetInputNames().filter("desk"), QStringList());
    for (int plug = 0; plug < 2; ++plug)
    {
        auto desk = std::make_unique<cJackPeer>("desk");
        // Announced within about a second, under the same names after a re-plug.
        QTRY_COMPARE_WITH_TIMEOUT(announced, (QStringList{"in+ desk:out", "out+ desk:in"}), 1500);
        announced.clear();
        QCOMPARE(registry.GetInputNames(), QStringList{"desk:out"});
        QCOMPARE(registry.GetOutputNames(), QStringList{"desk:in"});
        cReader reader(registry.GetInput("desk:out"));
        registry.GetOutput("desk:in")->Write(Hex("b00740c510"));
        QTRY_COMPARE_WITH_TIMEOUT(desk->Connections(desk->In()), QStringList{"Quillon:to desk/in"}, kArrival);
        QTRY_COMPARE_WITH_TIMEOUT(desk->Received(), (QList<QByteArray>{Hex("b00740"), Hex("c510")}), kArrival);
        QTRY_COMPARE_WITH_TIMEOUT(desk->Connections(desk->Out()), QStringList{"Quillon:from desk/out"}, kArrival);
        QTest::qWait(kSettle);
        desk->Send(Hex("b00741"));
        QTRY_COMPARE_WITH_TIMEOUT(reader.Bytes, Hex("b00741"), kArrival);
        desk.reset();
        QTRY_COMPARE_WITH_TIMEOUT(announced, (QStringList{"in- desk:out", "out- desk:in"}), 1500);
        announced.clear();
        QVERIFY(!mJack.Ports().join(' ').contains("desk"));
    }
}

void tst_SystemMIDIConfigurationJack::keepsTheDawsConnectionsAcrossRestarts()
{
    cJackPeer daw("daw");
    const auto start = [&] {
        auto registry = std::make_unique<cSystemMIDIConfigurationJack>();
        registry->CreateVirtualInputOutput(kPort);
        return registry;
    };
    const auto restart = [&](std::unique_ptr<cSystemMIDIConfigurationJack>& Registry) {
        Registry.reset();
        CloseAllVirtualMIDIPorts();
        Registry = start();
    };
    auto registry = start();
    QSignalSpy connected(registry.get(), &cSystemMIDIConfiguration::VirtualPortConnectedSignal);
    WAIT_FOR_QUILLON();
    QVERIFY(daw.Connect(daw.Out(), kFromDaw) && daw.Connect(kToDaw, daw.In()));
    QTRY_VERIFY_WITH_TIMEOUT(!connected.isEmpty(), kArrival);
    QCOMPARE(connected.first(), QVariantList{kPort});

    // Quillon quits and starts again: both connections are made again, and announced.
    restart(registry);
    QSignalSpy again(registry.get(), &cSystemMIDIConfiguration::VirtualPortConnectedSignal);
    QTRY_COMPARE_WITH_TIMEOUT(daw.Connections(daw.Out()), QStringList{kFromDaw}, kArrival);
    QTRY_COMPARE_WITH_TIMEOUT(daw.Connections(daw.In()), QStringList{kToDaw}, kArrival);
    QTRY_VERIFY_WITH_TIMEOUT(!again.isEmpty(), kArrival);

    // The user removes one: it is forgotten, the other is kept.
    QVERIFY(daw.Connect(kToDaw, daw.In(), false));
    QTest::qWait(500);
    restart(registry);
    QTRY_COMPARE_WITH_TIMEOUT(daw.Connections(daw.Out()), QStringList{kFromDaw}, kArrival);
    QTest::qWait(500);
    QCOMPARE(daw.Connections(daw.In()), QStringList());

    // The DAW quits and comes back: its connection is made again when its port appears.
    {
        cJackPeer gone("daw2");
        QVERIFY(gone.Connect(gone.Out(), kFromDaw));
        QTest::qWait(500);
    }
    QTest::qWait(500);
    cJackPeer back("daw2");
    QTRY_COMPARE_WITH_TIMEOUT(back.Connections(back.Out()), QStringList{kFromDaw}, kArrival);

    // Told not to, Quillon makes no connection again.
    cMIDIConnectionMemory::SetEnabled(false);
    registry.reset();
    CloseAllVirtualMIDIPorts();
    registry = start();
    QTest::qWait(1000);
    QCOMPARE(daw.Connections(daw.Out()), QStringList());
}

void tst_SystemMIDIConfigurationJack::runsWithoutAServer()
{
    const QByteArray server = qgetenv("JACK_DEFAULT_SERVER");
    qputenv("JACK_DEFAULT_SERVER", server + "-absent");
    qputenv("QUILLON_MIDI_API", "jack");
    cLogCapture log;
    {
        std::unique_ptr<cSystemMIDIConfiguration> registry(CreateSystemMIDIConfiguration());
        QCOMPARE(log.Messages().size(), 1);
        QVERIFY2(log.Messages().value(0).startsWith("No MIDI system could be opened (jack: no JACK server is running)"),
                 qPrintable(log.Lines().join("")));
        QVERIFY(!registry->ReportsVirtualPortConnections());
        QCOMPARE(registry->GetInputCount() + registry->GetOutputCount(), 0);
        QVERIFY(registry->GetInputNames().isEmpty());
        QCOMPARE(registry->GetOutputName(0), QString());

        log.Clear();
        registry->CreateVirtualInputOutput("Quillon MIDI DAW");
        QCOMPARE(log.Messages(), QStringList{"Virtual MIDI port \"Quillon MIDI DAW\" reaches no DAW: no JACK server is running"});
        registry->GetOutput("Quillon MIDI DAW")->Write(Hex("903c7f"));
        QByteArray data("stale");
        registry->GetInput("Quillon MIDI DAW")->Read(data);
        QVERIFY(data.isEmpty());
        QCOMPARE(registry->GetInput("Desk"), nullptr);
    }
    qputenv("JACK_DEFAULT_SERVER", server);
}

QTEST_GUILESS_MAIN(tst_SystemMIDIConfigurationJack)
#include "tst_SystemMIDIConfigurationJack.moc"
