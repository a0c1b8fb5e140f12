#include "MIDITranslator/MIDITranslatorRule.h"
#include "tests/support/FakeVariableSource.h"
#include "tests/support/LogCapture.h"
#include "tests/support/MatchTriggerText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace
{
QJsonObject Json(const QString& Text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(Text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test JSON: %s", qPrintable(error.errorString()));
    return document.object();
}

QJsonObject RuleJson(const QString& Incoming, const QString& Outgoing)
{
    return QJsonObject{{"name", "test rule"},
                       {"incoming", QJsonObject{{"midi", Incoming}, {"ports", QJsonArray{"Mixer In"}}}},
                       {"outgoing", QJsonObject{{"midi", Outgoing}, {"ports", QJsonArray{"DAW Out"}}}}};
}

std::vector<uint8_t> Bytes(const QString& Hex)
{
    const QByteArray bytes = QByteArray::fromHex(Hex.toLatin1());
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

QString Hex(const std::vector<uint8_t>& Bytes)
{
    return QByteArray(reinterpret_cast<const char*>(Bytes.data()), int(Bytes.size())).toHex(' ').toUpper();
}

// "E,nL 0,0 c4,c5": per token its two elements; a literal as its hex digit, a capture as c and the
// nibble index, a global as its letter and H (value >> 4) or L (value & 0x0F).
QString Template(const std::vector<sOutgoingNibble>& Nibbles)
{
    QStringList tokens;
    for (size_t index = 0; index + 1 < Nibbles.size(); index += 2)
    {
        QStringList pair;
        for (const sOutgoingNibble& nibble : {Nibbles[index], Nibbles[index + 1]})
        {
            if (nibble.captureIndex >= 0)
                pair << QString("c%1").arg(nibble.captureIndex);
            else if (!nibble.globalVariable.isEmpty())
                pair << nibble.globalVariable + (nibble.highNibble ? "H" : "L");
            else
                pair << QString::number(nibble.literal, 16).toUpper();
        }
        tokens << pair.join(',');
    }
    return tokens.join(' ');
}
} // namespace

class tst_MIDITranslatorRule : public QObject
{
    Q_OBJECT

private:
    // Globals n = 0x02, v = 0x35, g = 0x4C, h = 0x91 (upper-case H is not defined).
    cFakeVariableSource mSource;
    cMIDITranslatorRule Load(const QString& Incoming, const QString& Outgoing);

private slots:
    void init();

    void validatesIncomingTokens_data();
    void validatesIncomingTokens();
    void buildsMatchPatterns_data();
    void buildsMatchPatterns();
    void buildsTemplatesAndOutgoingBytes_data();
    void buildsTemplatesAndOutgoingBytes();
    void copyRebuildsWithNewGlobalsAndKeepsItsId();

    void appendsBehindBytesAlreadyInTheOutput();
    void capturesBeyondAShortMessageGiveZero();
    void unknownGlobalAtFiringGivesZeroAndIsLogged();
    void unvalidatedStringsStillGiveOneBytePerToken();

    void rejectsRulesWithTheFirstFaultNamed_data();
    void rejectsRulesWithTheFirstFaultNamed();
    void keepsOnlyStringPortsAndAcceptsNone();
    void loadsWithoutConfiguration();
};

void tst_MIDITranslatorRule::init()
{
    mSource.Clear();
    mSource.AddVariable("n", 0x02, "MIDI Channel");
    mSource.AddVariable("v", 0x35);
    mSource.AddVariable("g", 0x4C);
    mSource.AddVariable("h", 0x91);
}

cMIDITranslatorRule tst_MIDITranslatorRule::Load(const QString& Incoming, const QString& Outgoing)
{
    bool ok = false;
    const cMIDITranslatorRule rule = cMIDITranslatorRule::FromJson(RuleJson(Incoming, Outgoing), &mSource, &ok);
    if (!ok)
        qWarning("rule not accepted: \"%s\" -> \"%s\"", qPrintable(Incoming), qPrintable(Outgoing));
    return rule;
}

void tst_MIDITranslatorRule::validatesIncomingTokens_data()
{
    QTest::addColumn<QString>("midi");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QStringList>("captures");

    QTest::newRow("global channel") << "B*n 07 v" << true << QStringList{"v"};
    QTest::newRow("captures in order of appearance, case kept") << "9V k 7F" << true << QStringList{"V", "k"};
    QTest::newRow("same letter as global and capture") << "*vv" << true << QStringList{"v"};
    QTest::newRow("single hex digit") << "9" << true << QStringList{};
    QTest::newRow("empty string") << "" << true << QStringList{};
    QTest::newRow("four digits in one token") << "903C" << false << QStringList{};
    QTest::newRow("tab is no separator") << "90\t3C" << false << QStringList{};
    QTest::newRow("global reference to a hex letter") << "*a" << false << QStringList{};
    QTest::newRow("global reference to an unknown letter") << "B*m" << false << QStringList{};
    QTest::newRow("global letters compare with case") << "B*N" << false << QStringList{};
    QTest::newRow("lone star") << "B0 *" << false << QStringList{};
    QTest::newRow("capture repeated in one token, other case") << "vV" << false << QStringList{};
    QTest::newRow("capture repeated across tokens") << "v 0v" << false << QStringList{};
    QTest::newRow("non-ASCII letter") << "B0 é" << false << QStringList{};
}

void tst_MIDITranslatorRule::validatesIncomingTokens()
{
    QFETCH(QString, midi);
    QFETCH(bool, valid);
    QFETCH(QStringList, captures);
    QStringList found;
    QCOMPARE(cMIDITranslatorRule::ValidateIncomingMidi(cMIDITranslatorRule::SplitMidi(midi), &mSource.GetVariables(),
                                                       &found),
             valid);
    if (valid)
        QCOMPARE(found, captures);
}

void tst_MIDITranslatorRule::buildsMatchPatterns_data()
{
    QTest::addColumn<QString>("incoming");
    QTest::addColumn<QString>("pattern");

    QTest::newRow("global channel in a control change") << "B*n 07 v" << "B2 07 ??";
    QTest::newRow("lower-case hex digits") << "b0 7f" << "B0 7F";
    QTest::newRow("single digit matches a whole status family") << "9" << "9?";
    QTest::newRow("capture nibble then capture byte") << "9v k 7F" << "9? ?? 7F";
    QTest::newRow("global alone is its whole byte") << "*v" << "35";
    QTest::newRow("global then capture uses the high nibble") << "*vv" << "3?";
    QTest::newRow("global then digit uses the high nibble") << "*vA" << "3A";
    QTest::newRow("digit then global uses the low nibble") << "A*v" << "A5";
    QTest::newRow("global then global") << "*g*h" << "41";
    QTest::newRow("capture then global") << "k*h" << "?1";
    QTest::newRow("runs of spaces around") << "  F0   7E  " << "F0 7E";
    QTest::newRow("empty") << "" << "";
}

void tst_MIDITranslatorRule::buildsMatchPatterns()
{
    QFETCH(QString, incoming);
    QFETCH(QString, pattern);
    const cMIDITranslatorRule rule = Load(incoming, "");
    QCOMPARE(TriggerText(*rule.GetMatchTrigger()), pattern);
}

void tst_MIDITranslatorRule::buildsTemplatesAndOutgoingBytes_data()
{
    QTest::addColumn<QString>("incoming");
    QTest::addColumn<QString>("outgoing");
    QTest::addColumn<QString>("nibbles");
    QTest::addColumn<QString>("matched");
    QTest::addColumn<QString>("expected");

    auto row = [](const char* Name, const QString& In, const QString& Out, const QString& Nibbles,
                  const QString& Matched, const QString& Expected) {
        QTest::newRow(Name) << In << Out << Nibbles << Matched << Expected;
    };
    row("typical volume rule", "B*n 07 v", "E*n 00 v", "E,nL 0,0 c4,c5", "B2 07 7F", "E2 00 7F");
    row("lower-case hex digits", "v", "F0 7e", "F,0 7,E", "00", "F0 7E");
    row("note on to note off", "9v k 7F", "8v k 00", "8,c1 c2,c3 0,0", "93 45 7F", "83 45 00");
    row("nibble capture alone gets a zero high nibble", "9v k", "v", "0,c1", "93 45", "03");
    row("capture in a high nibble", "B0 v7", "v", "0,c2", "B0 57", "05");
    row("whole-byte captures as nibbles give their low nibbles, reused", "v k", "kv v", "c3,c1 c0,c1", "12 34",
        "42 12");
    row("capture in the other case", "B0 V", "v", "c2,c3", "B0 33", "33");
    row("same letter as global and capture", "*vv", "v", "0,c1", "3C", "0C");
    row("global of the same letter is skipped", "*v 0v", "v", "0,c3", "35 0C", "0C");
    row("capture before a global", "k*h", "k", "0,c0", "31", "03");
    row("global alone emits the whole byte", "v", "*g *h", "gH,gL hH,hL", "00", "4C 91");
    row("global in front emits its low nibble", "*nA", "*nA", "nL,A", "0A", "2A");
    row("global then whole-byte capture", "v", "*gv", "gL,c1", "3E", "CE");
    row("digit then global", "v", "A*h", "A,hL", "00", "A1");
    row("whole-byte capture then global keeps the high nibble", "B0 v", "v*h", "c2,hL", "B0 7C", "71");
    row("nibble capture then global", "Bv", "v*h", "c1,hL", "B3", "31");
    row("single hex digit is the high nibble", "v", "7 A v", "7,0 A,0 c0,c1", "11", "70 A0 11");
    row("more outgoing tokens than incoming", "v", "F0 00 20 v F7", "F,0 0,0 2,0 c0,c1 F,7", "55", "F0 00 20 55 F7");
    row("fewer outgoing tokens than incoming", "F0 k v F7", "v", "c4,c5", "F0 01 02 F7", "02");
    row("empty outgoing string sends nothing", "v", "", "", "12", "");
}

void tst_MIDITranslatorRule::buildsTemplatesAndOutgoingBytes()
{
    QFETCH(QString, incoming);
    QFETCH(QString, outgoing);
    QFETCH(QString, nibbles);
    QFETCH(QString, matched);
    QFETCH(QString, expected);
    cLogCapture capture;
    const cMIDITranslatorRule rule = Load(incoming, outgoing);
    QCOMPARE(Template(rule.GetOutgoingTemplate()), nibbles);
    std::vector<uint8_t> out;
    rule.BuildOutgoingMessage(out, Bytes(matched));
    QCOMPARE(Hex(out), expected);
    QCOMPARE(capture.Lines(), QStringList());
}

void tst_MIDITranslatorRule::copyRebuildsWithNewGlobalsAndKeepsItsId()
{
    cMIDITranslatorRule rule = Load("B*n 07 v", "E*n 00 v");
    rule.SetId(7);
    cMIDITranslatorRule copy = rule;
    QVERIFY(mSource.SetVariableValue("n", 9));
    // Globals are baked into the pattern: it changes only when rebuilt, and only in the copy rebuilt.
    QCOMPARE(TriggerText(*copy.GetMatchTrigger()), QString("B2 07 ??"));
    copy.BuildMatchPattern();
    QCOMPARE(TriggerText(*copy.GetMatchTrigger()), QString("B9 07 ??"));
    QCOMPARE(TriggerText(*rule.GetMatchTrigger()), QString("B2 07 ??"));
    QCOMPARE(copy.GetMatchTrigger()->id, 7);
    // The outgoing side reads the global when firing, without a rebuild.
    std::vector<uint8_t> out;
    rule.BuildOutgoingMessage(out, Bytes("B2 07 10"));
    QCOMPARE(Hex(out), QString("E9 00 10"));
}

void tst_MIDITranslatorRule::appendsBehindBytesAlreadyInTheOutput()
{
    const cMIDITranslatorRule rule = Load("9v k 7F", "8v k 00");
    std::vector<uint8_t> out = Bytes("F8");
    rule.BuildOutgoingMessage(out, Bytes("91 3C 7F"));
    rule.BuildOutgoingMessage(out, Bytes("92 3E 7F"));
    QCOMPARE(Hex(out), QString("F8 81 3C 00 82 3E 00"));
}

void tst_MIDITranslatorRule::capturesBeyondAShortMessageGiveZero()
{
    const cMIDITranslatorRule rule = Load("90 k v", "v k 7F");
    std::vector<uint8_t> out;
    rule.BuildOutgoingMessage(out, Bytes("90 3C"));
    QCOMPARE(Hex(out), QString("00 3C 7F"));
    out.clear();
    rule.BuildOutgoingMessage(out, {});
    QCOMPARE(Hex(out), QString("00 00 7F"));
}

void tst_MIDITranslatorRule::unknownGlobalAtFiringGivesZeroAndIsLogged()
{
    const cMIDITranslatorRule rule = Load("v", "B*g v");
    mSource.Clear();
    mSource.AddVariable("n", 1);
    cLogCapture capture;
    std::vector<uint8_t> out;
    rule.BuildOutgoingMessage(out, Bytes("40"));
    QCOMPARE(Hex(out), QString("B0 40"));
    QCOMPARE(capture.Messages(), QStringList{"Unknown Global Variable: \"g\""});
}

void tst_MIDITranslatorRule::unvalidatedStringsStillGiveOneBytePerToken()
{
    // The setters take strings that no validation has seen; a token still stands for one byte.
    cMIDITranslatorRule rule(&mSource);
    rule.SetIncomingMidi("903C v* +");
    QCOMPARE(TriggerText(*rule.GetMatchTrigger()), QString("90 ?? ??"));
    cLogCapture capture;
    rule.SetOutgoingMidi("B07 w");
    // Met once per unit of the template, logged once.
    QCOMPARE(capture.Messages(), QStringList{"Could not find variable \"w\" in incoming MIDI"});
    QCOMPARE(capture.Files(), QStringList{"MIDITranslator/MIDITranslatorRule.cpp"});
    // w falls back to token 0, which holds more than one unit: 0, then its high nibble.
    std::vector<uint8_t> out;
    rule.BuildOutgoingMessage(out, Bytes("90 41 42"));
    QCOMPARE(Hex(out), QString("B0 09"));
}

void tst_MIDITranslatorRule::rejectsRulesWithTheFirstFaultNamed_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("message");

    const QString out = R"("outgoing": {"midi": "v", "ports": ["DAW Out"]})";
    const QString in = R"("incoming": {"midi": "B0 07 v", "ports": ["Mixer In"]})";

    QTest::newRow("name is a number") << R"({"name": 3, )" + in + "," + out + "}" << R"(No "name" string for rule)";
    QTest::newRow("incoming is a string") << R"({"name": "Fader", "incoming": "B0 07 v", )" + out + "}"
                                          << R"(No "incoming" object for rule "Fader")";
    QTest::newRow("incoming missing, outgoing broken too") << R"({"name": "Fader", "outgoing": 1})"
                                                           << R"(No "incoming" object for rule "Fader")";
    QTest::newRow("incoming midi is an array")
        << R"({"name": "Fader", "incoming": {"midi": ["B0"], "ports": []}, )" + out + "}"
        << R"(No incoming "midi" string for rule "Fader")";
    QTest::newRow("incoming midi invalid before ports are looked at")
        << R"({"name": "Fader", "incoming": {"midi": "903C"}, )" + out + "}"
        << R"(Invalid incoming midi string for rule "Fader")";
    QTest::newRow("incoming ports a string")
        << R"({"name": "Fader", "incoming": {"midi": "B0 07 v", "ports": "Mixer In"}, )" + out + "}"
        << R"(No incoming "ports" array for rule "Fader")";
    QTest::newRow("outgoing missing") << R"({"name": "Fader", )" + in + "}"
                                      << R"(No "outgoing" object for rule "Fader")";
    QTest::newRow("outgoing midi a number") << R"({"name": "Fader", )" + in + R"(, "outgoing": {"midi": 7}})"
                                            << R"(No outgoing "midi" string for rule "Fader")";
    QTest::newRow("outgoing capture absent from incoming, ports missing")
        << R"({"name": "Fader", )" + in + R"(, "outgoing": {"midi": "B0 07 w"}})"
        << R"(Invalid outgoing midi string for rule "Fader")";
    QTest::newRow("outgoing global unknown")
        << R"({"name": "Fader", )" + in + R"(, "outgoing": {"midi": "*m", "ports": []}})"
        << R"(Invalid outgoing midi string for rule "Fader")";
    QTest::newRow("outgoing token of three units")
        << R"({"name": "Fader", )" + in + R"(, "outgoing": {"midi": "B0v", "ports": []}})"
        << R"(Invalid outgoing midi string for rule "Fader")";
    QTest::newRow("outgoing ports an object")
        << R"({"name": "Fader", )" + in + R"(, "outgoing": {"midi": "v", "ports": {}}})"
        << R"(No outgoing "ports" array for rule "Fader")";
    QTest::newRow("name with quotes and percent signs") << R"({"name": "50% \"loud\""})"
                                                        << R"(No "incoming" object for rule "50% "loud"")";
}

