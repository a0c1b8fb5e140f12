#pragma once
// Match patterns written as text in tests: "B0 07 ??" is the nibbles B, 0, 0, 7 and two wildcards
// (spaces are only for the reader), and a pattern is written back in that form.

#include "Common/MIDI/MIDIMatch/MIDIMatchTrigger.h"

#include <QString>

inline sMIDIMatchTrigger MakeTrigger(int32_t Id, const QString& Pattern)
{
    sMIDIMatchTrigger trigger;
    trigger.id = Id;
    const QString compact = QString(Pattern).remove(QLatin1Char(' '));
    for (const QChar c : compact)
    {
        sMatchNibble nibble;
        nibble.wildcard = c == QLatin1Char('?');
        if (!nibble.wildcard)
            nibble.value = static_cast<uint8_t>(QString(c).toUInt(nullptr, 16));
        trigger.nibbles.push_back(nibble);
    }
    return trigger;
}

inline QString TriggerText(const sMIDIMatchTrigger& Trigger)
{
    QString text;
    for (std::size_t index = 0; index < Trigger.nibbles.size(); ++index)
    {
        if (index > 0 && index % 2 == 0)
            text += QLatin1Char(' ');
        const sMatchNibble& nibble = Trigger.nibbles[index];
        text += nibble.wildcard ? QStringLiteral("?") : QString::number(nibble.value, 16).toUpper();
    }
    return text;
}
