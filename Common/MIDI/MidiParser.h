#pragma once
// Splits a MIDI byte stream, fed one byte at a time, into complete messages and reports each through
// a virtual handler. A base class owned by value inside its subclass (the virtual port); it is fed on
// one thread at a time and its handlers run on that thread, inside ParseByte.

#include "Common/MIDI/MidiMessageLength.h"

#include <cstdint>

class cMidiParser
{
public:
    cMidiParser();
    virtual ~cMidiParser() = default;

    // Feeds one byte. State carries over to the next call, so a message may be split across any
    // number of writes; there is no end of stream. An 0xF7 outside an exclusive message is ignored
    // like a real-time byte: it changes no state, so it never reaches SysEx as a message of its own
    // and never becomes a data byte of the running-status message around it.
    void ParseByte(uint8_t Byte)
    {
        // Data bytes of channel messages are most of any stream: they take the short way, inline.
        const uint8_t status = mBuffer[0];
        if (Byte < 0x80 && status >= 0x80 && status < 0xF0)
        {
            mBuffer[mCount++] = Byte;
            if (mCount > cMidiMessageLength::DataBytes(status))
                ChannelMessage();
            return;
        }
        ParseOtherByte(Byte);
    }

    // Total length, status byte included, of the system common message that Status begins;
    // 0 (and an error in the log) for a byte that begins none.
    static uint8_t SysCommonLength(uint8_t Status);

    static constexpr int kBufferSize = 16385;
    static constexpr int kSysExBufferSize = 16384;

protected:
    // Handlers return true when they dealt with the message; the base versions take nothing.
    // Channel handlers read the status byte (mBuffer[0]) when they need the channel.
    virtual bool ActiveSensing();
    // The message, 0xF0 through 0xF7, is in mSysExBuffer; its length in mCount.
    virtual bool SysEx();
    // The message is in mBuffer. The base version hands it to the handler for its status.
    virtual bool SysCommon();
    virtual bool NoteOff(uint8_t Key, uint8_t Velocity);
    virtual bool NoteOn(uint8_t Key, uint8_t Velocity);
    virtual bool PolyPressure(uint8_t Key, uint8_t Pressure);
    virtual bool ControlChange(uint8_t Controller, uint8_t Value);
    virtual bool ProgramChange(uint8_t Program);
    virtual bool ChannelPressure(uint8_t Pressure);
    virtual bool PitchBend(uint8_t Lsb, uint8_t Msb);
    virtual bool MTCQuarterFrame(uint8_t Value);
    virtual bool SongPosition(uint8_t Lsb, uint8_t Msb);
    virtual bool SongSelect(uint8_t Song);
    virtual bool TuneRequest();
    // A complete message that its handler did not take, or a channel message for another channel.
    virtual void Unhandled();
    // A control change that ControlChange did not take, or one for another channel.
    virtual void UnhandledControlChange();

    uint8_t mSysCommonLength;
    bool mInSysEx;
    bool mInSysCommon;
    // Element 0 is the current status byte (0 before the first one), then its data bytes. One byte
    // more than an exclusive message may hold, for the data byte that is dropped after one.
    uint8_t mBuffer[kBufferSize];
    uint16_t mCount;
    uint8_t mSysExBuffer[kSysExBufferSize];
    uint8_t mChannel;
    bool mOmni;

private:
    void ParseOtherByte(uint8_t Byte);
    void DataByte(uint8_t Byte);
    void ChannelMessage();
};
