// The console link under the faults of a real network, end to end through the engine: the console
// simulator on loopback misbehaves, the link feeds a translator configuration as in the window, and
// a probe timer checks that the event loop is never held for two seconds (frozen to a user). Slow
// (a quarter of a GiB goes through the engine), so it runs in the plain build only.

#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "network/TCPMIDIInptOutput.h"
#include "tests/network/SimulatorProcess.h"
#include "tests/support/EventLoopProbe.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/RealComponent.h"

#include <QTemporaryDir>
#include <QtTest>

namespace
{
const QString kTcp = QStringLiteral("Corvane Internal TCP MIDI");
const QStringList kLoopbackPorts = {"--address", "127.0.0.1", "--port", "0", "--no-discovery"};

// Console and DAW both ways; the scene rule's four fixed bytes make a match by random bytes all
// but impossible, so after garbage it shows exactly what was meant.
const char kMap[] = R"({
  "virtual_ports": ["DAW"],
  "port_aliases": [
    {"type": "input", "name": "Desk In", "alias": "Mixer In"},
    {"type": "output", "name": "Desk Out", "alias": "Mixer Out"}
  ],
  "rules": [
    {"name": "fader", "incoming": {"midi": "B0 07 v", "ports": ["Mixer In"]},
     "outgoing": {"midi": "E0 00 v", "ports": ["DAW"]}},
    {"name": "scene", "incoming": {"midi": "F0 7D 51 55 v F7", "ports": ["Mixer In"]},
     "outgoing": {"midi": "C0 v", "ports": ["DAW"]}},
    {"name": "DAW fader", "incoming": {"midi": "E1 00 v", "ports": ["DAW"]},
     "outgoing": {"midi": "B1 07 v", "ports": ["Mixer Out"]}}
  ]
})";

QByteArray Hex(const char* Text)
{
    return QByteArray::fromHex(Text);
}

QList<QByteArray> HexList(const QStringList& Texts)
{
    QList<QByteArray> list;
    for (const QString& text : Texts)
        list.append(QByteArray::fromHex(text.toLatin1()));
    return list;
}
} // namespace

class tst_LinkFaults : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void consoleGoingAwayMidMessageThenReconnecting_data();
    void consoleGoingAwayMidMessageThenReconnecting();
    void randomBytesThenAValidMessage();
    void trickleDelaysNothingElse();

private:
    // Starts the simulator with Arguments and a script, and the engine with the link behind
    // "Mixer In" and "Mixer Out", as the window sets them up in TCP/IP mode.
    bool StartConsole(const QStringList& Arguments, const QByteArray& Script);
    cFakeMIDIPort* Daw() const { return mRegistry->VirtualPort("DAW"); }

    QTemporaryDir* mDir = nullptr;
    cSimulatorProcess* mSim = nullptr;
    cFakeSystemMIDIConfiguration* mRegistry = nullptr;
    cMIDITranslatorConfiguration* mConfiguration = nullptr;
    cTCPMIDIInptOutput* mLink = nullptr;
    QStringList mStates;
    cEventLoopProbe mProbe;
};

void tst_LinkFaults::initTestCase()
{
    QUILLON_REQUIRE(cSimulatorProcess::Available(),
                    QStringLiteral("the console simulator is not built at %1").arg(cSimulatorProcess::ProgramPath()));
}

void tst_LinkFaults::init()
{
    mDir = new QTemporaryDir;
    QVERIFY(mDir->isValid());
    mSim = new cSimulatorProcess;
    mStates.clear();
}

void tst_LinkFaults::cleanup()
{
    mProbe.Stop();
    delete mConfiguration;
    mConfiguration = nullptr;
    mRegistry = nullptr;
    delete mLink;
    mLink = nullptr;
    delete mSim;
    mSim = nullptr;
    delete mDir;
    mDir = nullptr;
}

bool tst_LinkFaults::StartConsole(const QStringList& Arguments, const QByteArray& Script)
{
    QFile script(mDir->filePath("script.txt"));
    if (!script.open(QIODevice::WriteOnly) || script.write(Script) != Script.size())
        return false;
    script.close();
    QFile map(mDir->filePath("console.json"));
    if (!map.open(QIODevice::WriteOnly) || map.write(kMap) != qint64(sizeof kMap - 1))
        return false;
    map.close();
    if (!mSim->Start(kLoopbackPorts + Arguments + QStringList{"--script", script.fileName()}))
        return false;

    mRegistry = new cFakeSystemMIDIConfiguration;
    mConfiguration = new cMIDITranslatorConfiguration(mRegistry);
    mLink = new cTCPMIDIInptOutput(nullptr, mSim->TcpPort);
    connect(mLink, &cTCPMIDIInptOutput::StateStringChanged, this, [this](const QString& State) { mStates.append(State); });
    mConfiguration->LoadFile(map.fileName());
    mConfiguration->SetTCPInputOutput(mLink);
    mConfiguration->SetMixerInputPortName(kTcp);
    mConfiguration->SetMixerOutputPortName(kTcp);
    return Daw() != nullptr;
}

