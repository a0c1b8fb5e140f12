// Quillon's JACK client against a real JACK server: ports under the names the user sees, bytes both
// ways, a full ring that refuses and counts, console ports that come and go, the DAW's connections
// kept across reloads and restarts, and no server at all.

#include "Common/MIDI/MIDIClientJack.h"
#include "Common/MIDI/MIDIConnectionMemory.h"
#include "Common/MIDI/SystemMIDIConfigurationJack.h"
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
#define WAIT_FOR_QUILLON() QTRY_VERIFY(cMIDIClientJack::Existing() != nullptr && cMIDIClientJack::Existing()->IsActive())

// Under ThreadSanitizer the clients of this process miss many of JACK's periods on a busy machine,
// and a missed period's events are lost whatever Quillon does: what tests the volume of what
// arrives runs in the plain build only (the build defines QUILLON_UNDER_TSAN). A new connection
// carries data from a later period on.
#ifdef QUILLON_UNDER_TSAN
constexpr int kSettle = 2000;
#else
constexpr int kSettle = 300;
#endif

// Reads everything that reaches Port from now on, on the GUI thread.
class cReader : public QObject
{
public:
    explicit cReader(cMIDIInput* Port)
    {
        connect(Port, &cMIDIInput::MIDIReadReady, this, [this, Port] {
            QByteArray data;
            Port->Read(data);
            Bytes += data;
        });
    }
    QByteArray Bytes;
};

// A tune request each way until both arrive (a new connection may take a while on a busy machine),
// then a clean slate for the data under test.
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

std::unique_ptr<cSystemMIDIConfigurationJack> StartWithPort()
{
    auto registry = std::make_unique<cSystemMIDIConfigurationJack>();
    registry->CreateVirtualInputOutput(kPort);
    return registry;
}
} // namespace

class tst_SystemMIDIConfigurationJack : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void virtualPortCarriesBytesBothWays_data();
    void virtualPortCarriesBytesBothWays();
    void reportsWhatAFullRingDrops();
    void consolePortsComeAndGo();
    void keepsTheDawsConnections();
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
    cMIDIConnectionMemory::SetEnabled(true);
    QSettings().clear();
}

void tst_SystemMIDIConfigurationJack::virtualPortCarriesBytesBothWays_data()
{
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<QList<QByteArray>>("delivered");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QByteArray>("read");

    QTest::newRow("running-status pair") << Hex("903c7f3d00") << QList<QByteArray>{Hex("903c7f"), Hex("903d00")}
                                         << QList<QByteArray>{Hex("903c7f"), Hex("903d00")} << Hex("903c7f903d00");
    const QByteArray exclusive = Hex("f0") + QByteArray(998, '\x11') + Hex("f7");
    QTest::newRow("exclusive of 1000 bytes") << exclusive << QList<QByteArray>{exclusive} << QList<QByteArray>{exclusive} << exclusive;
    QTest::newRow("clock inside a message, several messages in one write")
        << Hex("b007f864c510f04301f7e00040f6") << QList<QByteArray>{Hex("b00764"), Hex("c510"), Hex("f04301f7"), Hex("e00040"), Hex("f6")}
        << QList<QByteArray>{Hex("b00764"), Hex("f8"), Hex("fe"), Hex("c510")} << Hex("b00764f8fec510");
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

    const auto registry = StartWithPort();
    cReader reader(registry->GetInput(kPort));
    cJackPeer daw("daw");
    // One client, "Quillon", owns both sides of the pair.
    QCOMPARE(daw.Ports().filter(QRegularExpression("^Quillon")), (QStringList{kFromDaw, kToDaw}));
    WAIT_FOR_QUILLON();
    QVERIFY(daw.Connect(daw.Out(), kFromDaw) && daw.Connect(kToDaw, daw.In()));
    QVERIFY(BothWaysLive(daw, reader, registry->GetOutput(kPort)));
    for (const QByteArray& message : sent)
        daw.Send(message);
    registry->GetOutput(kPort)->Write(written);
    QTRY_COMPARE_WITH_TIMEOUT(daw.Received().size(), delivered.size(), kArrival);
    QCOMPARE(daw.Received(), delivered);
    QTRY_COMPARE_WITH_TIMEOUT(reader.Bytes, read, kArrival);
}

void tst_SystemMIDIConfigurationJack::reportsWhatAFullRingDrops()
{
#ifdef QUILLON_UNDER_TSAN
    QSKIP("volume test: plain build only");
#endif
    const auto registry = StartWithPort();
    cReader reader(registry->GetInput(kPort));
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
        for (const QString& line : log.Messages().filter(" incoming messages dropped"))
            count += line.section('"', 2).section(' ', 1, 1).toInt();
        return count;
    };
    QTRY_COMPARE_WITH_TIMEOUT(reader.Bytes.size() / 3 + dropped(), burst.size(), kArrival);
    QVERIFY(dropped() > 0);
    QCOMPARE(reader.Bytes, burst.mid(0, reader.Bytes.size() / 3).join());
}

