#include "Common/MIDI/MIDIApiRt.h"
#include "Common/MIDI/SystemMIDIConfigurationFactory.h"
#include "Common/MIDI/VirtualMIDIPortCloser.h"
#include "Common/MIDI/SystemMIDIConfigurationRt.h"
#include "Common/MIDI/Virtual/VirtualMIDIPortTableRt.h"
#include "tests/support/JackServer.h"
#include "tests/support/LogCapture.h"

#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include <RtMidi.h>

#include <memory>

namespace
{
// Bytes cross two JACK periods and a queued signal; a loaded machine may take a while.
constexpr int kArrival = 10000;
// Two polls of a second, and some room for a busy event loop.
constexpr int kTwoPolls = 3000;

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

// Messages in one write that no single period could carry.
constexpr int kBurst = 20000;

// Burst control changes, 0xB0 to 0xBF in turn, every one of them whole.
QList<QByteArray> Burst()
{
    QList<QByteArray> messages;
    for (int i = 0; i < kBurst; ++i)
    {
        const char message[3] = {char(0xB0 + i % 16), char(i / 128 % 128), char(i % 128)};
        messages << QByteArray(message, 3);
    }
    return messages;
}

// A new JACK connection carries data from a later period on; what is sent before is lost. The
// server's period here is 5 ms, so this leaves dozens of periods even on a loaded machine.
void LetConnectionsSettle()
{
    QTest::qWait(300);
}

// Appends every message Port has received so far to Messages, each as one array.
QList<QByteArray>& Drain(RtMidiIn& Port, QList<QByteArray>& Messages)
{
    std::vector<unsigned char> message;
    for (Port.getMessage(&message); !message.empty(); Port.getMessage(&message))
        Messages << QByteArray(reinterpret_cast<const char*>(message.data()), int(message.size()));
    return Messages;
}

// Another MIDI program on the machine (a DAW): a client of its own whose ports connect to a port
// listed under a name that ends in ":<Name>".
class cPeer
{
public:
    cPeer() : mIn(RtMidi::UNIX_JACK, "Peer", kBurst), mOut(RtMidi::UNIX_JACK, "Peer")
    {
        mIn.ignoreTypes(false, false, false);
    }

    bool ConnectTo(const QString& Name)
    {
        const int source = Find(mIn, Name);
        const int destination = Find(mOut, Name);
        if (source < 0 || destination < 0)
            return false;
        mIn.openPort(unsigned(source), "from Quillon");
        mOut.openPort(unsigned(destination), "to Quillon");
        LetConnectionsSettle();
        return mIn.isPortOpen() && mOut.isPortOpen();
    }

    void Send(const QByteArray& Message)
    {
        mOut.sendMessage(reinterpret_cast<const unsigned char*>(Message.constData()), size_t(Message.size()));
    }

    // Every message received so far, each as one array.
    QList<QByteArray> Received() { return Drain(mIn, mMessages); }

private:
    static int Find(RtMidi& Lister, const QString& Name)
    {
        for (unsigned int i = 0; i < Lister.getPortCount(); ++i)
            if (QString::fromStdString(Lister.getPortName(i)).endsWith(QLatin1Char(':') + Name))
                return int(i);
        return -1;
    }

    RtMidiIn mIn;
    RtMidiOut mOut;
    QList<QByteArray> mMessages;
};

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
} // namespace

// The RtMidi registry against a real JACK server: virtual ports as a DAW sees them, bytes both ways,
// ports that come and go, and the registry without a MIDI system.
class tst_SystemMIDIConfigurationRt : public QObject
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
    void announcesPortsThatComeAndGo_data();
    void announcesPortsThatComeAndGo();
    void runsWithoutAMidiSystem();

private:
    cJackServer mJack;
};

void tst_SystemMIDIConfigurationRt::initTestCase()
{
    QUILLON_START_JACK(mJack, 256);
    qputenv("QUILLON_MIDI_API", "jack");
}

void tst_SystemMIDIConfigurationRt::cleanup()
{
    // Also makes the next registry choose its MIDI system again.
    cVirtualMIDIPortTableRt::CloseAll();
    qputenv("QUILLON_MIDI_API", "jack");
}

