// Which control a rule's output sets, as the session remembers it for the console's resync (the order
// and the sending are the session's tests); and the bridge monitor's words for a message.

#include "Common/MidiDescriber.h"
#include "MIDITranslator/MIDITranslatorRule.h"
#include "session/ResyncMemory.h"
#include "tests/support/LogCapture.h"

#include <QJsonDocument>
#include <QtTest>

namespace
{
// A memory that knows one rule, from its incoming and outgoing strings and an optional
// "value_capture" entry (JSON text).
bool Learn(cResyncMemory& Memory, const QString& In, const QString& Out, const QString& Value = QString())
{
    QString text = QStringLiteral(R"({"name":"r","incoming":{"midi":"%1","ports":["Mixer In"]},"outgoing":{"midi":"%2","ports":["Mixer Out"]})")
                       .arg(In, Out);
    if (!Value.isEmpty())
        text += QStringLiteral(",\"value_capture\":%1").arg(Value);
    const QJsonObject object = QJsonDocument::fromJson((text + "}").toUtf8()).object();
    bool ok = false;
    const cMIDITranslatorRule rule = cMIDITranslatorRule::FromJson(object, nullptr, &ok);
    Memory.SetRules({rule}, [&](int) { return object; });
    return ok;
}
} // namespace

class tst_ResyncMemory : public QObject
{
    Q_OBJECT

private slots:
    void keysTheControlNotTheValue_data();
    void keysTheControlNotTheValue();
    void forgetsTheOldestBeyondTheLimit();
    void describesMessages_data();
    void describesMessages();
};

void tst_ResyncMemory::keysTheControlNotTheValue_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("out");
    QTest::addColumn<QString>("value"); // the rule's "value_capture" entry, JSON
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<bool>("sameControl");
    const auto row = [](const char* Name, const char* In, const char* Out, const char* Value, const char* First,
                        const char* Second, bool Same) {
        QTest::newRow(Name) << In << Out << Value << QByteArray::fromHex(First) << QByteArray::fromHex(Second) << Same;
    };
    row("pitch bend, other value", "E0 l m", "E0 l m", "", "e00040", "e07f7f", true);
    row("pitch bend, other channel", "Ek l m", "Ek l m", "", "e00040", "e10040", false);
    row("pitch bend whose low byte looks like a number", "B0 07 v", "E0 v v", "", "e00101", "e00202", true);
    row("control change, other value", "B0 k v", "B0 k v", "", "b00740", "b00700", true);
    row("lamp on, then note off", "90 k 7F", "90 k 7F", "", "90107f", "801000", true);
    row("two lamps", "90 k v", "90 k v", "", "90107f", "90117f", false);
    row("program change", "C0 p", "C0 p", "", "c005", "c006", true);
    row("channel pressure set by a note number", "90 k 7F", "D0 k", "", "d010", "d011", true);
    row("NRPN, other value", "E0 l m", "B0 63 01 B0 62 05 B0 06 m B0 26 l", "", "b06301b06205b00640b02600",
        "b06301b06205b0067fb0267f", true);
    row("exclusive, parameter in the header", "B0 k v", "F0 43 10 k v F7", "", "f043100740f7", "f043100700f7", true);
    row("value named by the map", "B0 0F z B0 2F v", "F0 7E z v F7", "\"v\"", "f07e0341f7", "f07e0301f7", true);
    row("without the name, the zone looks like a value", "B0 0F z B0 2F v", "F0 7E z v F7", "", "f07e0341f7",
        "f07e0441f7", true);
    row("zone kept apart once the map names the value", "B0 0F z B0 2F v", "F0 7E z v F7", "\"V\"", "f07e0341f7",
        "f07e0441f7", false);
    row("nibble capture as the value", "B0 07 v", "F0 01 0v F7", "", "f00103f7", "f00104f7", true);
    row("a value made by the rule's table", "E0 l m", "B0 63 05 B0 62 00 B0 06 w",
        R"("ml", "value": {"from": "ml", "to": "w", "table": [[0, 0], [16383, 127]]})", "b06305b06200b00640",
        "b06305b06200b00610", true);
}

void tst_ResyncMemory::keysTheControlNotTheValue()
{
    QFETCH(QString, in);
    QFETCH(QString, out);
    QFETCH(QString, value);
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(bool, sameControl);
    cResyncMemory memory;
    QVERIFY(Learn(memory, in, out, value));
    memory.Remember(0, first);
    memory.Remember(0, second);
    QCOMPARE(memory.Messages(), sameControl ? QList<QByteArray>({second}) : QList<QByteArray>({first, second}));
}

void tst_ResyncMemory::forgetsTheOldestBeyondTheLimit()
{
    // A sequence whose value nobody can tell apart: every firing is a control of its own.
    cResyncMemory memory;
    QVERIFY(Learn(memory, "F0 a b F7", "F0 a b F7"));
    cLogCapture log;
    const auto firing = [](int Index) { return QByteArray::fromHex(QByteArray("f0") + QByteArray::number(0x1000 + Index, 16) + "f7"); };
    for (int i = 0; i < cResyncMemory::kMostControls + 10; ++i)
        memory.Remember(0, firing(i));
    QCOMPARE(memory.Size(), cResyncMemory::kMostControls);
    QCOMPARE(memory.Messages().first(), firing(10));
    QCOMPARE(log.Lines().filter("oldest are forgotten").size(), 1);
}

void tst_ResyncMemory::describesMessages_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("words");
    QTest::newRow("pitch bend centre, channel 16") << QByteArray::fromHex("ef0040") << "ef 00 40  Pitch Bend 8192 on channel 16";
    QTest::newRow("program change") << QByteArray::fromHex("c105") << "c1 05  Program 5 on channel 2";
    QTest::newRow("exclusive cut short") << QByteArray::fromHex("f04310") << "f0 43 10  System Exclusive, unfinished, 3 bytes";
    QTest::newRow("stray data") << QByteArray::fromHex("40") << "40  data bytes without a status";
}

void tst_ResyncMemory::describesMessages()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, words);
    QCOMPARE(cMidiDescriber::Line(message), words);
}

QTEST_GUILESS_MAIN(tst_ResyncMemory)
#include "tst_ResyncMemory.moc"
