// A KRT-8 console and a Mackie Control DAW end to end over a real network that this test makes and
// removes: two network namespaces joined by a veth pair. The console simulator in KRT mode runs in
// one; in the other this executable, started as the "bridge", finds it by broadcast, links to it,
// and runs the shipped KRT-8 Mackie Control map through the real configuration, with the DAW's
// port from the fake registry. Needs root; in CI a missing namespace is a failure.

#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "network/TCPMIDIInptOutput.h"
#include "network/UnitFinder.h"
#include "tests/support/RealComponent.h"
#include "tests/network/SimulatorProcess.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/NetworkNamespaces.h"

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
const QString kConsoleAddress = QStringLiteral("198.18.52.1");
const QString kBridgeAddress = QStringLiteral("198.18.52.2");
const QString kTcp = QStringLiteral("Corvane Internal TCP MIDI");
const QString kDawPort = QStringLiteral("Quillon MIDI Mackie");
// The DAW moves fader 2 to the top.
const QByteArray kDawMove = QByteArray::fromHex("e17f7f");

void Say(const QString& Line)
{
    std::printf("%s\n", qPrintable(Line));
    std::fflush(stdout);
}

// What the application does for a console found on the network, with the DAW side faked: prints
// "state ..." as the link changes, "daw HEX" for what the DAW receives, and answers the first
// bytes the DAW receives with a fader move of its own.
int RunBridge(const QString& MapPath, int TimeoutMs)
{
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces())
        if (!interface.flags().testFlag(QNetworkInterface::IsLoopBack) && !interface.name().startsWith(cNetworkNamespaces::kInterfacePrefix))
        {
            Say(QStringLiteral("refused: interface %1 is not one of the test's own").arg(interface.name()));
            return 3;
        }

    auto* registry = new cFakeSystemMIDIConfiguration;
    cMIDITranslatorConfiguration configuration(registry);
    cTCPMIDIInptOutput link;
    configuration.SetTCPInputOutput(&link);
    configuration.LoadFile(MapPath);
    configuration.SetMixerInputPortName(kTcp);
    configuration.SetMixerOutputPortName(kTcp);
    // The console is on channel 5, as the user would pick it in the window.
    for (const cMIDITranslatorVariable& variable : QList<cMIDITranslatorVariable>(configuration.GetVariables()))
        if (variable.GetName() == QLatin1String("MIDI Channel"))
            configuration.SetVariableValue(variable.GetVariableName(), 4);
    cFakeMIDIPort* daw = registry->VirtualPort(kDawPort);
    if (!daw)
    {
        Say(QStringLiteral("refused: the map made no port \"%1\"").arg(kDawPort));
        return 3;
    }
    // The DAW's side: what the map writes to the virtual port.
    int seen = 0;
    bool answered = false;
    QTimer dawPoll;
    QObject::connect(&dawPoll, &QTimer::timeout, [&] {
        const QByteArray bytes = daw->WrittenBytes();
        if (bytes.size() == seen)
            return;
        Say(QStringLiteral("daw %1").arg(QString::fromLatin1(bytes.mid(seen).toHex(' '))));
        seen = bytes.size();
        if (!answered)
        {
            answered = true;
            daw->Deliver(kDawMove);
        }
    });
    dawPoll.start(10);

    cUnitFinder finder(QStringLiteral("KRT Find"), nullptr, QHostAddress(QHostAddress::Broadcast), cUnitFinder::kDiscoveryPort, 200);
    bool linking = false;
    QObject::connect(&finder, &cUnitFinder::UnitFound, [&](const sUnit& Unit) {
        Say(QStringLiteral("found %1|%2").arg(Unit.Address.toString(), Unit.FindString));
        if (!linking)
        {
            linking = true;
            link.ConnectToHost(Unit.Address);
        }
    });
    QObject::connect(&link, &cTCPMIDIInptOutput::StateStringChanged, [&](const QString& State) {
        Say(QStringLiteral("state %1").arg(State));
        if (State == QLatin1String("Not Connected") && answered)
            QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    });
    QTimer::singleShot(TimeoutMs, [] {
        Say(QStringLiteral("timeout"));
        QCoreApplication::exit(1);
    });
    return QCoreApplication::exec();
}
} // namespace

