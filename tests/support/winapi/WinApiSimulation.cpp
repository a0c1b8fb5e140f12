#include "tests/support/winapi/WinApiSimulation.h"

#include "Common/MIDI/Virtual/VirtualMIDIDriverWin.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <list>
#include <mutex>
#include <vector>

namespace
{
typedef void(CALLBACK* tInputCallback)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

// A device, or a driver port (Path is then its name). Callback is set while it is open; InFlight
// counts the callbacks under way, which closing waits for, as WinMM and the driver do.
struct sEndpoint
{
    QString Name;
    QString Path;
    DWORD_PTR Callback = 0;
    DWORD_PTR Instance = 0;
    std::vector<LPMIDIHDR> Queued;
    int InFlight = 0;
};

struct sState
{
    std::mutex Lock;
    std::condition_variable Idle;
    // Every endpoint stays where it is until Reset, so that a handle outlives its device's unplugging.
    std::list<sEndpoint> All;
    std::vector<sEndpoint*> Listed; // in WinMM index order
} gState;

sEndpoint* At(const void* Handle) { return static_cast<sEndpoint*>(const_cast<void*>(Handle)); }

sEndpoint* Device(UINT_PTR Index)
{
    std::lock_guard<std::mutex> lock(gState.Lock);
    return Index < gState.Listed.size() ? gState.Listed[Index] : nullptr;
}

// Calls back through the open input or driver port of Path, on the calling thread and without the
// lock, counted in flight. Prepare, under the lock, says what to pass, or false for nothing.
template <typename tPrepare> bool CallBack(const QString& Path, bool Driver, tPrepare Prepare)
{
    std::unique_lock<std::mutex> lock(gState.Lock);
    for (sEndpoint& open : gState.All)
    {
        UINT message = MIM_DATA;
        DWORD_PTR param = 0;
        if (open.Path != Path || open.Callback == 0 || !Prepare(open, message, param))
            continue;
        ++open.InFlight;
        const DWORD_PTR callback = open.Callback;
        lock.unlock();
        if (Driver)
            reinterpret_cast<tVirtualMIDIDataCallback>(callback)(reinterpret_cast<tVirtualMIDIPort>(&open), reinterpret_cast<LPBYTE>(param), message, 0);
        else
            reinterpret_cast<tInputCallback>(callback)(reinterpret_cast<HMIDIIN>(&open), message, open.Instance, param, 0);
        lock.lock();
        --open.InFlight;
        gState.Idle.notify_all();
        return true;
    }
    return false;
}

tVirtualMIDIPort CALLBACK SimCreatePort(LPCWSTR Name, tVirtualMIDIDataCallback Callback, DWORD_PTR, DWORD, DWORD)
{
    std::lock_guard<std::mutex> lock(gState.Lock);
    gState.All.push_back(sEndpoint{QString(), QString::fromWCharArray(Name), reinterpret_cast<DWORD_PTR>(Callback), 0, {}, 0});
    return reinterpret_cast<tVirtualMIDIPort>(&gState.All.back());
}

BOOL CALLBACK SimSendData(tVirtualMIDIPort, LPBYTE, DWORD) { return TRUE; }
void CALLBACK SimClosePort(tVirtualMIDIPort Port) { midiInReset(reinterpret_cast<HMIDIIN>(Port)); }
} // namespace

FARPROC GetProcAddress(HMODULE, const char* ProcName)
{
    const QByteArray name(ProcName);
    void (*call)() = name == "virtualMIDICreatePortEx2" ? reinterpret_cast<void (*)()>(&SimCreatePort)
                     : name == "virtualMIDISendData"    ? reinterpret_cast<void (*)()>(&SimSendData)
                                                        : reinterpret_cast<void (*)()>(&SimClosePort);
    return reinterpret_cast<FARPROC>(call);
}

MMRESULT midiInGetDevCapsW(UINT_PTR Index, MIDIINCAPSW* Caps, UINT)
{
    const QString name = Device(Index)->Name.left(MAXPNAMELEN - 1);
    Caps->szPname[name.toWCharArray(Caps->szPname)] = 0;
    return name.isEmpty() ? MMSYSERR_NODRIVER : MMSYSERR_NOERROR;
}

// The two interface-path queries: the size of the path in bytes, then the path.
MMRESULT midiInMessage(HMIDIIN Index, UINT Message, DWORD_PTR Param1, DWORD_PTR)
{
    const std::wstring path = Device(reinterpret_cast<UINT_PTR>(Index))->Path.toStdWString();
    const ULONG bytes = static_cast<ULONG>((path.size() + 1) * sizeof(WCHAR));
    if (Message == 0x80D)
        *reinterpret_cast<ULONG*>(Param1) = bytes;
    else
        std::memcpy(reinterpret_cast<void*>(Param1), path.c_str(), bytes);
    return MMSYSERR_NOERROR;
}

