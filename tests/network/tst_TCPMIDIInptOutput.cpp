#include "network/TCPMIDIInptOutput.h"
#include "tests/network/LinkReader.h"
#include "tests/support/LogCapture.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <sys/socket.h>

namespace
{
QStringList Texts(const QSignalSpy& Spy)
{
    QStringList texts;
    for (const QList<QVariant>& arguments : Spy)
        texts.append(arguments.value(0).toString());
    return texts;
}

QByteArray AllByteValues()
{
    QByteArray bytes;
    for (int value = 0; value < 256; ++value)
        bytes.append(char(value));
    return bytes;
}

QByteArray Pattern(int Size)
{
    QByteArray bytes(Size, '\0');
    for (int i = 0; i < Size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xFF);
    return bytes;
}
} // namespace

class tst_TCPMIDIInptOutput : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void signalsNotConnectedBeforeConnectingOnAReconnect();
    void idleLinkSignalsOnDisconnectAndDropsWrites();
    void writeWhileConnectingIsSentOnceConnected();
    void carriesBytesBothWays_data();
    void carriesBytesBothWays();
    void deliversALoneBurstWhole_data();
    void deliversALoneBurstWhole();
    void keepsBytesAndSignalsWhenThePeerGoes_data();
    void keepsBytesAndSignalsWhenThePeerGoes();
    void signalsNotConnectedWhenNobodyListens();
    void survivesADisconnectFromItsOwnListener();
    void reconnectsFromAStateListener();
    void destructionSignalsNotConnected();

private:
    // Accepts the link's connection on the test's server.
    QTcpSocket* Accept();
    // Connects Link to the test's server and returns the server's end once the link is up.
    QTcpSocket* Connect(cTCPMIDIInptOutput& Link);

    QTcpServer* mServer = nullptr;
};

void tst_TCPMIDIInptOutput::init()
{
    mServer = new QTcpServer(this);
    QVERIFY(mServer->listen(QHostAddress::LocalHost, 0));
}

void tst_TCPMIDIInptOutput::cleanup()
{
    delete mServer;
    mServer = nullptr;
}

QTcpSocket* tst_TCPMIDIInptOutput::Accept()
{
    // Waiting runs the event loop, so the link goes on handling its own socket meanwhile.
    return QTest::qWaitFor([this] { return mServer->hasPendingConnections(); }, 10000) ? mServer->nextPendingConnection()
                                                                                         : nullptr;
}

QTcpSocket* tst_TCPMIDIInptOutput::Connect(cTCPMIDIInptOutput& Link)
{
    Link.ConnectToHost(QHostAddress::LocalHost);
    QTcpSocket* peer = Accept();
    return peer && QTest::qWaitFor([&] { return Link.IsConnected(); }, 10000) ? peer : nullptr;
}

void tst_TCPMIDIInptOutput::signalsNotConnectedBeforeConnectingOnAReconnect()
{
    cTCPMIDIInptOutput link(nullptr, mServer->serverPort());
    QSignalSpy spy(&link, &cTCPMIDIInptOutput::StateStringChanged);
    QScopedPointer<QTcpSocket> first(Connect(link));
    QVERIFY(first);
    QCOMPARE(link.GetAddress(), QHostAddress(QHostAddress::LocalHost));
    QCOMPARE(Texts(spy).value(0), QString("Not Connected"));

    spy.clear();
    QScopedPointer<QTcpSocket> second(Connect(link));
    QVERIFY(second);
    QTRY_COMPARE(Texts(spy).value(spy.count() - 1), QString("Connected"));
    const QStringList texts = Texts(spy);
    const int connecting = texts.indexOf("Connecting...");
    QVERIFY2(connecting > 0, qPrintable(texts.join(", ")));
    // The old connection is closed, and said so, before the new one starts.
    QVERIFY2(texts.mid(0, connecting).contains("Not Connected"), qPrintable(texts.join(", ")));
    QVERIFY2(!texts.mid(0, connecting).contains("Connected"), qPrintable(texts.join(", ")));
    QCOMPARE(texts.mid(connecting), QStringList({"Connecting...", "Connected"}));
    QTRY_COMPARE(first->state(), QAbstractSocket::UnconnectedState);
}

