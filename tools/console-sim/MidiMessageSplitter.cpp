#include "tools/console-sim/MidiMessageSplitter.h"

#include <utility>

namespace
{
// Data bytes that follow a status byte; -1 for status bytes that stand alone.
int DataBytesAfter(quint8 Status)
{
    switch (Status & 0xF0)
    {
    case 0xC0:
    case 0xD0:
        return 1;
    case 0x80:
    case 0x90:
    case 0xA0:
    case 0xB0:
    case 0xE0:
        return 2;
    default:
        break;
    }
    switch (Status)
    {
    case 0xF1:
    case 0xF3:
        return 1;
    case 0xF2:
        return 2;
    default:
        return 0;
    }
}
} // namespace

cMidiMessageSplitter::cMidiMessageSplitter(tMessageSink Sink) : mSink(std::move(Sink)) {}

void cMidiMessageSplitter::Feed(const QByteArray& Bytes)
{
    for (char byte : Bytes)
        FeedByte(quint8(byte));
}

void cMidiMessageSplitter::Flush()
{
    if (!mMessage.isEmpty())
        Emit();
    mInExclusive = false;
    mDataWanted = 0;
}

void cMidiMessageSplitter::Emit()
{
    const QByteArray message = mMessage;
    mMessage.clear();
    mSink(message);
}

void cMidiMessageSplitter::FeedByte(quint8 Byte)
{
    if (Byte >= 0xF8)
    {
        // Real-time bytes may sit anywhere, even inside another message, and do not end it.
        mSink(QByteArray(1, char(Byte)));
        return;
    }
    if (mInExclusive)
    {
        if (Byte < 0x80)
        {
            mMessage.append(char(Byte));
            return;
        }
        mInExclusive = false;
        if (Byte == 0xF7)
        {
            mMessage.append(char(Byte));
            Emit();
            return;
        }
        // Another status byte ends the exclusive message unfinished.
        Emit();
    }
    if (Byte >= 0x80)
    {
        if (!mMessage.isEmpty())
            Emit(); // the previous message was cut short
        mDataWanted = 0;
        if (Byte == 0xF0)
        {
            mRunningStatus = 0;
            mInExclusive = true;
            mMessage.append(char(Byte));
            return;
        }
        const int wanted = DataBytesAfter(Byte);
        mRunningStatus = Byte < 0xF0 ? Byte : 0;
        mMessage.append(char(Byte));
        if (wanted == 0)
            Emit();
        else
            mDataWanted = wanted;
        return;
    }
    // A data byte.
    if (mDataWanted == 0)
    {
        if (mRunningStatus == 0)
        {
            mSink(QByteArray(1, char(Byte)));
            return;
        }
        mMessage.append(char(mRunningStatus));
        mDataWanted = DataBytesAfter(mRunningStatus);
    }
    mMessage.append(char(Byte));
    if (--mDataWanted == 0)
        Emit();
}
