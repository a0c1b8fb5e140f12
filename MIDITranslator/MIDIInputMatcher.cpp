#include "MIDITranslator/MIDIInputMatcher.h"

#include "Common/MIDI/MIDIMatch/MIDIMatchManager.h"
#include "Common/MIDI/MidiMessageLength.h"
#include "Common/MIDI/SystemMIDIConfiguration.h"
#include "MIDITranslator/MIDITrafficObserver.h"

cMIDIInputMatcher::cMIDIInputMatcher(const QString& Name, cSystemMIDIConfiguration* Registry,
                                     cMIDIMatchTriggerListener* Listener, QObject* Parent)
    : QObject(Parent), mName(Name), mRegistry(Registry), mMatchManager(new cMIDIMatchManager(Listener))
{
    if (mRegistry == nullptr)
        return;
    connect(mRegistry, &cSystemMIDIConfiguration::InputAddedSignal, this, &cMIDIInputMatcher::InputAdded);
    connect(mRegistry, &cSystemMIDIConfiguration::InputRemovedSignal, this, &cMIDIInputMatcher::InputRemoved);
    SetInput(mRegistry->GetInput(mName));
}

cMIDIInputMatcher::~cMIDIInputMatcher()
{
    delete mMatchManager;
}

void cMIDIInputMatcher::AddTrigger(const sMIDIMatchTrigger& Trigger)
{
    mMatchManager->AddTrigger(Trigger);
}

void cMIDIInputMatcher::Unbind()
{
    if (mInput)
    {
        disconnect(mInput.data(), &cMIDIInput::MIDIReadReady, this, &cMIDIInputMatcher::MIDIReadReady);
        disconnect(mInput.data(), &cMIDIInput::MIDIReadReady, this, &cMIDIInputMatcher::MIDIInputReadSignal);
        disconnect(mInput.data(), &cMIDIInput::StreamRestarted, this, &cMIDIInputMatcher::StreamRestarted);
    }
    mInput = nullptr;
}

void cMIDIInputMatcher::SetInput(cMIDIInput* Input)
{
    Unbind();
    mInput = Input;
    if (Input == nullptr)
        return;
    // The slot first: a chunk is read and matched, and the rules it completes have sent their
    // output, before the relayed signal reports the chunk.
    connect(Input, &cMIDIInput::MIDIReadReady, this, &cMIDIInputMatcher::MIDIReadReady);
    connect(Input, &cMIDIInput::MIDIReadReady, this, &cMIDIInputMatcher::MIDIInputReadSignal);
    connect(Input, &cMIDIInput::StreamRestarted, this, &cMIDIInputMatcher::StreamRestarted);
}

void cMIDIInputMatcher::Retire()
{
    mRetired = true;
    Unbind();
    if (mRegistry != nullptr)
        disconnect(mRegistry, nullptr, this, nullptr);
}

void cMIDIInputMatcher::InputAdded(QString Name)
{
    if (Name == mName && !mRetired)
        SetInput(mRegistry->GetInput(mName));
}

void cMIDIInputMatcher::InputRemoved(QString Name)
{
    if (Name == mName)
        Unbind();
}

void cMIDIInputMatcher::MIDIReadReady()
{
    if (!mInput || mRetired)
        return;
    mInput->Read(mReadBuffer);
    if (mReadBuffer.isEmpty())
        return;
    if (mTrafficObserver != nullptr)
        mTrafficObserver->MIDIRead(mName, mReadBuffer);
    const auto* data = reinterpret_cast<const uint8_t*>(mReadBuffer.constData());
    mBytes.assign(data, data + mReadBuffer.size());
    mExpander.Expand(mBytes, mExpanded);
    // Rules fire synchronously in here and write their output before the next byte is matched.
    for (const uint8_t byte : mExpanded)
    {
        if (mRetired)
            return;
        Feed(byte);
    }
}

void cMIDIInputMatcher::StreamRestarted()
{
    if (!mInput || mRetired)
        return;
    // Bytes of the old stream not taken yet are matched first, as the old stream's.
    MIDIReadReady();
    if (mRetired)
        return;
    // Then the message under way is dropped, as a status byte would drop it, and the stream
    // starts over as at the start: no running status, no message under way.
    mMatchManager->AbandonPartialMatches();
    ReleaseHeldRealTime();
    mMessageRemaining = 0;
    mExpander = cRunningStatusExpander();
}

namespace
{
// Held real-time bytes are let through in place beyond this many, so that an endless exclusive
// message cannot make the list grow without bound.
constexpr std::size_t kMaxHeldRealTime = 256;
} // namespace

void cMIDIInputMatcher::ReleaseHeldRealTime()
{
    for (const uint8_t byte : mHeldRealTime)
        mMatchManager->ProcessByte(byte);
    mHeldRealTime.clear();
}

void cMIDIInputMatcher::Feed(uint8_t Byte)
{
    // The match tree reads bytes as they stand, so a clock byte between the bytes of a fader
    // message would be taken for its value and the real message would be missed. Real-time bytes
    // inside a message therefore reach the tree right after the message; patterns for the
    // real-time bytes themselves still fire once for each.
    if (Byte >= 0xF8)
    {
        if (mMessageRemaining != 0 && mHeldRealTime.size() < kMaxHeldRealTime)
            mHeldRealTime.push_back(Byte);
        else
            mMatchManager->ProcessByte(Byte);
        return;
    }
    if (Byte < 0x80)
    {
        mMatchManager->ProcessByte(Byte);
        if (mMessageRemaining > 0 && --mMessageRemaining == 0 && !mHeldRealTime.empty())
            ReleaseHeldRealTime();
        return;
    }
    if (Byte == 0xF7 && mMessageRemaining == -1)
    {
        mMatchManager->ProcessByte(Byte);
        mMessageRemaining = 0;
        ReleaseHeldRealTime();
        return;
    }
    // A status byte ends whatever message was in progress, complete or not. One cut short (data
    // bytes missing, or an exclusive message without its end) is dropped, as the parser drops it:
    // a pattern still matching it would take this status byte, or the bytes after it, for the
    // missing data and send a message that was never meant ("B0 07" cut, then "B0 07 10", must not
    // make a fader value of 0xB0).
    if (mMessageRemaining != 0)
        mMatchManager->AbandonPartialMatches();
    if (!mHeldRealTime.empty())
        ReleaseHeldRealTime();
    mMatchManager->ProcessByte(Byte);
    // -1 (cMidiMessageLength::kExclusive) while an exclusive message runs.
    mMessageRemaining = cMidiMessageLength::DataBytes(Byte);
}
