#include "Common/MidiDescriber.h"

namespace
{
QString OnChannel(quint8 Status)
{
    return QStringLiteral(" on channel %1").arg((Status & 0x0F) + 1);
}
} // namespace

QString cMidiDescriber::Describe(const QByteArray& Message)
{
    if (Message.isEmpty())
        return QStringLiteral("nothing");
    const quint8 status = quint8(Message.at(0));
    auto data = [&](int Index) { return int(quint8(Message.at(1 + Index))); };
    const int dataCount = Message.size() - 1;
    if (status < 0x80)
        return QStringLiteral("data bytes without a status");

    if (status < 0xF0)
    {
        const int wanted = ((status & 0xE0) == 0xC0) ? 1 : 2;
        if (dataCount != wanted)
            return QStringLiteral("incomplete message");
        switch (status & 0xF0)
        {
        case 0x80:
            return QStringLiteral("Note Off %1 velocity %2").arg(data(0)).arg(data(1)) + OnChannel(status);
        case 0x90:
            return QStringLiteral("Note On %1 velocity %2").arg(data(0)).arg(data(1)) + OnChannel(status);
        case 0xA0:
            return QStringLiteral("Poly Pressure %1 = %2").arg(data(0)).arg(data(1)) + OnChannel(status);
        case 0xB0:
            return QStringLiteral("CC %1 = %2").arg(data(0)).arg(data(1)) + OnChannel(status);
        case 0xC0:
            return QStringLiteral("Program %1").arg(data(0)) + OnChannel(status);
        case 0xD0:
            return QStringLiteral("Channel Pressure %1").arg(data(0)) + OnChannel(status);
        default: // 0xE0: fourteen bits, 8192 is the centre
            return QStringLiteral("Pitch Bend %1").arg(data(0) | (data(1) << 7)) + OnChannel(status);
        }
    }

    switch (status)
    {
    case 0xF0:
        if (quint8(Message.back()) != 0xF7)
            return QStringLiteral("System Exclusive, unfinished, %1 bytes").arg(Message.size());
        return QStringLiteral("System Exclusive, %1 bytes").arg(Message.size());
    case 0xF1:
        return dataCount == 1 ? QStringLiteral("Time Code Quarter Frame %1").arg(data(0)) : QStringLiteral("incomplete message");
    case 0xF2:
        return dataCount == 2 ? QStringLiteral("Song Position %1").arg(data(0) | (data(1) << 7)) : QStringLiteral("incomplete message");
    case 0xF3:
        return dataCount == 1 ? QStringLiteral("Song Select %1").arg(data(0)) : QStringLiteral("incomplete message");
    case 0xF6:
        return QStringLiteral("Tune Request");
    case 0xF7:
        return QStringLiteral("End of Exclusive without a start");
    case 0xF8:
        return QStringLiteral("Clock");
    case 0xFA:
        return QStringLiteral("Start");
    case 0xFB:
        return QStringLiteral("Continue");
    case 0xFC:
        return QStringLiteral("Stop");
    case 0xFE:
        return QStringLiteral("Active Sensing");
    case 0xFF:
        return QStringLiteral("System Reset");
    default:
        return QStringLiteral("undefined status %1").arg(status, 2, 16, QLatin1Char('0'));
    }
}

QString cMidiDescriber::Line(const QByteArray& Message)
{
    return QString::fromLatin1(Message.toHex(' ')) + QStringLiteral("  ") + Describe(Message);
}