void tst_SystemMIDIConfigurationRt::choosesTheMidiSystem_data()
{
    QTest::addColumn<QByteArray>("setting");
    QTest::addColumn<QString>("logged");

    QTest::newRow("jack") << QByteArray("jack") << QString();
    QTest::newRow("JACK with blanks") << QByteArray(" JACK ") << QString();
    QTest::newRow("unset") << QByteArray() << QString();
    QTest::newRow("unknown") << QByteArray("oss")
                             << "Unknown QUILLON_MIDI_API \"oss\" (use alsa, jack or core): trying every MIDI system";
}

void tst_SystemMIDIConfigurationRt::choosesTheMidiSystem()
{
    QFETCH(QByteArray, setting);
    QFETCH(QString, logged);
    qputenv("QUILLON_MIDI_API", setting);

    // Without a setting, the ALSA sequencer wins where it opens (not in a container without
    // /dev/snd/seq), else the running JACK server.
    RtMidi::Api expected = RtMidi::UNIX_JACK;
    if (setting.isEmpty() || logged.size())
    {
        try
        {
            RtMidiIn alsa(RtMidi::LINUX_ALSA, "Quillon test");
            expected = RtMidi::LINUX_ALSA;
        }
        catch (const RtMidiError&)
        {
        }
    }
    cLogCapture log;
    std::unique_ptr<cSystemMIDIConfiguration> registry(CreateSystemMIDIConfiguration());
    auto* rt = qobject_cast<cSystemMIDIConfigurationRt*>(registry.get());
    QVERIFY(rt != nullptr);
    QCOMPARE(rt->GetApi(), expected);
    QCOMPARE(log.Messages(), logged.isEmpty() ? QStringList() : QStringList{logged});
}

void tst_SystemMIDIConfigurationRt::namesPortsForTheUser_data()
{
    QTest::addColumn<int>("api");
    QTest::addColumn<QString>("listed");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("own");

    QTest::newRow("ALSA numbers") << int(RtMidi::LINUX_ALSA) << "USB Desk:USB Desk MIDI 1 24:0" << "USB Desk:USB Desk MIDI 1" << false;
    QTest::newRow("ALSA name ending in a number") << int(RtMidi::LINUX_ALSA) << "Desk:Port 2 20:1" << "Desk:Port 2" << false;
    QTest::newRow("JACK name kept") << int(RtMidi::UNIX_JACK) << "a2j:Desk 12:0" << "a2j:Desk 12:0" << false;
    QTest::newRow("our virtual port") << int(RtMidi::UNIX_JACK) << "Quillon-01:DAW Control" << "Quillon-01:DAW Control" << true;
    QTest::newRow("our ALSA client") << int(RtMidi::LINUX_ALSA) << "Quillon:Quillon input 130:0" << "Quillon:Quillon input" << true;
    QTest::newRow("excluded text anywhere") << int(RtMidi::UNIX_JACK) << "bridge:Quillon MIDI 2" << "bridge:Quillon MIDI 2" << true;
    QTest::newRow("client only starting alike") << int(RtMidi::UNIX_JACK) << "Quillonaire:out" << "Quillonaire:out" << false;
}

void tst_SystemMIDIConfigurationRt::namesPortsForTheUser()
{
    QFETCH(int, api);
    QFETCH(QString, listed);
    QFETCH(QString, shown);
    QFETCH(bool, own);
    QCOMPARE(cSystemMIDIConfigurationRt::UserName(RtMidi::Api(api), listed), shown);
    QCOMPARE(cSystemMIDIConfigurationRt::IsOwnPort(shown), own);
}

void tst_SystemMIDIConfigurationRt::virtualPortCarriesBytesBothWays_data()
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
#ifndef __SANITIZE_ADDRESS__
    // JACK carries one buffer of events a period and RtMidi drops what does not fit. Not in the
    // AddressSanitizer build: slowed down there, the dummy server misses periods on a loaded machine
    // and JACK drops a missed period's MIDI on every path, which no client can tell from ours. The
    // plain stage runs the row.
    QTest::newRow("burst held back to what each period carries")
        << Burst().join() << Burst() << QList<QByteArray>{} << QByteArray();
#endif
}

