#include "Common/MIDI/MIDIInputWin.h"
#include "Common/MIDI/SystemMIDIConfigurationWin.h"
#include "Common/MIDI/Virtual/VirtualMIDIPortTable.h"
#include "tests/support/FakeMIDIPort.h"
#include "tests/support/LogCapture.h"
#include "tests/support/winapi/WinApiSimulation.h"

#include <QPointer>
#include <QtTest>

#include <cstring>
#include <memory>

// The Windows registry through the Windows API simulation: device lists and names, ports opened on
// first use, and devices followed through device-change messages as Windows hands them over.
class tst_SystemMIDIConfigurationWin : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void registersForAudioDeviceInterfacesAndUndoesIt();
    void goesOnWithoutNotificationsWhenRegistrationFails();
    void namesWinMMResults_data();
    void namesWinMMResults();
    void offersOnlyDevicesTheUserCanPick_data();
    void offersOnlyDevicesTheUserCanPick();
    void opensEveryDeviceOfANameAndReturnsTheLast();
    void logsAnIndexOutOfRange_data();
    void logsAnIndexOutOfRange();
    void keepsDeviceIndicesWhenCapabilitiesFail();
    void addsArrivingDevicesOnly_data();
    void addsArrivingDevicesOnly();
    void removesUnpluggedDevicesAfterAnnouncingThem_data();
    void removesUnpluggedDevicesAfterAnnouncingThem();
    void passesOverMessagesItDoesNotHandle_data();
    void passesOverMessagesItDoesNotHandle();
    void closesItsDevicesWhenDestroyed();

private:
    void Create();
    static sSimDevice Device(const QString& Name, const QString& Path) { return sSimDevice{Name, Path}; }

    std::unique_ptr<cSystemMIDIConfigurationWin> mRegistry;
    // Every announcement, as "<input|output> <added|removed> <name>".
    QStringList mAnnounced;
};

void tst_SystemMIDIConfigurationWin::init()
{
    cWinApiSimulation::Reset();
    mAnnounced.clear();
}

void tst_SystemMIDIConfigurationWin::cleanup()
{
    mRegistry.reset();
    cVirtualMIDIPortTable::CloseAll();
    cWinApiSimulation::Reset();
}

void tst_SystemMIDIConfigurationWin::Create()
{
    mRegistry = std::make_unique<cSystemMIDIConfigurationWin>();
    const auto record = [this](const char* What) { return [this, What](QString Name) { mAnnounced << What + (" " + Name); }; };
    connect(mRegistry.get(), &cSystemMIDIConfiguration::InputAddedSignal, this, record("input added"));
    connect(mRegistry.get(), &cSystemMIDIConfiguration::InputRemovedSignal, this, record("input removed"));
    connect(mRegistry.get(), &cSystemMIDIConfiguration::OutputAddedSignal, this, record("output added"));
    connect(mRegistry.get(), &cSystemMIDIConfiguration::OutputRemovedSignal, this, record("output removed"));
}

