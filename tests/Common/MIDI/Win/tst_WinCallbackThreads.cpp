#include "Common/MIDI/SystemMIDIConfigurationWin.h"
#include "Common/MIDI/Virtual/VirtualMIDIPortTable.h"
#include "tests/support/winapi/WinApiSimulation.h"

#include <QtTest>

#include <algorithm>
#include <atomic>
#include <memory>
#include <thread>

// The Windows back-end through the seam over the Windows API: bytes that WinMM and the virtual MIDI
// driver hand over on threads of their own, read on the GUI thread, also while ports close and open
// again; and devices announced as they come and go. scripts/test runs it under ThreadSanitizer too.
class tst_WinCallbackThreads : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void bringsCallbacksToTheGuiThreadWhilePortsComeAndGo_data();
    void bringsCallbacksToTheGuiThreadWhilePortsComeAndGo();
    void announcesDevicesAsTheyComeAndGo_data();
    void announcesDevicesAsTheyComeAndGo();
};

namespace
{
const QString kDesk = QStringLiteral("Desk");
const QByteArray kNote = QByteArray::fromHex("903c7f");
const QByteArray kExclusive = QByteArray::fromHex("f07e7f0601f7");

QString PathOf(const QString& Name) { return "usb#" + Name.toLower(); }

// Hands Bytes to the port as WinMM (the desk) or the virtual MIDI driver (any other name) does.
bool Send(const QString& Port, const QByteArray& Bytes)
{
    return Port == kDesk ? cWinApiSimulation::Deliver(PathOf(Port), Bytes) : cWinApiSimulation::SendFromDaw(Port, Bytes);
}
} // namespace

void tst_WinCallbackThreads::cleanup()
{
    cVirtualMIDIPortTable::CloseAll();
    cWinApiSimulation::Reset();
}

void tst_WinCallbackThreads::bringsCallbacksToTheGuiThreadWhilePortsComeAndGo_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<QList<QByteArray>>("chunks");
    QTest::addColumn<QList<QByteArray>>("read"); // what each chunk reads as

    // WinMM packs a short message into one value; the bytes above its own length are leftovers.
    // The exclusive buffer must be queued again after each message for the second to arrive.
    QTest::newRow("winmm, short messages at their own length, exclusive ones")
        << kDesk << QList<QByteArray>{kNote, QByteArray::fromHex("c30577"), QByteArray::fromHex("f63412"), kExclusive, kExclusive, QByteArray::fromHex("e01040")}
        << QList<QByteArray>{kNote, QByteArray::fromHex("c305"), QByteArray::fromHex("f6"), kExclusive, kExclusive, QByteArray::fromHex("e01040")};
    const QList<QByteArray> daw{kNote, kExclusive, "\xb0"};
    QTest::newRow("driver, bytes as the DAW sent them") << "Quillon MIDI DAW" << daw << daw;
}

void tst_WinCallbackThreads::bringsCallbacksToTheGuiThreadWhilePortsComeAndGo()
{
    QFETCH(QString, port);
    QFETCH(QList<QByteArray>, chunks);
    QFETCH(QList<QByteArray>, read);

    cWinApiSimulation::Plug(kDesk, PathOf(kDesk));
    auto registry = std::make_unique<cSystemMIDIConfigurationWin>();
    if (port != kDesk)
        registry->CreateVirtualInputOutput(port);
    cMIDIInput* input = registry->GetInput(port);
    // Counted only on the GUI thread; a receiver of this call's own, so that none left queued by a
    // failed row counts in the next.
    int announced = 0;
    QObject receiver;
    connect(input, &cMIDIInput::MIDIReadReady, &receiver, [&] { announced += QThread::currentThread() == thread() ? 1 : 0; });
    // One by one, each from a thread of its own: each announced on the GUI thread, and read whole.
    bool sent = true;
    for (const QByteArray& chunk : chunks)
        std::thread([&] { sent = Send(port, chunk) && sent; }).join();
    QVERIFY(sent);
    QTRY_COMPARE(announced, chunks.size());
    QByteArray stream;
    input->Read(stream);
    QCOMPARE(stream, read.join());

    // Then hammered while the GUI thread reads and closes the port and opens it again (the desk
    // pulled out and plugged in, the virtual port made anew), and at last closes every driver port
    // while bytes still come. Listened to directly: Qt's event queue is not built with ThreadSanitizer.
    disconnect(input, nullptr, &receiver, nullptr);
    connect(input, &cMIDIInput::MIDIReadReady, this, [] {}, Qt::DirectConnection);
    std::atomic<bool> stop{false};
    std::atomic<int> delivered{0};
    std::thread sender([&] {
        for (int round = 0; !stop; ++round)
            delivered += Send(port, chunks[round % chunks.size()]) ? 1 : 0;
    });
    // Rounds go on until some bytes got through, however the threads were scheduled.
    for (int round = 1; round <= 100 || (delivered < 300 && round < 10000000); ++round)
    {
        QByteArray bytes;
        input->Read(bytes);
        stream += bytes;
        if (round % 10 != 0)
            continue;
        if (port == kDesk)
            cWinApiSimulation::Unplug(PathOf(kDesk)), cWinApiSimulation::Plug(kDesk, PathOf(kDesk));
        else
            registry->DeleteVirtualInputOutput(port), registry->CreateVirtualInputOutput(port);
        input = registry->GetInput(port);
        connect(input, &cMIDIInput::MIDIReadReady, this, [] {}, Qt::DirectConnection);
    }
    cVirtualMIDIPortTable::CloseAll();
    registry.reset();
    stop = true;
    sender.join();
    QVERIFY(delivered > 0);
    for (int at = 0; at < stream.size();)
    {
        const auto whole = std::find_if(read.begin(), read.end(), [&](const QByteArray& Chunk) { return stream.mid(at, Chunk.size()) == Chunk; });
        QVERIFY2(whole != read.end(), qPrintable(stream.mid(at, 24).toHex(' ')));
        at += whole->size();
    }
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
}

void tst_WinCallbackThreads::announcesDevicesAsTheyComeAndGo()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, steps);
    QFETCH(QStringList, announced);
    QFETCH(QStringList, inputs);

    for (const QString& name : before)
        cWinApiSimulation::Plug(name, PathOf(name));
    cSystemMIDIConfigurationWin registry;
    QStringList heard;
    connect(&registry, &cSystemMIDIConfiguration::InputAddedSignal, this, [&](const QString& Name) { heard << "+" + Name; });
    connect(&registry, &cSystemMIDIConfiguration::OutputAddedSignal, this, [&](const QString& Name) { heard << "+" + Name; });
    connect(&registry, &cSystemMIDIConfiguration::InputRemovedSignal, this, [&](const QString& Name) { heard << "-" + Name; });
    connect(&registry, &cSystemMIDIConfiguration::OutputRemovedSignal, this, [&](const QString& Name) { heard << "-" + Name; });
    for (const QString& step : steps)
        step.startsWith('+') ? cWinApiSimulation::Plug(step.mid(1), PathOf(step.mid(1))) : cWinApiSimulation::Unplug(PathOf(step.mid(1)));
    QCOMPARE(heard, announced);
    QCOMPARE(registry.GetInputNames(), inputs);
    // Each name opens its own device, whatever moved before it.
    for (const QString& name : inputs)
    {
        connect(registry.GetInput(name), &cMIDIInput::MIDIReadReady, this, [] {});
        QVERIFY2(cWinApiSimulation::Deliver(PathOf(name), kNote), qPrintable(name));
    }
}

QTEST_GUILESS_MAIN(tst_WinCallbackThreads)
#include "tst_WinCallbackThreads.moc"
