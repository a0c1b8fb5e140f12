#include "Common/MIDI/SystemMIDIConfigurationWin.h"
#include "Common/MIDI/Virtual/VirtualMIDIPortTable.h"
#include "tests/support/winapi/WinApiSimulation.h"

#include <QPointer>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

// Counts announcements on the thread that emits them. Made before any sender thread starts and
// connected directly by signature, so that nothing of the connection is made by our code on the
// GUI thread and read on a sender's (Qt, not built with ThreadSanitizer, orders that itself).
class cAnnouncementCounter : public QObject
{
    Q_OBJECT

public:
    std::atomic<int> mCount{0};

public slots:
    void Announced() { ++mCount; }
};

// The two platform callbacks, hammered from threads of their own while the GUI thread creates,
// reads and destroys the ports they deliver to, unplugs and plugs devices, and finally closes every
// driver port while bytes still come. Built with ThreadSanitizer in scripts/test. The GUI thread
// reads every port in its own loop rather than from queued slots: Qt's event queue is not built
// with ThreadSanitizer, and queued delivery has tests of its own.
class tst_WinCallbackThreads : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void deliversWholeChunksWhilePortsComeAndGo();

private:
    // Connects the port to the counter and reads it, with every other port, in ReadAll.
    void Follow(const QString& Name, cMIDIInput* Port);
    void ReadAll();

    cAnnouncementCounter mCounter;
    QHash<QString, QPointer<cMIDIInput>> mPorts;
    QHash<QString, QByteArray> mStreams;
};

namespace
{
const QByteArray kNote = QByteArray::fromHex("903c7f");
const QByteArray kExclusive = QByteArray::fromHex("f00102f7");
const QStringList kVirtualNames{"Quillon MIDI 1", "Quillon MIDI 2"};

// What the senders send, one whole chunk at a time: a stream read from a port must be made of
// nothing else, however its reads and the deliveries fell.
bool MadeOfWholeChunks(const QByteArray& Stream)
{
    for (int at = 0; at < Stream.size();)
    {
        if (Stream.mid(at, kNote.size()) == kNote)
            at += kNote.size();
        else if (Stream.mid(at, kExclusive.size()) == kExclusive)
            at += kExclusive.size();
        else
            return false;
    }
    return true;
}
} // namespace

void tst_WinCallbackThreads::cleanup()
{
    cVirtualMIDIPortTable::CloseAll();
    cWinApiSimulation::Reset();
}

void tst_WinCallbackThreads::Follow(const QString& Name, cMIDIInput* Port)
{
    ReadAll();
    connect(Port, SIGNAL(MIDIReadReady()), &mCounter, SLOT(Announced()), Qt::DirectConnection);
    mPorts[Name] = Port;
}

void tst_WinCallbackThreads::ReadAll()
{
    for (auto port = mPorts.cbegin(); port != mPorts.cend(); ++port)
    {
        if (port.value().isNull())
            continue;
        QByteArray read;
        port.value()->Read(read);
        mStreams[port.key()] += read;
    }
}

void tst_WinCallbackThreads::deliversWholeChunksWhilePortsComeAndGo()
{
    cWinApiSimulation::Reset();
    cWinApiSimulation::PlugInput({"Desk A", "usb#a"});
    cWinApiSimulation::PlugInput({"Desk B", "usb#b"});
    auto registry = std::make_unique<cSystemMIDIConfigurationWin>();
    for (const QString& name : kVirtualNames)
    {
        registry->CreateVirtualInputOutput(name);
        Follow(name, registry->GetInput(name));
    }
    Follow("Desk A", registry->GetInput("Desk A"));
    Follow("Desk B", registry->GetInput("Desk B"));

    std::atomic<bool> stop{false};
    std::atomic<int> delivered{0};
    std::vector<std::thread> senders;
    for (const QString& name : kVirtualNames)
    {
        senders.emplace_back([&, name] {
            for (int round = 0; !stop; ++round)
            {
                if (cWinApiSimulation::SendFromDawHere(name, round % 5 == 0 ? kExclusive : kNote))
                    ++delivered;
                else
                    std::this_thread::yield();
            }
        });
    }
    senders.emplace_back([&] {
        for (int round = 0; !stop; ++round)
        {
            const bool a = cWinApiSimulation::DeliverShortMessageHere("usb#a", 0x7F3C90u);
            const bool b = round % 3 == 0 ? cWinApiSimulation::DeliverExclusiveHere("usb#b", kExclusive) > 0
                                          : cWinApiSimulation::DeliverShortMessageHere("usb#b", 0x7F3C90u);
            if (a || b)
                ++delivered;
            else
                std::this_thread::yield();
        }
    });

    for (int round = 0; round < 300; ++round)
    {
        // Re-creating a virtual port: the old object detaches while the driver may be delivering
        // to it, the new one attaches to the same driver port.
        const QString& name = kVirtualNames[round % kVirtualNames.size()];
        registry->DeleteVirtualInputOutput(name);
        registry->CreateVirtualInputOutput(name);
        Follow(name, registry->GetInput(name));
        if (round % 20 == 10)
        {
            // Desk B pulled out and plugged in again: its port closes while WinMM calls back.
            cWinApiSimulation::UnplugInput("usb#b");
            cWinApiSimulation::SendDeviceChange(DBT_DEVICEREMOVECOMPLETE, QStringLiteral("usb#b"));
            cWinApiSimulation::PlugInput({"Desk B", "usb#b"});
            cWinApiSimulation::SendDeviceChange(DBT_DEVICEARRIVAL, QStringLiteral("usb#b"));
            Follow("Desk B", registry->GetInput("Desk B"));
        }
        ReadAll();
    }
    // The window's order at the end: every driver port closed while the driver still sends, then
    // the registry and its port objects deleted.
    ReadAll();
    cVirtualMIDIPortTable::CloseAll();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    registry.reset();
    stop = true;
    for (std::thread& sender : senders)
        sender.join();

    QVERIFY(delivered > 0);
    QVERIFY(mCounter.mCount > 0);
    QVERIFY(!mStreams.isEmpty());
    for (auto stream = mStreams.cbegin(); stream != mStreams.cend(); ++stream)
        QVERIFY2(MadeOfWholeChunks(stream.value()), qPrintable(stream.key() + ": " + stream.value().toHex(' ').left(120)));
}

QTEST_GUILESS_MAIN(tst_WinCallbackThreads)
#include "tst_WinCallbackThreads.moc"
