#include "tools/console-sim/ConsoleFamily.h"

namespace
{
// The transport keys, then the bank and channel keys, in the families' key numbering (0-8).
const QStringList kKeys = {QStringLiteral("rewind"),    QStringLiteral("forward"),    QStringLiteral("stop"),
                           QStringLiteral("play"),      QStringLiteral("record"),     QStringLiteral("bank-left"),
                           QStringLiteral("bank-right"), QStringLiteral("channel-left"), QStringLiteral("channel-right")};

// Ny-16 control numbers (plus strip 0-15).
constexpr int kNyFader = 0x10;
constexpr int kNyMute = 0x20;
constexpr int kNyPan = 0x30;
constexpr int kNySolo = 0x40;
constexpr int kNyKey = 0x50;
constexpr int kNyMainFader = 0x07;
constexpr int kNyMainMute = 0x08;
constexpr int kNySelect = 0x60;
// Record arm is a note on the channel: 9n 00-0F.

// KRT-8 parameter numbers (MSB; the LSB is the strip 0-7, 8 the main fader, or the key).
constexpr int kKrtFader = 0x01;
constexpr int kKrtMute = 0x02;
constexpr int kKrtSolo = 0x03;
constexpr int kKrtTouch = 0x04;
constexpr int kKrtPan = 0x05;
constexpr int kKrtSelect = 0x06;
constexpr int kKrtArm = 0x07;
constexpr int kKrtKey = 0x10;
constexpr int kMainStrip = 8;

// Oskel 8 commands.
constexpr int kOskelFader = 0x01;
constexpr int kOskelMute = 0x02;
constexpr int kOskelSolo = 0x03;
constexpr int kOskelKey = 0x04;
constexpr int kOskelMeter = 0x05;
constexpr int kOskelPan = 0x06;
constexpr int kOskelSelect = 0x07;
constexpr int kOskelArm = 0x08;
constexpr int kOskelId = 0x7D;

QString Switch(bool On)
{
    return On ? QStringLiteral("on") : QStringLiteral("off");
}
} // namespace

bool cConsoleFamily::SetFamily(const QString& Name)
{
    const QString name = Name.trimmed().toLower();
    if (name == QLatin1String("ny") || name == QLatin1String("ny-16"))
        mKind = eKind::Ny;
    else if (name == QLatin1String("krt") || name == QLatin1String("krt-8"))
        mKind = eKind::Krt;
    else if (name == QLatin1String("oskel") || name == QLatin1String("oskel 8"))
        mKind = eKind::Oskel;
    else
        return false;
    return true;
}

QStringList cConsoleFamily::FamilyNames()
{
    return {QStringLiteral("ny"), QStringLiteral("krt"), QStringLiteral("oskel")};
}

QString cConsoleFamily::Name() const
{
    switch (mKind)
    {
    case eKind::Ny: return QStringLiteral("Ny-16");
    case eKind::Krt: return QStringLiteral("KRT-8");
    case eKind::Oskel: return QStringLiteral("Oskel 8");
    default: return QString();
    }
}

QString cConsoleFamily::FindText() const
{
    switch (mKind)
    {
    case eKind::Ny: return QStringLiteral("NY Find");
    case eKind::Krt: return QStringLiteral("KRT Find");
    case eKind::Oskel: return QStringLiteral("PVX Find");
    default: return QString();
    }
}

QByteArray cConsoleFamily::Control(int Number, int Value) const
{
    QByteArray bytes;
    bytes.append(char(0xB0 | mChannel)).append(char(Number & 0x7F)).append(char(Value & 0x7F));
    return bytes;
}

QByteArray cConsoleFamily::Nrpn(int Msb, int Lsb, int Value) const
{
    return Control(0x63, Msb) + Control(0x62, Lsb) + Control(0x06, Value >> 7) + Control(0x26, Value & 0x7F);
}

QByteArray cConsoleFamily::Exclusive(int Command, int Index, const QByteArray& Data) const
{
    QByteArray bytes;
    bytes.append(char(0xF0)).append(char(kOskelId)).append(char(mChannel)).append(char(Command)).append(char(Index));
    bytes.append(Data).append(char(0xF7));
    return bytes;
}

