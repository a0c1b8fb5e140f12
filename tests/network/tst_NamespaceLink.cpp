// End to end over a real network, with real broadcasts, kept off the machine's own network: two
// network namespaces made by this test and joined by a veth pair. The console simulator runs in
// one; in the other, this same executable started as a "link probe" finds it by broadcast and
// links to it on the console port. Needs root; in CI a missing namespace is a failure.

#include "network/TCPMIDIInptOutput.h"
#include "network/UnitFinder.h"
#include "tests/network/SimulatorProcess.h"
#include "tests/support/NetworkNamespaces.h"
#include "tests/support/RealComponent.h"
#include "tests/support/TestFile.h"

#include <QCoreApplication>
#include <QNetworkInterface>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QtTest>

#include <cstdio>

namespace
{
// A range reserved for network tests, used only inside the namespaces.
const QString kConsoleAddress = QStringLiteral("198.18.51.1");
const QString kProbeAddress = QStringLiteral("198.18.51.2");
const QString kConsoleName = QStringLiteral("Namespace Desk");
const QString kFindText = QStringLiteral("NY Find");

void Say(const QString& Line)
{
    std::printf("%s\n", qPrintable(Line));
    std::fflush(stdout);
}

// The finder and the link as the application uses them: default broadcast destination, default
// discovery and console ports. Prints what it sees, one line per event, and ends with "done" once
// the link went down after being up.
int RunLinkProbe(int TimeoutMs)
{
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces())
    {
        const bool loopback = interface.flags().testFlag(QNetworkInterface::IsLoopBack);
        if (!loopback && !interface.name().startsWith(cNetworkNamespaces::kInterfacePrefix))
        {
            Say(QStringLiteral("refused: interface %1 is not one of the test's own").arg(interface.name()));
            return 3;
        }
    }

    // Polls faster than the application so the test is quick; the destination is the default.
    cUnitFinder finder(kFindText, nullptr, QHostAddress(QHostAddress::Broadcast), cUnitFinder::kDiscoveryPort, 200);
    cTCPMIDIInptOutput link;
    bool linking = false;
    bool wasConnected = false;

    QObject::connect(&finder, &cUnitFinder::UnitFound, [&](const sUnit& Unit) {
        Say(QStringLiteral("found %1|%2|%3").arg(Unit.Address.toString(), Unit.Name, Unit.FindString));
        if (!linking && Unit.Name == kConsoleName)
        {
            linking = true;
            link.ConnectToHost(Unit.Address);
        }
    });
    QObject::connect(&link, &cTCPMIDIInptOutput::StateStringChanged, [&](const QString& State) {
        Say(QStringLiteral("state %1").arg(State));
        if (State == QLatin1String("Connected"))
        {
            wasConnected = true;
            Say(QStringLiteral("port %1").arg(link.GetConsolePort()));
            link.Write(QByteArray::fromHex("903c7f"));
            link.Write(QByteArray::fromHex("b00801"));
        }
        else if (State == QLatin1String("Not Connected") && wasConnected)
        {
            Say(QStringLiteral("done"));
            QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        }
    });
    QObject::connect(&link, &cMIDIInput::MIDIReadReady, [&] {
        QByteArray bytes;
        link.Read(bytes);
        if (!bytes.isEmpty())
            Say(QStringLiteral("midi %1").arg(QString::fromLatin1(bytes.toHex())));
    });
    QTimer::singleShot(TimeoutMs, [] {
        Say(QStringLiteral("timeout"));
        QCoreApplication::exit(1);
    });
    return QCoreApplication::exec();
}

} // namespace

class tst_NamespaceLink : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void findsAndLinksToAConsoleByBroadcast();
};

void tst_NamespaceLink::initTestCase()
{
    QString why;
    const bool available = cNetworkNamespaces::Available(&why);
    QUILLON_REQUIRE(available, why);
    QUILLON_REQUIRE(cSimulatorProcess::Available(),
                    QStringLiteral("the console simulator is not built at \"%1\"").arg(cSimulatorProcess::ProgramPath()));
}

