// A console that is switched off without closing the connection: the link must notice within
// seconds, not hours. The timings are read back from a loopback connection; the effect is shown
// end to end by cutting the wire between two network namespaces that this test makes (named with
// its pid) and removes: the simulator runs in one, and the test's own thread enters the other
// while its link is made. Needs root; in CI a missing namespace is a failure.

#include "network/TCPMIDIInptOutput.h"
#include "tests/network/SimulatorProcess.h"
#include "tests/support/NetworkNamespaces.h"
#include "tests/support/RealComponent.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{
const QString kConsoleAddress = QStringLiteral("198.18.52.1");
const QString kLinkAddress = QStringLiteral("198.18.52.2");

int SocketOption(qintptr Descriptor, int Level, int Option)
{
    int value = -1;
    socklen_t size = sizeof value;
    if (::getsockopt(int(Descriptor), Level, Option, &value, &size) != 0)
        return -1;
    return value;
}
} // namespace

class tst_LinkKeepAlive : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void probesAnIdleLinkWithShortTimings_data();
    void probesAnIdleLinkWithShortTimings();
    void aCutWireEndsTheLinkWithinSeconds();

private:
    // The test thread's own network namespace while it is inside another one.
    int mHome = -1;
};

void tst_LinkKeepAlive::cleanup()
{
    if (mHome >= 0)
    {
        QVERIFY(::setns(mHome, CLONE_NEWNET) == 0);
        ::close(mHome);
        mHome = -1;
    }
}

void tst_LinkKeepAlive::probesAnIdleLinkWithShortTimings_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<int>("option");
    QTest::addColumn<int>("expected");
    QTest::newRow("keep-alive on") << int(SOL_SOCKET) << int(SO_KEEPALIVE) << 1;
    QTest::newRow("first probe after 5 s idle") << int(IPPROTO_TCP) << int(TCP_KEEPIDLE) << 5;
    QTest::newRow("then one probe a second") << int(IPPROTO_TCP) << int(TCP_KEEPINTVL) << 1;
    QTest::newRow("given up after 5 probes") << int(IPPROTO_TCP) << int(TCP_KEEPCNT) << 5;
    QTest::newRow("unacknowledged bytes given up after 10 s") << int(IPPROTO_TCP) << int(TCP_USER_TIMEOUT) << 10000;
}

void tst_LinkKeepAlive::probesAnIdleLinkWithShortTimings()
{
    QFETCH(int, level);
    QFETCH(int, option);
    QFETCH(int, expected);
    QTcpServer console;
    QVERIFY(console.listen(QHostAddress(QHostAddress::LocalHost), 0));
    cTCPMIDIInptOutput link(nullptr, console.serverPort());
    link.ConnectToHost(QHostAddress(QHostAddress::LocalHost));
    QTRY_VERIFY(link.IsConnected());
    auto* socket = link.findChild<QTcpSocket*>();
    QVERIFY(socket);
    QCOMPARE(SocketOption(socket->socketDescriptor(), level, option), expected);
}

void tst_LinkKeepAlive::aCutWireEndsTheLinkWithinSeconds()
{
    QString why;
    if (!cNetworkNamespaces::Available(&why))
        why = QStringLiteral("network namespaces cannot be made: %1").arg(why);
    else if (!cSimulatorProcess::Available())
        why = QStringLiteral("the console simulator is not built at %1").arg(cSimulatorProcess::ProgramPath());
    QUILLON_REQUIRE(why.isEmpty(), why);
    cNetworkNamespaces namespaces;
    QString consoleEnd;
    QVERIFY2(namespaces.Add("console") && namespaces.Add("link") &&
                 namespaces.Link("console", kConsoleAddress + "/24", "link", kLinkAddress + "/24", &consoleEnd),
             qPrintable(namespaces.Why()));

    cSimulatorProcess sim;
    QVERIFY2(sim.Start({"--address", kConsoleAddress, "--port", "0", "--no-discovery"}, namespaces.Exec("console")),
             qPrintable(sim.Errors()));

    // Sockets belong to the namespace of the thread that makes them: the link's is made in there.
    mHome = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    QVERIFY(mHome >= 0);
    const int inside = ::open(qPrintable("/run/netns/" + namespaces.Name("link")), O_RDONLY | O_CLOEXEC);
    QVERIFY(inside >= 0);
    const bool entered = ::setns(inside, CLONE_NEWNET) == 0;
    ::close(inside);
    QVERIFY(entered);

    // Made before the link, whose destructor still reports "Not Connected" into it.
    QStringList states;
    cTCPMIDIInptOutput link(nullptr, sim.TcpPort);
    connect(&link, &cTCPMIDIInptOutput::StateStringChanged, this, [&](const QString& State) { states.append(State); });
    link.ConnectToHost(QHostAddress(kConsoleAddress));
    QTRY_VERIFY_WITH_TIMEOUT(link.IsConnected(), 10000);
    link.Write(QByteArray::fromHex("903c7f"));
    QTRY_COMPARE(sim.OutputLines(), QStringList{"90 3c 7f"});

    // Idle past the first probe: a console that answers its probes stays linked.
    QTest::qWait((cTCPMIDIInptOutput::kKeepAliveIdleS + 2) * 1000);
    QVERIFY(link.IsConnected());

    // The wire is cut: nothing more comes back, not even a reset.
    QVERIFY2(namespaces.Run("console", {"ip", "link", "set", consoleEnd, "down"}), qPrintable(namespaces.Why()));
    QElapsedTimer took;
    took.start();
    QTRY_COMPARE_WITH_TIMEOUT(states.last(), QString("Not Connected"), 60000);
    qInfo("the cut link said \"Not Connected\" after %lld ms", took.elapsed());
    QVERIFY(!link.IsConnected());
}

QTEST_GUILESS_MAIN(tst_LinkKeepAlive)
#include "tst_LinkKeepAlive.moc"
