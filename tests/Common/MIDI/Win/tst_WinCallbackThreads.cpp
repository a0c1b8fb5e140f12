#include "Common/MIDI/SystemMIDIConfigurationWin.h"
#include "Common/MIDI/Virtual/VirtualMIDIPortTable.h"
#include "tests/support/LogCapture.h"
#include "tests/support/winapi/WinApiSimulation.h"

#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

// The Windows back-end through the simulation of the Windows API: bytes that WinMM and the virtual
// MIDI driver hand over on threads of their own, read on the GUI thread, and devices announced as
// they come and go. scripts/test runs it under ThreadSanitizer too.
class tst_WinCallbackThreads : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void bringsEachCallbackToTheGuiThread_data();
    void bringsEachCallbackToTheGuiThread();
    void announcesDevicesAsTheyComeAndGo_data();
    void announcesDevicesAsTheyComeAndGo();
    void deliversWholeChunksWhilePortsComeAndGo();
};

namespace
{
const QString kVirtual = QStringLiteral("Quillon MIDI DAW");
const QByteArray kNote = QByteArray::fromHex("903c7f");
const QByteArray kExclusive = QByteArray::fromHex("f07e7f0601f7");

QString PathOf(const QString& Name)
{
    return "usb#" + Name.toLower();
}

// Hands Bytes over as WinMM or the driver does, from a thread of its own.
bool FromForeignThread(const QString& Port, const QByteArray& Bytes)
{
    bool delivered = false;
    std::thread([&] {
        delivered = Port == kVirtual ? cWinApiSimulation::SendFromDaw(Port, Bytes) : cWinApiSimulation::Deliver(PathOf(Port), Bytes);
    }).join();
    return delivered;
}
} // namespace

void tst_WinCallbackThreads::cleanup()
{
    cVirtualMIDIPortTable::CloseAll();
    cWinApiSimulation::Reset();
}

void tst_WinCallbackThreads::bringsEachCallbackToTheGuiThread_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("listening");
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QByteArray>("read");

    // WinMM packs a short message into one value; the bytes above its own length are leftovers.
    const QList<QByteArray> shorts{kNote, QByteArray::fromHex("c30577"), QByteArray::fromHex("f63412"), QByteArray::fromHex("e50040")};
    QTest::newRow("winmm: each short message at its own length") << "Desk" << true << shorts << QByteArray::fromHex("903c7fc305f6e50040");
    QTest::newRow("winmm: the exclusive buffer queued again after each message")
        << "Desk" << true << QList<QByteArray>{kExclusive, kExclusive, kNote} << kExclusive + kExclusive + kNote;
    QTest::newRow("winmm: nobody listens") << "Desk" << false << QList<QByteArray>{kNote, kExclusive} << QByteArray();
    QTest::newRow("driver: in order, once") << kVirtual << true << QList<QByteArray>{kNote, kExclusive, "\xb0"} << kNote + kExclusive + "\xb0";
    QTest::newRow("driver: a null pointer") << kVirtual << true << QList<QByteArray>{QByteArray()} << QByteArray();
    QTest::newRow("driver: nobody listens") << kVirtual << false << QList<QByteArray>{kNote} << QByteArray();
}

void tst_WinCallbackThreads::bringsEachCallbackToTheGuiThread()
{
    QFETCH(QString, port);
    QFETCH(bool, listening);
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QByteArray, read);

    cWinApiSimulation::Plug("Desk", PathOf("Desk"));
    auto registry = std::make_unique<cSystemMIDIConfigurationWin>();
    registry->CreateVirtualInputOutput(kVirtual);
    cMIDIInput* input = registry->GetInput(port);
    int announced = 0;
    bool offGuiThread = false;
    if (listening)
        connect(input, &cMIDIInput::MIDIReadReady, this, [&] { ++announced, offGuiThread |= QThread::currentThread() != thread(); });
    for (const QByteArray& chunk : chunks)
        QVERIFY(FromForeignThread(port, chunk));
    const int expected = listening ? int(std::count_if(chunks.begin(), chunks.end(), [](const QByteArray& C) { return !C.isNull(); })) : 0;
    QTRY_COMPARE(announced, expected);
    QCoreApplication::processEvents();
    QCOMPARE(announced, expected);
    QVERIFY(!offGuiThread);
    QByteArray bytes;
    input->Read(bytes);
    QCOMPARE(bytes, read);

    // Closing: the exclusive buffer comes back empty from the reset and is not queued again, so the
    // device closes and calls back no more.
    cLogCapture log;
    registry.reset();
    QCOMPARE(log.Lines(), QStringList());
    QVERIFY(!FromForeignThread("Desk", kNote));
}

void tst_WinCallbackThreads::announcesDevicesAsTheyComeAndGo_data()
{
    // Devices by name ("" cannot be read); a step "+Name" plugs one in, "-Name" pulls one out.
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("announced");
    QTest::addColumn<QStringList>("inputs");

    QTest::newRow("arrival reads the new device only") << QStringList{"A"} << QStringList{"+B"} << QStringList{"+B", "+B"}
                                                        << QStringList{"A", "B"};
    QTest::newRow("removal moves the later devices down one index")
        << QStringList{"A", "B", "C"} << QStringList{"-A"} << QStringList{"-A", "-A"} << QStringList{"B", "C"};
    QTest::newRow("an unreadable device holds its index until it goes")
        << QStringList{"", "B"} << QStringList{"-", "+C"} << QStringList{"+C", "+C"} << QStringList{"B", "C"};
    QTest::newRow("pulled out and plugged in again") << QStringList{"A"} << QStringList{"-A", "+A"} << QStringList{"-A", "-A", "+A", "+A"}
                                                     << QStringList{"A"};
}

