#include "MIDITranslator/ConsoleLockPolicy.h"

#include <QRegularExpression>

QString cConsoleLockPolicy::SafeKey()
{
    return QStringLiteral("safe");
}

bool cConsoleLockPolicy::IsMarkedSafe(const QJsonObject& Rule)
{
    return Rule.value(SafeKey()).toBool(false);
}

bool cConsoleLockPolicy::IsFaderOrMute(const QJsonObject& Rule)
{
    static const QRegularExpression words(QStringLiteral("\\b(faders?|mutes?|muted)\\b"),
                                          QRegularExpression::CaseInsensitiveOption);
    if (words.match(Rule.value(QStringLiteral("name")).toString()).hasMatch())
        return true;
    // A pitch bend is how the DAW protocols move a fader ("E0 l m"), whatever the rule is called.
    const QString midi = Rule.value(QStringLiteral("incoming")).toObject().value(QStringLiteral("midi")).toString().trimmed();
    return midi.startsWith(QLatin1Char('E'), Qt::CaseInsensitive);
}

bool cConsoleLockPolicy::IsSafe(const QJsonObject& Rule)
{
    return IsMarkedSafe(Rule) && !IsFaderOrMute(Rule);
}