void tst_MIDITranslatorRule::rejectsRulesWithTheFirstFaultNamed()
{
    QFETCH(QString, json);
    QFETCH(QString, message);
    cLogCapture capture;
    bool ok = true;
    cMIDITranslatorRule::FromJson(Json(json), &mSource, &ok);
    QVERIFY(!ok);
    QCOMPARE(capture.Messages(), QStringList{message});
    QCOMPARE(capture.Files(), QStringList{"MIDITranslator/MIDITranslatorRule.cpp"});
}

void tst_MIDITranslatorRule::keepsOnlyStringPortsAndAcceptsNone()
{
    cLogCapture capture;
    bool ok = false;
    const cMIDITranslatorRule rule = cMIDITranslatorRule::FromJson(
        Json(R"({"name": "Fader", "comment": "ignored",
                 "incoming": {"midi": "B*n 07 v", "ports": ["Mixer In", 3, null, "Mixer In"], "extra": 1},
                 "outgoing": {"midi": "E*n 00 v", "ports": [{"name": "x"}, true]}})"),
        &mSource, &ok);
    QVERIFY(ok);
    QCOMPARE(rule.GetName(), QString("Fader"));
    QCOMPARE(rule.GetIncomingPorts(), (QStringList{"Mixer In", "Mixer In"}));
    QCOMPARE(rule.GetOutgoingPorts(), QStringList{});
    QCOMPARE(rule.GetCaptureLetters(), QStringList{"v"});
    QCOMPARE(capture.Lines(), QStringList());
}

void tst_MIDITranslatorRule::loadsWithoutConfiguration()
{
    cLogCapture capture;
    bool ok = false;
    const cMIDITranslatorRule plain = cMIDITranslatorRule::FromJson(RuleJson("9v k", "8v k 00"), nullptr, &ok);
    QVERIFY(ok);
    std::vector<uint8_t> out;
    plain.BuildOutgoingMessage(out, Bytes("95 40"));
    QCOMPARE(Hex(out), QString("85 40 00"));

    cMIDITranslatorRule::FromJson(RuleJson("B*n", "v"), nullptr, &ok);
    QVERIFY(!ok);
    QCOMPARE(capture.Messages(), QStringList{"Invalid incoming midi string for rule \"test rule\""});
    // A null "ok" pointer is tolerated.
    cMIDITranslatorRule::FromJson(RuleJson("v", "v"), nullptr, nullptr);
}

QTEST_GUILESS_MAIN(tst_MIDITranslatorRule)
#include "tst_MIDITranslatorRule.moc"