void tst_NamespaceLink::findsAndLinksToAConsoleByBroadcast()
{
    // Made first, so removed last: after the processes inside are gone.
    cNetworkNamespaces namespaces;
    QString appInterface;
    const bool made = namespaces.Add("console") && namespaces.Add("app") &&
                      namespaces.Link("console", kConsoleAddress + "/24", "app", kProbeAddress + "/24", nullptr,
                                      &appInterface) &&
                      // The limited broadcast address needs a route to leave by; inside the
                      // namespace the only way out is the veth.
                      namespaces.Run("app", {"ip", "route", "add", "default", "dev", appInterface});
    QUILLON_REQUIRE(made, namespaces.Why());

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString script = WriteTestFile(dir.filePath("script.txt"), "b0 07 64\nf0 41 10 42 f7\n");
    QVERIFY(!script.isEmpty());

    cSimulatorProcess sim;
    QVERIFY2(sim.Start({"--address", "0.0.0.0", "--find", "KRT Find", "--find", kFindText, "--name", kConsoleName,
                        "--junk", "junk after the name", "--script", script, "--verbose"},
                       namespaces.Exec("console")),
             qPrintable(sim.Errors()));
    QVERIFY2(sim.TcpPort == cTCPMIDIInptOutput::kConsolePort, qPrintable(sim.Errors()));
    QVERIFY2(sim.UdpPort == cUnitFinder::kDiscoveryPort, qPrintable(sim.Errors()));

    QProcess probe;
    probe.setProcessChannelMode(QProcess::MergedChannels);
    QString probeOutput;
    connect(&probe, &QProcess::readyRead, this, [&] { probeOutput += QString::fromLocal8Bit(probe.readAll()); });
    namespaces.Start("app", probe, {QCoreApplication::applicationFilePath(), "--link-probe", "30000"});
    QVERIFY(probe.waitForStarted(10000));
    auto lines = [&] { return probeOutput.split('\n', Qt::SkipEmptyParts); };

    // Found by the broadcast query, under its name cut at the zero byte.
    QTRY_VERIFY2_WITH_TIMEOUT(lines().contains(QStringLiteral("found %1|%2|%3").arg(kConsoleAddress, kConsoleName, kFindText)),
                              qPrintable(probeOutput + sim.Errors()), 20000);
    QVERIFY2(sim.Errors().contains(QStringLiteral("answered query \"NY Find\" from %1").arg(kProbeAddress)),
             qPrintable(sim.Errors()));
    // Linked on the console port, and MIDI both ways.
    QTRY_VERIFY2_WITH_TIMEOUT(lines().contains("state Connected"), qPrintable(probeOutput), 20000);
    QVERIFY(lines().contains(QStringLiteral("port %1").arg(cTCPMIDIInptOutput::kConsolePort)));
    QTRY_VERIFY2_WITH_TIMEOUT(lines().filter(QRegularExpression("^midi ")).join(QString()).remove("midi ") ==
                                  QString("b00764f0411042f7"),
                              qPrintable(probeOutput), 20000);
    QTRY_COMPARE_WITH_TIMEOUT(sim.OutputLines(), QStringList({"90 3c 7f", "b0 08 01"}), 20000);

    // The console goes away hard: the link says so.
    sim.Kill();
    QTRY_VERIFY2_WITH_TIMEOUT(lines().contains("done"), qPrintable(probeOutput), 20000);
    if (probe.state() != QProcess::NotRunning)
        QVERIFY(probe.waitForFinished(10000));
    QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
    QCOMPARE(probe.exitCode(), 0);
    const QStringList states = lines().filter(QRegularExpression("^state "));
    QCOMPARE(states.last(), QString("state Not Connected"));
    QVERIFY(states.indexOf("state Connected") < states.lastIndexOf("state Not Connected"));
    QVERIFY(!lines().contains("timeout"));
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc >= 2 && qstrcmp(argv[1], "--link-probe") == 0)
        return RunLinkProbe(argc >= 3 ? QByteArray(argv[2]).toInt() : 30000);
    tst_NamespaceLink test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_NamespaceLink.moc"