void tst_SystemMIDIConfigurationRt::virtualPortCarriesBytesBothWays()
{
    QFETCH(QByteArray, written);
    QFETCH(QList<QByteArray>, delivered);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QByteArray, read);

    cSystemMIDIConfigurationRt registry;
    registry.CreateVirtualInputOutput("Quillon MIDI Test");
    cMIDIInput* input = registry.GetInput("Quillon MIDI Test");
    QVERIFY(input != nullptr);
    cReader reader(input);

    // A DAW finds the pair as two ports of that name, one in each of two clients of Quillon's.
    QStringList ports = mJack.Ports().filter(":Quillon MIDI Test");
    ports.sort();
    QCOMPARE(ports, (QStringList{"Quillon-01:Quillon MIDI Test", "Quillon:Quillon MIDI Test"}));

    cPeer daw;
    QVERIFY(daw.ConnectTo("Quillon MIDI Test"));
    for (const QByteArray& message : sent)
        daw.Send(message);
    registry.GetOutput("Quillon MIDI Test")->Write(written);

    QTRY_COMPARE_WITH_TIMEOUT(daw.Received(), delivered, kArrival);
    QTRY_COMPARE_WITH_TIMEOUT(reader.Bytes, read, kArrival);
}

void tst_SystemMIDIConfigurationRt::virtualPortOutlivesItsObjects()
{
    auto registry = std::make_unique<cSystemMIDIConfigurationRt>();
    registry->CreateVirtualInputOutput("Quillon MIDI Kept");
    const QStringList ports = mJack.Ports().filter("Quillon MIDI Kept");
    QCOMPARE(ports.size(), 2);
    cPeer daw;
    QVERIFY(daw.ConnectTo("Quillon MIDI Kept"));

    // A reload: the object goes, the DAW's ports and connections stay, bytes meanwhile are dropped.
    registry->DeleteVirtualInputOutput("Quillon MIDI Kept");
    QCOMPARE(mJack.Ports().filter("Quillon MIDI Kept"), ports);
    daw.Send(Hex("903c7f"));
    QTest::qWait(100);

    // A new object of the name, even from another registry, takes over the open pair.
    registry = std::make_unique<cSystemMIDIConfigurationRt>();
    registry->CreateVirtualInputOutput("Quillon MIDI Kept");
    QCOMPARE(mJack.Ports().filter("Quillon MIDI Kept"), ports);
    cReader reader(registry->GetInput("Quillon MIDI Kept"));
    daw.Send(Hex("803c00"));
    registry->GetOutput("Quillon MIDI Kept")->Write(Hex("b00701"));
    QTRY_COMPARE_WITH_TIMEOUT(reader.Bytes, Hex("803c00"), kArrival);
    QTRY_COMPARE_WITH_TIMEOUT(daw.Received(), QList<QByteArray>{Hex("b00701")}, kArrival);

    // Only closing them all makes the ports go; an object left over then sends nothing.
    CloseAllVirtualMIDIPorts();
    QCOMPARE(mJack.Ports().filter("Quillon MIDI Kept"), QStringList());
    registry->GetOutput("Quillon MIDI Kept")->Write(Hex("b00702"));
    registry.reset();
}

void tst_SystemMIDIConfigurationRt::announcesPortsThatComeAndGo_data()
{
    QTest::addColumn<bool>("input");
    QTest::newRow("input") << true;
    QTest::newRow("output") << false;
}

