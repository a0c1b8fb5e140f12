#pragma once
// One WinMM output device. Created, written and destroyed on the GUI thread by the Windows registry
// and the translator configuration; it takes no lock.

#include "Common/MIDI/MIDIOutput.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>

class cMIDIOutputWin : public cMIDIOutput
{
public:
    // Opens the device with WinMM index DeviceIndex; a failure is logged and the port sends nothing.
    explicit cMIDIOutputWin(unsigned DeviceIndex);
    ~cMIDIOutputWin() override;
    cMIDIOutputWin(const cMIDIOutputWin&) = delete;
    cMIDIOutputWin& operator=(const cMIDIOutputWin&) = delete;

    // Sends the whole array as one long-message buffer and returns once the driver is done with it.
    void Write(const QByteArray& Data) override;

    // How long Write waits for the driver before it resets the output: the time the bytes take on a
    // MIDI cable (about 3 bytes per millisecond), twice over, plus a fixed allowance.
    static int SendTimeoutMs(int ByteCount) { return 500 + ByteCount * 2 / 3; }

private:
    HMIDIOUT mHandle = nullptr;
};
