#include "Common/MIDI/MIDIOutputWin.h"

#include "Common/LogError.h"

#include <QElapsedTimer>

#include <cstring>

cMIDIOutputWin::cMIDIOutputWin(unsigned DeviceIndex)
{
    if (midiOutOpen(&mHandle, DeviceIndex, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR)
    {
        mHandle = nullptr;
        LOG_ERROR("Failed to open MIDI output device");
    }
}

cMIDIOutputWin::~cMIDIOutputWin()
{
    // A device that never opened has nothing to close, and one failure is logged once.
    if (mHandle != nullptr && midiOutClose(mHandle) != MMSYSERR_NOERROR)
        LOG_ERROR("Failed to close MIDI output device");
}

void cMIDIOutputWin::Write(const QByteArray& Data)
{
    if (mHandle == nullptr || Data.isEmpty())
        return;
    MIDIHDR header;
    std::memset(&header, 0, sizeof header);
    // WinMM only reads the buffer; its header type simply has no const pointer.
    header.lpData = const_cast<char*>(Data.constData());
    header.dwBufferLength = static_cast<DWORD>(Data.size());
    header.dwFlags = 0;
    if (midiOutPrepareHeader(mHandle, &header, sizeof header) != MMSYSERR_NOERROR)
        return;
    if (midiOutLongMsg(mHandle, &header, sizeof header) == MMSYSERR_NOERROR)
    {
        // The driver may send the buffer later, on its own thread. The header lives on this stack
        // and the bytes belong to the caller: neither may go before the driver hands them back.
        QElapsedTimer waited;
        waited.start();
        const int timeout = SendTimeoutMs(Data.size());
        while (midiOutUnprepareHeader(mHandle, &header, sizeof header) == MIDIERR_STILLPLAYING)
        {
            if (waited.elapsed() > timeout)
            {
                // A device that takes nothing more: the reset hands every queued buffer back.
                LOG_ERROR("MIDI output device took longer than %d ms to send %d bytes; output reset", timeout,
                          static_cast<int>(Data.size()));
                midiOutReset(mHandle);
                midiOutUnprepareHeader(mHandle, &header, sizeof header);
                return;
            }
            Sleep(1);
        }
        return;
    }
    midiOutUnprepareHeader(mHandle, &header, sizeof header);
}