void tst_SystemMIDIConfigurationWin::registersForAudioDeviceInterfacesAndUndoesIt()
{
    Create();
    QCOMPARE(cWinApiSimulation::ActiveNotifications(), 1);
    const DEV_BROADCAST_DEVICEINTERFACE_W filter = cWinApiSimulation::LastNotificationFilter();
    QCOMPARE(filter.dbcc_size, DWORD(32));
    QCOMPARE(filter.dbcc_devicetype, DWORD(5));
    QCOMPARE(filter.dbcc_reserved, DWORD(0));
    QCOMPARE(filter.dbcc_name[0], WCHAR(0));
    const GUID audio{0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
    QVERIFY(std::memcmp(&filter.dbcc_classguid, &audio, sizeof audio) == 0);
    QCOMPARE(cWinApiSimulation::LastNotificationFlags(), DWORD(DEVICE_NOTIFY_WINDOW_HANDLE));

    mRegistry.reset();
    QCOMPARE(cWinApiSimulation::ActiveNotifications(), 0);
    // Its window went with it: the next registry's messages reach only the live one (a window left
    // behind would call a deleted object).
    cSystemMIDIConfigurationWin next;
    cWinApiSimulation::PlugInput(Device("Late", "usb#late"));
    QVERIFY(cWinApiSimulation::SendDeviceChange(DBT_DEVICEARRIVAL, QStringLiteral("usb#late")));
    QCOMPARE(next.GetInputNames(), QStringList{"Late"});
}

void tst_SystemMIDIConfigurationWin::goesOnWithoutNotificationsWhenRegistrationFails()
{
    cWinApiSimulation::FailNotificationRegistration(true);
    cWinApiSimulation::PlugInput(Device("Desk", "usb#desk"));
    QTest::ignoreMessage(QtDebugMsg, "Failed to register device notification");
    Create();
    QCOMPARE(mRegistry->GetInputNames(), QStringList{"Desk"});
    cWinApiSimulation::PlugInput(Device("Later", "usb#later"));
    QVERIFY(!cWinApiSimulation::SendDeviceChange(DBT_DEVICEARRIVAL, QStringLiteral("usb#later")));
    QCOMPARE(mRegistry->GetInputCount(), 1);
}

void tst_SystemMIDIConfigurationWin::namesWinMMResults_data()
{
    QTest::addColumn<uint>("result");
    QTest::addColumn<QString>("text");

    QTest::newRow("0") << 0u << "No Error";
    QTest::newRow("2") << 2u << "The specified device identifier is out of range";
    QTest::newRow("6") << 6u << "The driver is not installed";
    QTest::newRow("7") << 7u << "The system is unable to allocate or lock memory";
    QTest::newRow("11") << 11u << "The specified pointer or structure is invalid";
    QTest::newRow("1") << 1u << "Unknown Error 1";
    QTest::newRow("65") << 65u << "Unknown Error 65";
}

void tst_SystemMIDIConfigurationWin::namesWinMMResults()
{
    QFETCH(uint, result);
    QFETCH(QString, text);
    QCOMPARE(cSystemMIDIConfigurationWin::MMErrorText(result), text);
}

void tst_SystemMIDIConfigurationWin::offersOnlyDevicesTheUserCanPick_data()
{
    QTest::addColumn<QStringList>("devices");
    QTest::addColumn<QStringList>("registered");
    QTest::addColumn<QStringList>("virtualPorts");
    QTest::addColumn<QStringList>("pickable");

    QTest::newRow("our own ports left out, duplicates kept")
        << QStringList{"X", "Quillon MIDI DAW", "X", "Y"} << QStringList() << QStringList() << QStringList{"X", "X", "Y"};
    QTest::newRow("our own text is case-sensitive") << QStringList{"quillon midi", "Quillon MIDIx"} << QStringList() << QStringList()
                                                    << QStringList{"quillon midi"};
    QTest::newRow("a registered name goes entirely")
        << QStringList{"Corvane Internal TCP MIDI", "Desk", "Corvane Internal TCP MIDI"} << QStringList{"Corvane Internal TCP MIDI"}
        << QStringList() << QStringList{"Desk"};
    QTest::newRow("a virtual port name goes too") << QStringList{"DAW Port", "Desk"} << QStringList() << QStringList{"DAW Port"}
                                                  << QStringList{"Desk"};
    QTest::newRow("no devices") << QStringList() << QStringList{"Link"} << QStringList() << QStringList();
}

void tst_SystemMIDIConfigurationWin::offersOnlyDevicesTheUserCanPick()
{
    QFETCH(QStringList, devices);
    QFETCH(QStringList, registered);
    QFETCH(QStringList, virtualPorts);
    QFETCH(QStringList, pickable);

    for (int index = 0; index < devices.size(); ++index)
        cWinApiSimulation::PlugInputAndOutput(Device(devices[index], QStringLiteral("usb#%1").arg(index)));
    Create();
    cFakeMIDIPort link;
    for (const QString& name : registered)
        mRegistry->AddInputOutput(name, &link);
    for (const QString& name : virtualPorts)
        mRegistry->CreateVirtualInputOutput(name);

    QCOMPARE(mRegistry->GetInputNames(), pickable);
    QCOMPARE(mRegistry->GetOutputNames(), pickable);
    // The device lists themselves keep every device, in WinMM's order.
    QCOMPARE(mRegistry->GetInputCount(), devices.size());
    QCOMPARE(mRegistry->GetOutputCount(), devices.size());
    for (int index = 0; index < devices.size(); ++index)
    {
        QCOMPARE(mRegistry->GetInputName(index), devices[index]);
        QCOMPARE(mRegistry->GetOutputName(index), devices[index]);
    }
    for (const QString& name : registered)
        mRegistry->RemoveInputOutput(name);
}

void tst_SystemMIDIConfigurationWin::opensEveryDeviceOfANameAndReturnsTheLast()
{
    for (const char* path : {"usb#x1", "usb#y", "usb#x2"})
        cWinApiSimulation::PlugInputAndOutput(Device(path == QByteArray("usb#y") ? "Y" : "X", path));
    Create();
    QCOMPARE(cWinApiSimulation::Calls(), QStringList());

    cMIDIInput* input = mRegistry->GetInput("X");
    QVERIFY(input);
    QCOMPARE(cWinApiSimulation::Calls().filter("midiInOpen"), (QStringList{"midiInOpen usb#x1", "midiInOpen usb#x2"}));
    // Asked again, nothing more opens.
    QCOMPARE(mRegistry->GetInput("X"), input);
    QCOMPARE(cWinApiSimulation::Calls().filter("midiInOpen").size(), 2);
    // The port returned is the second device's: its bytes arrive there.
    QObject listener;
    connect(input, &cMIDIInput::MIDIReadReady, &listener, [] {});
    QVERIFY(cWinApiSimulation::DeliverShortMessage("usb#x2", 0x7F3C90u));
    QByteArray read;
    input->Read(read);
    QCOMPARE(read, QByteArray::fromHex("903c7f"));
    QCOMPARE(mRegistry->GetInput("x"), nullptr);

    cMIDIOutput* output = mRegistry->GetOutput("X");
    QVERIFY(output);
    QCOMPARE(cWinApiSimulation::Calls().filter("midiOutOpen"), (QStringList{"midiOutOpen usb#x1", "midiOutOpen usb#x2"}));
    output->Write(QByteArray::fromHex("b00764"));
    QCOMPARE(cWinApiSimulation::SentToDevice("usb#x2"), QList<QByteArray>{QByteArray::fromHex("b00764")});
    QCOMPARE(cWinApiSimulation::SentToDevice("usb#x1"), QList<QByteArray>());

    // A virtual or registered port of the name comes first, and opens nothing.
    cFakeMIDIPort link;
    mRegistry->AddInputOutput("Y", &link);
    QCOMPARE(mRegistry->GetInput("Y"), static_cast<cMIDIInput*>(&link));
    QCOMPARE(mRegistry->GetOutput("Y"), static_cast<cMIDIOutput*>(&link));
    QCOMPARE(cWinApiSimulation::Calls().filter("usb#y"), QStringList());
    mRegistry->RemoveInputOutput("Y");
}

void tst_SystemMIDIConfigurationWin::logsAnIndexOutOfRange_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("the count") << 2;
    QTest::newRow("negative") << -1;
    QTest::newRow("far beyond") << 1000;
}

