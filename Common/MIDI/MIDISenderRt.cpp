#include "Common/MIDI/MIDISenderRt.h"

#include "Common/LogError.h"
#if QUILLON_HAVE_JACK
#include "Common/MIDI/JackClientRt.h"
#endif

#include <QtEndian>

#include <algorithm>
#include <cmath>

cMIDISenderRt::cMIDISenderRt()
{
    // Every channel goes through; the base handlers take nothing, so each complete channel or
    // system common message ends in Unhandled, where it is sent.
    mOmni = true;
    mClock.start();
    mFlushTimer.setSingleShot(true);
    mFlushTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&mFlushTimer, &QTimer::timeout, [this] { Flush(); });
}

void cMIDISenderRt::SetOutput(RtMidiOut* Output)
{
    mOutput = Output;
    if (Output == nullptr)
    {
        mFlushTimer.stop();
        mHeld.clear();
        mHeldRead = 0;
    }
}

void cMIDISenderRt::PaceFor(RtMidi::Api Api)
{
    mApi = Api;
    mTimingReadAt = mClock.nsecsElapsed();
#if QUILLON_HAVE_JACK
    if (Api == RtMidi::UNIX_JACK)
    {
        const cJackClientRt::sTiming timing = cJackClientRt::ServerTiming();
        if (timing.PeriodFrames > 0 && timing.SampleRate > 0 && timing.MidiBufferBytes > 0)
        {
            // A third of the buffer a period: even when a late period drains what two periods
            // and a full budget left, it fits.
            SetPacing(qint64(timing.MidiBufferBytes / 3), qint64(timing.PeriodFrames) * 1000000000 / timing.SampleRate);
            return;
        }
    }
#endif
    Q_UNUSED(Api);
    SetPacing(0, 0);
}

void cMIDISenderRt::SetPacing(qint64 BudgetBytes, qint64 PeriodNs)
{
    const qint64 budget = PeriodNs > 0 ? std::max<qint64>(BudgetBytes, 0) : 0;
    if (budget == mBudget && PeriodNs == mPeriodNs)
        return;
    mBudget = budget;
    mPeriodNs = PeriodNs;
    mTokens = double(mBudget);
    mRefilledAt = mClock.nsecsElapsed();
}

void cMIDISenderRt::Send(const QByteArray& Data, const QString& Port)
{
    mPort = Port;
    for (const char byte : Data)
        ParseByte(static_cast<uint8_t>(byte));
}

bool cMIDISenderRt::SysEx()
{
    SendMessage(mSysExBuffer, mCount);
    return true;
}

void cMIDISenderRt::Unhandled()
{
    const uint8_t status = mBuffer[0];
    // 0xF4 and 0xF5 begin no message that a receiver knows.
    if (status == 0xF4 || status == 0xF5 || status == 0xF0)
        return;
    SendMessage(mBuffer, mCount);
}

void cMIDISenderRt::UnhandledControlChange()
{
    SendMessage(mBuffer, mCount);
}

bool cMIDISenderRt::Take(qint64 Cost)
{
    if (mBudget == 0)
        return true;
    const qint64 now = mClock.nsecsElapsed();
    mTokens = std::min(double(mBudget), mTokens + double(now - mRefilledAt) * double(mBudget) / double(mPeriodNs));
    mRefilledAt = now;
    // A message larger than a whole budget goes out alone, when the budget is full.
    if (mTokens < double(std::min(Cost, mBudget)))
        return false;
    mTokens -= double(Cost);
    return true;
}

void cMIDISenderRt::SendMessage(const uint8_t* Bytes, int Count)
{
    if (mOutput == nullptr)
        return;
    if (mBudget == 0 || (HeldBytes() == 0 && Take(EventCost(Count))))
    {
        Deliver(Bytes, Count);
        return;
    }
    // The user may have changed the server's period since: read it again as a burst begins, at
    // most once a second.
    if (HeldBytes() == 0 && mClock.nsecsElapsed() - mTimingReadAt > 1000000000)
    {
        PaceFor(mApi);
        if (mBudget == 0 || Take(EventCost(Count)))
        {
            Deliver(Bytes, Count);
            return;
        }
    }
    if (HeldBytes() + 4 + Count > kMaxHeldBytes)
    {
        if (!mDropping)
            LOG_ERROR("MIDI port \"%s\" cannot send as fast as messages come: %d bytes wait already; dropping messages",
                      mPort.toLocal8Bit().constData(), HeldBytes());
        mDropping = true;
        return;
    }
    uchar length[4];
    qToLittleEndian<quint32>(quint32(Count), length);
    mHeld.append(reinterpret_cast<const char*>(length), 4);
    mHeld.append(reinterpret_cast<const char*>(Bytes), Count);
    if (!mFlushTimer.isActive())
        Flush();
}

void cMIDISenderRt::Flush()
{
    while (mOutput != nullptr && HeldBytes() > 0)
    {
        const int count = int(qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(mHeld.constData() + mHeldRead)));
        const qint64 cost = EventCost(count);
        if (!Take(cost))
        {
            // Wait until the budget has grown back enough, at least a millisecond.
            const double missing = double(std::min(cost, mBudget)) - mTokens;
            const int ms = std::max(1, int(std::ceil(missing * double(mPeriodNs) / double(mBudget) / 1e6)));
            mFlushTimer.start(ms);
            if (mHeldRead > 65536 && mHeldRead > mHeld.size() / 2)
            {
                mHeld.remove(0, mHeldRead);
                mHeldRead = 0;
            }
            return;
        }
        Deliver(reinterpret_cast<const uint8_t*>(mHeld.constData() + mHeldRead + 4), count);
        mHeldRead += 4 + count;
    }
    mHeld.clear();
    mHeldRead = 0;
    mDropping = false;
}

void cMIDISenderRt::Deliver(const uint8_t* Bytes, int Count)
{
    try
    {
        mOutput->sendMessage(Bytes, static_cast<size_t>(Count));
    }
    catch (const RtMidiError& error)
    {
        LOG_ERROR("Failed to send %d bytes to MIDI port \"%s\": %s", Count, mPort.toLocal8Bit().constData(), error.what());
    }
}
