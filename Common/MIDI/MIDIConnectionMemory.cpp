#include "Common/MIDI/MIDIConnectionMemory.h"

#include <QSettings>
#include <QUrl>

namespace
{
QString gGroup;
bool gEnabled = true;

// Port names hold blanks, colons and maybe slashes; the settings store takes slashes as groups.
QString Encoded(const QString& Text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(Text, " :()"));
}

QString Key(const QString& Port)
{
    return QStringLiteral("MIDIConnections/%1/%2").arg(gGroup.isEmpty() ? QStringLiteral("default") : gGroup, Encoded(Port));
}
} // namespace

void cMIDIConnectionMemory::SetGroup(const QString& Family, const QString& Protocol)
{
    gGroup = Encoded(Family) + QLatin1Char('/') + Encoded(Protocol);
}

void cMIDIConnectionMemory::SetEnabled(bool Enabled)
{
    gEnabled = Enabled;
}

bool cMIDIConnectionMemory::IsEnabled()
{
    return gEnabled;
}

QStringList cMIDIConnectionMemory::Peers(const QString& Port)
{
    return QSettings().value(Key(Port)).toStringList();
}

void cMIDIConnectionMemory::Remember(const QString& Port, const QString& Peer)
{
    QStringList peers = Peers(Port);
    if (peers.contains(Peer))
        return;
    peers << Peer;
    QSettings().setValue(Key(Port), peers);
}

void cMIDIConnectionMemory::Forget(const QString& Port, const QString& Peer)
{
    QStringList peers = Peers(Port);
    if (peers.removeAll(Peer) == 0)
        return;
    QSettings settings;
    if (peers.isEmpty())
        settings.remove(Key(Port));
    else
        settings.setValue(Key(Port), peers);
}