void tst_SystemMIDIConfigurationWin::logsAnIndexOutOfRange()
{
    QFETCH(int, index);
    cWinApiSimulation::PlugInputAndOutput(Device("A", "usb#a"));
    cWinApiSimulation::PlugInputAndOutput(Device("B", "usb#b"));
    Create();
    cLogCapture log;
    QVERIFY(mRegistry->GetInputName(index).isNull());
    QVERIFY(mRegistry->GetOutputName(index).isNull());
    const QString message = QStringLiteral("Source index %1 out of range").arg(index);
    QCOMPARE(log.Messages(), (QStringList{message, message}));
    QVERIFY(log.Files().value(0).endsWith("SystemMIDIConfigurationWin.cpp"));
}

void tst_SystemMIDIConfigurationWin::keepsDeviceIndicesWhenCapabilitiesFail()
{
    sSimDevice broken = Device("Broken", "usb#broken");
    broken.CapsResult = MMSYSERR_NODRIVER;
    for (const sSimDevice& device : {Device("A", "usb#a"), broken, Device("C", "usb#c")})
        cWinApiSimulation::PlugInputAndOutput(device);
    cLogCapture log;
    Create();
    QCOMPARE(log.Messages(), (QStringList{"Cannot get input device capabilities, error string: \"The driver is not installed\"",
                                          "Cannot get output device capabilities, error string: \"The driver is not installed\""}));
    QCOMPARE(mRegistry->GetInputNames(), (QStringList{"A", "C"}));
    QCOMPARE(mRegistry->GetOutputNames(), (QStringList{"A", "C"}));

    // C is WinMM device 2, though it is the second record.
    mRegistry->GetInput("C");
    QCOMPARE(cWinApiSimulation::Calls().filter("Open"), (QStringList{"midiInOpen usb#c"}));

    // The unreadable device goes: WinMM moves C down to index 1, and so does its record.
    cWinApiSimulation::UnplugInputAndOutput("usb#broken");
    QVERIFY(cWinApiSimulation::SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, QStringLiteral("usb#broken")));
    QCOMPARE(mAnnounced, QStringList());
    mRegistry->GetOutput("C");
    QCOMPARE(cWinApiSimulation::Calls().filter("Open"), (QStringList{"midiInOpen usb#c", "midiOutOpen usb#c"}));

    // A device arriving now takes index 2: it is added, and the known ones are not added again.
    cWinApiSimulation::PlugInputAndOutput(Device("D", "usb#d"));
    QVERIFY(cWinApiSimulation::SendDeviceChange(DBT_DEVICEARRIVAL, QStringLiteral("usb#d")));
    QCOMPARE(mAnnounced, (QStringList{"input added D", "output added D"}));
    QCOMPARE(mRegistry->GetInputNames(), (QStringList{"A", "C", "D"}));
    mRegistry->GetInput("D");
    mRegistry->GetOutput("D");
    QCOMPARE(cWinApiSimulation::Calls().filter("Open").mid(2), (QStringList{"midiInOpen usb#d", "midiOutOpen usb#d"}));
    QCOMPARE(log.Lines().size(), 2);
}

