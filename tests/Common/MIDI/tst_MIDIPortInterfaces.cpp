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
    void deletesTheWholePortThroughEitherBase();
    void outputBaseIsASeparateSubobject();
    void signalIsConnectableByNameOnEveryPort();
};

void tst_MIDIPortInterfaces::deletesTheWholePortThroughEitherBase()
{
    cMIDIOutput* output = new cLoopbackPort;
    delete output;
    QCOMPARE(gDestroyed, 1);

    cMIDIInput* input = new cLoopbackPort;
    QPointer<QObject> watch(input);
    delete input;
    QCOMPARE(gDestroyed, 2);
    QVERIFY(watch.isNull());
}

void tst_MIDIPortInterfaces::outputBaseIsASeparateSubobject()
{
    cLoopbackPort port;
    cMIDIInput* input = &port;
    cMIDIOutput* output = &port;
    QCOMPARE(static_cast<void*>(input), static_cast<void*>(&port));
    QVERIFY(static_cast<void*>(output) != static_cast<void*>(input));
    // Back from the output pointer to the same object, as the registry does for ports of both kinds.
    QCOMPARE(dynamic_cast<cMIDIInput*>(output), input);
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
