#pragma once
// The one reader and writer of the settings store for the window and the bridge: the keys of
// SettingsKeys.h with their defaults, and the rules for what a stored value means (the old family
// name "Ny", a channel out of range, an address with leading zeros, the "Custom" console). One
// settings object per access, dropped at once, so every write is in the store when the call
// returns. GUI thread.

#include "network/Unit.h"

#include <QHostAddress>
#include <QString>

class cSessionSettings
{
public:
    // The console list's entry for an address typed in, and the name saved for it.
    static QString CustomUnitName();
    static sUnit CustomUnit(const QHostAddress& Address);
    // The Custom entry: named "Custom" with no query text (a found console named "Custom" has one).
    static bool IsCustomUnit(const sUnit& Unit);
    // A dotted IPv4 address, every group read in decimal, leading zeros too ("010" is 10, where
    // QHostAddress would read it as octal 8); null unless there are four groups of 0 to 255.
    static QHostAddress ParseAddress(const QString& Text);

    // The selected console family; a stored "Ny" is the old name of "Ny-16".
    static QString Family();
    static void SetFamily(const QString& Family);
    // The DAW protocol, one for all families.
    static QString DAW();
    static void SetDAW(const QString& DAW);

    // The family's MIDI channel, 0 to 15 (channel 1 to 16): 1 when none is stored; a stored value
    // is cut to 8 bits, and one above 15 gives 1 too (logged), so what is shown is what is applied.
    static quint8 Channel(const QString& Family);
    static bool HasChannel(const QString& Family);
    static void SetChannel(const QString& Family, quint8 Channel);

    // The family's connection mode, "MIDI" or "TCP" (anything else read as it is stored).
    static QString Mode(const QString& Family);
    static void SetMode(const QString& Family, bool Network);
    static bool IsNetworkMode(const QString& Mode);

    // Whether the family's console is locked against the DAW (false when nothing is stored).
    static bool ConsoleLocked(const QString& Family);
    static void SetConsoleLocked(const QString& Family, bool Locked);

    // The family's console MIDI ports; empty for none.
    static QString InputPort(const QString& Family);
    static void SetInputPort(const QString& Family, const QString& Name);
    static QString OutputPort(const QString& Family);
    static void SetOutputPort(const QString& Family, const QString& Name);

    // The console last connected over the network: its name ("Custom" for a typed address, empty
    // for none) and address (default 192.168.1.1; as stored, and as read by ParseAddress).
    static QString UnitName(const QString& Family);
    static QString UnitAddressText(const QString& Family);
    static QHostAddress UnitAddress(const QString& Family);
    // Stores the address in its plain form, so every reader of the store gets the same address.
    static void SetUnit(const QString& Family, const QString& Name, const QHostAddress& Address);
    static void SetUnitAddress(const QString& Family, const QHostAddress& Address);
};