bool cConsoleFamily::Command(const QString& Line, QByteArray& Bytes, QString& Error) const
{
    Error.clear();
    Bytes.clear();
    if (mKind == eKind::None)
        return false;
    const QStringList words = Line.section(QLatin1Char('#'), 0, 0).simplified().toLower().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty())
        return false;
    const QString verb = words.first();
    const QStringList verbs = {"fader", "mute", "solo", "touch", "pan", "key", "select", "arm"};
    if (!verbs.contains(verb))
        return false;
    if (words.size() != 3)
    {
        Error = QStringLiteral("\"%1\" wants two arguments: %1 STRIP VALUE (key NAME down|up)").arg(verb);
        return false;
    }

    if (verb == QLatin1String("key"))
    {
        const int key = kKeys.indexOf(words.at(1));
        if (key < 0 || (words.at(2) != QLatin1String("down") && words.at(2) != QLatin1String("up")))
        {
            Error = QStringLiteral("key wants one of %1 and down or up").arg(kKeys.join(QStringLiteral(", ")));
            return false;
        }
        const bool down = words.at(2) == QLatin1String("down");
        if (mKind == eKind::Ny)
            Bytes = Control(kNyKey + key, down ? 0x7F : 0);
        else if (mKind == eKind::Krt)
            Bytes = Nrpn(kKrtKey, key, down ? 1 : 0);
        else
            Bytes = Exclusive(kOskelKey, key, QByteArray(1, char(down ? 1 : 0)));
        return true;
    }

    // STRIP is 1..StripCount or "main" (faders, and touch on the KRT-8; mute on the Ny-16).
    const bool main = words.at(1) == QLatin1String("main");
    bool ok = false;
    const int strip = main ? kMainStrip : words.at(1).toInt(&ok) - 1;
    if (!main && (!ok || strip < 0 || strip >= StripCount()))
    {
        Error = QStringLiteral("strip %1 is not 1 to %2 or \"main\"").arg(words.at(1)).arg(StripCount());
        return false;
    }
    const bool mainAllowed = verb == QLatin1String("fader") || (verb == QLatin1String("touch") && mKind == eKind::Krt) ||
                             (verb == QLatin1String("mute") && mKind == eKind::Ny);
    if (main && !mainAllowed)
    {
        Error = QStringLiteral("the %1 has no main %2").arg(Name(), verb);
        return false;
    }
    if (verb == QLatin1String("touch") && mKind != eKind::Krt)
    {
        Error = QStringLiteral("the %1 has no touch-sensitive faders").arg(Name());
        return false;
    }

    if (verb == QLatin1String("fader") || verb == QLatin1String("pan"))
    {
        const int value = words.at(2).toInt(&ok);
        if (!ok || value < 0 || value > MaxValue())
        {
            Error = QStringLiteral("%1 value %2 is not 0 to %3").arg(verb, words.at(2)).arg(MaxValue());
            return false;
        }
        const bool fader = verb == QLatin1String("fader");
        if (mKind == eKind::Ny)
            Bytes = Control(main ? kNyMainFader : (fader ? kNyFader : kNyPan) + strip, value);
        else if (mKind == eKind::Krt)
            Bytes = Nrpn(fader ? kKrtFader : kKrtPan, strip, value);
        else
        {
            QByteArray data;
            data.append(char(value >> 7)).append(char(value & 0x7F));
            Bytes = Exclusive(fader ? kOskelFader : kOskelPan, strip, data);
        }
        return true;
    }

    if (words.at(2) != QLatin1String("on") && words.at(2) != QLatin1String("off"))
    {
        Error = QStringLiteral("%1 wants on or off").arg(verb);
        return false;
    }
    const bool on = words.at(2) == QLatin1String("on");
    const bool select = verb == QLatin1String("select");
    const bool arm = verb == QLatin1String("arm");
    if (mKind == eKind::Ny && arm)
        Bytes = QByteArray().append(char(0x90 | mChannel)).append(char(strip)).append(char(on ? 0x7F : 0));
    else if (mKind == eKind::Ny)
    {
        const int number = main ? kNyMainMute : (select ? kNySelect : verb == QLatin1String("mute") ? kNyMute : kNySolo) + strip;
        Bytes = Control(number, on ? 0x7F : 0);
    }
    else if (mKind == eKind::Krt)
    {
        const int parameter = select ? kKrtSelect : arm ? kKrtArm : verb == QLatin1String("mute") ? kKrtMute
                                                   : verb == QLatin1String("solo")                  ? kKrtSolo
                                                                                                    : kKrtTouch;
        Bytes = Nrpn(parameter, strip, on ? 1 : 0);
    }
    else
    {
        const int command = select ? kOskelSelect : arm ? kOskelArm : verb == QLatin1String("mute") ? kOskelMute : kOskelSolo;
        Bytes = Exclusive(command, strip, QByteArray(1, char(on ? 1 : 0)));
    }
    return true;
}