void tst_SystemMIDIConfigurationWin::addsArrivingDevicesOnly_data()
{
    QTest::addColumn<uint>("deviceType");
    QTest::addColumn<QStringList>("announced");

    QTest::newRow("device interface") << uint(DBT_DEVTYP_DEVICEINTERFACE)
                                      << QStringList{"input added New In", "input added Second", "output added New Out"};
    // A volume or a port arriving is taken, but the lists stay as they are.
    QTest::newRow("volume") << 2u << QStringList();
    QTest::newRow("serial port") << 3u << QStringList();
}

void tst_SystemMIDIConfigurationWin::addsArrivingDevicesOnly()
{
    QFETCH(uint, deviceType);
    QFETCH(QStringList, announced);

    cWinApiSimulation::PlugInput(Device("Desk", "usb#desk"));
    Create();
    mAnnounced.clear();
    cWinApiSimulation::PlugInput(Device("New In", "usb#new"));
    cWinApiSimulation::PlugInput(Device("Second", "usb#second"));
    cWinApiSimulation::PlugOutput(Device("New Out", "usb#new"));
    QVERIFY(cWinApiSimulation::SendDeviceChange(DBT_DEVICEARRIVAL, cWinApiSimulation::InterfaceBroadcast("usb#new", deviceType)));
    QCOMPARE(mAnnounced, announced);
    QCOMPARE(mRegistry->GetInputCount(), 1 + announced.filter("input").size());
    QCOMPARE(mRegistry->GetOutputCount(), announced.filter("output").size());
}

void tst_SystemMIDIConfigurationWin::removesUnpluggedDevicesAfterAnnouncingThem_data()
{
    QTest::addColumn<QString>("broadcastPath");
    QTest::addColumn<bool>("removed");

    const QString path = QStringLiteral("\\\\?\\USB#VID_0A1B&PID_0001#desk#{6994ad04-93ef-11d0-a3cc-00a0c9223196}");
    QTest::newRow("same path") << path << true;
    QTest::newRow("lower case") << path.toLower() << true;
    QTest::newRow("blanks around it") << "  " + path + "\t " << true;
    QTest::newRow("another device") << QStringLiteral("\\\\?\\USB#VID_0A1B&PID_0002#other") << false;
    QTest::newRow("a longer path") << path + "x" << false;
    QTest::newRow("empty") << QString() << false;
}

