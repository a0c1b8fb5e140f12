#include "tools/mapcheck/RuleLearner.h"

#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "MIDITranslator/MIDITranslatorRule.h"
#include "tools/mapcheck/MapChecker.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QTemporaryDir>
#include <QVector>

#include <limits>

namespace
{
const QString kMixerIn = QStringLiteral("Mixer In");
constexpr int kNoFit = std::numeric_limits<int>::max();
constexpr int kLongestEvent = 32;
// Learn looks at this many messages at most (a selection of the whole history is cut short).
constexpr int kMostMessages = 2048;

// One event of the control (the messages it sends for one value), and which nibbles changed
// between its repeats.
struct sEvent
{
    QByteArray Bytes;               // the first repeat
    QVector<bool> Varies;           // per nibble, high first
    QList<QByteArray> Repeats;      // every repeat's bytes
    bool ByteVaries(int Byte) const { return Varies.at(2 * Byte) || Varies.at(2 * Byte + 1); }
};

quint8 Nibble(const QByteArray& Bytes, int Index)
{
    const quint8 byte = quint8(Bytes.at(Index / 2));
    return Index % 2 == 0 ? quint8(byte >> 4) : quint8(byte & 0x0F);
}

// Cuts the messages into the shortest run that repeats with the fewest changing bytes: a fader on
// a console that sends four parameter messages per value repeats every four messages. A run never
// holds two messages that start alike (a key pressed twice is two runs, not one), and all the
// messages are one run only when nothing repeats.
sEvent FindEvent(const QList<QByteArray>& Messages)
{
    sEvent best;
    double bestShare = 2.0;
    const int count = Messages.size();
    for (int period = 1; period <= count; ++period)
    {
        // No control sends more than kLongestEvent messages for one value; the whole list is
        // looked at as one run only when it is that short.
        if (period > kLongestEvent && period != count)
            continue;
        if (period == count && count > kLongestEvent)
            break;
        const int repeats = count / period;
        if (repeats < 2 && (period != count || !best.Bytes.isEmpty()))
            continue;
        QList<QByteArray> starts;
        for (int i = 0; i < period; ++i)
            starts << Messages.at(i).left(2);
        if (period > 1 && QSet<QByteArray>(starts.begin(), starts.end()).size() != period)
            continue;
        QList<QByteArray> events;
        bool same = true;
        for (int repeat = 0; repeat < repeats && same; ++repeat)
        {
            QByteArray bytes;
            for (int i = 0; i < period && same; ++i)
            {
                const QByteArray& message = Messages.at(repeat * period + i);
                const QByteArray& first = Messages.at(i);
                same = message.size() == first.size() && message.at(0) == first.at(0);
                bytes += message;
            }
            events << bytes;
        }
        if (!same)
            continue;
        sEvent event;
        event.Bytes = events.first();
        event.Repeats = events;
        event.Varies.fill(false, 2 * event.Bytes.size());
        for (const QByteArray& other : events)
            for (int nibble = 0; nibble < event.Varies.size(); ++nibble)
                event.Varies[nibble] = event.Varies[nibble] || Nibble(other, nibble) != Nibble(event.Bytes, nibble);
        int varying = 0;
        for (int byte = 0; byte < event.Bytes.size(); ++byte)
            varying += event.ByteVaries(byte) ? 1 : 0;
        const double share = double(varying) / event.Bytes.size();
        if (share < bestShare - 1e-9)
        {
            bestShare = share;
            best = event;
        }
    }
    return best;
}

// How far a map rule's incoming pattern is from the event: the literal nibbles that differ, or
// kNoFit when it does not capture where the event changes. With Fixed, the event is one value (a
// key pressed) and the rule must capture nothing where the event changes.
int Distance(const cMIDITranslatorRule& Rule, const sEvent& Event, const QByteArray& Bytes, bool Fixed)
{
    const std::vector<sMatchNibble>& nibbles = Rule.GetMatchTrigger()->nibbles;
    if (int(nibbles.size()) != 2 * Bytes.size())
        return kNoFit;
    int distance = 0;
    for (int byte = 0; byte < Bytes.size(); ++byte)
    {
        const bool captured = nibbles[2 * byte].wildcard || nibbles[2 * byte + 1].wildcard;
        // A capture where the event did not change is fine (the control moved a little).
        if (Event.ByteVaries(byte) && captured == Fixed)
            return kNoFit;
        for (int nibble = 2 * byte; nibble < 2 * byte + 2; ++nibble)
        {
            if (nibbles[nibble].wildcard)
                continue;
            if (!Fixed && Event.Varies.at(nibble))
                return kNoFit;
            distance += nibbles[nibble].value != Nibble(Bytes, nibble) ? 1 : 0;
        }
    }
    return distance;
}

bool ReadsConsole(const cMIDITranslatorRule& Rule, const cMIDITranslatorConfiguration& Map)
{
    for (const QString& port : Rule.GetIncomingPorts())
        if (port == kMixerIn || Map.ResolveInputAlias(port) == Map.ResolveInputAlias(kMixerIn))
            return true;
    return false;
}

// The map rule nearest to the bytes; -1 for none.
int Nearest(const cMIDITranslatorConfiguration& Map, const sEvent& Event, const QByteArray& Bytes, bool Fixed, int* Best)
{
    *Best = kNoFit;
    int found = -1;
    for (const cMIDITranslatorRule& rule : Map.GetRules())
    {
        if (!ReadsConsole(rule, Map))
            continue;
        const int distance = Distance(rule, Event, Bytes, Fixed);
        if (distance < *Best)
        {
            *Best = distance;
            found = rule.GetId();
        }
    }
    return found;
}

// The reference rule with its incoming pattern moved to these bytes: tokens that do not fit them
// are written out in hex, the rest (captures, channel variables) stay the reference's own.
QJsonObject FromReference(const cMIDITranslatorConfiguration& Map, int Id, const QByteArray& Bytes, int Distance)
{
    const cMIDITranslatorRule& reference = Map.GetRules().at(Id);
    QStringList tokens = cMIDITranslatorRule::SplitMidi(reference.GetIncomingMidi());
    const std::vector<sMatchNibble>& nibbles = reference.GetMatchTrigger()->nibbles;
    for (int byte = 0; byte < tokens.size(); ++byte)
        for (int nibble = 2 * byte; nibble < 2 * byte + 2; ++nibble)
            if (!nibbles[nibble].wildcard && nibbles[nibble].value != Nibble(Bytes, nibble))
                tokens[byte] = QString::fromLatin1(Bytes.mid(byte, 1).toHex()).toUpper();
    QJsonObject rule = Map.GetRuleObject(Id);
    if (Distance > 0)
        rule.insert(QStringLiteral("name"), reference.GetName() + QStringLiteral(" (learned)"));
    QJsonObject incoming = rule.value(QStringLiteral("incoming")).toObject();
    incoming.insert(QStringLiteral("midi"), tokens.join(QLatin1Char(' ')));
    rule.insert(QStringLiteral("incoming"), incoming);
    return rule;
}

// A rule from the bytes alone, for a map with no rule of that shape: the changed bytes captured
// (a status byte's channel nibble alone), a status byte on the channel of a "MIDI Channel"
// variable written with it.
QJsonObject FromBytes(const cMIDITranslatorConfiguration& Map, const sEvent& Event)
{
    QString channelLetter;
    int channel = -1;
    for (const cMIDITranslatorVariable& variable : Map.GetVariables())
        if (variable.GetName() == QLatin1String("MIDI Channel"))
        {
            channelLetter = variable.GetVariableName();
            channel = variable.GetValue();
        }
    int captures = 0;
    for (int byte = 0; byte < Event.Bytes.size(); ++byte)
        captures += Event.ByteVaries(byte) ? 1 : 0;
    const QStringList letters = captures == 1   ? QStringList{QStringLiteral("v")}
                                : captures == 2 ? QStringList{QStringLiteral("m"), QStringLiteral("l")}
                                                : QString::fromLatin1("ghijkpqrstuwxyz").split(QString(), Qt::SkipEmptyParts);
    QStringList tokens;
    int next = 0;
    for (int byte = 0; byte < Event.Bytes.size(); ++byte)
    {
        const quint8 value = quint8(Event.Bytes.at(byte));
        const QString hex = QString::fromLatin1(Event.Bytes.mid(byte, 1).toHex()).toUpper();
        const bool status = value >= 0x80 && value < 0xF0;
        if (Event.ByteVaries(byte) && next < letters.size())
            tokens << (status ? hex.left(1) + letters.at(next++) : letters.at(next++));
        else if (status && !channelLetter.isEmpty() && (value & 0x0F) == channel)
            tokens << hex.left(1) + QLatin1Char('*') + channelLetter;
        else
            tokens << hex;
    }
    const QStringList ports = Map.GetVirtualPortNames();
    return QJsonObject{
        {QStringLiteral("name"), QStringLiteral("learned control")},
        {QStringLiteral("incoming"), QJsonObject{{QStringLiteral("midi"), tokens.join(QLatin1Char(' '))},
                                                 {QStringLiteral("ports"), QJsonArray{kMixerIn}}}},
        {QStringLiteral("outgoing"),
         QJsonObject{{QStringLiteral("midi"), QString()},
                     {QStringLiteral("ports"), ports.isEmpty() ? QJsonArray() : QJsonArray{ports.first()}}}},
    };
}

// The proposal checked as part of a copy of the loaded map, by the map checker.
void Check(sLearnProposal& Proposal, const cMIDITranslatorConfiguration& Map)
{
    QFile file(Map.GetFileName());
    QJsonObject top;
    if (file.open(QIODevice::ReadOnly))
        top = QJsonDocument::fromJson(file.readAll()).object();
    QJsonArray rules;
    for (const QJsonObject& rule : Proposal.Rules)
        rules.append(rule);
    top.insert(QStringLiteral("rules"), rules);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("proposal.json"));
    QFile out(path);
    if (!folder.isValid() || !out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(top).toJson()) < 0)
    {
        Proposal.Notes << QStringLiteral("the proposal could not be checked: no temporary file");
        return;
    }
    out.close();
    cMapChecker checker;
    checker.Check(path);
    Proposal.Rejections = checker.RejectionCount();
    Proposal.Warnings = checker.WarningCount();
    for (QString line : checker.FindingLines())
        Proposal.Findings << line.replace(path, QStringLiteral("proposal"));
}
} // namespace