QString cConsoleFamily::DescribeControl(int Number, int Value) const
{
    const int strip = (Number & 0x0F) + 1;
    if (Number == kNyMainFader)
        return QStringLiteral("main fader = %1").arg(Value);
    if (Number == kNyMainMute)
        return QStringLiteral("main mute %1").arg(Switch(Value != 0));
    switch (Number & 0xF0)
    {
    case kNyFader: return QStringLiteral("fader %1 = %2").arg(strip).arg(Value);
    case kNyMute: return QStringLiteral("mute %1 %2").arg(strip).arg(Switch(Value != 0));
    case kNyPan: return QStringLiteral("pan %1 = %2").arg(strip).arg(Value);
    case kNySolo: return QStringLiteral("solo %1 %2").arg(strip).arg(Switch(Value != 0));
    case kNySelect: return QStringLiteral("select %1 %2").arg(strip).arg(Switch(Value != 0));
    case kNyKey:
        if ((Number & 0x0F) < kKeys.size())
            return QStringLiteral("%1 lamp %2").arg(kKeys.at(Number & 0x0F), Switch(Value != 0));
        return QString();
    default: return QString();
    }
}

QString cConsoleFamily::DescribeParameter(int Msb, int Lsb, int Value) const
{
    const QString strip = Lsb == kMainStrip ? QStringLiteral("main") : QString::number(Lsb + 1);
    switch (Msb)
    {
    case kKrtFader: return QStringLiteral("fader %1 = %2").arg(strip).arg(Value);
    case kKrtMute: return QStringLiteral("mute %1 %2").arg(strip, Switch(Value != 0));
    case kKrtSolo: return QStringLiteral("solo %1 %2").arg(strip, Switch(Value != 0));
    case kKrtTouch: return QStringLiteral("touch %1 %2").arg(strip, Switch(Value != 0));
    case kKrtPan: return QStringLiteral("pan %1 = %2").arg(strip).arg(Value);
    case kKrtSelect: return QStringLiteral("select %1 %2").arg(strip, Switch(Value != 0));
    case kKrtArm: return QStringLiteral("arm %1 %2").arg(strip, Switch(Value != 0));
    case kKrtKey:
        if (Lsb < kKeys.size())
            return QStringLiteral("%1 lamp %2").arg(kKeys.at(Lsb), Switch(Value != 0));
        return QString();
    default: return QString();
    }
}

QString cConsoleFamily::Describe(const QByteArray& Message)
{
    const auto byte = [&Message](int Index) { return int(quint8(Message.at(Index))); };
    if (mKind == eKind::Ny || mKind == eKind::Krt)
    {
        if (mKind == eKind::Ny && Message.size() == 3 && byte(0) == (0x90 | mChannel) && byte(1) < 16)
            return QStringLiteral("arm %1 %2").arg(byte(1) + 1).arg(Switch(byte(2) != 0));
        if (Message.size() != 3 || byte(0) != (0xB0 | mChannel))
            return QString();
        if (mKind == eKind::Ny)
            return DescribeControl(byte(1), byte(2));
        switch (byte(1))
        {
        case 0x63: mParameterMsb = byte(2); return QString();
        case 0x62: mParameterLsb = byte(2); return QString();
        case 0x06: mDataMsb = byte(2); return QString();
        case 0x26:
            if (mParameterMsb < 0 || mParameterLsb < 0)
                return QString();
            return DescribeParameter(mParameterMsb, mParameterLsb, (mDataMsb << 7) | byte(2));
        default: return QString();
        }
    }
    if (mKind == eKind::Oskel && Message.size() >= 7 && byte(0) == 0xF0 && byte(1) == kOskelId && byte(2) == mChannel &&
        byte(Message.size() - 1) == 0xF7)
    {
        const int index = byte(4);
        const QString strip = index == kMainStrip ? QStringLiteral("main") : QString::number(index + 1);
        const int command = byte(3);
        if ((command == kOskelFader || command == kOskelPan) && Message.size() == 8)
            return QStringLiteral("%1 %2 = %3")
                .arg(command == kOskelFader ? QStringLiteral("fader") : QStringLiteral("pan"), strip)
                .arg((byte(5) << 7) | byte(6));
        if (Message.size() != 7)
            return QString();
        static const QStringList switches = {QString(), QString(), QStringLiteral("mute"), QStringLiteral("solo"), QString(),
                                             QString(), QString(), QStringLiteral("select"), QStringLiteral("arm")};
        if (command < switches.size() && !switches.at(command).isEmpty())
            return QStringLiteral("%1 %2 %3").arg(switches.at(command), strip, Switch(byte(5) != 0));
        if (command == kOskelKey && index < kKeys.size())
            return QStringLiteral("%1 lamp %2").arg(kKeys.at(index), Switch(byte(5) != 0));
        if (command == kOskelMeter)
            return QStringLiteral("meter %1 = %2").arg(strip).arg(byte(5));
    }
    return QString();
}
