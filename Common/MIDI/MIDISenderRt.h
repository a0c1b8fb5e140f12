#pragma once
// Splits what a port's Write gets into complete messages and hands each to an RtMidi output on its
// own (a JACK event holds exactly one message). Under JACK it also paces them: RtMidi moves
// everything queued into the next period's port buffer and drops what does not fit, so a burst
// (a console sending its whole state, a flood of fader moves) would lose messages. The sender holds
// back what one period cannot carry and sends it, in order, in the periods that follow. Owned by
// value by its port; GUI thread only.

#include "Common/MIDI/MidiParser.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QString>
#include <QTimer>

#include <RtMidi.h>

class cMIDISenderRt : public cMidiParser
{
public:
    cMIDISenderRt();

    // Where complete messages go from now on; null sends nothing and drops what is held back. Not
    // owned.
    void SetOutput(RtMidiOut* Output);
    // Paces the messages for the MIDI system Api: under JACK, to the running server's period and
    // MIDI buffer, read again when a burst begins more than a second later; elsewhere (and without
    // a server) nothing is held back.
    void PaceFor(RtMidi::Api Api);
    // Sends at most BudgetBytes of event space per PeriodNs, holding back the rest; zero sends
    // everything at once.
    void SetPacing(qint64 BudgetBytes, qint64 PeriodNs);
    // Feeds the bytes; every message they complete is sent. Clock, active sensing and the other
    // real-time bytes, and bytes that make no complete message, are not sent. Send failures are
    // logged with Port as the port's name.
    void Send(const QByteArray& Data, const QString& Port);
    // Bytes of messages held back for later periods.
    int HeldBytes() const { return mHeld.size() - mHeldRead; }

    // Event space one message takes in a JACK MIDI buffer: a 12-byte header, which holds a message
    // of up to four bytes itself, and a longer message's bytes.
    static qint64 EventCost(int Count) { return 12 + (Count > 4 ? Count : 0); }
    // At most this much is held back; beyond it messages are dropped, with a log line.
    static constexpr int kMaxHeldBytes = 16 * 1024 * 1024;

protected:
    bool SysEx() override;
    void Unhandled() override;
    void UnhandledControlChange() override;

private:
    void SendMessage(const uint8_t* Bytes, int Count);
    void Deliver(const uint8_t* Bytes, int Count);
    // Whether Cost fits what the current period has left; takes it when it does.
    bool Take(qint64 Cost);
    // Sends what is held back as far as the budget goes, then waits for the next period.
    void Flush();

    RtMidiOut* mOutput = nullptr;
    QString mPort;
    RtMidi::Api mApi = RtMidi::UNSPECIFIED;
    qint64 mTimingReadAt = 0;
    qint64 mBudget = 0;
    qint64 mPeriodNs = 0;
    double mTokens = 0;
    qint64 mRefilledAt = 0;
    QElapsedTimer mClock;
    // Messages held back, each as a 4-byte length and its bytes; mHeldRead is where the next starts.
    QByteArray mHeld;
    int mHeldRead = 0;
    bool mDropping = false;
    QTimer mFlushTimer;
};
