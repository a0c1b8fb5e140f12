#include "tests/support/winapi/WinApiSimulation.h"

#include "Common/MIDI/Virtual/VirtualMIDIDriverWin.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
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
    // Every endpoint lives until Reset, so that a handle outlives the unplugging of its device.
    std::vector<std::unique_ptr<sEndpoint>> All;
    std::vector<sEndpoint*> Listed; // in WinMM index order
} gState;

sEndpoint* At(const void* Handle) { return static_cast<sEndpoint*>(const_cast<void*>(Handle)); }

sEndpoint* Device(UINT_PTR Index)
{
    std::lock_guard<std::mutex> lock(gState.Lock);
    return Index < gState.Listed.size() ? gState.Listed[Index] : nullptr;
}

sEndpoint* Add(const QString& Path)
{
    gState.All.push_back(std::make_unique<sEndpoint>());
    gState.All.back()->Path = Path;
    return gState.All.back().get();
}

// Runs Call for the open input or driver port of Path, counted in flight; Call unlocks before it
// calls back, on the calling thread.
template <typename tCall> bool CallBack(const QString& Path, bool Driver, tCall Call)
{
    std::unique_lock<std::mutex> lock(gState.Lock);
    for (std::size_t at = 0; at < gState.All.size(); ++at)
    {
        // The endpoint itself, not its place in All: that may move while the lock is released.
        sEndpoint* endpoint = gState.All[at].get();
        if (endpoint->Path != Path || (Driver ? endpoint->DriverCallback == nullptr : endpoint->Callback == nullptr))
            continue;
        ++endpoint->InFlight;
        const bool called = Call(*endpoint, lock);
        if (!lock.owns_lock())
            lock.lock();
        --endpoint->InFlight;
        gState.Idle.notify_all();
        return called;
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
    sEndpoint* port = Add(QString::fromWCharArray(Name));
    port->DriverCallback = Callback;
    return reinterpret_cast<tVirtualMIDIPort>(port);
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
    if (device == nullptr)
        return MMSYSERR_BADDEVICEID;
    const std::wstring path = device->Path.toStdWString();
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
    sEndpoint* device = Device(Index);
    if (device == nullptr)
        return MMSYSERR_BADDEVICEID;
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

// Stops input, waits for the callback under way, then hands every queued buffer back with a count
// of 0 through the callback, on the calling thread.
MMRESULT midiInReset(HMIDIIN Handle)
{
    const tInputCallback callback = At(Handle)->Callback;
    Close(At(Handle));
    std::unique_lock<std::mutex> lock(gState.Lock);
    std::vector<LPMIDIHDR> queued;
    queued.swap(At(Handle)->Queued);
    lock.unlock();
    for (LPMIDIHDR header : queued)
    {
        header->dwBytesRecorded = 0;
        callback(Handle, MIM_LONGDATA, At(Handle)->Instance, reinterpret_cast<DWORD_PTR>(header), 0);
    }
    return MMSYSERR_NOERROR;
}

// A buffer still queued is still WinMM's: neither unpreparing nor closing may go on.
MMRESULT midiInUnprepareHeader(HMIDIIN Handle, LPMIDIHDR, UINT)
{
    std::lock_guard<std::mutex> lock(gState.Lock);
    return At(Handle)->Queued.empty() ? MMSYSERR_NOERROR : MIDIERR_STILLPLAYING;
}

MMRESULT midiInClose(HMIDIIN Handle)
{
    if (midiInUnprepareHeader(Handle, nullptr, 0) != MMSYSERR_NOERROR)
        return MIDIERR_STILLPLAYING;
    Close(At(Handle));
    return MMSYSERR_NOERROR;
}

void cWinApiSimulation::Reset()
{
    std::lock_guard<std::mutex> lock(gState.Lock);
    gState.Listed.clear();
    gState.All.clear();
}

void cWinApiSimulation::Plug(const QString& Name, const QString& Path)
{
    std::lock_guard<std::mutex> lock(gState.Lock);
    gState.Listed.push_back(Add(Path));
    gState.Listed.back()->Name = Name;
}

void cWinApiSimulation::Unplug(const QString& Path)
{
    std::lock_guard<std::mutex> lock(gState.Lock);
    auto& listed = gState.Listed;
    listed.erase(std::remove_if(listed.begin(), listed.end(), [&](const sEndpoint* Device) { return Device->Path == Path; }), listed.end());
}

void cWinApiSimulation::SendDeviceChange(WPARAM Event, const QString& Path)
{
    const std::wstring path = Path.toStdWString();
    const std::size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(WCHAR);
    std::vector<std::uint64_t> storage(size / 8 + 1, 0); // aligned for the broadcast record
    auto* broadcast = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(storage.data());
    broadcast->dbcc_size = static_cast<DWORD>(size);
    broadcast->dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    std::memcpy(broadcast->dbcc_name, path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    gSimWindowProcedure(HWND_MESSAGE, WM_DEVICECHANGE, Event, reinterpret_cast<LPARAM>(broadcast));
}

bool cWinApiSimulation::Deliver(const QString& Path, const QByteArray& Bytes)
{
    return CallBack(Path, false, [&](sEndpoint& Input, std::unique_lock<std::mutex>& Lock) {
        UINT message = MIM_DATA;
        DWORD_PTR param = 0;
        if (Bytes.startsWith('\xF0'))
        {
            if (Input.Queued.empty())
                return false;
            const LPMIDIHDR header = Input.Queued.front();
            Input.Queued.erase(Input.Queued.begin());
            header->dwBytesRecorded = std::min(static_cast<DWORD>(Bytes.size()), header->dwBufferLength);
            std::memcpy(header->lpData, Bytes.constData(), header->dwBytesRecorded);
            message = MIM_LONGDATA;
            param = reinterpret_cast<DWORD_PTR>(header);
        }
        for (int at = 0; message == MIM_DATA && at < std::min(3, Bytes.size()); ++at)
            param |= static_cast<DWORD_PTR>(static_cast<BYTE>(Bytes[at])) << (8 * at);
        const tInputCallback callback = Input.Callback;
        Lock.unlock();
        callback(reinterpret_cast<HMIDIIN>(&Input), message, Input.Instance, param, 0);
        return true;
    });
}

bool cWinApiSimulation::SendFromDaw(const QString& Name, const QByteArray& Bytes)
{
    return CallBack(Name, true, [&](sEndpoint& Port, std::unique_lock<std::mutex>& Lock) {
        const tVirtualMIDIDataCallback callback = Port.DriverCallback;
        Lock.unlock();
        std::vector<BYTE> bytes(Bytes.begin(), Bytes.end()); // the driver's own copy, gone after the callback
        callback(reinterpret_cast<tVirtualMIDIPort>(&Port), Bytes.isNull() ? nullptr : bytes.data(), static_cast<DWORD>(bytes.size()), 0);
        return true;
    });
}
