#pragma once
// What may reach a locked console: rules a map marks "safe" (lamps, displays, meters), never a
// fader or a mute, whatever the map says. The one reader of the rule key "safe", for the console
// session and the map checker. Stateless; any thread.

#include <QJsonObject>
#include <QString>

class cConsoleLockPolicy
{
public:
    // The rule key that marks a rule safe: "safe": true.
    static QString SafeKey();
    // The map marks the rule safe.
    static bool IsMarkedSafe(const QJsonObject& Rule);
    // The rule moves a fader or a mute (by its name, or a pitch bend from the DAW), so it is never
    // safe.
    static bool IsFaderOrMute(const QJsonObject& Rule);
    // What the locked console lets through: marked safe, and no fader or mute.
    static bool IsSafe(const QJsonObject& Rule);
};
