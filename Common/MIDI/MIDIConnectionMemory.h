#pragma once
// Which ports the user connected Quillon's offered MIDI ports to, kept in the settings store so that
// a back-end able to make connections (JACK) makes them again after a restart. Kept per console
// family and DAW protocol, which only the front end knows: it names them with SetGroup before the
// map's ports are made. No state but the group and the switch; GUI thread only.

#include <QString>
#include <QStringList>

class cMIDIConnectionMemory
{
public:
    // The family and protocol whose connections are remembered and made from now on.
    static void SetGroup(const QString& Family, const QString& Protocol);
    // Off: connections are neither remembered, forgotten nor made again (the bridge's
    // --no-autoconnect). On by default.
    static void SetEnabled(bool Enabled);
    static bool IsEnabled();

    // The peers remembered for the offered port Port (its short name), in the order connected.
    static QStringList Peers(const QString& Port);
    static void Remember(const QString& Port, const QString& Peer);
    static void Forget(const QString& Port, const QString& Peer);
};
