#include "Common/MIDI/MIDIClientJack.h"
#include "Common/MIDI/VirtualMIDIPortCloser.h"
#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "tests/support/JackPeer.h"
#include "tests/support/JackServer.h"
#include "tests/support/TestFile.h"

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

// The engine end to end over real MIDI ports: JACK clients of this test play the console and the
// DAW, the configuration loaded through the platform's registry translates between them.
class tst_MIDITranslatorOverJack : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void translatesBetweenJackClients();
    void answersTheDawAfterEveryFreshStart();

private:
    cJackServer mJack;
    QTemporaryDir mSettings;
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
    CloseAllVirtualMIDIPorts();
}

void tst_MIDITranslatorOverJack::translatesBetweenJackClients()
{
    cJackPeer console("console");
    cJackPeer dump("dump");
    QTemporaryDir dir;
    cMIDITranslatorConfiguration configuration;
    configuration.LoadFile(WriteTestFile(dir.filePath("map.json"), kMap));
    QTRY_VERIFY(cMIDIClientJack::Existing() != nullptr && cMIDIClientJack::Existing()->IsActive());
    configuration.SetMixerInputPortName(console.Out());
    configuration.SetMixerOutputPortName(dump.In());
    QVERIFY(dump.Connect("Quillon:Quillon MIDI DAW to DAW", dump.In()));
    QVERIFY(dump.Connect(console.Out(), "Quillon:Quillon MIDI DAW from DAW"));

    // Both ways at once: the console's note reaches the dump as the DAW's fader and as the
    // console's. Played again until it does: new connections carry data from a later period on.
    const auto both = [&] {
        console.Send(QByteArray::fromHex("903c40"));
        QTest::qWait(100);
        const QList<QByteArray> got = dump.Received();
        return got.contains(QByteArray::fromHex("b00740")) && got.contains(QByteArray::fromHex("b00840"));
    };
    QTRY_VERIFY_WITH_TIMEOUT(both(), 10000);
}

void tst_MIDITranslatorOverJack::answersTheDawAfterEveryFreshStart()
{
    // A DAW's control surface asks for the device once per connection of its sending port. Quillon
    // starts afresh again and again (quit, start); each time it connects the DAW's ports again, as
    // the user connected them the first time, and must answer every query.
    const QByteArray query = QByteArray::fromHex("f000006614 00f7"), answer = QByteArray::fromHex("f000006614 01f7");
    cJackPeer daw("daw", query);
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
