#include "Common/MIDI/SystemMIDIConfiguration.h"
#include "Common/MIDI/SystemMIDIConfigurationNone.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/LogCapture.h"

#include <QPointer>
#include <QThread>
#include <QtTest>

#include <memory>

// The registry's own behaviour, seen through the in-memory back-end (the base class is abstract),
// and that back-end itself: unless it behaves like a real one, the engine's tests prove nothing.
class tst_SystemMIDIConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void createsAVirtualPortOnceAndDeletesItUnannounced();
    void announcesRegisteredPortsAndDevicesInPairs();
    void looksUpVirtualThenRegisteredThenDevicePorts();
    void portGenerationFollowsEveryChange();
    void pickableNamesLeaveOutOurOwnPorts();
    void deviceBytesReachTheGuiThreadQueuedAndCoalesced();
    void registryWithoutBackEndHasNoDevicesAndSaysWhyPortsAreDeaf();

private:
    std::unique_ptr<cFakeSystemMIDIConfiguration> mRegistry;
    // Every announcement of mRegistry, as "<signal> <name>".
    QStringList mAnnounced;
};

void tst_SystemMIDIConfiguration::init()
{
    mRegistry = std::make_unique<cFakeSystemMIDIConfiguration>();
    mAnnounced.clear();
    const auto record = [this](const char* What) { return [this, What](QString Name) { mAnnounced << What + (" " + Name); }; };
    connect(mRegistry.get(), &cSystemMIDIConfiguration::InputAddedSignal, this, record("input added"));
    connect(mRegistry.get(), &cSystemMIDIConfiguration::OutputAddedSignal, this, record("output added"));
    connect(mRegistry.get(), &cSystemMIDIConfiguration::InputRemovedSignal, this, record("input removed"));
    connect(mRegistry.get(), &cSystemMIDIConfiguration::OutputRemovedSignal, this, record("output removed"));
}

void tst_SystemMIDIConfiguration::createsAVirtualPortOnceAndDeletesItUnannounced()
{
    cLogCapture log;
    mRegistry->CreateVirtualInputOutput("Quillon MIDI DAW");
    QPointer<cFakeMIDIPort> port = mRegistry->VirtualPort("Quillon MIDI DAW");
    QVERIFY(port);
    mRegistry->CreateVirtualInputOutput("Quillon MIDI DAW");
    QCOMPARE(log.Messages(), QStringList{"Virtual MIDI Input Output \"Quillon MIDI DAW\" already created"});
    QVERIFY(log.Files().value(0).endsWith("SystemMIDIConfiguration.cpp"));
    QCOMPARE(mRegistry->GetInput("Quillon MIDI DAW"), static_cast<cMIDIInput*>(port.data()));
    QCOMPARE(mRegistry->VirtualPortsMade(), 1);

    mRegistry->DeleteVirtualInputOutput("quillon midi daw");
    QVERIFY(port);
    mRegistry->DeleteVirtualInputOutput("Quillon MIDI DAW");
    QVERIFY(port.isNull());
    QCOMPARE(mRegistry->GetOutput("Quillon MIDI DAW"), nullptr);
    QCOMPARE(log.Lines().size(), 1);
    QCOMPARE(mAnnounced, QStringList());
}

void tst_SystemMIDIConfiguration::announcesRegisteredPortsAndDevicesInPairs()
{
    cFakeMIDIPort first;
    cFakeMIDIPort second;
    mRegistry->AddInputOutput("Link", &first);
    mRegistry->AddInputOutput("Link", &second);
    QCOMPARE(mRegistry->GetInput("Link"), static_cast<cMIDIInput*>(&second));
    mRegistry->RemoveInputOutput("link");
    mRegistry->RemoveInputOutput("Link ");
    // Removing leaves the port to its owner (deleting this one would crash).
    mRegistry->RemoveInputOutput("Link");
    mRegistry->RemoveInputOutput("Link");
    QCOMPARE(mRegistry->GetInput("Link"), nullptr);

    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    QCOMPARE(mRegistry->PlugInput("Desk In"), desk);
    mRegistry->PlugOutput("Desk Out");
    mRegistry->UnplugInput("Desk In");
    mRegistry->UnplugOutput("Desk Out");
    mRegistry->UnplugOutput("Desk Out");
    QCOMPARE(mAnnounced, (QStringList{"input added Link", "output added Link", "input added Link", "output added Link",
                                      "input removed Link", "output removed Link", "input added Desk In",
                                      "output added Desk Out", "input removed Desk In", "output removed Desk Out"}));

    // Destroying the registry takes its virtual ports along and leaves registered ones alone.
    mRegistry->AddInputOutput("Link", &first);
    mRegistry->CreateVirtualInputOutput("DAW");
    QPointer<cFakeMIDIPort> virtualPort = mRegistry->VirtualPort("DAW");
    mRegistry.reset();
    QVERIFY(virtualPort.isNull());
}

