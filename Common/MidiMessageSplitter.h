#pragma once
// Cuts a MIDI byte stream into whole messages, so each can be shown as one line (the console
// simulator, the monitors). One per stream, owned by its reader; one thread at a time.

#include <QByteArray>
#include <QString>

#include <functional>

class cMidiMessageSplitter
{
public:
    // Called once per message: a channel message with its status written out (also when it came
    // with running status), a system message, an exclusive message with its end byte, a real-time
    // byte, or a lone byte that belongs to no message.
    using tMessageSink = std::function<void(const QByteArray& Message)>;
    // Called with a line of text when input is dropped.
    using tProblemSink = std::function<void(const QString& Problem)>;

    // An exclusive message that reaches this many bytes without its end byte is dropped, so a
    // peer that never ends one cannot make the simulator grow without bound.
    static constexpr int kLargestExclusive = 64 * 1024;

    cMidiMessageSplitter(tMessageSink Sink, tProblemSink Problems);

    void Feed(const QByteArray& Bytes);
    // Hands over an unfinished message (the connection ended in its middle).
    void Flush();

private:
    void FeedByte(quint8 Byte);
    void Emit();

    tMessageSink mSink;
    tProblemSink mProblems;
    QByteArray mMessage;
    quint8 mRunningStatus = 0;
    int mDataWanted = 0;
    bool mInExclusive = false;
    // The rest of an over-long exclusive message is dropped up to the next status byte.
    bool mDroppingExclusive = false;
};
