// Which control a rule's output sets, as the session remembers it for the console's resync (the order
// and the sending are the session's tests); and the bridge monitor's words for a message.

#include "MIDITranslator/MIDITranslatorRule.h"
#include "tests/support/LogCapture.h"
#include "Common/MidiDescriber.h"
#include "session/ResyncMemory.h"

#include <QJsonDocument>
#include <QtTest>

namespace
{
// One rule from its incoming and outgoing strings and an optional "value_capture" entry (JSON text).
QJsonObject RuleObject(const QString& In, const QString& Out, const QString& Value = QString())
{
    QString text = QStringLiteral(R"({"name":"r","incoming":{"midi":"%1","ports":["Mixer In"]},"outgoing":{"midi":"%2","ports":["Mixer Out"]})")
                       .arg(In, Out);
    if (!Value.isEmpty())
        text += QStringLiteral(",\"value_capture\":%1").arg(Value);
    return QJsonDocument::fromJson((text + "}").toUtf8()).object();
}

QByteArray Hex(const char* Text)
{
    return QByteArray::fromHex(Text);
}

// A memory that knows the one rule of Object.
bool Learn(cResyncMemory& Memory, const QJsonObject& Object)
{
    bool ok = false;
    const cMIDITranslatorRule rule = cMIDITranslatorRule::FromJson(Object, nullptr, &ok);
    Memory.SetRules({rule}, [&](int) { return Object; });
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
    void reportsAValueThatIsNoCapture();
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

    QTest::newRow("pitch bend, other value") << "E0 l m" << "E0 l m" << "" << Hex("e00040") << Hex("e07f7f") << true;
    QTest::newRow("pitch bend, other channel") << "Ek l m" << "Ek l m" << "" << Hex("e00040") << Hex("e10040") << false;
    QTest::newRow("pitch bend whose low byte looks like a number") << "B0 07 v" << "E0 v v" << "" << Hex("e00101") << Hex("e00202") << true;
    QTest::newRow("control change, other value") << "B0 k v" << "B0 k v" << "" << Hex("b00740") << Hex("b00700") << true;
    QTest::newRow("control change, other channel") << "Bc k v" << "Bc k v" << "" << Hex("b00740") << Hex("b10740") << false;
    QTest::newRow("lamp on, then note off") << "90 k 7F" << "90 k 7F" << "" << Hex("90107f") << Hex("801000") << true;
    QTest::newRow("two lamps") << "90 k v" << "90 k v" << "" << Hex("90107f") << Hex("90117f") << false;
    QTest::newRow("program change") << "C0 p" << "C0 p" << "" << Hex("c005") << Hex("c006") << true;
    QTest::newRow("NRPN, other value") << "E0 l m" << "B0 63 01 B0 62 05 B0 06 m B0 26 l" << ""
                                       << Hex("b06301b06205b00640b02600") << Hex("b06301b06205b0067fb0267f") << true;
    QTest::newRow("exclusive, parameter in the header") << "B0 k v" << "F0 43 10 k v F7" << ""
                                                        << Hex("f0431007 40f7") << Hex("f0431007 00f7") << true;
    QTest::newRow("value named by the map") << "B0 0F z B0 2F v" << "F0 7E z v F7" << "\"v\"" << Hex("f07e0341f7")
                                            << Hex("f07e0301f7") << true;
    QTest::newRow("without the name, the zone looks like a value") << "B0 0F z B0 2F v" << "F0 7E z v F7" << ""
                                                                   << Hex("f07e0341f7") << Hex("f07e0441f7") << true;
    QTest::newRow("zone kept apart once the map names the value") << "B0 0F z B0 2F v" << "F0 7E z v F7" << "\"V\""
                                                                  << Hex("f07e0341f7") << Hex("f07e0441f7") << false;
    QTest::newRow("nibble capture as the value") << "B0 07 v" << "F0 01 0v F7" << "" << Hex("f00103f7") << Hex("f00104f7") << true;
    QTest::newRow("a value made by the rule's table") << "E0 l m" << "B0 63 05 B0 62 00 B0 06 w"
                                                     << R"("ml", "value": {"from": "ml", "to": "w", "table": [[0, 0], [16383, 127]]})"
                                                     << Hex("b06305b06200b00640") << Hex("b06305b06200b00610") << true;
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
    QVERIFY(Learn(memory, RuleObject(in, out, value)));
    QCOMPARE(memory.KeyOf(0, first) == memory.KeyOf(0, second), sameControl);

    memory.Remember(0, first);
    memory.Remember(0, second);
    const QList<QByteArray> expected = sameControl ? QList<QByteArray>{second} : QList<QByteArray>{first, second};
    QCOMPARE(memory.Messages(), expected);
}

void tst_ResyncMemory::forgetsTheOldestBeyondTheLimit()
{
    // A sequence whose value nobody can tell apart: every firing is a control of its own.
    cResyncMemory memory;
    QVERIFY(Learn(memory, RuleObject("F0 a b F7", "F0 a b F7")));
    cLogCapture log;
    for (int i = 0; i < cResyncMemory::kMostControls + 10; ++i)
        memory.Remember(0, QByteArray::fromHex(QByteArray("f0") + QByteArray::number(0x1000 + i, 16).right(4) + "f7"));
    QCOMPARE(memory.Size(), cResyncMemory::kMostControls);
    QCOMPARE(memory.Messages().first(), QByteArray::fromHex(QByteArray("f0") + QByteArray::number(0x1000 + 10, 16).right(4) + "f7"));
    QCOMPARE(log.Lines().filter("oldest are forgotten").size(), 1);
}

void tst_ResyncMemory::reportsAValueThatIsNoCapture()
{
    const QJsonObject object = RuleObject("B0 k v", "B0 k v", "\"vq\"");
    bool ok = false;
    const cMIDITranslatorRule rule = cMIDITranslatorRule::FromJson(object, nullptr, &ok);
    QVERIFY(ok);
    cLogCapture log;
    QCOMPARE(cResyncMemory::ValueLetters(rule, object), QStringList{"v"});
    QCOMPARE(log.Lines().size(), 1);
    QVERIFY(log.Lines().first().contains("the value capture \"q\" is none of its captures"));
}

void tst_ResyncMemory::describesMessages_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QString>("words");
    QTest::newRow("control change") << Hex("b00740") << "b0 07 40  CC 7 = 64 on channel 1";
    QTest::newRow("pitch bend centre, channel 16") << Hex("ef0040") << "ef 00 40  Pitch Bend 8192 on channel 16";
    QTest::newRow("note on") << Hex("903c7f") << "90 3c 7f  Note On 60 velocity 127 on channel 1";
    QTest::newRow("program change") << Hex("c105") << "c1 05  Program 5 on channel 2";
    QTest::newRow("exclusive") << Hex("f0431000f7") << "f0 43 10 00 f7  System Exclusive, 5 bytes";
    QTest::newRow("exclusive cut short") << Hex("f04310") << "f0 43 10  System Exclusive, unfinished, 3 bytes";
    QTest::newRow("control change cut short") << Hex("b007") << "b0 07  incomplete message";
    QTest::newRow("clock") << Hex("f8") << "f8  Clock";
    QTest::newRow("stray data") << Hex("40") << "40  data bytes without a status";
}

void tst_ResyncMemory::describesMessages()
{
    QFETCH(QByteArray, message);
    QFETCH(QString, words);
    QCOMPARE(cMidiDescriber::Line(message), words);
}

QTEST_GUILESS_MAIN(tst_ResyncMemory)
#include "tst_ResyncMemory.moc"
