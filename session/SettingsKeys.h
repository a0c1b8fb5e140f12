#pragma once
// The keys under which Quillon keeps the user's choices in its settings store (QSettings, native
// format, organisation "Corvane", application "Quillon"). Shared by the preferences window and the
// headless bridge so both read and write the same values. Plain functions; any thread.

#include <QString>

// Top-level keys: the selected console family, and the DAW protocol (one value for all families).
QString MixerTypeKey();
QString DAWTypeKey();

// Keys kept per console family: the family name, a slash, the key's own path. With an empty family
// name QSettings drops the leading slash, so the keys fall to the top level.
QString ModeKey(const QString& MixerType);
QString MIDIChannelKey(const QString& MixerType);
QString InputPortKey(const QString& MixerType);
QString OutputPortKey(const QString& MixerType);
QString DefaultUnitNameKey(const QString& MixerType);
QString DefaultUnitIPKey(const QString& MixerType);
// Whether the DAW is kept from moving the console ("true"/"false"; absent: unlocked).
QString ConsoleLockedKey(const QString& MixerType);

// Values and defaults that go with the keys.
constexpr unsigned kDefaultMIDIChannel = 1; // shown as "2"; used only when the key is absent
QString DefaultUnitIP();                     // "192.168.1.1"
QString MIDIModeValue();                     // "MIDI": the console is reached through system MIDI ports
QString TCPModeValue();                      // "TCP": the console is reached over the network link
// The family name to use for a stored MixerType: the old name "Ny" stands for "Ny-16".
QString UpgradedMixerType(const QString& Stored);