void tst_SystemMIDIConfiguration::looksUpVirtualThenRegisteredThenDevicePorts()
{
    cFakeMIDIPort registered;
    cFakeMIDIPort* deviceIn = mRegistry->PlugInput("Shared");
    cFakeMIDIPort* deviceOut = mRegistry->PlugOutput("Shared");
    mRegistry->AddInputOutput("Shared", &registered);
    cMIDIInput* input = mRegistry->GetInput("Shared");
    cMIDIOutput* output = mRegistry->GetOutput("Shared");
    QCOMPARE(input, static_cast<cMIDIInput*>(&registered));
    QCOMPARE(output, static_cast<cMIDIOutput*>(&registered));
    // The output part of a pair is its second base, at another address than its input part.
    QVERIFY(static_cast<const void*>(input) != static_cast<const void*>(output));

    mRegistry->CreateVirtualInputOutput("Shared");
    QCOMPARE(mRegistry->GetInput("Shared"), static_cast<cMIDIInput*>(mRegistry->VirtualPort("Shared")));
    QCOMPARE(mRegistry->GetOutput("Shared"), static_cast<cMIDIOutput*>(mRegistry->VirtualPort("Shared")));
    mRegistry->DeleteVirtualInputOutput("Shared");
    QCOMPARE(mRegistry->GetInput("Shared"), input);
    mRegistry->RemoveInputOutput("Shared");
    QCOMPARE(mRegistry->GetInput("Shared"), static_cast<cMIDIInput*>(deviceIn));
    QCOMPARE(mRegistry->GetOutput("Shared"), static_cast<cMIDIOutput*>(deviceOut));
    QCOMPARE(mRegistry->GetInput("shared"), nullptr);
    QCOMPARE(mRegistry->GetOutput("Shared "), nullptr);
}

void tst_SystemMIDIConfiguration::portGenerationFollowsEveryChange()
{
    cFakeMIDIPort link;
    quint64 last = mRegistry->GetPortGeneration();
    auto changed = [&] {
        const quint64 now = mRegistry->GetPortGeneration();
        const bool result = now != last;
        last = now;
        return result;
    };
    mRegistry->CreateVirtualInputOutput("DAW");
    QVERIFY(changed());
    mRegistry->CreateVirtualInputOutput("DAW");
    QVERIFY(!changed());
    mRegistry->AddInputOutput("Link", &link);
    QVERIFY(changed());
    mRegistry->RemoveInputOutput("Link");
    QVERIFY(changed());
    mRegistry->PlugOutput("Desk Out");
    QVERIFY(changed());
    mRegistry->UnplugOutput("Desk Out");
    QVERIFY(changed());
    mRegistry->DeleteVirtualInputOutput("DAW");
    QVERIFY(changed());
    mRegistry->DeleteVirtualInputOutput("DAW");
    QVERIFY(!changed());
}

void tst_SystemMIDIConfiguration::pickableNamesLeaveOutOurOwnPorts()
{
    cFakeMIDIPort link;
    for (const char* name : {"Desk In", "Quillon MIDI Mackie", "DAW Port", "Link"})
        mRegistry->PlugInput(name);
    mRegistry->PlugOutput("Desk Out");
    mRegistry->PlugOutput("Loop Quillon MIDI 2");
    mRegistry->CreateVirtualInputOutput("DAW Port");
    mRegistry->AddInputOutput("Link", &link);

    QCOMPARE(mRegistry->GetInputNames(), QStringList{"Desk In"});
    QCOMPARE(mRegistry->GetOutputNames(), QStringList{"Desk Out"});
    QCOMPARE(mRegistry->GetInputCount(), 4);
    QCOMPARE(mRegistry->GetInputName(3), QString("Link"));
    QCOMPARE(mRegistry->GetOutputName(2), QString());
}

void tst_SystemMIDIConfiguration::deviceBytesReachTheGuiThreadQueuedAndCoalesced()
{
    cFakeMIDIPort port;
    // Nobody listens yet: the chunk is dropped, as a driver callback without a reader would.
    port.DeliverFromForeignThread(QByteArray("\x90\x3c\x7f", 3));
    QCOMPARE(port.DroppedChunkCount(), 1);

    QList<QByteArray> reads;
    QList<QThread*> threads;
    connect(&port, &cMIDIInput::MIDIReadReady, this, [&] {
        threads << QThread::currentThread();
        QByteArray data("stale");
        port.Read(data);
        reads << data;
    });
    port.DeliverFromForeignThread(QList<QByteArray>{QByteArray("\x90\x3c", 2), QByteArray("\x7f\x80", 2)});
    // Queued: nothing has run before the event loop turns; then the first read takes both chunks.
    QVERIFY(reads.isEmpty());
    QTRY_COMPARE(reads.size(), 2);
    QCOMPARE(reads, (QList<QByteArray>{QByteArray("\x90\x3c\x7f\x80", 4), QByteArray()}));
    QCOMPARE(threads, (QList<QThread*>{QThread::currentThread(), QThread::currentThread()}));
}

void tst_SystemMIDIConfiguration::registryWithoutBackEndHasNoDevicesAndSaysWhyPortsAreDeaf()
{
    std::unique_ptr<cSystemMIDIConfiguration> registry(new cSystemMIDIConfigurationNone());
    QVERIFY(registry != nullptr);
    QCOMPARE(registry->GetInputCount(), 0);
    QCOMPARE(registry->GetOutputCount(), 0);
    QVERIFY(registry->GetInputNames().isEmpty());
    QVERIFY(registry->GetOutputNames().isEmpty());
    QCOMPARE(registry->GetInputName(0), QString());

    cLogCapture log;
    registry->CreateVirtualInputOutput("Quillon MIDI DAW");
    QCOMPARE(log.Messages(),
             QStringList{"No virtual MIDI back-end is built: virtual port \"Quillon MIDI DAW\" cannot reach a DAW"});
    cMIDIInput* input = registry->GetInput("Quillon MIDI DAW");
    QVERIFY(input != nullptr);
    QByteArray data("stale");
    input->Read(data);
    QVERIFY(data.isEmpty());
    registry->GetOutput("Quillon MIDI DAW")->Write(QByteArray("\x90\x3c\x7f", 3));
}

QTEST_GUILESS_MAIN(tst_SystemMIDIConfiguration)
#include "tst_SystemMIDIConfiguration.moc"
