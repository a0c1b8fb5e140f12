#include "Common/MIDI/MIDIClientJack.h"
#include "Common/MIDI/VirtualMIDIPortCloser.h"
#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "tests/support/JackPeer.h"
#include "tests/support/JackServer.h"
#include "tests/support/TestFile.h"

#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace
{
// Notes from the console become fader moves for the DAW and the other way round.
const char* const kMap = R"({
  "virtual_ports": ["Quillon MIDI DAW"],
  "port_aliases": [
    {"type": "input", "name": "none", "alias": "Mixer In"},
    {"type": "output", "name": "none", "alias": "Mixer Out"}
  ],
  "variables": [
    {"name": "MIDI Channel", "variable_name": "n", "default": 0, "values": [{"value": 0, "name": "1"}]}
  ],
  "rules": [
    {"name": "console note to DAW fader",
     "incoming": {"midi": "9*n 3C v", "ports": ["Mixer In"]},
     "outgoing": {"midi": "B0 07 v", "ports": ["Quillon MIDI DAW"]}},
    {"name": "DAW note to console fader",
     "incoming": {"midi": "9*n 3C v", "ports": ["Quillon MIDI DAW"]},
     "outgoing": {"midi": "B*n 08 v", "ports": ["Mixer Out"]}},
    {"name": "answer the DAW's device query",
     "incoming": {"midi": "F0 00 00 66 14 00 F7", "ports": ["Quillon MIDI DAW"]},
     "outgoing": {"midi": "F0 00 00 66 14 01 F7", "ports": ["Quillon MIDI DAW"]}}
  ]
})";
} // namespace

// The engine end to end over real MIDI ports: a JACK client plays notes (jack_midiseq, note 60 at
// velocity 64 twice a second), the configuration loaded through the platform's registry translates
// them, and another JACK client (jack_midi_dump) receives the result.
class tst_MIDITranslatorOverJack : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void translatesBetweenJackClients();
    void answersTheDawAfterEveryFreshStart();

private:
    // Connects From to To where one of them is given only by its port name after the client.
    bool Connect(const QString& From, const QString& To);
    void StartTool(QProcess& Process, const QStringList& Command, const QString& Port);

    cJackServer mJack;
    QTemporaryDir mSettings;
    QProcess mSequencer;
    QProcess mDump;
};

void tst_MIDITranslatorOverJack::initTestCase()
{
    QUILLON_START_JACK(mJack, 256);
    qputenv("QUILLON_MIDI_API", "jack");
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, mSettings.path());
    QCoreApplication::setOrganizationName("Corvane");
    QCoreApplication::setApplicationName("Quillon test");
}

void tst_MIDITranslatorOverJack::cleanup()
{
    // Asked to end, so each leaves the server in good order.
    for (QProcess* tool : {&mSequencer, &mDump})
    {
        tool->terminate();
        if (!tool->waitForFinished(5000))
        {
            tool->kill();
            tool->waitForFinished(5000);
        }
    }
    CloseAllVirtualMIDIPorts();
}

void tst_MIDITranslatorOverJack::StartTool(QProcess& Process, const QStringList& Command, const QString& Port)
{
    // Line-buffered, so what the dump prints arrives while it runs.
    Process.start(QStringLiteral("stdbuf"), QStringList{QStringLiteral("-oL")} + Command);
    QVERIFY2(Process.waitForStarted(5000), qPrintable(Command.join(' ')));
    QTRY_VERIFY_WITH_TIMEOUT(mJack.Ports().contains(Port), 10000);
}

bool tst_MIDITranslatorOverJack::Connect(const QString& From, const QString& To)
{
    const QStringList ports = mJack.Ports();
    for (const QString& from : ports.filter(QRegularExpression("(^|:)" + QRegularExpression::escape(From) + "$")))
        for (const QString& to : ports.filter(QRegularExpression("(^|:)" + QRegularExpression::escape(To) + "$")))
        {
            bool ok = false;
            mJack.Run(QStringLiteral("jack_connect"), {from, to}, &ok);
            if (ok)
                return true;
        }
    return false;
}

