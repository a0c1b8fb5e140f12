#include "Common/MIDI/MIDISenderRt.h"

#include "Common/LogError.h"

cMIDISenderRt::cMIDISenderRt()
{
    // Every channel goes through; the base handlers take nothing, so each complete channel or
    // system common message ends in Unhandled, where it is sent.
    mOmni = true;
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

void cMIDISenderRt::SendMessage(const uint8_t* Bytes, int Count)
{
    if (mOutput == nullptr)
        return;
    try
    {
        mOutput->sendMessage(Bytes, static_cast<size_t>(Count));
    }
    catch (const RtMidiError& error)
    {
        LOG_ERROR("Failed to send %d bytes to MIDI port \"%s\": %s", Count, mPort.toLocal8Bit().constData(), error.what());
    }
}