UINT midiInGetNumDevs()
{
    std::lock_guard<std::mutex> lock(gState.Lock);
    return static_cast<UINT>(gState.Listed.size());
}

MMRESULT midiInOpen(HMIDIIN* Handle, UINT Index, DWORD_PTR Callback, DWORD_PTR Instance, DWORD)
{
    *Handle = reinterpret_cast<HMIDIIN>(Device(Index));
    std::lock_guard<std::mutex> lock(gState.Lock);
    At(*Handle)->Callback = Callback;
    At(*Handle)->Instance = Instance;
    return MMSYSERR_NOERROR;
}

MMRESULT midiInAddBuffer(HMIDIIN Handle, LPMIDIHDR Header, UINT)
{
    std::lock_guard<std::mutex> lock(gState.Lock);
    At(Handle)->Queued.push_back(Header);
    return MMSYSERR_NOERROR;
}

// Closing a driver port too: no callback starts from now on, the one under way has returned, and the
// queued buffers come back unused.
MMRESULT midiInReset(HMIDIIN Handle)
{
    std::unique_lock<std::mutex> lock(gState.Lock);
    At(Handle)->Callback = 0;
    At(Handle)->Queued.clear();
    gState.Idle.wait(lock, [Handle] { return At(Handle)->InFlight == 0; });
    return MMSYSERR_NOERROR;
}

void cWinApiSimulation::Reset()
{
    std::lock_guard<std::mutex> lock(gState.Lock);
    gState.Listed.clear();
    gState.All.clear();
}

// Tells the registry listening, if any, on the calling thread as the event loop dispatches it.
static void Announce(WPARAM Event, const QString& Path)
{
    DEV_BROADCAST_DEVICEINTERFACE_W broadcast[16] = {}; // the path goes on past the first record
    broadcast->dbcc_size = sizeof broadcast;
    broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    broadcast->dbcc_name[Path.left(200).toWCharArray(broadcast->dbcc_name)] = 0;
    if (gSimWindowData != 0)
        gSimWindowProcedure(HWND_MESSAGE, WM_DEVICECHANGE, Event, reinterpret_cast<LPARAM>(broadcast));
}

void cWinApiSimulation::Plug(const QString& Name, const QString& Path)
{
    std::unique_lock<std::mutex> lock(gState.Lock);
    gState.All.push_back(sEndpoint{Name, Path, 0, 0, {}, 0});
    gState.Listed.push_back(&gState.All.back());
    lock.unlock();
    Announce(DBT_DEVICEARRIVAL, Path);
}

void cWinApiSimulation::Unplug(const QString& Path)
{
    std::unique_lock<std::mutex> lock(gState.Lock);
    const auto gone = [&](const sEndpoint* Device) { return Device->Path == Path; };
    gState.Listed.erase(std::remove_if(gState.Listed.begin(), gState.Listed.end(), gone), gState.Listed.end());
    lock.unlock();
    Announce(DBT_DEVICEREMOVECOMPLETE, Path.toUpper());
}

bool cWinApiSimulation::Deliver(const QString& Path, const QByteArray& Bytes)
{
    return CallBack(Path, false, [&](sEndpoint& Input, UINT& Message, DWORD_PTR& Param) {
        for (int at = 0; at < std::min(3, Bytes.size()); ++at)
            Param |= static_cast<DWORD_PTR>(static_cast<BYTE>(Bytes[at])) << (8 * at);
        if (!Bytes.startsWith('\xF0'))
            return true;
        if (Input.Queued.empty())
            return false;
        const LPMIDIHDR header = Input.Queued.front();
        Input.Queued.erase(Input.Queued.begin());
        header->dwBytesRecorded = std::min(static_cast<DWORD>(Bytes.size()), header->dwBufferLength);
        std::memcpy(header->lpData, Bytes.constData(), header->dwBytesRecorded);
        Message = MIM_LONGDATA;
        Param = reinterpret_cast<DWORD_PTR>(header);
        return true;
    });
}

// The driver's own copy of the bytes, gone after the callback (its length passed as the message).
bool cWinApiSimulation::SendFromDaw(const QString& Name, const QByteArray& Bytes)
{
    std::vector<BYTE> bytes(Bytes.begin(), Bytes.end());
    return CallBack(Name, true, [&](sEndpoint&, UINT& Length, DWORD_PTR& Data) {
        Length = static_cast<UINT>(bytes.size());
        Data = Bytes.isNull() ? 0 : reinterpret_cast<DWORD_PTR>(bytes.data());
        return true;
    });
}
