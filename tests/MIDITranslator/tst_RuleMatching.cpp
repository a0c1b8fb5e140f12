#include "Common/MIDI/MIDIMatch/MIDIMatchManager.h"
#include "Common/MIDI/MIDIMatch/MIDIMatchTriggerListener.h"
#include "MIDITranslator/MIDITranslatorRule.h"
#include "tests/support/ConsoleTraffic.h"
#include "tests/support/FakeVariableSource.h"
#include "tests/support/LogCapture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

namespace
{
std::vector<uint8_t> Bytes(const QString& Hex)
{
    const QByteArray bytes = QByteArray::fromHex(Hex.toLatin1());
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

QString Hex(const std::vector<uint8_t>& Bytes)
{
    return QByteArray(reinterpret_cast<const char*>(Bytes.data()), int(Bytes.size())).toHex(' ').toUpper();
}

// Rules loaded from JSON and fired by a real match tree the way the translator configuration does
// it: identifiers in file order, the matched bytes turned into outgoing bytes at once. Records what
// each firing sent, as "id: bytes".
class cRuleFiring : public cMIDIMatchTriggerListener
{
public:
    explicit cRuleFiring(cFakeVariableSource* Variables) : mVariables(Variables) {}

    void LoadRules(const QString& JsonArray)
    {
        mManager = std::make_unique<cMIDIMatchManager>(this);
        for (const QJsonValue& value : QJsonDocument::fromJson(JsonArray.toUtf8()).array())
        {
            bool ok = false;
            cMIDITranslatorRule rule = cMIDITranslatorRule::FromJson(value.toObject(), mVariables, &ok);
            QVERIFY(ok);
            rule.SetId(mRules.size());
            mRules.append(rule);
            mManager->AddTrigger(*rule.GetMatchTrigger());
        }
    }

    void Feed(const std::vector<uint8_t>& Stream)
    {
        for (uint8_t byte : Stream)
            mManager->ProcessByte(byte);
    }

    void MIDIMatchTriggered(int Id, const std::vector<uint8_t>& Message) override
    {
        QVERIFY(Id >= 0 && Id < mRules.size());
        std::vector<uint8_t> out;
        mRules.at(Id).BuildOutgoingMessage(out, Message);
        mSent << QString("%1: %2").arg(Id).arg(Hex(out));
    }

    QStringList mSent;
    QList<cMIDITranslatorRule> mRules;

private:
    cFakeVariableSource* mVariables;
    std::unique_ptr<cMIDIMatchManager> mManager;
};

QString Rule(const QString& Name, const QString& Incoming, const QString& Outgoing)
{
    return QString(R"({"name": "%1", "incoming": {"midi": "%2", "ports": ["Mixer In"]},
                       "outgoing": {"midi": "%3", "ports": ["DAW Out"]}})")
        .arg(Name, Incoming, Outgoing);
}
} // namespace

class tst_RuleMatching : public QObject
{
    Q_OBJECT

private:
    cFakeVariableSource mVariables;

private slots:
    void init();
    void firesTheRulesOfTheMessagesInTheStream_data();
    void firesTheRulesOfTheMessagesInTheStream();
    void translatesEveryNoteOfRealisticTraffic();
};

void tst_RuleMatching::init()
{
    mVariables.Clear();
    mVariables.AddVariable("n", 0x02, "MIDI Channel");
    mVariables.AddVariable("g", 0x10, "Bank");
}

void tst_RuleMatching::firesTheRulesOfTheMessagesInTheStream_data()
{
    QTest::addColumn<QStringList>("rules");
    QTest::addColumn<QString>("stream");
    QTest::addColumn<QStringList>("sent");

    const QString volume = Rule("Volume", "B*n 07 v", "E*n 00 v");
    QTest::newRow("matched messages on their channel only")
        << QStringList{volume} << "B2 07 40  B3 07 41  B2 08 42  F8  B2 07 7F  90 3C 7F"
        << QStringList{"0: E2 00 40", "0: E2 00 7F"};
    QTest::newRow("identical patterns fire in file order")
        << QStringList{Rule("To DAW", "B0 07 v", "B1 07 v"), Rule("To lamp", "B0 07 v", "90 v 7F")}
        << "B0 07 21" << QStringList{"0: B1 07 21", "1: 90 21 7F"};
    QTest::newRow("whole-byte and nibble captures")
        << QStringList{Rule("Note off", "9v k 7F", "8v k 00"), Rule("Swap", "A0 v k", "A0 kv"),
                       Rule("Global nibble", "*gA", "*gA")}
        << "93 45 7F  A0 12 34  1A" << QStringList{"0: 83 45 00", "1: A0 42", "2: 0A"};
}

void tst_RuleMatching::firesTheRulesOfTheMessagesInTheStream()
{
    QFETCH(QStringList, rules);
    QFETCH(QString, stream);
    QFETCH(QStringList, sent);
    cLogCapture capture;
    cRuleFiring firing(&mVariables);
    firing.LoadRules("[" + rules.join(',') + "]");
    firing.Feed(Bytes(stream));
    QCOMPARE(firing.mSent, sent);
    QCOMPARE(capture.Lines(), QStringList());
}

void tst_RuleMatching::translatesEveryNoteOfRealisticTraffic()
{
    cRuleFiring firing(&mVariables);
    firing.LoadRules("[" + Rule("Button", "9v k 7F", "8v k 00") + "]");
    const std::vector<uint8_t> traffic = MakeConsoleTraffic(200000, 7);

    // Note-on messages of the generated traffic are never interrupted, and data bytes stay below
    // 0x80, so a plain scan finds exactly the messages the rule must translate.
    QStringList expected;
    for (size_t index = 0; index + 2 < traffic.size(); ++index)
    {
        if ((traffic[index] >> 4) == 0x9 && traffic[index + 2] == 0x7F)
            expected << "0: " + Hex({uint8_t(0x80 | (traffic[index] & 0x0F)), traffic[index + 1], 0x00});
    }
    QVERIFY(expected.size() > 1000);
    firing.Feed(traffic);
    QCOMPARE(firing.mSent.size(), expected.size());
    QCOMPARE(firing.mSent, expected);
}

QTEST_GUILESS_MAIN(tst_RuleMatching)
#include "tst_RuleMatching.moc"
