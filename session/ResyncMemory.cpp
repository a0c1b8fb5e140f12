#include "session/ResyncMemory.h"

#include "Common/LogError.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QSet>

namespace
{
// Data bytes of a channel message with this status.
int ChannelDataBytes(quint8 Status)
{
    const quint8 kind = Status & 0xF0;
    return (kind == 0xC0 || kind == 0xD0) ? 1 : 2;
}

// Which data bytes (0 or 1) of a channel message carry its value.
QList<int> ValueDataBytes(quint8 Status)
{
    switch (Status & 0xF0)
    {
    case 0xE0:
        return {0, 1};
    case 0xC0:
    case 0xD0:
        return {0};
    default:
        return {1};
    }
}

bool IsHexDigit(QChar Character)
{
    return (Character >= QLatin1Char('0') && Character <= QLatin1Char('9')) ||
           (Character.toLower() >= QLatin1Char('a') && Character.toLower() <= QLatin1Char('f'));
}

// Capture letters in one token (not the letters of *x globals), lower case.
QStringList CapturesIn(const QString& Token)
{
    QStringList letters;
    for (int i = 0; i < Token.size(); ++i)
    {
        if (Token.at(i) == QLatin1Char('*'))
        {
            ++i;
            continue;
        }
        if (Token.at(i).isLetter() && !IsHexDigit(Token.at(i)))
            letters.append(QString(Token.at(i).toLower()));
    }
    return letters;
}
} // namespace

QStringList cResyncMemory::ValueLetters(const cMIDITranslatorRule& Rule, const QJsonObject& Object)
{
    QStringList captures;
    for (const QString& letter : Rule.GetCaptureLetters())
        captures.append(letter.toLower());

    // The map's "value_capture": the letters of the captures that hold the value.
    const QJsonValue declared = Object.value(QLatin1String("value_capture"));
    if (declared.isString())
    {
        QStringList letters;
        for (const QChar character : declared.toString())
        {
            if (character.isSpace())
                continue;
            const QString letter = QString(character).toLower();
            if (captures.contains(letter))
            {
                if (!letters.contains(letter))
                    letters.append(letter);
            }
            else
            {
                LOG_ERROR("Rule \"%s\": the value capture \"%s\" is none of its captures", qPrintable(Rule.GetName()),
                          qPrintable(QString(character)));
            }
        }
        return letters;
    }

    // Without the key: the captures where the incoming message carries its value.
    QStringList letters;
    const QStringList tokens = cMIDITranslatorRule::SplitMidi(Rule.GetIncomingMidi());
    int status = -1;   // high nibble of the current channel message, -1 outside one
    int dataIndex = 0; // data bytes seen since its status
    bool inExclusive = false;
    for (const QString& token : tokens)
    {
        const bool literalHigh = !token.isEmpty() && IsHexDigit(token.at(0));
        const int high = literalHigh ? QString(token.at(0)).toInt(nullptr, 16) : -1;
        if (high >= 8)
        {
            inExclusive = token.size() == 2 && token.compare(QLatin1String("F0"), Qt::CaseInsensitive) == 0;
            status = (high < 0xF) ? high : -1;
            dataIndex = 0;
            continue;
        }
        if (inExclusive || status < 0)
            continue;
        if (ValueDataBytes(quint8(status << 4)).contains(dataIndex))
            for (const QString& letter : CapturesIn(token))
                if (captures.contains(letter) && !letters.contains(letter))
                    letters.append(letter);
        ++dataIndex;
        if (dataIndex >= ChannelDataBytes(quint8(status << 4)))
            dataIndex = 0; // running status: the next data bytes start another message
    }
    return letters;
}