void tst_SystemMIDIConfigurationWin::removesUnpluggedDevicesAfterAnnouncingThem()
{
    QFETCH(QString, broadcastPath);
    QFETCH(bool, removed);

    const QString desk = QStringLiteral("\\\\?\\USB#VID_0A1B&PID_0001#desk#{6994ad04-93ef-11d0-a3cc-00a0c9223196}");
    sSimDevice pathless = Device("No Path", QString());
    pathless.PathQueryFails = true;
    for (const sSimDevice& device : {pathless, Device("Desk", desk), Device("Synth", "usb#synth")})
        cWinApiSimulation::PlugInputAndOutput(device);
    Create();
    QPointer<cMIDIInput> input = mRegistry->GetInput("Desk");
    QVERIFY(mRegistry->GetOutput("Desk"));
    mAnnounced.clear();
    // When the removal is announced the port still stands, so listeners can let go of it.
    connect(mRegistry.get(), &cSystemMIDIConfiguration::InputRemovedSignal, this, [&](QString Name) {
        mAnnounced << QStringLiteral("port %1 when removed").arg(input && cWinApiSimulation::IsInputOpen(desk) ? "open" : "closed");
        QCOMPARE(mRegistry->GetInputNames().contains(Name), false);
    });

    cWinApiSimulation::UnplugInputAndOutput(desk);
    QVERIFY(cWinApiSimulation::SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, broadcastPath));
    if (removed)
    {
        QCOMPARE(mAnnounced, (QStringList{"input removed Desk", "port open when removed", "output removed Desk"}));
        QVERIFY(input.isNull());
        QVERIFY(!cWinApiSimulation::IsInputOpen(desk));
        QVERIFY(cWinApiSimulation::Calls().contains("midiOutClose " + desk));
        QCOMPARE(mRegistry->GetInputNames(), (QStringList{"No Path", "Synth"}));
        QCOMPARE(mRegistry->GetOutputNames(), (QStringList{"No Path", "Synth"}));
        // Synth moved down to WinMM index 1 with the removal; it opens as itself.
        mRegistry->GetInput("Synth");
        mRegistry->GetOutput("Synth");
        QCOMPARE(cWinApiSimulation::Calls().filter("Open").mid(2), (QStringList{"midiInOpen usb#synth", "midiOutOpen usb#synth"}));
    }
    else
    {
        QCOMPARE(mAnnounced, QStringList());
        QVERIFY(input);
        QCOMPARE(mRegistry->GetInputNames(), (QStringList{"No Path", "Desk", "Synth"}));
    }
}

void tst_SystemMIDIConfigurationWin::passesOverMessagesItDoesNotHandle_data()
{
    QTest::addColumn<uint>("message");
    QTest::addColumn<uint>("event");
    QTest::addColumn<bool>("taken");

    QTest::newRow("arrival") << uint(WM_DEVICECHANGE) << uint(DBT_DEVICEARRIVAL) << true;
    QTest::newRow("removal") << uint(WM_DEVICECHANGE) << uint(DBT_DEVICEREMOVECOMPLETE) << true;
    QTest::newRow("device nodes changed") << uint(WM_DEVICECHANGE) << 7u << false;
    QTest::newRow("removal pending") << uint(WM_DEVICECHANGE) << 0x8003u << false;
    QTest::newRow("another window message") << 0x0010u << uint(DBT_DEVICEARRIVAL) << false;
}

void tst_SystemMIDIConfigurationWin::passesOverMessagesItDoesNotHandle()
{
    QFETCH(uint, message);
    QFETCH(uint, event);
    QFETCH(bool, taken);

    cWinApiSimulation::PlugInput(Device("Desk", "usb#desk"));
    Create();
    cWinApiSimulation::PlugInput(Device("New", "usb#new"));
    // A removal whose name runs on past the broadcast's size: only the part within it counts.
    QByteArray broadcast = cWinApiSimulation::InterfaceBroadcast("usb#deskXYZ");
    reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(broadcast.data())->dbcc_size -= 4 * sizeof(WCHAR);
    QCOMPARE(mRegistry->HandleWindowMessage(message, event, reinterpret_cast<LPARAM>(broadcast.constData())), taken);
    const bool arrived = taken && event == DBT_DEVICEARRIVAL;
    const bool removed = taken && event == DBT_DEVICEREMOVECOMPLETE;
    const QStringList expected = removed ? QStringList() : arrived ? QStringList{"Desk", "New"} : QStringList{"Desk"};
    QCOMPARE(mRegistry->GetInputNames(), expected);
}

void tst_SystemMIDIConfigurationWin::closesItsDevicesWhenDestroyed()
{
    cWinApiSimulation::PlugInputAndOutput(Device("Desk", "usb#desk"));
    Create();
    mRegistry->GetInput("Desk");
    mRegistry->GetOutput("Desk");
    mRegistry->CreateVirtualInputOutput("Quillon MIDI DAW");
    QCOMPARE(cWinApiSimulation::OpenDriverPorts(), QStringList{"Quillon MIDI DAW"});
    cWinApiSimulation::ClearCalls();
    mRegistry.reset();
    QVERIFY(!cWinApiSimulation::IsInputOpen("usb#desk"));
    QVERIFY(cWinApiSimulation::Calls().contains("midiOutClose usb#desk"));
    // The driver port outlives the registry, for the DAW.
    QCOMPARE(cWinApiSimulation::OpenDriverPorts(), QStringList{"Quillon MIDI DAW"});
    QCOMPARE(cWinApiSimulation::ActiveNotifications(), 0);
}

QTEST_GUILESS_MAIN(tst_SystemMIDIConfigurationWin)
#include "tst_SystemMIDIConfigurationWin.moc"
