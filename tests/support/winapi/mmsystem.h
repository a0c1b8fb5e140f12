#pragma once
// Stand-in for <mmsystem.h> in Linux test builds: the WinMM MIDI calls and records that Quillon's
// Windows back-end uses. Include <windows.h> first, as with the real header.

typedef UINT MMRESULT;
typedef struct HMIDIIN__* HMIDIIN;
typedef struct HMIDIOUT__* HMIDIOUT;

#define MMSYSERR_NOERROR 0
#define MMSYSERR_BADDEVICEID 2
#define MMSYSERR_NODRIVER 6
#define MMSYSERR_NOMEM 7
#define MMSYSERR_INVALPARAM 11
#define MIDIERR_STILLPLAYING 65
#define MAXPNAMELEN 32
#define CALLBACK_NULL 0x00000000L
#define CALLBACK_FUNCTION 0x00030000L
#define MIM_DATA 0x3C3
#define MIM_LONGDATA 0x3C4
#define MIM_MOREDATA 0x3CC
#define MHDR_DONE 0x00000001

struct MIDIHDR // the members Quillon uses
{
    char* lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD dwFlags;
};
typedef MIDIHDR* LPMIDIHDR;

typedef struct { WCHAR szPname[MAXPNAMELEN]; } MIDIINCAPSW, MIDIOUTCAPSW; // the member Quillon reads

// Inputs are carried out in WinApiSimulation.cpp; output succeeds at once, and no test reads it.
UINT midiInGetNumDevs();
MMRESULT midiInGetDevCapsW(UINT_PTR DeviceId, MIDIINCAPSW* Caps, UINT Size);
MMRESULT midiInMessage(HMIDIIN Handle, UINT Message, DWORD_PTR Param1, DWORD_PTR Param2);
MMRESULT midiInOpen(HMIDIIN* Handle, UINT DeviceId, DWORD_PTR Callback, DWORD_PTR Instance, DWORD Flags);
inline MMRESULT midiInStart(HMIDIIN) { return MMSYSERR_NOERROR; }
inline MMRESULT midiInStop(HMIDIIN) { return MMSYSERR_NOERROR; }
MMRESULT midiInReset(HMIDIIN Handle);
inline MMRESULT midiInClose(HMIDIIN Handle) { return midiInReset(Handle); }
inline MMRESULT midiInPrepareHeader(HMIDIIN, LPMIDIHDR, UINT) { return MMSYSERR_NOERROR; }
inline MMRESULT midiInUnprepareHeader(HMIDIIN, LPMIDIHDR, UINT) { return MMSYSERR_NOERROR; }
MMRESULT midiInAddBuffer(HMIDIIN Handle, LPMIDIHDR Header, UINT Size);

inline UINT midiOutGetNumDevs() { return midiInGetNumDevs(); }
inline MMRESULT midiOutGetDevCapsW(UINT_PTR Id, MIDIOUTCAPSW* Caps, UINT Size) { return midiInGetDevCapsW(Id, Caps, Size); }
inline MMRESULT midiOutMessage(HMIDIOUT Id, UINT Message, DWORD_PTR Param1, DWORD_PTR) { return midiInMessage(reinterpret_cast<HMIDIIN>(Id), Message, Param1, 0); }
inline MMRESULT midiOutOpen(HMIDIOUT* Handle, UINT, DWORD_PTR, DWORD_PTR, DWORD) { return (*Handle = reinterpret_cast<HMIDIOUT>(1)), MMSYSERR_NOERROR; }
inline MMRESULT midiOutClose(HMIDIOUT) { return MMSYSERR_NOERROR; }
inline MMRESULT midiOutReset(HMIDIOUT) { return MMSYSERR_NOERROR; }
inline MMRESULT midiOutPrepareHeader(HMIDIOUT, LPMIDIHDR, UINT) { return MMSYSERR_NOERROR; }
inline MMRESULT midiOutUnprepareHeader(HMIDIOUT, LPMIDIHDR, UINT) { return MMSYSERR_NOERROR; }
inline MMRESULT midiOutLongMsg(HMIDIOUT, LPMIDIHDR, UINT) { return MMSYSERR_NOERROR; }