void tst_MIDITranslatorOverJack::translatesBetweenJackClients()
{
    StartTool(mSequencer, {"jack_midiseq", "console", "24000", "0", "60", "2000"}, "console:out");
    StartTool(mDump, {"jack_midi_dump", "dump"}, "dump:input");
    QTemporaryDir dir;
    const QString map = WriteTestFile(dir.filePath("map.json"), kMap);
    QVERIFY(!map.isEmpty());

    // Both ways at once: the notes reach the dump as the DAW's fader and as the console's.
    cMIDITranslatorConfiguration configuration;
    configuration.LoadFile(map);
    QTRY_VERIFY(cMIDIClientJack::Existing() != nullptr && cMIDIClientJack::Existing()->IsActive());
    configuration.SetMixerInputPortName("console:out");
    configuration.SetMixerOutputPortName("dump:input");
    QVERIFY(Connect("Quillon MIDI DAW to DAW", "dump:input"));
    QVERIFY(Connect("console:out", "Quillon MIDI DAW from DAW"));
    QString dumped;
    QTRY_VERIFY_WITH_TIMEOUT((dumped += QString::fromLocal8Bit(mDump.readAllStandardOutput())).contains("b0 07 40") &&
                                 dumped.contains("b0 08 40"),
                             10000);
}

void tst_MIDITranslatorOverJack::answersTheDawAfterEveryFreshStart()
{
    // A DAW's control surface asks for the device once per connection of its sending port. Quillon
    // starts afresh again and again (quit, start); each time it connects the DAW's ports again, as
    // the user connected them the first time, and must answer every query.
    const QByteArray query = QByteArray::fromHex("f000006614 00f7"), answer = QByteArray::fromHex("f000006614 01f7");
    cJackPeer daw("daw", query);
    QVERIFY(daw.IsOpen());
    QTemporaryDir dir;
    const QString map = WriteTestFile(dir.filePath("map.json"), kMap);
    constexpr int kStarts = 50;
    // A start counts as answered once: under load JACK may hand a late client's period over twice.
    // A query JACK lost in a period it missed, or while it could not reach another client (its log
    // says so), is counted apart: only a loss while JACK kept every period is Quillon's.
    int answered = 0;
    int lostByJack = 0;
    int seen = 0;
    for (int start = 0; start < kStarts; ++start)
    {
        const int logged = mJack.Log().size();
        {
            cMIDITranslatorConfiguration configuration;
            configuration.LoadFile(map);
            if (start == 0)
            {
                QTRY_VERIFY(cMIDIClientJack::Existing() != nullptr && cMIDIClientJack::Existing()->IsActive());
                QVERIFY(daw.Connect("Quillon:Quillon MIDI DAW to DAW", daw.In()));
                QVERIFY(daw.Connect(daw.Out(), "Quillon:Quillon MIDI DAW from DAW"));
            }
            if (QTest::qWaitFor([&] { return daw.Received().count(answer) > seen; }, 5000))
                ++answered;
            else
            {
                const QString jack = mJack.Log().mid(logged).trimmed();
                const bool missed = jack.contains("XRun") || jack.contains("Process error") ||
                                    (jack.contains("ClientNotify fails") && !jack.contains("name = Quillon "));
                lostByJack += missed ? 1 : 0;
                qWarning("start %d: the DAW's query went unanswered; JACK logged meanwhile: %s", start + 1,
                         qPrintable(jack.isEmpty() ? QStringLiteral("nothing") : jack.right(600)));
            }
            seen = daw.Received().count(answer);
        }
        CloseAllVirtualMIDIPorts();
    }
    QCOMPARE(answered + lostByJack, kStarts);
    QVERIFY2(lostByJack < kStarts / 10, "JACK missed periods in many starts: the machine is too busy to tell");
}

QTEST_GUILESS_MAIN(tst_MIDITranslatorOverJack)
#include "tst_MIDITranslatorOverJack.moc"
