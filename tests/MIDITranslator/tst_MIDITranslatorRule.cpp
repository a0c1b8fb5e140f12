#include "MIDITranslator/MIDITranslatorRule.h"
#include "tests/support/FakeVariableSource.h"
#include "tests/support/LogCapture.h"

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

// "B2 07 ??": one pair of characters per pattern byte, ? for a wildcard nibble.
QString Pattern(const sMIDIMatchTrigger& Trigger)
{
    QString text;
    for (size_t index = 0; index < Trigger.nibbles.size(); ++index)
    {
        if (index > 0 && index % 2 == 0)
            text += ' ';
        const sMatchNibble& nibble = Trigger.nibbles[index];
        text += nibble.wildcard ? QString("?") : QString::number(nibble.value, 16).toUpper();
    }
    return text;
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

    void splitsMidiStringsAtSpaces_data();
    void splitsMidiStringsAtSpaces();
    void validatesIncomingTokens_data();
    void validatesIncomingTokens();
    void validatesOutgoingTokens_data();
    void validatesOutgoingTokens();

    void buildsMatchPatterns_data();
    void buildsMatchPatterns();
    void rebuildsMatchPatternWithNewGlobalValues();
    void locatesCaptures_data();
    void locatesCaptures();
    void reportsMissingCaptureOnceAndUsesTokenZero();
    void buildsOutgoingTemplates_data();
    void buildsOutgoingTemplates();

    void turnsMatchedMessagesIntoOutgoingBytes_data();
    void turnsMatchedMessagesIntoOutgoingBytes();
    void readsGlobalsWhenFiringNotWhenLoading();
    void appendsBehindBytesAlreadyInTheOutput();
    void capturesBeyondAShortMessageGiveZero();
    void unknownGlobalAtFiringGivesZeroAndIsLogged();

    void rejectsRulesWithTheFirstFaultNamed_data();
    void rejectsRulesWithTheFirstFaultNamed();
    void keepsOnlyStringPorts();
    void acceptsEmptyStringsAndEmptyPortLists();
    void setIdAlsoSetsTheTriggerId();
    void copiesKeepTheirConfigurationAndPattern();
    void loadsWithoutConfiguration();
    void unvalidatedStringsStillGiveOneBytePerToken();
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

void tst_MIDITranslatorRule::splitsMidiStringsAtSpaces_data()
{
    QTest::addColumn<QString>("midi");
    QTest::addColumn<QStringList>("tokens");

    QTest::newRow("single spaces") << "B0 07 v" << QStringList{"B0", "07", "v"};
    QTest::newRow("runs of spaces, leading and trailing") << "  90   3C  7F " << QStringList{"90", "3C", "7F"};
    QTest::newRow("no separator inside a token") << "903C" << QStringList{"903C"};
    QTest::newRow("tab is no separator") << "90\t3C" << QStringList{"90\t3C"};
    QTest::newRow("empty") << "" << QStringList{};
    QTest::newRow("spaces only") << "   " << QStringList{};
}

void tst_MIDITranslatorRule::splitsMidiStringsAtSpaces()
{
    QFETCH(QString, midi);
    QFETCH(QStringList, tokens);
    QCOMPARE(cMIDITranslatorRule::SplitMidi(midi), tokens);
}

void tst_MIDITranslatorRule::validatesIncomingTokens_data()
{
    QTest::addColumn<QString>("midi");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QStringList>("captures");

    QTest::newRow("control change with capture") << "B0 07 v" << true << QStringList{"v"};
    QTest::newRow("global channel") << "B*n 07 v" << true << QStringList{"v"};
    QTest::newRow("captures in order of appearance") << "9v k 7F" << true << QStringList{"v", "k"};
    QTest::newRow("capture keeps its case") << "9V K" << true << QStringList{"V", "K"};
    QTest::newRow("same letter as global and capture") << "*vv" << true << QStringList{"v"};
    QTest::newRow("two globals") << "*g*h" << true << QStringList{};
    QTest::newRow("single hex digit") << "9" << true << QStringList{};
    QTest::newRow("empty string") << "" << true << QStringList{};
    QTest::newRow("four digits in one token") << "903C" << false << QStringList{};
    QTest::newRow("global reference to a hex letter") << "*a" << false << QStringList{};
    QTest::newRow("global reference to an unknown letter") << "B*m" << false << QStringList{};
    QTest::newRow("global letters compare with case") << "B*N" << false << QStringList{};
    QTest::newRow("lone star") << "B0 *" << false << QStringList{};
    QTest::newRow("star followed by a digit") << "*7" << false << QStringList{};
    QTest::newRow("capture repeated in one token, other case") << "vV" << false << QStringList{};
    QTest::newRow("capture repeated across tokens") << "v 0v" << false << QStringList{};
    QTest::newRow("punctuation") << "B0 07 +" << false << QStringList{};
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

void tst_MIDITranslatorRule::validatesOutgoingTokens_data()
{
    QTest::addColumn<QString>("midi");
    QTest::addColumn<QStringList>("captures");
    QTest::addColumn<bool>("valid");

    QTest::newRow("known captures") << "8v k 00" << QStringList{"v", "k"} << true;
    QTest::newRow("repeated capture, either case") << "vV vv" << QStringList{"v"} << true;
    QTest::newRow("capture known in the other case") << "V" << QStringList{"v"} << true;
    QTest::newRow("capture absent from incoming") << "B0 07 w" << QStringList{"v"} << false;
    QTest::newRow("globals") << "E*n *g*h *v" << QStringList{} << true;
    QTest::newRow("unknown global") << "*m" << QStringList{"m"} << false;
    QTest::newRow("more tokens than incoming") << "F0 00 20 v F7" << QStringList{"v"} << true;
    QTest::newRow("single hex digit") << "7" << QStringList{} << true;
    QTest::newRow("empty") << "" << QStringList{} << true;
    QTest::newRow("three units") << "B0v" << QStringList{"v"} << false;
}

void tst_MIDITranslatorRule::validatesOutgoingTokens()
{
    QFETCH(QString, midi);
    QFETCH(QStringList, captures);
    QFETCH(bool, valid);
    QCOMPARE(cMIDITranslatorRule::ValidateOutgoingMidi(cMIDITranslatorRule::SplitMidi(midi), &mSource.GetVariables(),
                                                       captures),
             valid);
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
    QTest::newRow("spaces around") << "  F0   7E  " << "F0 7E";
    QTest::newRow("empty") << "" << "";
}

void tst_MIDITranslatorRule::buildsMatchPatterns()
{
    QFETCH(QString, incoming);
    QFETCH(QString, pattern);
    const cMIDITranslatorRule rule = Load(incoming, "");
    QCOMPARE(Pattern(*rule.GetMatchTrigger()), pattern);
    QCOMPARE(rule.GetMatchTrigger()->nibbles.size() % 2, size_t(0));
}

void tst_MIDITranslatorRule::rebuildsMatchPatternWithNewGlobalValues()
{
    cMIDITranslatorRule rule = Load("B*n 07 v", "B*n 08 v");
    QCOMPARE(Pattern(*rule.GetMatchTrigger()), QString("B2 07 ??"));
    QVERIFY(mSource.SetVariableValue("n", 5));
    // Globals are baked into the pattern: it changes only when rebuilt.
    QCOMPARE(Pattern(*rule.GetMatchTrigger()), QString("B2 07 ??"));
    rule.BuildMatchPattern();
    QCOMPARE(Pattern(*rule.GetMatchTrigger()), QString("B5 07 ??"));
}

void tst_MIDITranslatorRule::locatesCaptures_data()
{
    QTest::addColumn<QString>("incoming");
    QTest::addColumn<QString>("letter");
    QTest::addColumn<int>("token");
    QTest::addColumn<int>("nibble");
    QTest::addColumn<bool>("wholeByte");

    QTest::newRow("whole byte in third token") << "B0 07 v" << "v" << 2 << 4 << true;
    QTest::newRow("low nibble of first token") << "9v k 7F" << "v" << 0 << 1 << false;
    QTest::newRow("whole second token") << "9v k 7F" << "k" << 1 << 2 << true;
    QTest::newRow("high nibble") << "B0 v7" << "v" << 1 << 2 << false;
    QTest::newRow("other case finds it") << "B0 07 V" << "v" << 2 << 4 << true;
    QTest::newRow("behind a global of the same letter") << "*vv" << "v" << 0 << 1 << false;
    QTest::newRow("global of the same letter is skipped") << "*v 0v" << "v" << 1 << 3 << false;
    QTest::newRow("capture before a global") << "k*h" << "k" << 0 << 0 << false;
}

void tst_MIDITranslatorRule::locatesCaptures()
{
    QFETCH(QString, incoming);
    QFETCH(QString, letter);
    QFETCH(int, token);
    QFETCH(int, nibble);
    QFETCH(bool, wholeByte);
    cLogCapture capture;
    const cMIDITranslatorRule rule = Load(incoming, "");
    QCOMPARE(rule.FindCaptureToken(letter), token);
    QCOMPARE(rule.CaptureNibbleIndex(letter), nibble);
    QCOMPARE(rule.IsWholeByteCapture(letter), wholeByte);
    QCOMPARE(capture.Lines(), QStringList());
}

void tst_MIDITranslatorRule::reportsMissingCaptureOnceAndUsesTokenZero()
{
    cMIDITranslatorRule rule(&mSource);
    rule.SetIncomingMidi("v 07");
    cLogCapture capture;
    QCOMPARE(rule.FindCaptureToken("w"), 0);
    QCOMPARE(capture.Messages(), QStringList{"Could not find variable \"w\" in incoming MIDI"});
    QCOMPARE(capture.Files(), QStringList{"MIDITranslator/MIDITranslatorRule.cpp"});

    // A template built without validation meets the letter once per unit and logs once for it.
    capture.Clear();
    rule.SetOutgoingMidi("w");
    QCOMPARE(capture.Messages(), QStringList{"Could not find variable \"w\" in incoming MIDI"});
    // Token 0 is the whole-byte capture v, so w stands for the first byte.
    QCOMPARE(Template(rule.GetOutgoingTemplate()), QString("c0,c1"));
}

void tst_MIDITranslatorRule::buildsOutgoingTemplates_data()
{
    QTest::addColumn<QString>("incoming");
    QTest::addColumn<QString>("outgoing");
    QTest::addColumn<QString>("nibbles");

    QTest::newRow("typical volume rule") << "B*n 07 v" << "E*n 00 v" << "E,nL 0,0 c4,c5";
    QTest::newRow("two hex digits") << "v" << "F0 7e" << "F,0 7,E";
    QTest::newRow("whole-byte capture alone") << "B0 07 v" << "v" << "c4,c5";
    QTest::newRow("nibble capture alone gets a zero high nibble") << "9v k" << "v" << "0,c1";
    QTest::newRow("nibble captures paired") << "9v k 7F" << "8v k 00" << "8,c1 c2,c3 0,0";
    QTest::newRow("whole-byte captures as nibbles give their low nibbles") << "v k" << "kv" << "c3,c1";
    QTest::newRow("global alone") << "v" << "*g" << "gH,gL";
    QTest::newRow("global then digit") << "v" << "*gA" << "gL,A";
    QTest::newRow("global then whole-byte capture") << "v" << "*gv" << "gL,c1";
    QTest::newRow("digit then global") << "v" << "A*h" << "A,hL";
    QTest::newRow("whole-byte capture then global keeps the high nibble") << "B0 v" << "v*h" << "c2,hL";
    QTest::newRow("nibble capture then global") << "Bv" << "v*h" << "c1,hL";
    QTest::newRow("two globals") << "v" << "*g*h" << "gL,hL";
    QTest::newRow("single hex digit is the high nibble") << "v" << "7" << "7,0";
    QTest::newRow("capture in the other case") << "B0 V" << "v" << "c2,c3";
    QTest::newRow("empty") << "v" << "" << "";
}

void tst_MIDITranslatorRule::buildsOutgoingTemplates()
{
    QFETCH(QString, incoming);
    QFETCH(QString, outgoing);
    QFETCH(QString, nibbles);
    cLogCapture capture;
    const cMIDITranslatorRule rule = Load(incoming, outgoing);
    QCOMPARE(Template(rule.GetOutgoingTemplate()), nibbles);
    QCOMPARE(capture.Lines(), QStringList());
}

void tst_MIDITranslatorRule::turnsMatchedMessagesIntoOutgoingBytes_data()
{
    QTest::addColumn<QString>("incoming");
    QTest::addColumn<QString>("outgoing");
    QTest::addColumn<QString>("matched");
    QTest::addColumn<QString>("expected");

    QTest::newRow("channel kept, controller renumbered") << "B*n 07 v" << "B*n 08 v" << "B2 07 40" << "B2 08 40";
    QTest::newRow("volume to pitch bend") << "B*n 07 v" << "E*n 00 v" << "B2 07 7F" << "E2 00 7F";
    QTest::newRow("note on to note off") << "9v k 7F" << "8v k 00" << "93 45 7F" << "83 45 00";
    QTest::newRow("two whole bytes as nibbles") << "v k" << "kv" << "12 34" << "42";
    QTest::newRow("global high nibble in, low nibble out") << "*nA" << "*nA" << "0A" << "2A";
    QTest::newRow("same letter as global and capture") << "*vv" << "v" << "3C" << "0C";
    QTest::newRow("global in front emits its low nibble") << "*vA" << "*vA" << "3A" << "5A";
    QTest::newRow("whole-byte capture before a global gives its high nibble") << "B0 v" << "v*h" << "B0 7C"
                                                                               << "71";
    QTest::newRow("global alone emits the whole byte") << "v" << "*g *h" << "00" << "4C 91";
    QTest::newRow("more outgoing tokens than incoming") << "v" << "F0 00 20 v F7" << "55" << "F0 00 20 55 F7";
    QTest::newRow("fewer outgoing tokens than incoming") << "F0 k v F7" << "v" << "F0 01 02 F7" << "02";
    QTest::newRow("single hex digit") << "v" << "7 A v" << "11" << "70 A0 11";
    QTest::newRow("empty outgoing string sends nothing") << "v" << "" << "12" << "";
    QTest::newRow("spaces around tokens") << "  B0   v " << " v   B1  " << "B0 33" << "33 B1";
}

void tst_MIDITranslatorRule::turnsMatchedMessagesIntoOutgoingBytes()
{
    QFETCH(QString, incoming);
    QFETCH(QString, outgoing);
    QFETCH(QString, matched);
    QFETCH(QString, expected);
    const cMIDITranslatorRule rule = Load(incoming, outgoing);
    std::vector<uint8_t> out;
    rule.BuildOutgoingMessage(out, Bytes(matched));
    QCOMPARE(Hex(out), expected);
    QCOMPARE(out.size(), size_t(cMIDITranslatorRule::SplitMidi(outgoing).size()));
}

void tst_MIDITranslatorRule::readsGlobalsWhenFiringNotWhenLoading()
{
    const cMIDITranslatorRule rule = Load("B0 07 v", "E*n 00 v");
    std::vector<uint8_t> out;
    rule.BuildOutgoingMessage(out, Bytes("B0 07 40"));
    QCOMPARE(Hex(out), QString("E2 00 40"));
    QVERIFY(mSource.SetVariableValue("n", 0x0F));
    out.clear();
    rule.BuildOutgoingMessage(out, Bytes("B0 07 41"));
    QCOMPARE(Hex(out), QString("EF 00 41"));
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

void tst_MIDITranslatorRule::rejectsRulesWithTheFirstFaultNamed_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("message");

    const QString out = R"("outgoing": {"midi": "v", "ports": ["DAW Out"]})";
    const QString in = R"("incoming": {"midi": "B0 07 v", "ports": ["Mixer In"]})";

    QTest::newRow("no name") << "{" + in + "," + out + "}" << R"(No "name" string for rule)";
    QTest::newRow("name is a number") << R"({"name": 3, )" + in + "," + out + "}" << R"(No "name" string for rule)";
    QTest::newRow("empty object") << "{}" << R"(No "name" string for rule)";
    QTest::newRow("incoming is a string") << R"({"name": "Fader", "incoming": "B0 07 v", )" + out + "}"
                                          << R"(No "incoming" object for rule "Fader")";
    QTest::newRow("incoming missing, outgoing broken too") << R"({"name": "Fader", "outgoing": 1})"
                                                           << R"(No "incoming" object for rule "Fader")";
    QTest::newRow("incoming midi missing") << R"({"name": "Fader", "incoming": {"ports": []}, )" + out + "}"
                                           << R"(No incoming "midi" string for rule "Fader")";
    QTest::newRow("incoming midi is an array")
        << R"({"name": "Fader", "incoming": {"midi": ["B0"], "ports": []}, )" + out + "}"
        << R"(No incoming "midi" string for rule "Fader")";
    QTest::newRow("incoming midi invalid before ports are looked at")
        << R"({"name": "Fader", "incoming": {"midi": "903C"}, )" + out + "}"
        << R"(Invalid incoming midi string for rule "Fader")";
    QTest::newRow("incoming global unknown")
        << R"({"name": "Fader", "incoming": {"midi": "B*m 07 v", "ports": []}, )" + out + "}"
        << R"(Invalid incoming midi string for rule "Fader")";
    QTest::newRow("incoming ports missing") << R"({"name": "Fader", "incoming": {"midi": "B0 07 v"}, )" + out + "}"
                                            << R"(No incoming "ports" array for rule "Fader")";
    QTest::newRow("incoming ports a string")
        << R"({"name": "Fader", "incoming": {"midi": "B0 07 v", "ports": "Mixer In"}, )" + out + "}"
        << R"(No incoming "ports" array for rule "Fader")";
    QTest::newRow("outgoing missing") << R"({"name": "Fader", )" + in + "}"
                                      << R"(No "outgoing" object for rule "Fader")";
    QTest::newRow("outgoing midi a number") << R"({"name": "Fader", )" + in + R"(, "outgoing": {"midi": 7}})"
                                            << R"(No outgoing "midi" string for rule "Fader")";
    QTest::newRow("outgoing capture absent from incoming")
        << R"({"name": "Fader", )" + in + R"(, "outgoing": {"midi": "B0 07 w", "ports": []}})"
        << R"(Invalid outgoing midi string for rule "Fader")";
    QTest::newRow("outgoing token of three units")
        << R"({"name": "Fader", )" + in + R"(, "outgoing": {"midi": "B07", "ports": []}})"
        << R"(Invalid outgoing midi string for rule "Fader")";
    QTest::newRow("outgoing ports missing") << R"({"name": "Fader", )" + in + R"(, "outgoing": {"midi": "v"}})"
                                            << R"(No outgoing "ports" array for rule "Fader")";
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

void tst_MIDITranslatorRule::keepsOnlyStringPorts()
{
    bool ok = false;
    const cMIDITranslatorRule rule = cMIDITranslatorRule::FromJson(
        Json(R"({"name": "Fader", "comment": "ignored",
                 "incoming": {"midi": "B*n 07 v", "ports": ["Mixer In", 3, null, "Mixer In"], "extra": 1},
                 "outgoing": {"midi": "E*n 00 v", "ports": [{"name": "x"}, "DAW Out", true]}})"),
        &mSource, &ok);
    QVERIFY(ok);
    QCOMPARE(rule.GetName(), QString("Fader"));
    QCOMPARE(rule.GetIncomingMidi(), QString("B*n 07 v"));
    QCOMPARE(rule.GetOutgoingMidi(), QString("E*n 00 v"));
    QCOMPARE(rule.GetIncomingPorts(), (QStringList{"Mixer In", "Mixer In"}));
    QCOMPARE(rule.GetOutgoingPorts(), QStringList{"DAW Out"});
    QCOMPARE(rule.GetCaptureLetters(), QStringList{"v"});
    QCOMPARE(rule.GetConfiguration(), static_cast<cMIDITranslatorVariableSource*>(&mSource));
}

void tst_MIDITranslatorRule::acceptsEmptyStringsAndEmptyPortLists()
{
    cLogCapture capture;
    bool ok = false;
    const cMIDITranslatorRule rule = cMIDITranslatorRule::FromJson(
        Json(R"({"name": "Nothing", "incoming": {"midi": "   ", "ports": []},
                 "outgoing": {"midi": "", "ports": [1, 2]}})"),
        &mSource, &ok);
    QVERIFY(ok);
    QVERIFY(rule.GetMatchTrigger()->nibbles.empty());
    QVERIFY(rule.GetOutgoingTemplate().empty());
    QVERIFY(rule.GetIncomingPorts().isEmpty());
    QVERIFY(rule.GetOutgoingPorts().isEmpty());
    std::vector<uint8_t> out;
    rule.BuildOutgoingMessage(out, {});
    QVERIFY(out.empty());
    QCOMPARE(capture.Lines(), QStringList());
}

void tst_MIDITranslatorRule::setIdAlsoSetsTheTriggerId()
{
    cMIDITranslatorRule rule = Load("B0 07 v", "v");
    rule.SetId(7);
    QCOMPARE(rule.GetId(), 7);
    QCOMPARE(rule.GetMatchTrigger()->id, 7);
    // Rebuilding the pattern keeps the identifier.
    QVERIFY(mSource.SetVariableValue("n", 3));
    rule.BuildMatchPattern();
    QCOMPARE(rule.GetMatchTrigger()->id, 7);
}

void tst_MIDITranslatorRule::copiesKeepTheirConfigurationAndPattern()
{
    QList<cMIDITranslatorRule> rules;
    {
        const cMIDITranslatorRule rule = Load("B*n 07 v", "E*n 00 v");
        rules.append(rule);
    }
    rules[0].SetId(0);
    cMIDITranslatorRule copy = rules[0];
    QVERIFY(mSource.SetVariableValue("n", 9));
    copy.BuildMatchPattern();
    QCOMPARE(Pattern(*copy.GetMatchTrigger()), QString("B9 07 ??"));
    QCOMPARE(Pattern(*rules[0].GetMatchTrigger()), QString("B2 07 ??"));
    std::vector<uint8_t> out;
    copy.BuildOutgoingMessage(out, Bytes("B9 07 10"));
    QCOMPARE(Hex(out), QString("E9 00 10"));
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

void tst_MIDITranslatorRule::unvalidatedStringsStillGiveOneBytePerToken()
{
    // The setters take strings that no validation has seen; a token still stands for one byte.
    cMIDITranslatorRule rule(&mSource);
    rule.SetIncomingMidi("903C v* +");
    QCOMPARE(Pattern(*rule.GetMatchTrigger()), QString("90 ?? ??"));
    cLogCapture capture;
    rule.SetOutgoingMidi("B07 w");
    QCOMPARE(capture.Messages(), QStringList{"Could not find variable \"w\" in incoming MIDI"});
    // w falls back to token 0, which holds more than one unit: 0, then its high nibble.
    std::vector<uint8_t> out;
    rule.BuildOutgoingMessage(out, Bytes("90 41 42"));
    QCOMPARE(Hex(out), QString("B0 09"));
}

QTEST_GUILESS_MAIN(tst_MIDITranslatorRule)
#include "tst_MIDITranslatorRule.moc"
