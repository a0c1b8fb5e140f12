// Map files made to hurt: far too big, far too many rules, nested past any sense, every value of
// the wrong type. Each must end in a log line that says what is wrong, in bounded time, and leave
// the engine working: the good map loaded next translates as usual.

#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "MIDITranslator/MixerDawMap.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFile.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
const char kGoodMap[] = R"({
  "virtual_ports": ["DAW"],
  "port_aliases": [{"type": "input", "name": "Desk In", "alias": "Mixer In"}],
  "rules": [{"name": "fader", "incoming": {"midi": "B0 07 v", "ports": ["Mixer In"]},
             "outgoing": {"midi": "E0 00 v", "ports": ["DAW"]}}]
})";
} // namespace

class tst_MapAbuse : public QObject
{
    Q_OBJECT

private slots:
    void abusedMapIsReportedAndTheEngineGoesOn_data();
    void abusedMapIsReportedAndTheEngineGoesOn();
};

void tst_MapAbuse::abusedMapIsReportedAndTheEngineGoesOn_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");
    QTest::newRow("10 MB file") << QByteArray("{\"rules\": [], \"notes\": \"" + QByteArray(10 * 1000 * 1000, 'x') + "\"}")
                                << "Map file too large";
    QTest::newRow("100,000 rules refused one by one")
        << QByteArray("{\"virtual_ports\": [\"DAW\"], \"rules\": [" + QByteArray("{},").repeated(99999) + "{}]}")
        << "No \"name\" string for rule";
    QTest::newRow("nested 100,000 deep") << QByteArray("{\"rules\": " + QByteArray(100000, '[') + QByteArray(100000, ']') + "}")
                                         << "Json Parse Error";
    QTest::newRow("every key of the wrong type")
        << QByteArray(R"({"virtual_ports": [1, {}, []], "port_aliases": [{"type": 1, "name": [], "alias": {}}, 5],
            "variables": [{"name": 1, "variable_name": [], "default": "x", "values": {}},
                          {"name": "v", "variable_name": 5, "default": 0, "values": []}],
            "rules": [{"name": 5, "incoming": [], "outgoing": 7},
                      {"name": "r", "incoming": {"midi": 5, "ports": "Mixer In"}, "outgoing": {"midi": [], "ports": {}}},
                      {"name": "s", "incoming": {"midi": "B0 07 v", "ports": {}}, "outgoing": {"midi": "E0 00 v", "ports": 1}}]})")
        << "No \"name\" string value for variable";
}

void tst_MapAbuse::abusedMapIsReportedAndTheEngineGoesOn()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString abused = WriteTestFile(dir.filePath("abused.json"), content);
    const QString good = WriteTestFile(dir.filePath("good.json"), kGoodMap);
    QVERIFY(!abused.isEmpty() && !good.isEmpty());

    auto* registry = new cFakeSystemMIDIConfiguration;
    registry->SetRecordWrites(false);
    cFakeMIDIPort* desk = registry->PlugInput("Desk In");
    cMIDITranslatorConfiguration configuration(registry);
    cLogCapture log;
    QElapsedTimer took;
    took.start();
    configuration.LoadFile(abused);
    const qint64 loadMs = took.elapsed();
    took.restart();
    cMixerDawMap map;
    map.Load(abused);
    qInfo("loaded in %lld ms as a map file, %lld ms as a mixer/DAW map; %d log lines", loadMs, took.elapsed(),
          log.Lines().size());
    QVERIFY2(!log.Messages().isEmpty() && log.Messages().first().startsWith(message), qPrintable(log.Messages().value(0)));

    registry->SetRecordWrites(true);
    configuration.LoadFile(good);
    desk->Deliver(QByteArray::fromHex("b00742"));
    QCOMPARE(registry->VirtualPort("DAW")->Writes(), QList<QByteArray>{QByteArray::fromHex("e00042")});
}

QTEST_GUILESS_MAIN(tst_MapAbuse)
#include "tst_MapAbuse.moc"