void tst_SystemMIDIConfigurationRt::announcesPortsThatComeAndGo()
{
    QFETCH(bool, input);
    cSystemMIDIConfigurationRt registry;
    QStringList announced;
    QPointer<cMIDIInput> openedInput;
    bool openAtRemoval = false;
    // Quillon's own ports (the one opened to reach the device among them) are announced too.
    const auto record = [&](const QString& What) {
        return [&, What](QString Name) {
            if (cSystemMIDIConfigurationRt::IsOwnPort(Name))
                return;
            announced << What + Name;
            if (What == "in- ")
                openAtRemoval = !openedInput.isNull();
        };
    };
    connect(&registry, &cSystemMIDIConfiguration::InputAddedSignal, this, record("in+ "));
    connect(&registry, &cSystemMIDIConfiguration::OutputAddedSignal, this, record("out+ "));
    connect(&registry, &cSystemMIDIConfiguration::InputRemovedSignal, this, record("in- "));
    connect(&registry, &cSystemMIDIConfiguration::OutputRemovedSignal, this, record("out- "));

    // Arrivals are announced once the lists were read, as every user of the registry reads them first.
    QCOMPARE(registry.GetInputNames().filter("Desk"), QStringList());
    const QString name = "Desk:Desk MIDI";
    const QString sign = input ? "in" : "out";
    for (int plug = 0; plug < 2; ++plug)
    {
        // A device appears: a console's port, as a client of its own. What sends to Quillon is an
        // input of Quillon's.
        std::unique_ptr<RtMidiIn> deviceIn;
        std::unique_ptr<RtMidiOut> deviceOut;
        if (input)
        {
            deviceOut = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "Desk");
            deviceOut->openVirtualPort("Desk MIDI");
        }
        else
        {
            deviceIn = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "Desk");
            deviceIn->openVirtualPort("Desk MIDI");
        }
        // Announced within two polls of a second, under the same name after a re-plug.
        QTRY_COMPARE_WITH_TIMEOUT(announced, QStringList{sign + "+ " + name}, kTwoPolls);
        QCOMPARE(input ? registry.GetInputNames() : registry.GetOutputNames(), QStringList{name});
        if (input)
        {
            openedInput = registry.GetInput(name);
            QVERIFY(openedInput);
            LetConnectionsSettle();
            cReader reader(openedInput);
            deviceOut->sendMessage(reinterpret_cast<const unsigned char*>("\xb0\x07\x40"), 3);
            QTRY_COMPARE_WITH_TIMEOUT(reader.Bytes, Hex("b00740"), kArrival);
        }
        else
        {
            QVERIFY(registry.GetOutput(name) != nullptr);
            LetConnectionsSettle();
            registry.GetOutput(name)->Write(Hex("b00740c510"));
            QList<QByteArray> received;
            QTRY_COMPARE_WITH_TIMEOUT(Drain(*deviceIn, received).size(), 2, kArrival);
            QCOMPARE(received, (QList<QByteArray>{Hex("b00740"), Hex("c510")}));
        }
        announced.clear();
        deviceIn.reset();
        deviceOut.reset();
        QTRY_COMPARE_WITH_TIMEOUT(announced, QStringList{sign + "- " + name}, kTwoPolls);
        announced.clear();
        QVERIFY(input ? registry.GetInputNames().isEmpty() : registry.GetOutputNames().isEmpty());
        // Announced first, closed afterwards.
        QCOMPARE(openAtRemoval, input);
        QVERIFY(openedInput.isNull());
    }
}

void tst_SystemMIDIConfigurationRt::runsWithoutAMidiSystem()
{
    // A JACK server of a name that nobody runs.
    const QByteArray server = qgetenv("JACK_DEFAULT_SERVER");
    qputenv("JACK_DEFAULT_SERVER", server + "-absent");
    cLogCapture log;
    {
        cSystemMIDIConfigurationRt registry;
        QCOMPARE(registry.GetApi(), RtMidi::UNSPECIFIED);
        QCOMPARE(log.Messages().size(), 1);
        QVERIFY2(log.Messages().value(0).startsWith("No MIDI system could be opened (jack: "), qPrintable(log.Lines().join("")));
        QCOMPARE(registry.GetInputCount() + registry.GetOutputCount(), 0);
        QVERIFY(registry.GetInputNames().isEmpty());
        QCOMPARE(registry.GetOutputName(0), QString());

        log.Clear();
        registry.CreateVirtualInputOutput("Quillon MIDI DAW");
        QCOMPARE(log.Messages().size(), 1);
        QVERIFY(log.Messages().value(0).startsWith("Virtual MIDI port \"Quillon MIDI DAW\" reaches no DAW: no MIDI system"));
        registry.GetOutput("Quillon MIDI DAW")->Write(Hex("903c7f"));
        QByteArray data("stale");
        registry.GetInput("Quillon MIDI DAW")->Read(data);
        QVERIFY(data.isEmpty());
        QCOMPARE(registry.GetInput("Desk"), nullptr);
    }
    qputenv("JACK_DEFAULT_SERVER", server);
}

QTEST_GUILESS_MAIN(tst_SystemMIDIConfigurationRt)
#include "tst_SystemMIDIConfigurationRt.moc"
