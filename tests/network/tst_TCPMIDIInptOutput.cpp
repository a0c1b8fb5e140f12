// The console link on loopback: bytes both ways whole and in bounded pieces, with short keep-alive
// timings on every connection (a console of the test's own); and, behind the engine, a console
// simulator that resets or closes the link in the middle of a message: each new connection
// restarts the stream, so the cut message is never completed by the next connection's bytes.

#include "network/TCPMIDIInptOutput.h"
#include "tests/network/LinkEngine.h"
#include "tests/network/SimulatorProcess.h"
#include "tests/support/RealComponent.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

namespace
{
int SocketOption(const QTcpSocket* Socket, int Level, int Option)
{
    int value = -1;
    socklen_t size = sizeof value;
    return ::getsockopt(int(Socket->socketDescriptor()), Level, Option, &value, &size) == 0 ? value : -1;
}
} // namespace

class tst_TCPMIDIInptOutput : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(mServer.listen(QHostAddress::LocalHost, 0)); }
    void carriesBytesBothWays_data();
    void carriesBytesBothWays();
    void consoleGoingAwayMidMessageThenReconnecting_data();
    void consoleGoingAwayMidMessageThenReconnecting();

private:
    // The console's end of the link's next connection; waiting runs the event loop meanwhile.
    QTcpSocket* Accept()
    {
        return QTest::qWaitFor([this] { return mServer.hasPendingConnections(); }, 10000) ? mServer.nextPendingConnection()
                                                                                           : nullptr;
    }
    QTcpServer mServer;
};

void tst_TCPMIDIInptOutput::carriesBytesBothWays_data()
{
    QByteArray everyValue;
    for (int value = 0; value < 256; ++value)
        everyValue.append(char(value));
    QTest::addColumn<QByteArray>("toConsole");
    QTest::addColumn<QByteArray>("fromConsole");
    QTest::newRow("every byte value, unframed") << everyValue << everyValue;
    // Nothing follows: every byte must come through without later traffic to wake the link.
    QTest::newRow("200 kB burst, then silence") << QByteArray() << everyValue.repeated(800);
    QTest::newRow("one byte past a piece, then silence") << QByteArray() << everyValue.repeated(4) + 'x';
}

void tst_TCPMIDIInptOutput::carriesBytesBothWays()
{
    QFETCH(QByteArray, toConsole);
    QFETCH(QByteArray, fromConsole);
    cTCPMIDIInptOutput link(nullptr, mServer.serverPort());
    QByteArray received;
    bool piecesBounded = true;
    connect(&link, &cMIDIInput::MIDIReadReady, this, [&] {
        QByteArray piece;
        link.Read(piece);
        piecesBounded = piecesBounded && piece.size() <= cTCPMIDIInptOutput::kLargestRead;
        received += piece;
    });
    link.ConnectToHost(QHostAddress::LocalHost);
    // Written while connecting: sent once connected.
    link.Write(toConsole);
    QScopedPointer<QTcpSocket> console(Accept());
    QVERIFY(console);
    QTRY_VERIFY(link.IsConnected());

    // A console that goes away unannounced is given up within seconds, not the system's hours.
    auto* socket = link.findChild<QTcpSocket*>();
    QVERIFY(socket);
    QCOMPARE(QList<int>({SocketOption(socket, SOL_SOCKET, SO_KEEPALIVE), SocketOption(socket, IPPROTO_TCP, TCP_KEEPIDLE),
                         SocketOption(socket, IPPROTO_TCP, TCP_KEEPINTVL), SocketOption(socket, IPPROTO_TCP, TCP_KEEPCNT),
                         SocketOption(socket, IPPROTO_TCP, TCP_USER_TIMEOUT)}),
             QList<int>({1, cTCPMIDIInptOutput::kKeepAliveIdleS, cTCPMIDIInptOutput::kKeepAliveIntervalS,
                         cTCPMIDIInptOutput::kKeepAliveProbes, 10000}));

    console->write(fromConsole);
    QByteArray atConsole;
    QTRY_COMPARE((atConsole += console->readAll(), atConsole.size()), toConsole.size());
    QCOMPARE(atConsole, toConsole);
    QTRY_COMPARE_WITH_TIMEOUT(received.size(), fromConsole.size(), 20000);
    QCOMPARE(received, fromConsole);
    QVERIFY(piecesBounded);
}

void tst_TCPMIDIInptOutput::consoleGoingAwayMidMessageThenReconnecting_data()
{
    QTest::addColumn<QStringList>("fault");
    QTest::addColumn<QByteArray>("script");
    // Each connection starts with what would complete the message the last one left: a fresh
    // connection has no message under way, so those bytes are stray and dropped.
    QTest::newRow("reset between the data bytes") << QStringList{"--reset-after", "6"} << QByteArray("20\nb0 07 10\nb0 07\n");
    QTest::newRow("orderly close after a whole message, next starts under its running status")
        << QStringList{"--close-after", "5"} << QByteArray("07 20\nb0 07 10\n");
}

void tst_TCPMIDIInptOutput::consoleGoingAwayMidMessageThenReconnecting()
{
    QFETCH(QStringList, fault);
    QFETCH(QByteArray, script);
    QUILLON_REQUIRE(cSimulatorProcess::Available(), QStringLiteral("the console simulator is not built"));
    QTemporaryDir dir;
    cSimulatorProcess sim;
    QVERIFY2(sim.Start(QStringList{"--address", "127.0.0.1", "--port", "0", "--no-discovery", "--script",
                                   WriteTestFile(dir.filePath("script.txt"), script)} + fault),
             qPrintable(sim.Errors()));
    sLinkEngine engine(sim.TcpPort);
    QList<QByteArray> expected;
    for (int connection = 1; connection <= 3; ++connection)
    {
        engine.States.clear();
        engine.Link.ConnectToHost(QHostAddress(QHostAddress::LocalHost));
        QTRY_VERIFY2(engine.States.contains("Connected"), qPrintable(engine.States.join('|') + sim.Errors()));
        QTRY_COMPARE(engine.States.last(), QString("Not Connected"));
        QVERIFY(!engine.Link.IsConnected());
        // Each connection's first whole message is translated; the cut one is never completed.
        expected.append(QByteArray::fromHex("e00010"));
        QTRY_COMPARE(engine.Daw()->Writes(), expected);
    }
}

QTEST_GUILESS_MAIN(tst_TCPMIDIInptOutput)
#include "tst_TCPMIDIInptOutput.moc"