void tst_LinkFaults::consoleGoingAwayMidMessageThenReconnecting_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QByteArray>("script");
    // What the DAW gets from each connection: the whole first fader message, never the cut one.
    const QByteArray twoFaders = "b0 07 10\nb0 07 20\n";
    QTest::newRow("reset after the second status byte") << QStringList{"--reset-after", "4"} << twoFaders;
    QTest::newRow("reset between the data bytes") << QStringList{"--reset-after", "5"} << twoFaders;
    QTest::newRow("orderly close after the second status byte") << QStringList{"--close-after", "4"} << twoFaders;
    QTest::newRow("orderly close between the data bytes") << QStringList{"--close-after", "5"} << twoFaders;
    // Each connection starts with what would complete the message the last one left: a fresh
    // connection has no message under way, so those bytes are stray and dropped.
    QTest::newRow("reset between the data bytes, next starts with the last data byte")
        << QStringList{"--reset-after", "6"} << QByteArray("20\nb0 07 10\nb0 07\n");
    QTest::newRow("orderly close between the data bytes, next starts with the last data byte")
        << QStringList{"--close-after", "6"} << QByteArray("20\nb0 07 10\nb0 07\n");
    QTest::newRow("orderly close after a whole message, next starts under its running status")
        << QStringList{"--close-after", "5"} << QByteArray("07 20\nb0 07 10\n");
}

void tst_LinkFaults::consoleGoingAwayMidMessageThenReconnecting()
{
    QFETCH(QStringList, arguments);
    QFETCH(QByteArray, script);
    QVERIFY2(StartConsole(arguments, script), qPrintable(mSim->Errors()));
    mProbe.Start();
    QList<QByteArray> expected;
    for (int connection = 1; connection <= 3; ++connection)
    {
        mStates.clear();
        mLink->ConnectToHost(QHostAddress(QHostAddress::LocalHost));
        QTRY_VERIFY2(mStates.contains("Connected"), qPrintable(mStates.join('|') + mSim->Errors()));
        QTRY_COMPARE(mStates.last(), QString("Not Connected"));
        QVERIFY(!mLink->IsConnected());
        QCOMPARE(mLink->GetStateString(), QString("Not Connected"));
        // Each new connection's first message is translated; the message cut by the fault is not
        // completed by the next connection's bytes.
        expected.append(Hex("e00010"));
        QTRY_COMPARE(Daw()->Writes(), expected);
    }
    QVERIFY2(mProbe.LongestGapMs() < cEventLoopProbe::kMostGapMs, qPrintable(QString::number(mProbe.LongestGapMs())));
}

void tst_LinkFaults::randomBytesThenAValidMessage()
{
    constexpr qint64 kGarbage = 256LL * 1024 * 1024;
    constexpr qint64 kMostGrowth = 16LL * 1024 * 1024;
    // Scene messages, each after a status byte that closes whatever the garbage left open.
    QVERIFY2(StartConsole({"--garbage", QString::number(kGarbage), "--seed", "15"}, "f7 f0 7d 51 55 21 f7\nf0 7d 51 55 22 f7\n"),
             qPrintable(mSim->Errors()));
    mProbe.Start();
    QElapsedTimer took;
    took.start();
    mLink->ConnectToHost(QHostAddress(QHostAddress::LocalHost));
    QTRY_VERIFY_WITH_TIMEOUT(Daw()->Writes().size() >= 2 && Daw()->Writes().last() == Hex("c022"), 280000);
    QCOMPARE(Daw()->Writes().mid(Daw()->Writes().size() - 2), (QList<QByteArray>{Hex("c021"), Hex("c022")}));
    QVERIFY(mLink->IsConnected());
    const qint64 growth = mProbe.PeakResidentBytes() - mProbe.StartResidentBytes();
    qInfo("256 MiB of random bytes in %lld ms; resident memory grew by %lld KiB; longest event-loop gap %lld ms",
          took.elapsed(), growth / 1024, mProbe.LongestGapMs());
    QVERIFY(mProbe.StartResidentBytes() > 0);
    QVERIFY2(growth <= kMostGrowth, qPrintable(QString::number(growth)));
    QVERIFY2(mProbe.LongestGapMs() < cEventLoopProbe::kMostGapMs, qPrintable(QString::number(mProbe.LongestGapMs())));
}

void tst_LinkFaults::trickleDelaysNothingElse()
{
    // A hundred fader messages, one byte every 5 ms: a second and a half at the very least.
    QByteArray script;
    QStringList translated;
    for (int value = 0; value < 100; ++value)
    {
        script += QStringLiteral("b0 07 %1\n").arg(value, 2, 16, QLatin1Char('0')).toLatin1();
        translated += QStringLiteral("e000%1").arg(value, 2, 16, QLatin1Char('0'));
    }
    QVERIFY2(StartConsole({"--trickle", "5"}, script), qPrintable(mSim->Errors()));
    mProbe.Start();
    mLink->ConnectToHost(QHostAddress(QHostAddress::LocalHost));
    QTRY_VERIFY(mLink->IsConnected());
    QTRY_VERIFY(!Daw()->Writes().isEmpty());

    // Meanwhile the DAW moves its fader: each move reaches the console while the trickle goes on.
    QStringList sent;
    for (int value = 0x40; value < 0x48; ++value)
    {
        Daw()->Deliver(QByteArray::fromHex("e100") + char(value));
        sent += QStringLiteral("b1 07 %1").arg(value, 2, 16, QLatin1Char('0'));
        QTRY_COMPARE(mSim->OutputLines(), sent);
        QVERIFY2(Daw()->Writes().size() < translated.size(), "the trickle ended before the DAW's messages went out");
    }
    QTRY_COMPARE_WITH_TIMEOUT(Daw()->Writes(), HexList(translated), 30000);
    QVERIFY2(mProbe.LongestGapMs() < cEventLoopProbe::kMostGapMs, qPrintable(QString::number(mProbe.LongestGapMs())));
}

QTEST_GUILESS_MAIN(tst_LinkFaults)
#include "tst_LinkFaults.moc"