void tst_TCPMIDIInptOutput::idleLinkSignalsOnDisconnectAndDropsWrites()
{
    cLogCapture log;
    cTCPMIDIInptOutput link(nullptr, mServer->serverPort());
    QSignalSpy states(&link, &cTCPMIDIInptOutput::StateStringChanged);
    QCOMPARE(link.GetStateString(), QString("Not Connected"));
    // A state outside the known ones never reads past the texts.
    QVERIFY(cTCPMIDIInptOutput::StateText(7).isEmpty() && cTCPMIDIInptOutput::StateText(-1).isEmpty());
    link.Write(QByteArray::fromHex("903c7f"));
    link.Disconnect();
    link.Write(QByteArray::fromHex("903c00"));
    QCOMPARE(Texts(states), QStringList{"Not Connected"});
    QVERIFY(!link.IsConnected());
    QByteArray data("left over");
    link.Read(data);
    QVERIFY(data.isEmpty());
    QVERIFY(log.Lines().isEmpty());
    QVERIFY(!mServer->hasPendingConnections());
}

void tst_TCPMIDIInptOutput::writeWhileConnectingIsSentOnceConnected()
{
    cTCPMIDIInptOutput link(nullptr, mServer->serverPort());
    link.ConnectToHost(QHostAddress::LocalHost);
    link.Write(QByteArray::fromHex("f07e7f0601f7"));
    QScopedPointer<QTcpSocket> peer(Accept());
    QVERIFY(peer);
    QByteArray received;
    QTRY_COMPARE((received += peer->readAll(), received), QByteArray::fromHex("f07e7f0601f7"));
}

void tst_TCPMIDIInptOutput::carriesBytesBothWays_data()
{
    QTest::addColumn<QByteArray>("toConsole");
    QTest::addColumn<QByteArray>("fromConsole");
    QTest::newRow("one control change each way") << QByteArray::fromHex("b00764") << QByteArray::fromHex("b00765");
    QTest::newRow("every byte value, unframed") << AllByteValues() << AllByteValues();
    QTest::newRow("long exclusive message")
        << (QByteArray(1, char(0xF0)) + QByteArray(20000, 0x11) + QByteArray(1, char(0xF7)))
        << (QByteArray(1, char(0xF0)) + QByteArray(9000, 0x22) + QByteArray(1, char(0xF7)));
}

void tst_TCPMIDIInptOutput::carriesBytesBothWays()
{
    QFETCH(QByteArray, toConsole);
    QFETCH(QByteArray, fromConsole);
    cTCPMIDIInptOutput link(nullptr, mServer->serverPort());
    cLinkReader reader(link);
    QScopedPointer<QTcpSocket> peer(Connect(link));
    QVERIFY(peer);

    link.Write(toConsole);
    peer->write(fromConsole);
    QByteArray atConsole;
    QTRY_COMPARE((atConsole += peer->readAll(), atConsole.size()), toConsole.size());
    QCOMPARE(atConsole, toConsole);
    QTRY_COMPARE(reader.Received.size(), fromConsole.size());
    QCOMPARE(reader.Received, fromConsole);
    for (int piece : qAsConst(reader.Pieces))
        QVERIFY(piece <= cTCPMIDIInptOutput::kLargestRead);
}

void tst_TCPMIDIInptOutput::deliversALoneBurstWhole_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("3000 bytes, then silence") << 3000;
    QTest::newRow("one byte past a piece") << 1025;
    QTest::newRow("200 kB, then silence") << 200000;
}

void tst_TCPMIDIInptOutput::deliversALoneBurstWhole()
{
    QFETCH(int, size);
    cTCPMIDIInptOutput link(nullptr, mServer->serverPort());
    QSignalSpy ready(&link, &cMIDIInput::MIDIReadReady);
    link.ConnectToHost(QHostAddress::LocalHost);
    QScopedPointer<QTcpSocket> peer(Accept());
    QVERIFY(peer);

    const QByteArray burst = Pattern(size);
    peer->write(burst);
    peer->flush();
    // Nothing else is sent: every byte must come through without later traffic to wake the link.
    QByteArray received;
    QTRY_COMPARE_WITH_TIMEOUT((received += [&] {
                                  QByteArray piece;
                                  link.Read(piece);
                                  return piece;
                              }(),
                               received.size()),
                              size, 20000);
    QCOMPARE(received, burst);
    QVERIFY(ready.count() >= (size + cTCPMIDIInptOutput::kLargestRead - 1) / cTCPMIDIInptOutput::kLargestRead);
    QCOMPARE(peer->state(), QAbstractSocket::ConnectedState);
}

void tst_TCPMIDIInptOutput::keepsBytesAndSignalsWhenThePeerGoes_data()
{
    QTest::addColumn<bool>("reset");
    QTest::newRow("orderly close right behind the bytes") << false;
    QTest::newRow("reset once the bytes arrived") << true;
}

