#include "Common/MIDI/Virtual/VirtualMIDIInputOutputWin.h"

#include "Common/LogError.h"
#include "Common/MIDI/Virtual/VirtualMIDIPortTable.h"


cVirtualMIDIInputOutputWin::cVirtualMIDIInputOutputWin(const QString& Name, QObject* Parent) : cMIDIInputOutput(Parent)
{
    // Every channel reaches the handlers: the port passes messages on, it does not filter them.
    mOmni = true;
    mPort = cVirtualMIDIPortTable::Instance()->CreatePort(Name, &cVirtualMIDIInputOutputWin::DriverCallback, this,
                                                          kMaxSysExLength, 0);
    if (mPort == nullptr)
        LOG_ERROR("Virtual port not created, Error %u\r\n", static_cast<unsigned>(GetLastError()));
}

cVirtualMIDIInputOutputWin::~cVirtualMIDIInputOutputWin()
{
    // First thing: once detached no callback can reach this object, and one delivering to it now
    // has finished, so the lock and the buffer may go.
    if (mPort != nullptr)
        cVirtualMIDIPortTable::DetachPort(mPort, this);
}

void cVirtualMIDIInputOutputWin::Read(QByteArray& Data)
{
    mReceived.Take(Data);
}

void cVirtualMIDIInputOutputWin::Write(const QByteArray& Data)
{
    for (const char byte : Data)
        ParseByte(static_cast<uint8_t>(byte));
}

void CALLBACK cVirtualMIDIInputOutputWin::DriverCallback(tVirtualMIDIPort Port, LPBYTE Bytes, DWORD Length, DWORD_PTR)
{
    if (Bytes == nullptr)
        return;
    const QByteArray copy(reinterpret_cast<const char*>(Bytes), static_cast<int>(Length));
    cVirtualMIDIPortTable::Deliver(Port, copy);
}

void cVirtualMIDIInputOutputWin::Received(const QByteArray& Bytes)
{
    mReceived.Receive(*this, Bytes.constData(), Bytes.size());
}

bool cVirtualMIDIInputOutputWin::SendShort(int Length, uint8_t Data1, uint8_t Data2)
{
    if (mPort == nullptr)
        return true;
    // The status byte is the parser's, so a channel message keeps the channel it was written with.
    mSendBuffer[0] = mBuffer[0];
    mSendBuffer[1] = Data1;
    mSendBuffer[2] = Data2;
    cVirtualMIDIPortTable::Send(mPort, mSendBuffer, static_cast<DWORD>(Length));
    return true;
}

bool cVirtualMIDIInputOutputWin::SysEx()
{
    if (mPort != nullptr)
        cVirtualMIDIPortTable::Send(mPort, mSysExBuffer, mCount);
    return true;
}

bool cVirtualMIDIInputOutputWin::NoteOff(uint8_t Key, uint8_t Velocity)
{
    return SendShort(3, Key, Velocity);
}

bool cVirtualMIDIInputOutputWin::NoteOn(uint8_t Key, uint8_t Velocity)
{
    return SendShort(3, Key, Velocity);
}

bool cVirtualMIDIInputOutputWin::PolyPressure(uint8_t Key, uint8_t Pressure)
{
    return SendShort(3, Key, Pressure);
}

bool cVirtualMIDIInputOutputWin::ControlChange(uint8_t Controller, uint8_t Value)
{
    return SendShort(3, Controller, Value);
}

bool cVirtualMIDIInputOutputWin::ProgramChange(uint8_t Program)
{
    return SendShort(2, Program);
}

bool cVirtualMIDIInputOutputWin::ChannelPressure(uint8_t Pressure)
{
    return SendShort(2, Pressure);
}

bool cVirtualMIDIInputOutputWin::PitchBend(uint8_t Lsb, uint8_t Msb)
{
    return SendShort(3, Lsb, Msb);
}

bool cVirtualMIDIInputOutputWin::MTCQuarterFrame(uint8_t Value)
{
    return SendShort(2, Value);
}

bool cVirtualMIDIInputOutputWin::SongPosition(uint8_t Lsb, uint8_t Msb)
{
    return SendShort(3, Lsb, Msb);
}

bool cVirtualMIDIInputOutputWin::SongSelect(uint8_t Song)
{
    return SendShort(2, Song);
}

bool cVirtualMIDIInputOutputWin::TuneRequest()
{
    return SendShort(1);
}
