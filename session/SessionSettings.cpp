#include "session/SessionSettings.h"

#include "Common/LogError.h"
#include "session/SettingsKeys.h"

#include <QSettings>
#include <QStringList>

namespace
{
QVariant Read(const QString& Key, const QVariant& Default = QVariant())
{
    return QSettings().value(Key, Default);
}

void Write(const QString& Key, const QVariant& Value)
{
    QSettings().setValue(Key, Value);
}
} // namespace

QString cSessionSettings::CustomUnitName()
{
    return QStringLiteral("Custom");
}

sUnit cSessionSettings::CustomUnit(const QHostAddress& Address)
{
    sUnit unit;
    unit.Address = Address;
    unit.Name = CustomUnitName();
    return unit;
}

bool cSessionSettings::IsCustomUnit(const sUnit& Unit)
{
    return Unit.Name == CustomUnitName() && Unit.FindString.isEmpty();
}

QHostAddress cSessionSettings::ParseAddress(const QString& Text)
{
    const QStringList parts = Text.split(QLatin1Char('.'), Qt::KeepEmptyParts, Qt::CaseSensitive);
    if (parts.size() != 4)
        return QHostAddress();
    quint32 address = 0;
    for (const QString& rawPart : parts)
    {
        const QString part = rawPart.trimmed();
        bool isNumber = false;
        const uint value = part.toUInt(&isNumber, 10);
        if (!isNumber || part.isEmpty() || value > 255 || !part.at(0).isDigit())
            return QHostAddress();
        address = (address << 8) | value;
    }
    return QHostAddress(address);
}

QString cSessionSettings::Family()
{
    return UpgradedMixerType(Read(MixerTypeKey()).toString());
}

void cSessionSettings::SetFamily(const QString& Family)
{
    Write(MixerTypeKey(), Family);
}

QString cSessionSettings::DAW()
{
    return Read(DAWTypeKey()).toString();
}

void cSessionSettings::SetDAW(const QString& DAW)
{
    Write(DAWTypeKey(), DAW);
}

quint8 cSessionSettings::Channel(const QString& Family)
{
    if (!HasChannel(Family))
        return quint8(kDefaultMIDIChannel);
    const quint8 channel = quint8(Read(MIDIChannelKey(Family)).toUInt());
    if (channel <= 15)
        return channel;
    LOG_ERROR("Stored MIDI channel %u of mixer \"%s\" is out of range; channel %u is used", unsigned(channel),
              Family.toLocal8Bit().constData(), kDefaultMIDIChannel + 1);
    return quint8(kDefaultMIDIChannel);
}

bool cSessionSettings::HasChannel(const QString& Family)
{
    return QSettings().contains(MIDIChannelKey(Family));
}

void cSessionSettings::SetChannel(const QString& Family, quint8 Channel)
{
    Write(MIDIChannelKey(Family), unsigned(Channel));
}

QString cSessionSettings::Mode(const QString& Family)
{
    return Read(ModeKey(Family)).toString();
}

void cSessionSettings::SetMode(const QString& Family, bool Network)
{
    Write(ModeKey(Family), Network ? TCPModeValue() : MIDIModeValue());
}

bool cSessionSettings::IsNetworkMode(const QString& Mode)
{
    return Mode == TCPModeValue();
}

bool cSessionSettings::ConsoleLocked(const QString& Family)
{
    return Read(ConsoleLockedKey(Family)).toBool();
}

void cSessionSettings::SetConsoleLocked(const QString& Family, bool Locked)
{
    Write(ConsoleLockedKey(Family), Locked);
}

QString cSessionSettings::InputPort(const QString& Family)
{
    return Read(InputPortKey(Family)).toString();
}

void cSessionSettings::SetInputPort(const QString& Family, const QString& Name)
{
    Write(InputPortKey(Family), Name);
}

QString cSessionSettings::OutputPort(const QString& Family)
{
    return Read(OutputPortKey(Family)).toString();
}

void cSessionSettings::SetOutputPort(const QString& Family, const QString& Name)
{
    Write(OutputPortKey(Family), Name);
}

QString cSessionSettings::UnitName(const QString& Family)
{
    return Read(DefaultUnitNameKey(Family)).toString();
}

QString cSessionSettings::UnitAddressText(const QString& Family)
{
    return Read(DefaultUnitIPKey(Family), DefaultUnitIP()).toString();
}

QHostAddress cSessionSettings::UnitAddress(const QString& Family)
{
    return ParseAddress(UnitAddressText(Family));
}

void cSessionSettings::SetUnit(const QString& Family, const QString& Name, const QHostAddress& Address)
{
    Write(DefaultUnitNameKey(Family), Name);
    SetUnitAddress(Family, Address);
}

void cSessionSettings::SetUnitAddress(const QString& Family, const QHostAddress& Address)
{
    Write(DefaultUnitIPKey(Family), Address.toString());
}
