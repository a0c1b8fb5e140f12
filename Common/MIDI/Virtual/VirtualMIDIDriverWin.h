#pragma once
// The virtual MIDI driver library (teVirtualMIDI), loaded at run time so that Quillon starts where
// the driver is not installed. Owned by the process-wide port table; used on the GUI thread, except
// the data callback, which the driver calls on a thread of its own.

#include <QString>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

// A port of the driver; the library never shows what is behind it.
struct sVirtualMIDIDriverPort;
typedef sVirtualMIDIDriverPort* tVirtualMIDIPort;
// Bytes that the DAW sent to Port, with the instance value given when the port was created.
typedef void(CALLBACK* tVirtualMIDIDataCallback)(tVirtualMIDIPort Port, LPBYTE Bytes, DWORD Length, DWORD_PTR Instance);

class cVirtualMIDIDriverWin
{
public:
    cVirtualMIDIDriverWin() = default;
    // Unloads the library; every port must have been closed.
    ~cVirtualMIDIDriverWin();
    cVirtualMIDIDriverWin(const cVirtualMIDIDriverWin&) = delete;
    cVirtualMIDIDriverWin& operator=(const cVirtualMIDIDriverWin&) = delete;

    // The library file of this build: the driver ships one per pointer size.
    static const wchar_t* LibraryName() { return sizeof(void*) == 8 ? L"teVirtualMIDI64.dll" : L"teVirtualMIDI32.dll"; }

    // Loads the library and finds its three calls on the first use; a failure is logged once and
    // later calls fail at once with the same Windows error.
    bool Load();

    // A new driver port, or null with the thread's last error set (also when the library is missing).
    tVirtualMIDIPort CreatePort(const QString& Name, tVirtualMIDIDataCallback Callback, DWORD_PTR Instance,
                                DWORD MaxSysExLength, DWORD Flags);
    bool SendData(tVirtualMIDIPort Port, const BYTE* Bytes, DWORD Length);
    void ClosePort(tVirtualMIDIPort Port);

private:
    typedef tVirtualMIDIPort(CALLBACK* tCreatePortEx2)(LPCWSTR Name, tVirtualMIDIDataCallback Callback, DWORD_PTR Instance,
                                                        DWORD MaxSysExLength, DWORD Flags);
    typedef BOOL(CALLBACK* tSendData)(tVirtualMIDIPort Port, LPBYTE Bytes, DWORD Length);
    typedef void(CALLBACK* tClosePort)(tVirtualMIDIPort Port);

    bool mTried = false;
    DWORD mLoadError = 0;
    HMODULE mLibrary = nullptr;
    tCreatePortEx2 mCreatePortEx2 = nullptr;
    tSendData mSendData = nullptr;
    tClosePort mClosePort = nullptr;
};