void tst_TCPMIDIInptOutput::keepsBytesAndSignalsWhenThePeerGoes()
{
    QFETCH(bool, reset);
    cTCPMIDIInptOutput link(nullptr, mServer->serverPort());
    QSignalSpy ready(&link, &cMIDIInput::MIDIReadReady);
    QSignalSpy states(&link, &cTCPMIDIInptOutput::StateStringChanged);
    QScopedPointer<QTcpSocket> peer(Connect(link));
    QVERIFY(peer);

    peer->write(QByteArray::fromHex("b00764b00800"));
    if (reset)
    {
        QTRY_VERIFY(ready.count() > 0);
        // A zero linger time turns the close into a reset.
        struct linger hard = {1, 0};
        QCOMPARE(::setsockopt(int(peer->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
        peer->abort();
    }
    else
    {
        peer->disconnectFromHost();
    }
    QTRY_COMPARE(Texts(states).last(), QString("Not Connected"));
    QVERIFY(!link.IsConnected());
    // What came before the end is still there to read.
    QByteArray data;
    link.Read(data);
    QCOMPARE(data, QByteArray::fromHex("b00764b00800"));
    // No retry of its own: the link stays down until the owner connects again.
    QTest::qWait(50);
    QVERIFY(!mServer->hasPendingConnections());
    link.Write(QByteArray::fromHex("903c7f"));
    link.Disconnect();
    QCOMPARE(Texts(states).last(), QString("Not Connected"));
}

void tst_TCPMIDIInptOutput::signalsNotConnectedWhenNobodyListens()
{
    const quint16 port = mServer->serverPort();
    mServer->close();
    cTCPMIDIInptOutput link(nullptr, port);
    QSignalSpy states(&link, &cTCPMIDIInptOutput::StateStringChanged);
    link.ConnectToHost(QHostAddress::LocalHost);
    QTRY_COMPARE(Texts(states).value(states.count() - 1), QString("Not Connected"));
    QStringList texts = Texts(states);
    QVERIFY2(texts.contains("Connecting..."), qPrintable(texts.join(", ")));
    QVERIFY(!texts.contains("Connected"));
}

void tst_TCPMIDIInptOutput::survivesADisconnectFromItsOwnListener()
{
    cTCPMIDIInptOutput link(nullptr, mServer->serverPort());
    int announced = 0;
    connect(&link, &cMIDIInput::MIDIReadReady, this, [&] {
        ++announced;
        link.Disconnect();
    });
    link.ConnectToHost(QHostAddress::LocalHost);
    QScopedPointer<QTcpSocket> peer(Accept());
    QVERIFY(peer);
    peer->write(Pattern(5000));
    QTRY_COMPARE(announced, 1);
    QCOMPARE(link.GetStateString(), QString("Not Connected"));
    QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
    // The socket's deferred deletion has run and nothing else arrives.
    QTest::qWait(20);
    QCOMPARE(announced, 1);
    QVERIFY(link.findChildren<QTcpSocket*>().isEmpty());
    // Disconnect emptied the receive buffer.
    QByteArray data;
    link.Read(data);
    QVERIFY(data.isEmpty());
}

void tst_TCPMIDIInptOutput::reconnectsFromAStateListener()
{
    cTCPMIDIInptOutput link(nullptr, mServer->serverPort());
    bool reconnectOnce = false;
    connect(&link, &cTCPMIDIInptOutput::StateStringChanged, this, [&](const QString& State) {
        if (reconnectOnce && State == "Not Connected")
        {
            reconnectOnce = false;
            link.ConnectToHost(QHostAddress::LocalHost);
        }
    });
    QScopedPointer<QTcpSocket> first(Connect(link));
    QVERIFY(first);

    reconnectOnce = true;
    first->disconnectFromHost();
    QScopedPointer<QTcpSocket> second(Accept());
    QVERIFY(second);
    QTRY_VERIFY(link.IsConnected());
    link.Write(QByteArray::fromHex("b00764"));
    QByteArray received;
    QTRY_COMPARE((received += second->readAll(), received), QByteArray::fromHex("b00764"));
    QTRY_COMPARE(link.findChildren<QTcpSocket*>().size(), 1);
}

void tst_TCPMIDIInptOutput::destructionSignalsNotConnected()
{
    QPointer<cTCPMIDIInptOutput> link = new cTCPMIDIInptOutput(nullptr, mServer->serverPort());
    QStringList texts;
    connect(link.data(), &cTCPMIDIInptOutput::StateStringChanged, this,
            [&](const QString& State) { texts.append(State); });
    QScopedPointer<QTcpSocket> peer(Connect(*link));
    QVERIFY(peer);
    texts.clear();
    delete link.data();
    QCOMPARE(texts.value(texts.size() - 1), QString("Not Connected"));
    QTRY_COMPARE(peer->state(), QAbstractSocket::UnconnectedState);
}

QTEST_GUILESS_MAIN(tst_TCPMIDIInptOutput)
#include "tst_TCPMIDIInptOutput.moc"
