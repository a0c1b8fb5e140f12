#include "tests/support/winapi/WinApiSimulation.h"

#include "Common/MIDI/Virtual/VirtualMIDIDriverWin.h"

#include <algorithm>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <list>
#include <mutex>
#include <vector>

namespace
{
typedef void(CALLBACK* tInputCallback)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

// A device, or a driver port (Path is then its name). A callback is set while it is open; InFlight
// counts the callbacks under way, which closing waits for, as WinMM and the driver do.
struct sEndpoint
{
    QString Name;
    QString Path;
    tInputCallback Callback = nullptr;
    DWORD_PTR Instance = 0;
    tVirtualMIDIDataCallback DriverCallback = nullptr;
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
        if (open.Path != Path || (Driver ? open.DriverCallback == nullptr : open.Callback == nullptr) || !Prepare(open, message, param))
            continue;
        ++open.InFlight;
        const tInputCallback callback = open.Callback;
        const tVirtualMIDIDataCallback driverCallback = open.DriverCallback;
        lock.unlock();
        if (Driver)
            driverCallback(reinterpret_cast<tVirtualMIDIPort>(&open), reinterpret_cast<LPBYTE>(param), message, 0);
        else
            callback(reinterpret_cast<HMIDIIN>(&open), message, open.Instance, param, 0);
        lock.lock();
        --open.InFlight;
        gState.Idle.notify_all();
        return true;
    }
    return false;
}

// No callback starts from now on, and the one under way has returned.
void Close(sEndpoint* Endpoint)
{
    std::unique_lock<std::mutex> lock(gState.Lock);
    Endpoint->Callback = nullptr;
    Endpoint->DriverCallback = nullptr;
    gState.Idle.wait(lock, [Endpoint] { return Endpoint->InFlight == 0; });
}

tVirtualMIDIPort CALLBACK SimCreatePort(LPCWSTR Name, tVirtualMIDIDataCallback Callback, DWORD_PTR, DWORD, DWORD)
{
    std::lock_guard<std::mutex> lock(gState.Lock);
    gState.All.push_back(sEndpoint{QString(), QString::fromWCharArray(Name), nullptr, 0, Callback, {}, 0});
    return reinterpret_cast<tVirtualMIDIPort>(&gState.All.back());
}

BOOL CALLBACK SimSendData(tVirtualMIDIPort, LPBYTE, DWORD) { return TRUE; }
void CALLBACK SimClosePort(tVirtualMIDIPort Port) { Close(At(Port)); }
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
    const sEndpoint* device = Device(Index);
    if (device == nullptr || device->Name.isEmpty())
        return MMSYSERR_NODRIVER;
    Caps->szPname[device->Name.left(MAXPNAMELEN - 1).toWCharArray(Caps->szPname)] = 0;
    return MMSYSERR_NOERROR;
}

// The two interface-path queries: the size of the path in bytes, then the path.
MMRESULT midiInMessage(HMIDIIN Index, UINT Message, DWORD_PTR Param1, DWORD_PTR)
{
    const sEndpoint* device = Device(reinterpret_cast<UINT_PTR>(Index));
    const std::wstring path = device != nullptr ? device->Path.toStdWString() : std::wstring();
    const ULONG bytes = static_cast<ULONG>((path.size() + 1) * sizeof(WCHAR));
    if (Message == 0x80D)
        *reinterpret_cast<ULONG*>(Param1) = bytes;
    else
        std::memcpy(reinterpret_cast<void*>(Param1), path.c_str(), bytes);
    return device != nullptr ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
}

UINT midiInGetNumDevs()
{
    std::lock_guard<std::mutex> lock(gState.Lock);
    return static_cast<UINT>(gState.Listed.size());
}

MMRESULT midiInOpen(HMIDIIN* Handle, UINT Index, DWORD_PTR Callback, DWORD_PTR Instance, DWORD)
{
    sEndpoint* device = Device(Index);
    std::lock_guard<std::mutex> lock(gState.Lock);
    device->Callback = reinterpret_cast<tInputCallback>(Callback);
    device->Instance = Instance;
    *Handle = reinterpret_cast<HMIDIIN>(device);
    return MMSYSERR_NOERROR;
}

MMRESULT midiInAddBuffer(HMIDIIN Handle, LPMIDIHDR Header, UINT)
{
    std::lock_guard<std::mutex> lock(gState.Lock);
    At(Handle)->Queued.push_back(Header);
    return MMSYSERR_NOERROR;
}

// Stops input and waits for the callback under way, then hands every queued buffer back with a
// count of 0 through the callback, on the calling thread.
MMRESULT midiInReset(HMIDIIN Handle)
{
    const tInputCallback callback = At(Handle)->Callback;
    Close(At(Handle));
    std::vector<LPMIDIHDR> queued;
    {
        std::lock_guard<std::mutex> lock(gState.Lock);
        queued.swap(At(Handle)->Queued);
    }
    for (LPMIDIHDR header : queued)
        callback(Handle, MIM_LONGDATA, At(Handle)->Instance, reinterpret_cast<DWORD_PTR>(header), (header->dwBytesRecorded = 0));
    return MMSYSERR_NOERROR;
}

// A buffer still queued is still WinMM's: it can be neither unprepared nor the input closed.
MMRESULT midiInUnprepareHeader(HMIDIIN Handle, LPMIDIHDR, UINT)
{
    std::lock_guard<std::mutex> lock(gState.Lock);
    return At(Handle)->Queued.empty() ? MMSYSERR_NOERROR : MIDIERR_STILLPLAYING;
}

MMRESULT midiInClose(HMIDIIN Handle)
{
    const MMRESULT result = midiInUnprepareHeader(Handle, nullptr, 0);
    if (result == MMSYSERR_NOERROR)
        Close(At(Handle));
    return result;
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
    struct
    {
        DEV_BROADCAST_DEVICEINTERFACE_W Header;
        WCHAR Rest[260];
    } broadcast{};
    broadcast.Header.dbcc_size = sizeof broadcast;
    broadcast.Header.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    broadcast.Header.dbcc_name[Path.left(260).toWCharArray(broadcast.Header.dbcc_name)] = 0;
    if (gSimWindowData != 0)
        gSimWindowProcedure(HWND_MESSAGE, WM_DEVICECHANGE, Event, reinterpret_cast<LPARAM>(&broadcast));
}

void cWinApiSimulation::Plug(const QString& Name, const QString& Path)
{
    {
        std::lock_guard<std::mutex> lock(gState.Lock);
        gState.All.push_back(sEndpoint{Name, Path, nullptr, 0, nullptr, {}, 0});
        gState.Listed.push_back(&gState.All.back());
    }
    Announce(DBT_DEVICEARRIVAL, Path);
}

void cWinApiSimulation::Unplug(const QString& Path)
{
    {
        std::lock_guard<std::mutex> lock(gState.Lock);
        auto& listed = gState.Listed;
        listed.erase(std::remove_if(listed.begin(), listed.end(), [&](const sEndpoint* Device) { return Device->Path == Path; }), listed.end());
    }
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
