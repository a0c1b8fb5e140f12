#include "tests/support/FakeSystemMIDIConfiguration.h"

#include <QSignalSpy>
#include <QThread>
#include <QtTest>

// The in-memory back-end must behave like a real one, or the engine's tests prove nothing: devices
// announce themselves, bytes arrive on a foreign thread and reach the GUI thread queued.
class tst_FakeSystemMIDIConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void plugAndUnplugAnnounceTheDevice();
    void pickableNamesLeaveOutOurOwnPorts();
    void devicesAreListedInPlugOrder();
    void bytesWithoutAListenerAreDropped();
    void twoChunksBeforeTheSlotRunsAreReadTogether();
    void foreignThreadDeliveryReachesTheGuiThreadQueued();
    void readOnAQuietPortIsEmpty();
    void deletingThroughEitherBaseDestroysThePort();
};

void tst_FakeSystemMIDIConfiguration::plugAndUnplugAnnounceTheDevice()
{
    cFakeSystemMIDIConfiguration registry;
    QSignalSpy inputAdded(&registry, &cSystemMIDIConfiguration::InputAddedSignal);
    QSignalSpy inputRemoved(&registry, &cSystemMIDIConfiguration::InputRemovedSignal);
    QSignalSpy outputAdded(&registry, &cSystemMIDIConfiguration::OutputAddedSignal);
    QSignalSpy outputRemoved(&registry, &cSystemMIDIConfiguration::OutputRemovedSignal);

    cFakeMIDIPort* input = registry.PlugInput("Desk In");
    QCOMPARE(registry.GetInput("Desk In"), static_cast<cMIDIInput*>(input));
    QCOMPARE(registry.GetOutput("Desk In"), nullptr);
    QCOMPARE(inputAdded.count(), 1);
    QCOMPARE(inputAdded.at(0).at(0).toString(), QString("Desk In"));
    QCOMPARE(registry.PlugInput("Desk In"), input);
    QCOMPARE(inputAdded.count(), 1);

    registry.PlugOutput("Desk Out");
    QCOMPARE(outputAdded.count(), 1);
    QVERIFY(registry.GetOutput("Desk Out") != nullptr);

    registry.UnplugInput("Desk In");
    registry.UnplugOutput("Desk Out");
    registry.UnplugOutput("Desk Out");
    QCOMPARE(inputRemoved.count(), 1);
    QCOMPARE(outputRemoved.count(), 1);
    QCOMPARE(registry.GetInput("Desk In"), nullptr);
    QCOMPARE(registry.GetOutput("Desk Out"), nullptr);
}

void tst_FakeSystemMIDIConfiguration::pickableNamesLeaveOutOurOwnPorts()
{
    cFakeSystemMIDIConfiguration registry;
    cFakeMIDIPort link;
    registry.PlugInput("Desk In");
    registry.PlugInput("Quillon MIDI Mackie");
    registry.PlugInput("DAW Port");
    registry.PlugInput("Link");
    registry.PlugOutput("Desk Out");
    registry.PlugOutput("Loop Quillon MIDI 2");
    registry.CreateVirtualInputOutput("DAW Port");
    registry.AddInputOutput("Link", &link);

    QCOMPARE(registry.GetInputNames(), QStringList{"Desk In"});
    QCOMPARE(registry.GetOutputNames(), QStringList{"Desk Out"});
    QCOMPARE(registry.GetInputCount(), 4);
    QCOMPARE(registry.GetOutputCount(), 2);
}

void tst_FakeSystemMIDIConfiguration::devicesAreListedInPlugOrder()
{
    cFakeSystemMIDIConfiguration registry;
    registry.PlugInput("B");
    registry.PlugInput("A");
    registry.PlugInput("C");
    registry.UnplugInput("A");
    QCOMPARE(registry.GetInputName(0), QString("B"));
    QCOMPARE(registry.GetInputName(1), QString("C"));
    QCOMPARE(registry.GetInputName(2), QString());
    QCOMPARE(registry.GetInputName(-1), QString());
}

void tst_FakeSystemMIDIConfiguration::bytesWithoutAListenerAreDropped()
{
    cFakeMIDIPort port;
    port.DeliverFromForeignThread(QByteArray("\x90\x3c\x7f", 3));
    QByteArray data;
    port.Read(data);
    QVERIFY(data.isEmpty());
    QCOMPARE(port.DroppedChunkCount(), 1);
}

void tst_FakeSystemMIDIConfiguration::twoChunksBeforeTheSlotRunsAreReadTogether()
{
    cFakeMIDIPort port;
    QList<QByteArray> reads;
    connect(&port, &cMIDIInput::MIDIReadReady, this, [&] {
        QByteArray data;
        port.Read(data);
        reads << data;
    });
    port.DeliverFromForeignThread(QList<QByteArray>{QByteArray("\x90\x3c", 2), QByteArray("\x7f\x80", 2)});
    QTRY_COMPARE(reads.size(), 2);
    QCOMPARE(reads.at(0), QByteArray("\x90\x3c\x7f\x80", 4));
    QCOMPARE(reads.at(1), QByteArray());
}

void tst_FakeSystemMIDIConfiguration::foreignThreadDeliveryReachesTheGuiThreadQueued()
{
    cFakeMIDIPort port;
    QThread* slotThread = nullptr;
    int calls = 0;
    connect(&port, &cMIDIInput::MIDIReadReady, this, [&] {
        slotThread = QThread::currentThread();
        ++calls;
    });
    port.DeliverFromForeignThread(QByteArray(1, '\xf8'));
    // Queued: nothing has run before the event loop turns.
    QCOMPARE(calls, 0);
    QTRY_COMPARE(calls, 1);
    QCOMPARE(slotThread, QThread::currentThread());
}

void tst_FakeSystemMIDIConfiguration::readOnAQuietPortIsEmpty()
{
    cFakeMIDIPort port;
    QByteArray data("old");
    port.Read(data);
    QVERIFY(data.isEmpty());
    port.Read(data);
    QVERIFY(data.isEmpty());
}

void tst_FakeSystemMIDIConfiguration::deletingThroughEitherBaseDestroysThePort()
{
    QObject owner;
    QPointer<cFakeMIDIPort> first = new cFakeMIDIPort;
    QPointer<cFakeMIDIPort> second = new cFakeMIDIPort;
    cMIDIOutput* output = first.data();
    cMIDIInput* input = second.data();
    delete output;
    delete input;
    QVERIFY(first.isNull());
    QVERIFY(second.isNull());
}

QTEST_GUILESS_MAIN(tst_FakeSystemMIDIConfiguration)
#include "tst_FakeSystemMIDIConfiguration.moc"
