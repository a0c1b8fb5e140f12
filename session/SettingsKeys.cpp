#include "session/SettingsKeys.h"

namespace
{
QString FamilyKey(const QString& MixerType, const QString& Path)
{
    return MixerType + QLatin1Char('/') + Path;
}
} // namespace

QString MixerTypeKey()
{
    return QStringLiteral("MixerType");
}

QString DAWTypeKey()
{
    return QStringLiteral("DAWType");
}

QString ModeKey(const QString& MixerType)
{
    return FamilyKey(MixerType, QStringLiteral("Mode"));
}

QString MIDIChannelKey(const QString& MixerType)
{
    return FamilyKey(MixerType, QStringLiteral("MIDIChannel"));
}

QString InputPortKey(const QString& MixerType)
{
    return FamilyKey(MixerType, QStringLiteral("MIDI") + QLatin1Char('/') + QStringLiteral("InputPort"));
}

QString OutputPortKey(const QString& MixerType)
{
    return FamilyKey(MixerType, QStringLiteral("MIDI") + QLatin1Char('/') + QStringLiteral("OutputPort"));
}

QString DefaultUnitNameKey(const QString& MixerType)
{
    return FamilyKey(MixerType, QStringLiteral("Connection") + QLatin1Char('/') + QStringLiteral("DefaultUnitName"));
}

QString ConsoleLockedKey(const QString& MixerType)
{
    return FamilyKey(MixerType, QStringLiteral("ConsoleLocked"));
}

QString DefaultUnitIPKey(const QString& MixerType)
{
    return FamilyKey(MixerType, QStringLiteral("Connection") + QLatin1Char('/') + QStringLiteral("DefaultUnitIP"));
}

QString DefaultUnitIP()
{
    return QStringLiteral("192.168.1.1");
}

QString MIDIModeValue()
{
    return QStringLiteral("MIDI");
}

QString TCPModeValue()
{
    return QStringLiteral("TCP");
}

QString UpgradedMixerType(const QString& Stored)
{
    return Stored == QLatin1String("Ny") ? QStringLiteral("Ny-16") : Stored;
}
