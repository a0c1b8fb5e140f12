// Learn against the shipped maps: the messages a shipped rule reads from the console, sent with two
// values (or a key pressed and released), give back that very rule; a control the map lacks gets
// the DAW side of the rule of the same shape.

#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "tools/mapcheck/MapChecker.h"
#include "tools/mapcheck/RuleLearner.h"

#include <QDir>
#include <QtTest>

namespace
{
// The bytes a rule's pattern matches, its captured nibbles set from Seed (1 or 2), cut into messages.
QList<QByteArray> Messages(const cMIDITranslatorRule& Rule, int Seed)
{
    QList<QByteArray> messages;
    const std::vector<sMatchNibble>& nibbles = Rule.GetMatchTrigger()->nibbles;
    for (std::size_t i = 0; i < nibbles.size(); i += 2)
    {
        const char byte = char((nibbles[i].wildcard ? Seed : nibbles[i].value) << 4 | (nibbles[i + 1].wildcard ? Seed + 2 : nibbles[i + 1].value));
        if (messages.isEmpty() || (quint8(byte) >= 0x80 && quint8(messages.last().at(0)) != 0xF0))
            messages << QByteArray(1, byte);
        else
            messages.last().append(byte);
    }
    return messages;
}
} // namespace

class tst_RuleLearner : public QObject
{
    Q_OBJECT

private slots:
    void learnsTheShippedRules_data();
    void learnsTheShippedRules();
};

void tst_RuleLearner::learnsTheShippedRules_data()
{
    QTest::addColumn<QString>("file");
    for (const QString& file : QDir(QUILLON_MAPS_DIR).entryList({"*_*.json"}))
        if (file != "mixer_map.json")
            QTest::newRow(qPrintable(file)) << file;
}

void tst_RuleLearner::learnsTheShippedRules()
{
    QFETCH(QString, file);
    cMapChecker checker;
    checker.Check(QDir(QUILLON_MAPS_DIR).filePath(file));
    const cMIDITranslatorConfiguration& map = *checker.Configuration();
    const cMIDITranslatorRule* fader = nullptr;
    int learned = 0;
    for (const cMIDITranslatorRule& rule : map.GetRules())
    {
        if (!rule.GetIncomingPorts().contains("Mixer In") || (rule.GetCaptureLetters().isEmpty() && !rule.GetName().contains("pressed")))
            continue;
        // A key is pressed, then released by the rule of that name; a control sends two values.
        QList<QByteArray> messages = Messages(rule, 1);
        QStringList expected{map.GetRuleObject(rule.GetId()).value("name").toString()};
        if (rule.GetCaptureLetters().isEmpty())
        {
            expected << QString(rule.GetName()).replace("pressed", "released");
            for (const cMIDITranslatorRule& other : map.GetRules())
                if (other.GetName() == expected.last())
                    messages += Messages(other, 1);
        }
        else
        {
            messages += Messages(rule, 2);
            fader = fader ? fader : &rule;
        }
        const sLearnProposal proposal = cRuleLearner::Propose(messages, map);
        QStringList names;
        for (const QJsonObject& object : proposal.Rules)
        {
            names << object.value("name").toString();
            for (const cMIDITranslatorRule& shipped : map.GetRules())
                if (shipped.GetName() == names.last())
                    QCOMPARE(object, map.GetRuleObject(shipped.GetId()));
        }
        QVERIFY2(proposal.InMap && proposal.Rejections == 0, qPrintable(rule.GetName() + ": " + proposal.Notes.join("; ")));
        QCOMPARE(names, expected);
        ++learned;
    }
    QVERIFY(learned >= 5 && fader);

    // A strip the map does not have: the nearest rule's DAW side, the console pattern as sent.
    QList<QByteArray> messages = Messages(*fader, 1) + Messages(*fader, 2);
    for (QByteArray& message : messages)
        if (file.startsWith("krt8") && quint8(message.at(1)) == 0x62)
            message[2] = 0x7E; // parameter number 126
        else if (file.startsWith("ny16"))
            message[1] = 0x70; // CC 112
        else if (file.startsWith("oskel8"))
            message[4] = 0x7E; // channel 126
    const sLearnProposal proposal = cRuleLearner::Propose(messages, map);
    const QJsonObject shipped = map.GetRuleObject(fader->GetId());
    QVERIFY(!proposal.InMap && proposal.Rejections == 0);
    QCOMPARE(proposal.Rules.size(), 1);
    QCOMPARE(proposal.Rules.first().value("outgoing"), shipped.value("outgoing"));
    QVERIFY2(proposal.Rules.first().value("incoming") != shipped.value("incoming"), qPrintable(proposal.Json()));
}

QTEST_GUILESS_MAIN(tst_RuleLearner)
#include "tst_RuleLearner.moc"
