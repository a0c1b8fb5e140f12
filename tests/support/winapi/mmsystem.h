#pragma once
// Stand-in for <mmsystem.h> in Linux test builds: the WinMM MIDI calls, records and codes that
// Quillon's Windows back-end uses. Include <windows.h> first, as with the real header.

typedef UINT MMRESULT;
typedef UINT MMVERSION;
typedef struct HMIDIIN__* HMIDIIN;
typedef struct HMIDIOUT__* HMIDIOUT;
typedef HMIDIIN* LPHMIDIIN;
typedef HMIDIOUT* LPHMIDIOUT;

#define MMSYSERR_NOERROR 0
#define MMSYSERR_ERROR 1
#define MMSYSERR_BADDEVICEID 2
#define MMSYSERR_ALLOCATED 4
#define MMSYSERR_INVALHANDLE 5
#define MMSYSERR_NODRIVER 6
#define MMSYSERR_NOMEM 7
#define MMSYSERR_NOTSUPPORTED 8
#define MMSYSERR_INVALFLAG 10
#define MMSYSERR_INVALPARAM 11
#define MIDIERR_UNPREPARED 64
#define MIDIERR_STILLPLAYING 65

#define MAXPNAMELEN 32

#define CALLBACK_NULL 0x00000000L
#define CALLBACK_FUNCTION 0x00030000L

#define MIM_OPEN 0x3C1
#define MIM_CLOSE 0x3C2
#define MIM_DATA 0x3C3
#define MIM_LONGDATA 0x3C4
#define MIM_ERROR 0x3C5
#define MIM_LONGERROR 0x3C6
#define MIM_MOREDATA 0x3CC

#define MHDR_DONE 0x00000001
#define MHDR_PREPARED 0x00000002
#define MHDR_INQUEUE 0x00000004

struct MIDIHDR
{
    LPSTR lpData;
    DWORD dwBufferLength;
    DWORD dwBytesRecorded;
    DWORD_PTR dwUser;
    DWORD dwFlags;
    MIDIHDR* lpNext;
    DWORD_PTR reserved;
    DWORD dwOffset;
    DWORD_PTR dwReserved[8];
};
typedef MIDIHDR* LPMIDIHDR;

struct MIDIINCAPSW
{
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    WCHAR szPname[MAXPNAMELEN];
    DWORD dwSupport;
};
typedef MIDIINCAPSW* LPMIDIINCAPSW;

struct MIDIOUTCAPSW
{
    WORD wMid;
    WORD wPid;
    MMVERSION vDriverVersion;
    WCHAR szPname[MAXPNAMELEN];
    WORD wTechnology;
    WORD wVoices;
    WORD wNotes;
    WORD wChannelMask;
    DWORD dwSupport;
};
typedef MIDIOUTCAPSW* LPMIDIOUTCAPSW;

UINT WINAPI midiInGetNumDevs();
MMRESULT WINAPI midiInGetDevCapsW(UINT_PTR DeviceId, LPMIDIINCAPSW Caps, UINT Size);
MMRESULT WINAPI midiInOpen(LPHMIDIIN Handle, UINT DeviceId, DWORD_PTR Callback, DWORD_PTR Instance, DWORD Flags);
MMRESULT WINAPI midiInStart(HMIDIIN Handle);
MMRESULT WINAPI midiInStop(HMIDIIN Handle);
MMRESULT WINAPI midiInReset(HMIDIIN Handle);
MMRESULT WINAPI midiInClose(HMIDIIN Handle);
MMRESULT WINAPI midiInPrepareHeader(HMIDIIN Handle, LPMIDIHDR Header, UINT Size);
MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN Handle, LPMIDIHDR Header, UINT Size);
MMRESULT WINAPI midiInAddBuffer(HMIDIIN Handle, LPMIDIHDR Header, UINT Size);
MMRESULT WINAPI midiInMessage(HMIDIIN Handle, UINT Message, DWORD_PTR Param1, DWORD_PTR Param2);

UINT WINAPI midiOutGetNumDevs();
MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR DeviceId, LPMIDIOUTCAPSW Caps, UINT Size);
MMRESULT WINAPI midiOutOpen(LPHMIDIOUT Handle, UINT DeviceId, DWORD_PTR Callback, DWORD_PTR Instance, DWORD Flags);
MMRESULT WINAPI midiOutClose(HMIDIOUT Handle);
MMRESULT WINAPI midiOutReset(HMIDIOUT Handle);
MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT Handle, LPMIDIHDR Header, UINT Size);
MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT Handle, LPMIDIHDR Header, UINT Size);
MMRESULT WINAPI midiOutLongMsg(HMIDIOUT Handle, LPMIDIHDR Header, UINT Size);
MMRESULT WINAPI midiOutMessage(HMIDIOUT Handle, UINT Message, DWORD_PTR Param1, DWORD_PTR Param2);
