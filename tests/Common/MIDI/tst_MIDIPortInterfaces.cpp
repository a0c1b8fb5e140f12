#include "Common/MIDI/MIDIInputOutput.h"

#include <QSignalSpy>
#include <QtTest>

namespace
{
int gDestroyed = 0;

// The smallest port that sends and receives: Write loops back into the receive buffer.
class cLoopbackPort : public cMIDIInputOutput
{
public:
    ~cLoopbackPort() override { ++gDestroyed; }

    void Read(QByteArray& Data) override
    {
        Data = mReceived;
        mReceived.clear();
    }
    void Write(const QByteArray& Data) override
    {
        mReceived += Data;
        emit MIDIReadReady();
    }

private:
    QByteArray mReceived;
};
} // namespace

class tst_MIDIPortInterfaces : public QObject
{
    Q_OBJECT

private slots:
    void init() { gDestroyed = 0; }
    void reachesTheWholePortThroughEitherBase();
    void signalIsConnectableByNameOnEveryPort();
};

void tst_MIDIPortInterfaces::reachesTheWholePortThroughEitherBase()
{
    cMIDIOutput* output = new cLoopbackPort;
    delete output;
    QCOMPARE(gDestroyed, 1);

    cMIDIInput* input = new cLoopbackPort;
    QPointer<QObject> watch(input);
    delete input;
    QCOMPARE(gDestroyed, 2);
    QVERIFY(watch.isNull());

    // Back from the output pointer to the same object, as the registry does for ports of both kinds.
    cLoopbackPort port;
    output = &port;
    QCOMPARE(dynamic_cast<cMIDIInput*>(output), static_cast<cMIDIInput*>(&port));
}

void tst_MIDIPortInterfaces::signalIsConnectableByNameOnEveryPort()
{
    cLoopbackPort port;
    QCOMPARE(port.metaObject()->className(), "cMIDIInput");
    QSignalSpy spy(&port, SIGNAL(MIDIReadReady()));
    QVERIFY(spy.isValid());
    cMIDIOutput* output = &port;
    output->Write(QByteArray::fromHex("9040"));
    output->Write(QByteArray::fromHex("7f"));
    QCOMPARE(spy.count(), 2);
}

QTEST_GUILESS_MAIN(tst_MIDIPortInterfaces)
#include "tst_MIDIPortInterfaces.moc"