class tst_MapsEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void krtConsoleAndMackieDawTalkOverTheNetwork();
};

void tst_MapsEndToEnd::initTestCase()
{
    QString why;
    const bool available = cNetworkNamespaces::Available(&why);
    QUILLON_REQUIRE(available, why);
    QUILLON_REQUIRE(cSimulatorProcess::Available(),
                    QStringLiteral("the console simulator is not built at \"%1\"").arg(cSimulatorProcess::ProgramPath()));
}

void tst_MapsEndToEnd::krtConsoleAndMackieDawTalkOverTheNetwork()
{
    // Made first, so removed last: after the processes inside are gone.
    cNetworkNamespaces namespaces;
    QString bridgeInterface;
    const bool made = namespaces.Add("console") && namespaces.Add("bridge") &&
                      namespaces.Link("console", kConsoleAddress + "/24", "bridge", kBridgeAddress + "/24", nullptr,
                                      &bridgeInterface) &&
                      // The limited broadcast address needs a route to leave by: the veth.
                      namespaces.Run("bridge", {"ip", "route", "add", "default", "dev", bridgeInterface});
    QUILLON_REQUIRE(made, namespaces.Why());

    cSimulatorProcess sim;
    QVERIFY2(sim.Start({"--address", "0.0.0.0", "--family", "krt", "--channel", "5"}, namespaces.Exec("console")),
             qPrintable(sim.Errors()));

    QProcess bridge;
    bridge.setProcessChannelMode(QProcess::MergedChannels);
    QString output;
    connect(&bridge, &QProcess::readyRead, this, [&] { output += QString::fromLocal8Bit(bridge.readAll()); });
    const QString map = QStringLiteral(QUILLON_MAPS_DIR "/krt8_mackie.json");
    namespaces.Start("bridge", bridge, {QCoreApplication::applicationFilePath(), "--bridge", map, "30000"});
    QVERIFY(bridge.waitForStarted(10000));
    auto lines = [&] { return output.split('\n', Qt::SkipEmptyParts); };

    QTRY_VERIFY2_WITH_TIMEOUT(lines().contains(QStringLiteral("found %1|KRT Find").arg(kConsoleAddress)),
                              qPrintable(output + sim.Errors()), 20000);
    QTRY_VERIFY2_WITH_TIMEOUT(lines().contains("state Connected"), qPrintable(output), 20000);

    // Fader 1 of the console to half way: NRPN 01/00 = 8192 on channel 5 reaches the DAW as strip
    // 1's pitch bend.
    sim.Write("fader 1 8192\n");
    QTRY_VERIFY2_WITH_TIMEOUT(lines().contains("daw e0 00 40"), qPrintable(output + sim.Errors()), 20000);

    // The DAW's answer, fader 2 to the top, reaches the console as its fader 2 parameter.
    QTRY_VERIFY2_WITH_TIMEOUT(sim.OutputLines().contains("b4 26 7f   # fader 2 = 16383"),
                              qPrintable(sim.OutputLines().join('\n') + sim.Errors()), 20000);
    QCOMPARE(sim.OutputLines(), QStringList({"b4 63 01", "b4 62 01", "b4 06 7f", "b4 26 7f   # fader 2 = 16383"}));

    sim.Kill();
    QTRY_VERIFY2_WITH_TIMEOUT(bridge.state() == QProcess::NotRunning, qPrintable(output), 20000);
    QCOMPARE(bridge.exitCode(), 0);
    QCOMPARE(lines().filter(QRegularExpression("^daw ")), QStringList({"daw e0 00 40"}));
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc >= 3 && qstrcmp(argv[1], "--bridge") == 0)
        return RunBridge(QString::fromLocal8Bit(argv[2]), argc >= 4 ? QByteArray(argv[3]).toInt() : 30000);
    tst_MapsEndToEnd test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_MapsEndToEnd.moc"
