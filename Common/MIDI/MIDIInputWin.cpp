#include "Common/MIDI/MIDIInputWin.h"

#include "Common/LogError.h"
#include "Common/MIDI/MidiMessageLength.h"


#include <algorithm>
#include <cstring>

cMIDIInputWin::cMIDIInputWin(unsigned DeviceIndex, QObject* Parent) : cMIDIInput(Parent)
{
    std::memset(&mExclusiveHeader, 0, sizeof mExclusiveHeader);
    if (midiInOpen(&mHandle, DeviceIndex, reinterpret_cast<DWORD_PTR>(&cMIDIInputWin::InputCallback),
                   reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION) != MMSYSERR_NOERROR)
    {
        mHandle = nullptr;
        LOG_ERROR("Failed to open MIDI input device");
        return;
    }
    mOpened = true;
    // Reception starts before the exclusive buffer is queued; system exclusive data that comes in
    // between is lost, short messages are not.
    if (midiInStart(mHandle) != MMSYSERR_NOERROR)
    {
        LOG_ERROR("Failed to start MIDI Rx");
        return;
    }
    mExclusiveHeader.lpData = mExclusiveBuffer;
    mExclusiveHeader.dwBufferLength = kExclusiveBufferSize;
    mExclusiveHeader.dwFlags = 0;
    if (midiInPrepareHeader(mHandle, &mExclusiveHeader, sizeof mExclusiveHeader) != MMSYSERR_NOERROR)
    {
        LOG_ERROR("Failed to prepare SysEx RX buffer header");
        return;
    }
    mPrepared = true;
    if (midiInAddBuffer(mHandle, &mExclusiveHeader, sizeof mExclusiveHeader) != MMSYSERR_NOERROR)
        LOG_ERROR("Failed to allocate SysEx RX buffer");
}

cMIDIInputWin::~cMIDIInputWin()
{
    if (!mOpened)
        return;
    // Each step runs whatever the one before returned. The reset hands the exclusive buffer back
    // with a count of 0, which the callback does not queue again; after the close WinMM calls back
    // no more, so the members the callback uses outlive every callback.
    MMRESULT result = midiInReset(mHandle);
    if (result != MMSYSERR_NOERROR)
        LOG_ERROR("Failed to reset MIDI Rx %d", static_cast<int>(result));
    result = midiInStop(mHandle);
    if (result != MMSYSERR_NOERROR)
        LOG_ERROR("Failed to stop MIDI Rx %d", static_cast<int>(result));
    if (mPrepared)
    {
        result = midiInUnprepareHeader(mHandle, &mExclusiveHeader, sizeof mExclusiveHeader);
        if (result != MMSYSERR_NOERROR)
            LOG_ERROR("Failed to unallocate SysEx Rx buffer %d", static_cast<int>(result));
    }
    result = midiInClose(mHandle);
    if (result != MMSYSERR_NOERROR)
        LOG_ERROR("Failed to close MIDI input device %d", static_cast<int>(result));
}

void cMIDIInputWin::Read(QByteArray& Data)
{
    mReceived.Take(Data);
}

int cMIDIInputWin::ShortMessageLength(BYTE Status)
{
    // The status byte and its data bytes; an exclusive start never comes as a short message.
    return 1 + std::max(0, cMidiMessageLength::DataBytes(Status));
}

void CALLBACK cMIDIInputWin::InputCallback(HMIDIIN, UINT Message, DWORD_PTR Instance, DWORD_PTR Param1, DWORD_PTR)
{
    auto* port = reinterpret_cast<cMIDIInputWin*>(Instance);
    if (port == nullptr)
        return;
    switch (Message)
    {
    case MIM_DATA:
    case MIM_MOREDATA:
    {
        // Status byte in bits 0-7, first data byte in bits 8-15, second in bits 16-23.
        const char bytes[3] = {static_cast<char>(Param1 & 0xFF), static_cast<char>((Param1 >> 8) & 0xFF),
                               static_cast<char>((Param1 >> 16) & 0xFF)};
        port->Deliver(bytes, ShortMessageLength(static_cast<BYTE>(Param1 & 0xFF)));
        break;
    }
    case MIM_LONGDATA:
    {
        auto* header = reinterpret_cast<LPMIDIHDR>(Param1);
        // A count of 0 is the buffer coming back from midiInReset: queueing it again would hand
        // the driver a buffer that the closing port is about to unprepare.
        if (header == nullptr || header->dwBytesRecorded == 0)
            return;
        const DWORD count = header->dwBytesRecorded < header->dwBufferLength ? header->dwBytesRecorded : header->dwBufferLength;
        port->Deliver(header->lpData, static_cast<int>(count));
        // The one exclusive buffer must be queued again after each message, or WinMM stops
        // delivering system exclusive data.
        header->dwFlags &= ~static_cast<DWORD>(MHDR_DONE);
        midiInAddBuffer(port->mHandle, header, sizeof *header);
        break;
    }
    default:
        break;
    }
}

void cMIDIInputWin::Deliver(const char* Bytes, int Count)
{
    mReceived.Receive(*this, Bytes, Count);
}