void tst_SystemMIDIConfigurationJack::consolePortsComeAndGo()
{
    // Quillon's own ports are never offered as a console's.
    cSystemMIDIConfigurationJack registry;
    registry.CreateVirtualInputOutput(kPort);
    QStringList announced;
    const auto record = [&](const char* What) { return [&announced, What](QString Name) { announced << What + Name; }; };
    connect(&registry, &cSystemMIDIConfiguration::InputAddedSignal, this, record("in+ "));
    connect(&registry, &cSystemMIDIConfiguration::OutputAddedSignal, this, record("out+ "));
    connect(&registry, &cSystemMIDIConfiguration::InputRemovedSignal, this, record("in- "));
    connect(&registry, &cSystemMIDIConfiguration::OutputRemovedSignal, this, record("out- "));
    WAIT_FOR_QUILLON();
    QCOMPARE(registry.GetInputNames() + registry.GetOutputNames(), QStringList());
    for (int plug = 0; plug < 2; ++plug)
    {
        auto desk = std::make_unique<cJackPeer>("desk");
        // Announced within about a second, under the same names after a re-plug.
        QTRY_COMPARE_WITH_TIMEOUT(announced, (QStringList{"in+ desk:out", "out+ desk:in"}), 1500);
        announced.clear();
        QCOMPARE(registry.GetInputNames() + registry.GetOutputNames(), (QStringList{"desk:out", "desk:in"}));
        cReader reader(registry.GetInput("desk:out"));
        registry.GetOutput("desk:in")->Write(Hex("b00740c510"));
        QTRY_COMPARE_WITH_TIMEOUT(desk->Received(), (QList<QByteArray>{Hex("b00740"), Hex("c510")}), kArrival);
        QTRY_COMPARE_WITH_TIMEOUT(desk->Connections(desk->Out()), QStringList{"Quillon:from desk/out"}, kArrival);
        QTest::qWait(kSettle);
        desk->Send(Hex("b00741"));
        QTRY_COMPARE_WITH_TIMEOUT(reader.Bytes, Hex("b00741"), kArrival);
        desk.reset();
        QTRY_COMPARE_WITH_TIMEOUT(announced, (QStringList{"in- desk:out", "out- desk:in"}), 1500);
        announced.clear();
    }
}

void tst_SystemMIDIConfigurationJack::keepsTheDawsConnections()
{
    cJackPeer daw("daw");
    auto registry = StartWithPort();
    const auto restart = [&] {
        registry.reset();
        CloseAllVirtualMIDIPorts();
        registry = StartWithPort();
    };
    QSignalSpy connected(registry.get(), &cSystemMIDIConfiguration::VirtualPortConnectedSignal);
    WAIT_FOR_QUILLON();
    QVERIFY(daw.Connect(daw.Out(), kFromDaw) && daw.Connect(kToDaw, daw.In()));
    QTRY_VERIFY_WITH_TIMEOUT(!connected.isEmpty(), kArrival);
    QCOMPARE(connected.first(), QVariantList{kPort});

    // A map reload: the object goes, the ports and the DAW's connections stay and carry bytes.
    registry->DeleteVirtualInputOutput(kPort);
    registry = StartWithPort();
    QCOMPARE(daw.Connections(daw.Out()), QStringList{kFromDaw});
    {
        cReader reader(registry->GetInput(kPort));
        daw.Send(Hex("803c00"));
        registry->GetOutput(kPort)->Write(Hex("b00701"));
        QTRY_COMPARE_WITH_TIMEOUT(reader.Bytes, Hex("803c00"), kArrival);
        QTRY_COMPARE_WITH_TIMEOUT(daw.Received(), QList<QByteArray>{Hex("b00701")}, kArrival);
    }

    // Quillon quits and starts again: both connections are made again, and announced.
    restart();
    QSignalSpy again(registry.get(), &cSystemMIDIConfiguration::VirtualPortConnectedSignal);
    QTRY_COMPARE_WITH_TIMEOUT(daw.Connections(daw.Out()), QStringList{kFromDaw}, kArrival);
    QTRY_COMPARE_WITH_TIMEOUT(daw.Connections(daw.In()), QStringList{kToDaw}, kArrival);
    QTRY_VERIFY_WITH_TIMEOUT(!again.isEmpty(), kArrival);

    // The user removes one: it is forgotten, the other is kept.
    QVERIFY(daw.Connect(kToDaw, daw.In(), false));
    QTest::qWait(500);
    restart();
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
    restart();
    QTest::qWait(1000);
    QCOMPARE(daw.Connections(daw.Out()), QStringList());
}

void tst_SystemMIDIConfigurationJack::runsWithoutAServer()
{
    // Quillon says why its ports reach nobody, once, and runs on.
    const QByteArray server = qgetenv("JACK_DEFAULT_SERVER");
    qputenv("JACK_DEFAULT_SERVER", server + "-absent");
    cLogCapture log;
    auto registry = StartWithPort();
    registry->GetOutput(kPort)->Write(Hex("903c7f"));
    QByteArray data("stale");
    registry->GetInput(kPort)->Read(data);
    QVERIFY(data.isEmpty() && registry->GetInputCount() + registry->GetOutputCount() == 0);
    qputenv("JACK_DEFAULT_SERVER", server);
    const QStringList said = log.Messages();
    QVERIFY2(said.size() == 2 && said[0].startsWith("No MIDI system could be opened (jack: no JACK server is running)") &&
                 said[1] == "Virtual MIDI port \"Quillon MIDI Test\" reaches no DAW: no JACK server is running",
             qPrintable(said.join('\n')));
}

QTEST_GUILESS_MAIN(tst_SystemMIDIConfigurationJack)
#include "tst_SystemMIDIConfigurationJack.moc"
