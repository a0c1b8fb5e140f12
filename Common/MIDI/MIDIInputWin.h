#pragma once
// One WinMM input device. Created and destroyed by the Windows registry on the GUI thread; the input
// callback runs on a WinMM thread and only copies, appends under the port's mutex and emits.

#include "Common/MIDI/MIDIInput.h"
#include "Common/MIDI/MIDIReceiveBuffer.h"

#include <QByteArray>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>

class cMIDIInputWin : public cMIDIInput
{
public:
    // Opens and starts the device with WinMM index DeviceIndex and queues the exclusive buffer.
    // Every failure is logged; the port then stays, deaf.
    cMIDIInputWin(unsigned DeviceIndex, QObject* Parent);
    ~cMIDIInputWin() override;
    cMIDIInputWin(const cMIDIInputWin&) = delete;
    cMIDIInputWin& operator=(const cMIDIInputWin&) = delete;

    void Read(QByteArray& Data) override;

    // The number of bytes, status byte included, of the short message that Status begins.
    static int ShortMessageLength(BYTE Status);

    static constexpr DWORD kExclusiveBufferSize = 65535;

private:
    static void CALLBACK InputCallback(HMIDIIN Handle, UINT Message, DWORD_PTR Instance, DWORD_PTR Param1, DWORD_PTR Param2);
    void Deliver(const char* Bytes, int Count);

    HMIDIIN mHandle = nullptr;
    cMIDIReceiveBuffer mReceived;
    char mExclusiveBuffer[kExclusiveBufferSize];
    MIDIHDR mExclusiveHeader;
    // What the constructor got done, so the destructor undoes only that and logs nothing for
    // a device that never opened.
    bool mOpened = false;
    bool mPrepared = false;
};
