#include "Common/MIDI/MidiParser.h"

#include "Common/LogError.h"

#include <cstring>

cMidiParser::cMidiParser()
    : mSysCommonLength(0), mInSysEx(false), mInSysCommon(false), mCount(0), mChannel(0), mOmni(false)
{
    mBuffer[0] = 0;
}

void cMidiParser::ParseOtherByte(uint8_t Byte)
{
    if (Byte < 0x80)
    {
        DataByte(Byte);
        return;
    }
    if (Byte < 0xF0)
    {
        // A message that was partly collected is dropped without a report.
        mBuffer[0] = Byte;
        mInSysEx = false;
        mInSysCommon = false;
        mCount = 1;
        return;
    }
    switch (Byte)
    {
    case 0xF0:
        mInSysEx = true;
        mInSysCommon = false;
        mBuffer[0] = 0xF0;
        mCount = 1;
        return;
    case 0xF7:
        // An end byte outside an exclusive message (a stray one, or the end of an over-long message
        // that was abandoned) is ignored like a real-time byte: it changes nothing, so it can neither
        // reach SysEx nor break the running status around it.
        if (!mInSysEx)
            return;
        // Collecting stops at 16384 bytes, so the end byte always fits in the exclusive buffer.
        mBuffer[mCount++] = 0xF7;
        std::memcpy(mSysExBuffer, mBuffer, mCount);
        if (!SysEx())
            Unhandled();
        // The status byte stays 0xF0: data bytes that follow are dropped.
        mInSysEx = false;
        return;
    case 0xF1:
    case 0xF2:
    case 0xF3:
    case 0xF4:
    case 0xF5:
    case 0xF6:
        mBuffer[0] = Byte;
        mSysCommonLength = SysCommonLength(Byte);
        mInSysEx = false;
        mInSysCommon = true;
        mCount = 1;
        if (mSysCommonLength == 1)
        {
            if (!SysCommon())
                Unhandled();
            mInSysCommon = false;
        }
        else if (mSysCommonLength == 0)
        {
            Unhandled();
            mInSysCommon = false;
        }
        return;
    case 0xFE:
        ActiveSensing();
        return;
    default:
        // The other real-time bytes may stand anywhere, even inside an exclusive message, and
        // disturb nothing.
        return;
    }
}

void cMidiParser::DataByte(uint8_t Byte)
{
    if (mBuffer[0] == 0)
        return;
    mBuffer[mCount++] = Byte;
    if (mInSysEx)
    {
        // Too long for the buffers: abandoned without a report; its data bytes are dropped from here.
        if (mCount >= kSysExBufferSize)
            mInSysEx = false;
        return;
    }
    if (mInSysCommon)
    {
        if (mCount == mSysCommonLength)
        {
            if (!SysCommon())
                Unhandled();
            mInSysCommon = false;
            mCount = 1;
        }
        return;
    }
    // Channel messages never get here (ParseByte collects their data bytes), so the status byte is
    // 0xF0 or a system common one whose message is finished: the byte is dropped.
    mCount = 1;
}

void cMidiParser::ChannelMessage()
{
    const uint8_t status = mBuffer[0];
    const uint8_t kind = status & 0xF0;
    const uint8_t channel = mOmni ? mChannel : (status & 0x0F);
    const bool forUs = channel == mChannel;
    bool taken = false;
    if (forUs)
    {
        switch (kind)
        {
        case 0x80:
            taken = NoteOff(mBuffer[1], mBuffer[2]);
            break;
        case 0x90:
            taken = NoteOn(mBuffer[1], mBuffer[2]);
            break;
        case 0xA0:
            taken = PolyPressure(mBuffer[1], mBuffer[2]);
            break;
        case 0xB0:
            taken = ControlChange(mBuffer[1], mBuffer[2]);
            break;
        case 0xC0:
            taken = ProgramChange(mBuffer[1]);
            break;
        case 0xD0:
            taken = ChannelPressure(mBuffer[1]);
            break;
        default:
            taken = PitchBend(mBuffer[1], mBuffer[2]);
            break;
        }
    }
    if (!taken)
    {
        // Control changes have their own fallback so that a subclass can pass them on apart.
        if (kind == 0xB0)
            UnhandledControlChange();
        else
            Unhandled();
    }
    // Set only after the handlers, which read the message's length from mCount. The status byte
    // stays: the next data bytes form another message of the same kind (running status).
    mCount = 1;
}

uint8_t cMidiParser::SysCommonLength(uint8_t Status)
{
    // 0xF4 and 0xF5 are left undefined by the MIDI standard.
    if (Status <= 0xF0 || Status >= 0xF7 || Status == 0xF4 || Status == 0xF5)
    {
        LOG_ERROR("Unrecognised Sys Common Byte");
        return 0;
    }
    return uint8_t(1 + cMidiMessageLength::DataBytes(Status));
}

bool cMidiParser::ActiveSensing()
{
    return false;
}

bool cMidiParser::SysEx()
{
    return false;
}

bool cMidiParser::SysCommon()
{
    switch (mBuffer[0])
    {
    case 0xF1:
        return MTCQuarterFrame(mBuffer[1]);
    case 0xF2:
        return SongPosition(mBuffer[1], mBuffer[2]);
    case 0xF3:
        return SongSelect(mBuffer[1]);
    case 0xF6:
        return TuneRequest();
    default:
        return false;
    }
}

bool cMidiParser::NoteOff(uint8_t, uint8_t)
{
    return false;
}

bool cMidiParser::NoteOn(uint8_t, uint8_t)
{
    return false;
}

bool cMidiParser::PolyPressure(uint8_t, uint8_t)
{
    return false;
}

bool cMidiParser::ControlChange(uint8_t, uint8_t)
{
    return false;
}

bool cMidiParser::ProgramChange(uint8_t)
{
    return false;
}

bool cMidiParser::ChannelPressure(uint8_t)
{
    return false;
}

bool cMidiParser::PitchBend(uint8_t, uint8_t)
{
    return false;
}

bool cMidiParser::MTCQuarterFrame(uint8_t)
{
    return false;
}

bool cMidiParser::SongPosition(uint8_t, uint8_t)
{
    return false;
}

bool cMidiParser::SongSelect(uint8_t)
{
    return false;
}

bool cMidiParser::TuneRequest()
{
    return false;
}

void cMidiParser::Unhandled()
{
}

void cMidiParser::UnhandledControlChange()
{
}
