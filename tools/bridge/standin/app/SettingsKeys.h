#pragma once
// Stand-in until the window's settings keys are on main: the same key paths, used by the bridge only.
#include <QString>
inline QString MixerTypeKey() { return QStringLiteral("MixerType"); }
inline QString DAWTypeKey() { return QStringLiteral("DAWType"); }
inline QString ModeKey(const QString& Family) { return Family + QStringLiteral("/Mode"); }
inline QString MIDIChannelKey(const QString& Family) { return Family + QStringLiteral("/MIDIChannel"); }
inline QString InputPortKey(const QString& Family) { return Family + QStringLiteral("/MIDI/InputPort"); }
inline QString OutputPortKey(const QString& Family) { return Family + QStringLiteral("/MIDI/OutputPort"); }
inline QString DefaultUnitNameKey(const QString& Family) { return Family + QStringLiteral("/Connection/DefaultUnitName"); }
inline QString DefaultUnitIPKey(const QString& Family) { return Family + QStringLiteral("/Connection//DefaultUnitIP"); }
