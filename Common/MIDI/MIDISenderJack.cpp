#include "Common/MIDI/MIDISenderJack.h"

#include "Common/MIDI/MIDIClientJack.h"

cMIDISenderJack::cMIDISenderJack()
{
    // Every channel goes through; the base handlers take nothing, so each complete channel or
    // system common message ends in Unhandled, where it is sent.
    mOmni = true;
}

void cMIDISenderJack::SetSlot(quint64 Serial, int Slot)
{
    mSerial = Serial;
    mSlot = Slot;
}

void cMIDISenderJack::Send(const QByteArray& Data)
{
    if (mSlot < 0)
        return;
    for (const char byte : Data)
        ParseByte(static_cast<uint8_t>(byte));
}

bool cMIDISenderJack::SysEx()
{
    SendMessage(mSysExBuffer, mCount);
    return true;
}

void cMIDISenderJack::Unhandled()
{
    const uint8_t status = mBuffer[0];
    // 0xF4 and 0xF5 begin no message that a receiver knows.
    if (status == 0xF4 || status == 0xF5 || status == 0xF0)
        return;
    SendMessage(mBuffer, mCount);
}

void cMIDISenderJack::UnhandledControlChange()
{
    SendMessage(mBuffer, mCount);
}

void cMIDISenderJack::SendMessage(const uint8_t* Bytes, int Count)
{
    if (cMIDIClientJack* client = cMIDIClientJack::Existing(mSerial))
        client->Send(mSlot, Bytes, Count);
}
