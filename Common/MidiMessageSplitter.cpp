#include "Common/MidiMessageSplitter.h"

#include "Common/MIDI/MidiMessageLength.h"

#include <utility>

cMidiMessageSplitter::cMidiMessageSplitter(tMessageSink Sink, tProblemSink Problems)
    : mSink(std::move(Sink)), mProblems(std::move(Problems))
{
}

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
    mDroppingExclusive = false;
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
    if (mDroppingExclusive)
    {
        if (Byte < 0x80)
            return;
        mDroppingExclusive = false;
        if (Byte == 0xF7)
            return;
    }
    if (mInExclusive)
    {
        if (Byte < 0x80)
        {
            mMessage.append(char(Byte));
            if (mMessage.size() >= kLargestExclusive)
            {
                mProblems(QStringLiteral("an exclusive message reached %1 bytes without its end byte; dropped")
                              .arg(kLargestExclusive));
                mMessage.clear();
                mInExclusive = false;
                mDroppingExclusive = true;
            }
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
        const int wanted = cMidiMessageLength::DataBytes(Byte);
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
        mDataWanted = cMidiMessageLength::DataBytes(mRunningStatus);
    }
    mMessage.append(char(Byte));
    if (--mDataWanted == 0)
        Emit();
}