namespace
{
// One JSON value as text: a value alone is no JSON document, so it is written inside an array and
// the brackets are cut off.
QString Bare(const QJsonValue& Value)
{
    const QString text = QString::fromUtf8(QJsonDocument(QJsonArray{Value}).toJson(QJsonDocument::Compact));
    return text.mid(1, text.size() - 2);
}
} // namespace

// The rule's keys in the order the map files write them: name, incoming, outgoing, then the rest.
QString sLearnProposal::Json() const
{
    QStringList lines;
    for (const QJsonObject& rule : Rules)
    {
        QStringList keys{QStringLiteral("name"), QStringLiteral("incoming"), QStringLiteral("outgoing")};
        for (const QString& key : rule.keys())
            if (!keys.contains(key))
                keys << key;
        QStringList members;
        for (const QString& key : keys)
        {
            if (!rule.contains(key))
                continue;
            members << Bare(key) + QLatin1Char(':') + Bare(rule.value(key));
        }
        lines << QLatin1Char('{') + members.join(QLatin1Char(',')) + QLatin1Char('}');
    }
    return lines.join(QStringLiteral(",\n"));
}

sLearnProposal cRuleLearner::Propose(const QList<QByteArray>& Messages, const cMIDITranslatorConfiguration& Map)
{
    sLearnProposal proposal;
    QList<QByteArray> messages;
    for (const QByteArray& message : Messages)
        if (!message.isEmpty() && quint8(message.at(0)) >= 0x80 && quint8(message.at(0)) < 0xF8)
            messages << message; // real-time bytes are no part of a control
    if (messages.size() > kMostMessages)
    {
        messages = messages.mid(0, kMostMessages);
        proposal.Notes << QStringLiteral("only the first %1 messages were looked at").arg(kMostMessages);
    }
    if (messages.isEmpty())
    {
        proposal.Notes << QStringLiteral("no console message to learn from");
        return proposal;
    }
    const sEvent event = FindEvent(messages);
    if (event.Bytes.isEmpty())
    {
        proposal.Notes << QStringLiteral("the messages do not repeat: select the messages of one control only");
        return proposal;
    }
    if (event.Repeats.size() < 2)
        proposal.Notes << QStringLiteral("one value only: move the control so that it sends more than one");

    int captureDistance = kNoFit;
    const int captureReference = Nearest(Map, event, event.Bytes, false, &captureDistance);
    // A key the map writes as two rules, one per value (pressed, released).
    QList<QByteArray> values;
    for (const QByteArray& repeat : event.Repeats)
        if (!values.contains(repeat))
            values << repeat;
    int keyDistance = kNoFit;
    QList<QPair<int, int>> keyReferences; // rule, distance
    if (values.size() == 2)
    {
        keyDistance = 0;
        for (const QByteArray& value : values)
        {
            int distance = kNoFit;
            const int id = Nearest(Map, event, value, true, &distance);
            keyDistance = id < 0 ? kNoFit : qMin(kNoFit - 1, keyDistance + distance);
            keyReferences << qMakePair(id, distance);
        }
    }

    if (keyDistance < captureDistance)
    {
        for (int i = 0; i < values.size(); ++i)
            proposal.Rules << FromReference(Map, keyReferences.at(i).first, values.at(i), keyReferences.at(i).second);
        proposal.Reference = Map.GetRules().at(keyReferences.first().first).GetName();
        proposal.InMap = keyDistance == 0;
    }
    else if (captureReference >= 0)
    {
        proposal.Rules << FromReference(Map, captureReference, event.Bytes, captureDistance);
        proposal.Reference = Map.GetRules().at(captureReference).GetName();
        proposal.InMap = captureDistance == 0;
    }
    else
    {
        proposal.Rules << FromBytes(Map, event);
        proposal.Notes << QStringLiteral("the loaded map has no rule of this shape: write the DAW side (the outgoing \"midi\") yourself");
    }
    if (proposal.InMap)
        proposal.Notes << QStringLiteral("the loaded map has this rule already: \"%1\"").arg(proposal.Reference);
    else if (!proposal.Reference.isEmpty())
        proposal.Notes << QStringLiteral("DAW side taken from the rule \"%1\" of the same kind: change it to this control's").arg(proposal.Reference);
    Check(proposal, Map);
    return proposal;
}