void tst_WinCallbackThreads::announcesDevicesAsTheyComeAndGo()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, announced);
    QFETCH(QStringList, inputs);

    for (const QString& name : before)
        cWinApiSimulation::Plug(name, PathOf(name));
    cLogCapture quiet;
    cSystemMIDIConfigurationWin registry;
    QStringList heard;
    connect(&registry, &cSystemMIDIConfiguration::InputAddedSignal, this, [&](const QString& Name) { heard << "+" + Name; });
    connect(&registry, &cSystemMIDIConfiguration::OutputAddedSignal, this, [&](const QString& Name) { heard << "+" + Name; });
    connect(&registry, &cSystemMIDIConfiguration::InputRemovedSignal, this, [&](const QString& Name) { heard << "-" + Name; });
    connect(&registry, &cSystemMIDIConfiguration::OutputRemovedSignal, this, [&](const QString& Name) { heard << "-" + Name; });
    for (const QString& step : steps)
    {
        const QString name = step.mid(1);
        if (step.startsWith('+'))
            cWinApiSimulation::Plug(name, PathOf(name));
        else
            cWinApiSimulation::Unplug(PathOf(name));
        // Windows may tell the path in other letter case than WinMM.
        cWinApiSimulation::SendDeviceChange(step.startsWith('+') ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE, PathOf(name).toUpper());
    }
    QCOMPARE(heard, announced);
    QCOMPARE(registry.GetInputNames(), inputs);
    // Each name opens its own device, whatever moved before it.
    for (const QString& name : inputs)
    {
        connect(registry.GetInput(name), &cMIDIInput::MIDIReadReady, this, [] {});
        QVERIFY2(FromForeignThread(name, kNote), qPrintable(name));
    }
}

// Both callbacks hammered from threads of their own while the GUI thread reads, re-creates virtual
// ports, pulls a device out and plugs it in again, and at last closes every driver port while bytes
// still come. The GUI thread reads in its own loop: Qt's event queue is not built with
// ThreadSanitizer. Every stream read must be made of whole chunks.
void tst_WinCallbackThreads::deliversWholeChunksWhilePortsComeAndGo()
{
    const QStringList names{kVirtual, "Quillon MIDI 2", "Desk"};
    cWinApiSimulation::Plug("Desk", PathOf("Desk"));
    auto registry = std::make_unique<cSystemMIDIConfigurationWin>();
    QHash<QString, QPointer<cMIDIInput>> ports;
    QHash<QString, QByteArray> streams;
    std::atomic<int> delivered{0};
    const auto readAll = [&] {
        for (auto port = ports.cbegin(); port != ports.cend(); ++port)
        {
            QByteArray read;
            if (!port.value().isNull())
                port.value()->Read(read);
            streams[port.key()] += read;
        }
    };
    const auto follow = [&](const QString& Name) {
        readAll();
        if (Name != "Desk")
            registry->CreateVirtualInputOutput(Name);
        ports[Name] = registry->GetInput(Name);
        // Connected directly: nothing of the connection is made on one thread and read on another.
        connect(ports[Name], &cMIDIInput::MIDIReadReady, this, [&] { ++delivered; }, Qt::DirectConnection);
    };
    for (const QString& name : names)
        follow(name);

    std::atomic<bool> stop{false};
    std::vector<std::thread> senders;
    for (const QString& name : names)
    {
        senders.emplace_back([&, name] {
            for (int round = 0; !stop; ++round)
            {
                const QByteArray chunk = round % 5 == 0 ? kExclusive : kNote;
                if (!(name == "Desk" ? cWinApiSimulation::Deliver(PathOf(name), chunk) : cWinApiSimulation::SendFromDaw(name, chunk)))
                    std::this_thread::yield();
            }
        });
    }
    // Rounds go on until the senders have got some bytes through, however the threads were scheduled.
    for (int round = 0; round < 300 || (delivered < 300 && round < 100000); ++round)
    {
        // A virtual port re-created: the old object detaches while the driver may be delivering to it.
        const QString& name = names[round % 2];
        registry->DeleteVirtualInputOutput(name);
        follow(name);
        if (round % 20 == 10)
        {
            // The desk pulled out and plugged in again: its port closes while WinMM calls back.
            cWinApiSimulation::Unplug(PathOf("Desk"));
            cWinApiSimulation::SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, PathOf("Desk"));
            cWinApiSimulation::Plug("Desk", PathOf("Desk"));
            cWinApiSimulation::SendDeviceChange(DBT_DEVICEARRIVAL, PathOf("Desk"));
            follow("Desk");
        }
        readAll();
    }
    // The window's order at the end: every driver port closed while the driver still sends, then the
    // registry and its port objects deleted.
    readAll();
    cVirtualMIDIPortTable::CloseAll();
    registry.reset();
    stop = true;
    for (std::thread& sender : senders)
        sender.join();

    QVERIFY(delivered > 0);
    for (auto stream = streams.cbegin(); stream != streams.cend(); ++stream)
    {
        QByteArray rest = stream.value();
        while (rest.startsWith(kNote) || rest.startsWith(kExclusive))
            rest.remove(0, rest.startsWith(kNote) ? kNote.size() : kExclusive.size());
        QVERIFY2(rest.isEmpty(), qPrintable(stream.key() + ": " + rest.toHex(' ').left(120)));
    }
}

QTEST_GUILESS_MAIN(tst_WinCallbackThreads)
#include "tst_WinCallbackThreads.moc"