void cResyncMemory::SetRules(const QList<cMIDITranslatorRule>& Rules, const std::function<QJsonObject(int)>& RuleObject)
{
    Clear();
    mValueNibbles.assign(static_cast<std::size_t>(Rules.size()), {});
    for (int id = 0; id < Rules.size(); ++id)
    {
        const cMIDITranslatorRule& rule = Rules.at(id);
        QSet<int> valueCaptures;
        for (const QString& letter : ValueLetters(rule, RuleObject ? RuleObject(id) : QJsonObject()))
        {
            // The rule stores its letters as written; look them up as written.
            QString written = letter;
            for (const QString& candidate : rule.GetCaptureLetters())
                if (candidate.toLower() == letter)
                    written = candidate;
            const int index = rule.CaptureNibbleIndex(written);
            valueCaptures.insert(index);
            if (rule.IsWholeByteCapture(written))
                valueCaptures.insert(index + 1);
        }
        // A letter made by the rule's "value" key sits behind the matched message: a value too.
        const int matched = 2 * cMIDITranslatorRule::SplitMidi(rule.GetIncomingMidi()).size();
        std::vector<bool>& nibbles = mValueNibbles[static_cast<std::size_t>(id)];
        for (const sOutgoingNibble& nibble : rule.GetOutgoingTemplate())
            nibbles.push_back(nibble.captureIndex >= 0 && (valueCaptures.contains(nibble.captureIndex) || nibble.captureIndex >= matched));
    }
}

QByteArray cResyncMemory::KeyOf(int RuleId, const QByteArray& Bytes) const
{
    const std::vector<bool>* nibbles =
        (RuleId >= 0 && static_cast<std::size_t>(RuleId) < mValueNibbles.size()) ? &mValueNibbles[static_cast<std::size_t>(RuleId)]
                                                                                 : nullptr;
    QByteArray masks(Bytes.size(), '\0');
    for (int i = 0; i < Bytes.size(); ++i)
    {
        quint8 mask = 0;
        if (nibbles != nullptr)
        {
            const std::size_t high = static_cast<std::size_t>(2 * i);
            if (high < nibbles->size() && (*nibbles)[high])
                mask |= 0xF0;
            if (high + 1 < nibbles->size() && (*nibbles)[high + 1])
                mask |= 0x0F;
        }
        masks[i] = char(mask);
    }

    // One channel message on its own: its value position is the value, whatever made it.
    QByteArray bytes = Bytes;
    const quint8 status = Bytes.isEmpty() ? 0 : quint8(Bytes.at(0));
    if (status >= 0x80 && status < 0xF0 && Bytes.size() == 1 + ChannelDataBytes(status))
    {
        for (const int data : ValueDataBytes(status))
            masks[1 + data] = char(0x7F);
        // A note off and a note on of the same key set the same lamp.
        if ((status & 0xF0) == 0x80)
            bytes[0] = char(0x90 | (status & 0x0F));
    }

    QByteArray key;
    key.reserve(2 * bytes.size());
    for (int i = 0; i < bytes.size(); ++i)
    {
        key.append(char(quint8(bytes.at(i)) & ~quint8(masks.at(i))));
        key.append(masks.at(i));
    }
    return key;
}

void cResyncMemory::Remember(int RuleId, const QByteArray& Bytes)
{
    if (Bytes.isEmpty())
        return;
    const QByteArray key = KeyOf(RuleId, Bytes);
    auto found = mEntries.find(key);
    if (found != mEntries.end())
    {
        mKeysByOrder.remove(found->order);
        found->bytes = Bytes;
        found->order = mNextOrder++;
        mKeysByOrder.insert(found->order, key);
        return;
    }
    if (mEntries.size() >= kMostControls)
    {
        if (!mOverflowLogged)
        {
            LOG_ERROR("More than %d controls to bring back after a reconnection: the oldest are forgotten",
                      kMostControls);
            mOverflowLogged = true;
        }
        const auto oldest = mKeysByOrder.begin();
        mEntries.remove(oldest.value());
        mKeysByOrder.erase(oldest);
    }
    sEntry entry;
    entry.bytes = Bytes;
    entry.order = mNextOrder++;
    mEntries.insert(key, entry);
    mKeysByOrder.insert(entry.order, key);
}

QList<QByteArray> cResyncMemory::Messages() const
{
    QList<QByteArray> messages;
    for (const QByteArray& key : mKeysByOrder)
        messages.append(mEntries.value(key).bytes);
    return messages;
}

void cResyncMemory::Clear()
{
    mEntries.clear();
    mKeysByOrder.clear();
    mOverflowLogged = false;
}
