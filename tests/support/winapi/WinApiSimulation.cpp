#include "tests/support/winapi/WinApiSimulation.h"

#include "Common/MIDI/Virtual/VirtualMIDIDriverWin.h"

#include <QList>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace
{
typedef void(CALLBACK* tInputCallback)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

struct sDevice
{
    sSimDevice Info;
    int Id = 0;
};

struct sOpenInput
{
    int DeviceId = 0;
    QString Path;
    tInputCallback Callback = nullptr;
    DWORD_PTR Instance = 0;
    bool Started = false;
    std::vector<LPMIDIHDR> Queued;
    int InFlight = 0;
};

struct sOpenOutput
{
    int DeviceId = 0;
    QString Path;
    // Buffers handed to the driver and not yet done.
    std::vector<LPMIDIHDR> Pending;
};

struct sDriverPort
{
    QString Name;
    tVirtualMIDIDataCallback Callback = nullptr;
    DWORD_PTR Instance = 0;
    int InFlight = 0;
    bool Closing = false;
};

struct sState
{
    std::mutex Lock;
    std::condition_variable Idle;
    int NextId = 1;
    std::vector<sDevice> Inputs;
    std::vector<sDevice> Outputs;
    std::map<HMIDIIN, std::unique_ptr<sOpenInput>> OpenInputs;
    std::map<HMIDIOUT, std::unique_ptr<sOpenOutput>> OpenOutputs;
    std::map<QString, MMRESULT> FailNext;
    QStringList Calls;
    cWinApiSimulation::eOutputCompletion Completion = cWinApiSimulation::eOutputCompletion::Immediate;
    std::map<QString, QList<QByteArray>> Sent;
    std::vector<std::thread> Finishers;
    int StillPlaying = 0;

    bool FailRegistration = false;
    int ActiveNotifications = 0;
    HANDLE LastRecipient = nullptr;
    DWORD LastFlags = 0;
    DEV_BROADCAST_DEVICEINTERFACE_W LastFilter{};
    // Registered window classes by name, and the live windows with their procedure and user data.
    std::map<std::wstring, WNDPROC> Classes;
    std::map<HWND, std::pair<WNDPROC, LONG_PTR>> Windows;

    bool DriverInstalled = true;
    bool DriverLoaded = false;
    DWORD FailNextCreation = 0;
    QStringList DriverCalls;
    std::map<tVirtualMIDIPort, std::unique_ptr<sDriverPort>> DriverPorts;
};

sState& State()
{
    static sState state;
    return state;
}

thread_local DWORD gLastError = 0;

// Handles are addresses that nothing else uses: a counter in a private range.
template <typename tHandle> tHandle NewHandle(sState& S)
{
    return reinterpret_cast<tHandle>(static_cast<std::uintptr_t>(0x51000000u + 16u * static_cast<unsigned>(S.NextId++)));
}

bool TakeFailure(sState& S, const char* Function, MMRESULT& Result)
{
    auto found = S.FailNext.find(QString::fromLatin1(Function));
    if (found == S.FailNext.end())
        return false;
    Result = found->second;
    S.FailNext.erase(found);
    return true;
}

QString Hex(const char* Bytes, int Count)
{
    return QString::fromLatin1(QByteArray(Bytes, Count).toHex(' '));
}

sOpenInput* OpenInputByPath(sState& S, const QString& Path, HMIDIIN* Handle = nullptr)
{
    for (auto& entry : S.OpenInputs)
    {
        if (entry.second->Path == Path)
        {
            if (Handle)
                *Handle = entry.first;
            return entry.second.get();
        }
    }
    return nullptr;
}

template <typename tCaps> MMRESULT FillCaps(std::vector<sDevice>& Devices, UINT_PTR Index, tCaps* Caps, UINT Size)
{
    if (Index >= Devices.size())
        return MMSYSERR_BADDEVICEID;
    if (Caps == nullptr || Size < sizeof(tCaps))
        return MMSYSERR_INVALPARAM;
    const sDevice& device = Devices[Index];
    if (device.Info.CapsResult != MMSYSERR_NOERROR)
        return device.Info.CapsResult;
    std::memset(Caps, 0, sizeof(tCaps));
    const std::wstring name = device.Info.Name.left(MAXPNAMELEN - 1).toStdWString();
    std::memcpy(Caps->szPname, name.c_str(), name.size() * sizeof(WCHAR));
    return MMSYSERR_NOERROR;
}

MMRESULT InterfaceQuery(std::vector<sDevice>& Devices, UINT_PTR Index, UINT Message, DWORD_PTR Param1, DWORD_PTR Param2)
{
    if (Index >= Devices.size())
        return MMSYSERR_BADDEVICEID;
    const sDevice& device = Devices[Index];
    if (device.Info.PathQueryFails)
        return MMSYSERR_NOTSUPPORTED;
    const std::wstring path = device.Info.Path.toStdWString();
    const ULONG bytes = static_cast<ULONG>((path.size() + 1) * sizeof(WCHAR));
    if (Message == 0x80D)
    {
        *reinterpret_cast<ULONG*>(Param1) = bytes;
        return MMSYSERR_NOERROR;
    }
    if (Message == 0x80C)
    {
        if (Param2 < bytes)
            return MMSYSERR_INVALPARAM;
        std::memcpy(reinterpret_cast<void*>(Param1), path.c_str(), bytes);
        return MMSYSERR_NOERROR;
    }
    return MMSYSERR_INVALPARAM;
}

// Marks a long-message buffer done and records what the device read from it.
void FinishOutput(sState& S, sOpenOutput& Output, LPMIDIHDR Header)
{
    S.Sent[Output.Path] << QByteArray(Header->lpData, static_cast<int>(Header->dwBufferLength));
    Header->dwFlags = (Header->dwFlags | MHDR_DONE) & ~static_cast<DWORD>(MHDR_INQUEUE);
    auto& pending = Output.Pending;
    for (auto it = pending.begin(); it != pending.end(); ++it)
    {
        if (*it == Header)
        {
            pending.erase(it);
            break;
        }
    }
}

void JoinFinishers()
{
    std::vector<std::thread> finishers;
    {
        std::lock_guard<std::mutex> lock(State().Lock);
        finishers.swap(State().Finishers);
    }
    for (std::thread& finisher : finishers)
        finisher.join();
}

// Runs Work on a thread of its own and waits for it, as a driver thread would call back.
template <typename tWork> auto OnOwnThread(tWork Work) -> decltype(Work())
{
    decltype(Work()) result{};
    std::thread thread([&] { result = Work(); });
    thread.join();
    return result;
}

// Calls the input callback outside the lock, counted as in flight so that closing waits for it.
void CallInput(std::unique_lock<std::mutex>& Lock, HMIDIIN Handle, sOpenInput* Input, UINT Message, DWORD_PTR Param1, DWORD_PTR Param2)
{
    ++Input->InFlight;
    const tInputCallback callback = Input->Callback;
    const DWORD_PTR instance = Input->Instance;
    Lock.unlock();
    callback(Handle, Message, instance, Param1, Param2);
    Lock.lock();
    --Input->InFlight;
    State().Idle.notify_all();
}

void WaitIdle(std::unique_lock<std::mutex>& Lock, sOpenInput* Input)
{
    State().Idle.wait(Lock, [Input] { return Input->InFlight == 0; });
}

std::map<HMIDIIN, std::unique_ptr<sOpenInput>>& OpenPorts(HMIDIIN)
{
    return State().OpenInputs;
}

std::map<HMIDIOUT, std::unique_ptr<sOpenOutput>>& OpenPorts(HMIDIOUT)
{
    return State().OpenOutputs;
}

// Records a call on an open port, as "<function> <path><Extra>", and finds the port.
template <typename tHandle, typename tPort> MMRESULT PortCall(const char* Function, tHandle Handle, tPort** Port, const QString& Extra = QString())
{
    sState& s = State();
    auto& open = OpenPorts(Handle);
    auto found = open.find(Handle);
    s.Calls << QString::fromLatin1(Function) + ' ' + (found == open.end() ? QStringLiteral("?") : found->second->Path) + Extra;
    MMRESULT result = MMSYSERR_NOERROR;
    if (TakeFailure(s, Function, result))
        return result;
    if (found == open.end())
        return MMSYSERR_INVALHANDLE;
    *Port = found->second.get();
    return MMSYSERR_NOERROR;
}

// What midiInOpen and midiOutOpen share: the record of the call, the device checks and the new port.
template <typename tHandle, typename tPort>
MMRESULT OpenDevice(const char* Function, std::vector<sDevice>& Devices, UINT DeviceId, tHandle* Handle, bool ArgumentsValid, tPort** Port)
{
    sState& s = State();
    const bool known = DeviceId < Devices.size();
    s.Calls << QString::fromLatin1(Function) + ' ' + (known ? Devices[DeviceId].Info.Path : QStringLiteral("#%1").arg(DeviceId));
    MMRESULT result = MMSYSERR_NOERROR;
    if (TakeFailure(s, Function, result))
        return result;
    if (!known)
        return MMSYSERR_BADDEVICEID;
    if (Handle == nullptr || !ArgumentsValid)
        return MMSYSERR_INVALPARAM;
    const sDevice& device = Devices[DeviceId];
    if (device.Info.OpenResult != MMSYSERR_NOERROR)
        return device.Info.OpenResult;
    auto& open = OpenPorts(tHandle());
    for (const auto& entry : open)
    {
        if (entry.second->DeviceId == device.Id)
            return MMSYSERR_ALLOCATED;
    }
    auto port = std::make_unique<tPort>();
    port->DeviceId = device.Id;
    port->Path = device.Info.Path;
    *Port = port.get();
    *Handle = NewHandle<tHandle>(s);
    open[*Handle] = std::move(port);
    return MMSYSERR_NOERROR;
}

template <typename tHandle> MMRESULT PrepareHeader(const char* Function, tHandle Handle, LPMIDIHDR Header, UINT Size)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    decltype(OpenPorts(Handle).begin()->second.get()) port = nullptr;
    const MMRESULT result = PortCall(Function, Handle, &port);
    if (result != MMSYSERR_NOERROR)
        return result;
    if (Header == nullptr || Size != sizeof(MIDIHDR) || Header->lpData == nullptr || Header->dwBufferLength == 0)
        return MMSYSERR_INVALPARAM;
    Header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

void Unplug(std::vector<sDevice>& Devices, const QString& Path)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    for (auto it = Devices.begin(); it != Devices.end(); ++it)
    {
        if (it->Info.Path == Path)
        {
            Devices.erase(it);
            return;
        }
    }
}

// The simulated driver library's three calls.
tVirtualMIDIPort CALLBACK SimCreatePortEx2(LPCWSTR Name, tVirtualMIDIDataCallback Callback, DWORD_PTR Instance, DWORD MaxSysEx, DWORD Flags)
{
    sState& s = State();
    std::lock_guard<std::mutex> lock(s.Lock);
    const QString name = QString::fromWCharArray(Name);
    s.DriverCalls << QStringLiteral("create %1 %2 %3 %4").arg(name).arg(MaxSysEx).arg(Flags).arg(Instance);
    if (s.FailNextCreation != 0)
    {
        gLastError = s.FailNextCreation;
        s.FailNextCreation = 0;
        return nullptr;
    }
    for (const auto& entry : s.DriverPorts)
    {
        if (entry.second->Name == name)
        {
            gLastError = ERROR_ALREADY_EXISTS;
            return nullptr;
        }
    }
    auto port = std::make_unique<sDriverPort>();
    port->Name = name;
    port->Callback = Callback;
    port->Instance = Instance;
    const tVirtualMIDIPort handle = NewHandle<tVirtualMIDIPort>(s);
    s.DriverPorts[handle] = std::move(port);
    return handle;
}

BOOL CALLBACK SimSendData(tVirtualMIDIPort Port, LPBYTE Bytes, DWORD Length)
{
    sState& s = State();
    std::lock_guard<std::mutex> lock(s.Lock);
    auto found = s.DriverPorts.find(Port);
    if (found == s.DriverPorts.end())
    {
        s.DriverCalls << QStringLiteral("send to an unknown port");
        return FALSE;
    }
    s.DriverCalls << QStringLiteral("send %1 %2").arg(found->second->Name, Hex(reinterpret_cast<const char*>(Bytes), static_cast<int>(Length)));
    return TRUE;
}

void CALLBACK SimClosePort(tVirtualMIDIPort Port)
{
    sState& s = State();
    std::unique_lock<std::mutex> lock(s.Lock);
    auto found = s.DriverPorts.find(Port);
    if (found == s.DriverPorts.end())
    {
        s.DriverCalls << QStringLiteral("close of an unknown port");
        return;
    }
    s.DriverCalls << QStringLiteral("close %1").arg(found->second->Name);
    // Like the driver: no callback runs for the port once closing returns.
    sDriverPort* port = found->second.get();
    port->Closing = true;
    s.Idle.wait(lock, [port] { return port->InFlight == 0; });
    s.DriverPorts.erase(Port);
}

HINSTANCE__* DriverModule()
{
    static int module;
    return reinterpret_cast<HINSTANCE__*>(&module);
}

bool DawSend(const QString& Name, const QByteArray& Bytes, bool Null)
{
    sState& s = State();
    std::unique_lock<std::mutex> lock(s.Lock);
    for (auto& entry : s.DriverPorts)
    {
        sDriverPort* port = entry.second.get();
        if (port->Name != Name || port->Closing)
            continue;
        ++port->InFlight;
        const tVirtualMIDIPort handle = entry.first;
        lock.unlock();
        // The driver hands over bytes of its own, which are gone after the callback.
        std::vector<BYTE> bytes(Bytes.begin(), Bytes.end());
        port->Callback(handle, Null ? nullptr : bytes.data(), static_cast<DWORD>(bytes.size()), port->Instance);
        lock.lock();
        --port->InFlight;
        s.Idle.notify_all();
        return true;
    }
    return false;
}
} // namespace

// ---- windows.h ----

DWORD WINAPI GetLastError()
{
    return gLastError;
}

void WINAPI SetLastError(DWORD Error)
{
    gLastError = Error;
}

HMODULE WINAPI LoadLibraryW(LPCWSTR FileName)
{
    sState& s = State();
    std::lock_guard<std::mutex> lock(s.Lock);
    const QString name = QString::fromWCharArray(FileName);
    s.DriverCalls << QStringLiteral("load %1").arg(name);
    // The driver installs one library per pointer size; a process can load only its own.
    const QString own = sizeof(void*) == 8 ? QStringLiteral("teVirtualMIDI64.dll") : QStringLiteral("teVirtualMIDI32.dll");
    if (!s.DriverInstalled || name.compare(own, Qt::CaseInsensitive) != 0)
    {
        gLastError = ERROR_MOD_NOT_FOUND;
        return nullptr;
    }
    s.DriverLoaded = true;
    return DriverModule();
}

FARPROC WINAPI GetProcAddress(HMODULE Module, const char* ProcName)
{
    if (Module != DriverModule() || ProcName == nullptr)
    {
        gLastError = 127;
        return nullptr;
    }
    const QByteArray name(ProcName);
    if (name == "virtualMIDICreatePortEx2")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SimCreatePortEx2));
    if (name == "virtualMIDISendData")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SimSendData));
    if (name == "virtualMIDIClosePort")
        return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(&SimClosePort));
    gLastError = 127;
    return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE Module)
{
    sState& s = State();
    std::lock_guard<std::mutex> lock(s.Lock);
    if (Module != DriverModule())
        return FALSE;
    s.DriverCalls << QStringLiteral("unload");
    s.DriverLoaded = false;
    return TRUE;
}

void WINAPI Sleep(DWORD Milliseconds)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

HDEVNOTIFY WINAPI RegisterDeviceNotificationW(HANDLE Recipient, LPVOID NotificationFilter, DWORD Flags)
{
    sState& s = State();
    std::lock_guard<std::mutex> lock(s.Lock);
    if (s.FailRegistration || Recipient == nullptr || NotificationFilter == nullptr)
    {
        gLastError = 87;
        return nullptr;
    }
    std::memcpy(&s.LastFilter, NotificationFilter, sizeof s.LastFilter);
    s.LastRecipient = Recipient;
    s.LastFlags = Flags;
    ++s.ActiveNotifications;
    return NewHandle<HDEVNOTIFY>(s);
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR)
{
    return nullptr;
}

ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* Class)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    if (State().Classes.emplace(Class->lpszClassName, Class->lpfnWndProc).second)
        return static_cast<ATOM>(State().Classes.size());
    gLastError = ERROR_CLASS_ALREADY_EXISTS;
    return 0;
}

// Only message-only windows are simulated: anything else would need a display.
HWND WINAPI CreateWindowExW(DWORD, LPCWSTR ClassName, LPCWSTR, DWORD, int, int, int, int, HWND Parent, HMENU, HINSTANCE, LPVOID)
{
    sState& s = State();
    std::lock_guard<std::mutex> lock(s.Lock);
    const auto found = s.Classes.find(ClassName);
    if (found == s.Classes.end() || Parent != HWND_MESSAGE)
        return nullptr;
    const HWND window = NewHandle<HWND>(s);
    s.Windows[window] = {found->second, 0};
    return window;
}

BOOL WINAPI DestroyWindow(HWND Window)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return State().Windows.erase(Window) == 1 ? TRUE : FALSE;
}

LONG_PTR WINAPI SetWindowLongPtrW(HWND Window, int, LONG_PTR Value)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return std::exchange(State().Windows.at(Window).second, Value);
}

LONG_PTR WINAPI GetWindowLongPtrW(HWND Window, int)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return State().Windows.at(Window).second;
}

LRESULT WINAPI DefWindowProcW(HWND, UINT, WPARAM, LPARAM)
{
    return 0;
}

BOOL WINAPI UnregisterDeviceNotification(HDEVNOTIFY Handle)
{
    sState& s = State();
    std::lock_guard<std::mutex> lock(s.Lock);
    if (Handle == nullptr || s.ActiveNotifications == 0)
        return FALSE;
    --s.ActiveNotifications;
    return TRUE;
}

// ---- mmsystem.h, inputs ----

UINT WINAPI midiInGetNumDevs()
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return static_cast<UINT>(State().Inputs.size());
}

MMRESULT WINAPI midiInGetDevCapsW(UINT_PTR DeviceId, LPMIDIINCAPSW Caps, UINT Size)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return FillCaps(State().Inputs, DeviceId, Caps, Size);
}

MMRESULT WINAPI midiInMessage(HMIDIIN Handle, UINT Message, DWORD_PTR Param1, DWORD_PTR Param2)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return InterfaceQuery(State().Inputs, reinterpret_cast<UINT_PTR>(Handle), Message, Param1, Param2);
}

MMRESULT WINAPI midiInOpen(LPHMIDIIN Handle, UINT DeviceId, DWORD_PTR Callback, DWORD_PTR Instance, DWORD Flags)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    sOpenInput* input = nullptr;
    const bool valid = Flags == static_cast<DWORD>(CALLBACK_FUNCTION) && Callback != 0;
    const MMRESULT result = OpenDevice("midiInOpen", State().Inputs, DeviceId, Handle, valid, &input);
    if (result == MMSYSERR_NOERROR)
    {
        input->Callback = reinterpret_cast<tInputCallback>(Callback);
        input->Instance = Instance;
    }
    return result;
}

MMRESULT WINAPI midiInStart(HMIDIIN Handle)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    sOpenInput* input = nullptr;
    const MMRESULT result = PortCall("midiInStart", Handle, &input);
    if (result == MMSYSERR_NOERROR)
        input->Started = true;
    return result;
}

MMRESULT WINAPI midiInStop(HMIDIIN Handle)
{
    std::unique_lock<std::mutex> lock(State().Lock);
    sOpenInput* input = nullptr;
    const MMRESULT result = PortCall("midiInStop", Handle, &input);
    if (result == MMSYSERR_NOERROR)
    {
        input->Started = false;
        WaitIdle(lock, input);
    }
    return result;
}

MMRESULT WINAPI midiInReset(HMIDIIN Handle)
{
    std::unique_lock<std::mutex> lock(State().Lock);
    sOpenInput* input = nullptr;
    const MMRESULT result = PortCall("midiInReset", Handle, &input);
    if (result != MMSYSERR_NOERROR)
        return result;
    input->Started = false;
    WaitIdle(lock, input);
    // Every queued buffer comes back, marked done with nothing recorded, on a driver thread.
    std::vector<LPMIDIHDR> queued;
    queued.swap(input->Queued);
    for (LPMIDIHDR header : queued)
    {
        header->dwBytesRecorded = 0;
        header->dwFlags = (header->dwFlags | MHDR_DONE) & ~static_cast<DWORD>(MHDR_INQUEUE);
    }
    lock.unlock();
    std::thread driver([&] {
        std::unique_lock<std::mutex> inner(State().Lock);
        for (LPMIDIHDR header : queued)
            CallInput(inner, Handle, input, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), 0);
    });
    driver.join();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInClose(HMIDIIN Handle)
{
    std::unique_lock<std::mutex> lock(State().Lock);
    sOpenInput* input = nullptr;
    const MMRESULT result = PortCall("midiInClose", Handle, &input);
    if (result != MMSYSERR_NOERROR)
        return result;
    if (!input->Queued.empty())
        return MIDIERR_STILLPLAYING;
    input->Started = false;
    WaitIdle(lock, input);
    State().OpenInputs.erase(Handle);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInPrepareHeader(HMIDIIN Handle, LPMIDIHDR Header, UINT Size)
{
    return PrepareHeader("midiInPrepareHeader", Handle, Header, Size);
}

MMRESULT WINAPI midiInUnprepareHeader(HMIDIIN Handle, LPMIDIHDR Header, UINT Size)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    sOpenInput* input = nullptr;
    const MMRESULT result = PortCall("midiInUnprepareHeader", Handle, &input);
    if (result != MMSYSERR_NOERROR)
        return result;
    if (Header == nullptr || Size != sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    if (Header->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    Header->dwFlags &= ~static_cast<DWORD>(MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiInAddBuffer(HMIDIIN Handle, LPMIDIHDR Header, UINT Size)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    sOpenInput* input = nullptr;
    const MMRESULT result = PortCall("midiInAddBuffer", Handle, &input);
    if (result != MMSYSERR_NOERROR)
        return result;
    if (Header == nullptr || Size != sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    if (!(Header->dwFlags & MHDR_PREPARED))
        return MIDIERR_UNPREPARED;
    if (Header->dwFlags & MHDR_INQUEUE)
        return MIDIERR_STILLPLAYING;
    Header->dwFlags = (Header->dwFlags | MHDR_INQUEUE) & ~static_cast<DWORD>(MHDR_DONE);
    Header->dwBytesRecorded = 0;
    input->Queued.push_back(Header);
    return MMSYSERR_NOERROR;
}

// ---- mmsystem.h, outputs ----

UINT WINAPI midiOutGetNumDevs()
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return static_cast<UINT>(State().Outputs.size());
}

MMRESULT WINAPI midiOutGetDevCapsW(UINT_PTR DeviceId, LPMIDIOUTCAPSW Caps, UINT Size)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return FillCaps(State().Outputs, DeviceId, Caps, Size);
}

MMRESULT WINAPI midiOutMessage(HMIDIOUT Handle, UINT Message, DWORD_PTR Param1, DWORD_PTR Param2)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return InterfaceQuery(State().Outputs, reinterpret_cast<UINT_PTR>(Handle), Message, Param1, Param2);
}

MMRESULT WINAPI midiOutOpen(LPHMIDIOUT Handle, UINT DeviceId, DWORD_PTR Callback, DWORD_PTR Instance, DWORD Flags)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    sOpenOutput* output = nullptr;
    const bool valid = Flags == static_cast<DWORD>(CALLBACK_NULL) && Callback == 0 && Instance == 0;
    return OpenDevice("midiOutOpen", State().Outputs, DeviceId, Handle, valid, &output);
}

MMRESULT WINAPI midiOutClose(HMIDIOUT Handle)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    sOpenOutput* output = nullptr;
    const MMRESULT result = PortCall("midiOutClose", Handle, &output);
    if (result != MMSYSERR_NOERROR)
        return result;
    if (!output->Pending.empty())
        return MIDIERR_STILLPLAYING;
    State().OpenOutputs.erase(Handle);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutReset(HMIDIOUT Handle)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    sOpenOutput* output = nullptr;
    const MMRESULT result = PortCall("midiOutReset", Handle, &output);
    if (result != MMSYSERR_NOERROR)
        return result;
    // Pending buffers come back done; what they held never reaches the device.
    for (LPMIDIHDR header : output->Pending)
        header->dwFlags = (header->dwFlags | MHDR_DONE) & ~static_cast<DWORD>(MHDR_INQUEUE);
    output->Pending.clear();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutPrepareHeader(HMIDIOUT Handle, LPMIDIHDR Header, UINT Size)
{
    return PrepareHeader("midiOutPrepareHeader", Handle, Header, Size);
}

MMRESULT WINAPI midiOutUnprepareHeader(HMIDIOUT Handle, LPMIDIHDR Header, UINT Size)
{
    sState& s = State();
    std::lock_guard<std::mutex> lock(s.Lock);
    auto found = s.OpenOutputs.find(Handle);
    if (found != s.OpenOutputs.end() && Header != nullptr && (Header->dwFlags & MHDR_INQUEUE))
    {
        // Not recorded as a call: a waiting writer asks many times.
        ++s.StillPlaying;
        return MIDIERR_STILLPLAYING;
    }
    sOpenOutput* output = nullptr;
    const MMRESULT result = PortCall("midiOutUnprepareHeader", Handle, &output);
    if (result != MMSYSERR_NOERROR)
        return result;
    if (Header == nullptr || Size != sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    Header->dwFlags &= ~static_cast<DWORD>(MHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI midiOutLongMsg(HMIDIOUT Handle, LPMIDIHDR Header, UINT Size)
{
    sState& s = State();
    std::lock_guard<std::mutex> lock(s.Lock);
    sOpenOutput* output = nullptr;
    const QString bytes = Header && Header->lpData ? ' ' + Hex(Header->lpData, static_cast<int>(Header->dwBufferLength)) : QString();
    const MMRESULT result = PortCall("midiOutLongMsg", Handle, &output, bytes);
    if (result != MMSYSERR_NOERROR)
        return result;
    if (Header == nullptr || Size != sizeof(MIDIHDR))
        return MMSYSERR_INVALPARAM;
    if (!(Header->dwFlags & MHDR_PREPARED))
        return MIDIERR_UNPREPARED;
    Header->dwFlags = (Header->dwFlags | MHDR_INQUEUE) & ~static_cast<DWORD>(MHDR_DONE);
    output->Pending.push_back(Header);
    switch (s.Completion)
    {
    case cWinApiSimulation::eOutputCompletion::Immediate:
        FinishOutput(s, *output, Header);
        break;
    case cWinApiSimulation::eOutputCompletion::Later:
        // The driver reads the buffer a little later on its own thread: a writer that did not wait
        // would leave it reading freed memory.
        s.Finishers.emplace_back([Handle, Header] {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            std::lock_guard<std::mutex> inner(State().Lock);
            auto open = State().OpenOutputs.find(Handle);
            if (open == State().OpenOutputs.end())
                return;
            for (LPMIDIHDR pending : open->second->Pending)
            {
                if (pending == Header)
                {
                    FinishOutput(State(), *open->second, Header);
                    return;
                }
            }
        });
        break;
    case cWinApiSimulation::eOutputCompletion::Never:
        break;
    }
    return MMSYSERR_NOERROR;
}

// ---- control ----

void cWinApiSimulation::Reset()
{
    JoinFinishers();
    sState& s = State();
    std::lock_guard<std::mutex> lock(s.Lock);
    s.Inputs.clear();
    s.Outputs.clear();
    s.OpenInputs.clear();
    s.OpenOutputs.clear();
    s.FailNext.clear();
    s.Calls.clear();
    s.Completion = eOutputCompletion::Immediate;
    s.Sent.clear();
    s.StillPlaying = 0;
    s.FailRegistration = false;
    s.ActiveNotifications = 0;
    s.LastRecipient = nullptr;
    s.LastFlags = 0;
    std::memset(&s.LastFilter, 0, sizeof s.LastFilter);
    s.DriverInstalled = true;
    s.FailNextCreation = 0;
    s.DriverCalls.clear();
    s.DriverPorts.clear();
}

void cWinApiSimulation::PlugInput(const sSimDevice& Device)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    State().Inputs.push_back(sDevice{Device, State().NextId++});
}

void cWinApiSimulation::PlugOutput(const sSimDevice& Device)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    State().Outputs.push_back(sDevice{Device, State().NextId++});
}

void cWinApiSimulation::UnplugInput(const QString& Path)
{
    Unplug(State().Inputs, Path);
}

void cWinApiSimulation::UnplugOutput(const QString& Path)
{
    Unplug(State().Outputs, Path);
}

void cWinApiSimulation::PlugInputAndOutput(const sSimDevice& Device)
{
    PlugInput(Device);
    PlugOutput(Device);
}

void cWinApiSimulation::UnplugInputAndOutput(const QString& Path)
{
    UnplugInput(Path);
    UnplugOutput(Path);
}

QByteArray cWinApiSimulation::InterfaceBroadcast(const QString& Path, DWORD DeviceType)
{
    const std::wstring path = Path.toStdWString();
    const std::size_t size = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name) + (path.size() + 1) * sizeof(WCHAR);
    QByteArray broadcast(static_cast<int>(size < sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) ? sizeof(DEV_BROADCAST_DEVICEINTERFACE_W) : size), '\0');
    auto* record = reinterpret_cast<DEV_BROADCAST_DEVICEINTERFACE_W*>(broadcast.data());
    record->dbcc_size = static_cast<DWORD>(size);
    record->dbcc_devicetype = DeviceType;
    std::memcpy(broadcast.data() + offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name), path.c_str(), (path.size() + 1) * sizeof(WCHAR));
    return broadcast;
}

bool cWinApiSimulation::SendDeviceChange(WPARAM Event, const QByteArray& Broadcast)
{
    HWND recipient = nullptr;
    WNDPROC procedure = nullptr;
    {
        std::lock_guard<std::mutex> lock(State().Lock);
        if (State().ActiveNotifications == 0)
            return false;
        recipient = static_cast<HWND>(State().LastRecipient);
        const auto window = State().Windows.find(recipient);
        if (window == State().Windows.end())
            return false;
        procedure = window->second.first;
    }
    // A copy in memory that is suitably aligned for the broadcast records.
    std::vector<std::uint64_t> storage((static_cast<std::size_t>(Broadcast.size()) + 7) / 8 + 1, 0);
    std::memcpy(storage.data(), Broadcast.constData(), static_cast<std::size_t>(Broadcast.size()));
    // As the event loop dispatches it: the window's procedure on this thread, no lock held.
    return procedure(recipient, WM_DEVICECHANGE, Event, reinterpret_cast<LPARAM>(storage.data())) != 0;
}

void cWinApiSimulation::FailNotificationRegistration(bool Fail)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    State().FailRegistration = Fail;
}

int cWinApiSimulation::ActiveNotifications()
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return State().ActiveNotifications;
}

DEV_BROADCAST_DEVICEINTERFACE_W cWinApiSimulation::LastNotificationFilter()
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return State().LastFilter;
}

DWORD cWinApiSimulation::LastNotificationFlags()
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return State().LastFlags;
}

void cWinApiSimulation::FailNext(const QString& Function, MMRESULT Result)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    State().FailNext[Function] = Result;
}

bool cWinApiSimulation::DeliverShortMessageHere(const QString& Path, DWORD Packed, UINT Message)
{
    std::unique_lock<std::mutex> lock(State().Lock);
    HMIDIIN handle = nullptr;
    sOpenInput* input = OpenInputByPath(State(), Path, &handle);
    if (input == nullptr || !input->Started)
        return false;
    CallInput(lock, handle, input, Message, Packed, 0);
    return true;
}

int cWinApiSimulation::DeliverExclusiveHere(const QString& Path, const QByteArray& Bytes)
{
    std::unique_lock<std::mutex> lock(State().Lock);
    int returned = 0;
    int offset = 0;
    // Each buffer is filled as far as it goes; the callback queues it again for the rest.
    while (offset < Bytes.size() || (Bytes.isEmpty() && returned == 0))
    {
        HMIDIIN handle = nullptr;
        sOpenInput* input = OpenInputByPath(State(), Path, &handle);
        if (input == nullptr || !input->Started || input->Queued.empty())
            break;
        LPMIDIHDR header = input->Queued.front();
        input->Queued.erase(input->Queued.begin());
        const int piece = qMin(Bytes.size() - offset, static_cast<int>(header->dwBufferLength));
        std::memcpy(header->lpData, Bytes.constData() + offset, static_cast<std::size_t>(piece));
        header->dwBytesRecorded = static_cast<DWORD>(piece);
        header->dwFlags = (header->dwFlags | MHDR_DONE) & ~static_cast<DWORD>(MHDR_INQUEUE);
        offset += piece;
        ++returned;
        CallInput(lock, handle, input, MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), 0);
        if (Bytes.isEmpty())
            break;
    }
    return returned;
}

bool cWinApiSimulation::DeliverShortMessage(const QString& Path, DWORD Packed, UINT Message)
{
    return OnOwnThread([&] { return DeliverShortMessageHere(Path, Packed, Message); });
}

int cWinApiSimulation::DeliverExclusive(const QString& Path, const QByteArray& Bytes)
{
    return OnOwnThread([&] { return DeliverExclusiveHere(Path, Bytes); });
}

bool cWinApiSimulation::ReturnEmptyExclusive(const QString& Path)
{
    return OnOwnThread([&] { return DeliverExclusiveHere(Path, QByteArray()) == 1; });
}

int cWinApiSimulation::QueuedExclusiveBuffers(const QString& Path)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    sOpenInput* input = OpenInputByPath(State(), Path);
    return input ? static_cast<int>(input->Queued.size()) : 0;
}

bool cWinApiSimulation::IsInputOpen(const QString& Path)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return OpenInputByPath(State(), Path) != nullptr;
}

void cWinApiSimulation::SetOutputCompletion(eOutputCompletion Completion)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    State().Completion = Completion;
}

QList<QByteArray> cWinApiSimulation::SentToDevice(const QString& Path)
{
    JoinFinishers();
    std::lock_guard<std::mutex> lock(State().Lock);
    auto found = State().Sent.find(Path);
    return found == State().Sent.end() ? QList<QByteArray>() : found->second;
}

int cWinApiSimulation::StillPlayingAnswers()
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return State().StillPlaying;
}

QStringList cWinApiSimulation::Calls()
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return State().Calls;
}

void cWinApiSimulation::ClearCalls()
{
    std::lock_guard<std::mutex> lock(State().Lock);
    State().Calls.clear();
}

void cWinApiSimulation::SetDriverInstalled(bool Installed)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    State().DriverInstalled = Installed;
}

void cWinApiSimulation::FailNextPortCreation(DWORD Error)
{
    std::lock_guard<std::mutex> lock(State().Lock);
    State().FailNextCreation = Error;
}

QStringList cWinApiSimulation::DriverCalls()
{
    std::lock_guard<std::mutex> lock(State().Lock);
    return State().DriverCalls;
}

QStringList cWinApiSimulation::OpenDriverPorts()
{
    std::lock_guard<std::mutex> lock(State().Lock);
    QStringList names;
    for (const auto& entry : State().DriverPorts)
        names << entry.second->Name;
    names.sort();
    return names;
}

bool cWinApiSimulation::SendFromDaw(const QString& Name, const QByteArray& Bytes)
{
    return OnOwnThread([&] { return DawSend(Name, Bytes, false); });
}

bool cWinApiSimulation::SendNullFromDaw(const QString& Name)
{
    return OnOwnThread([&] { return DawSend(Name, QByteArray("\x90\x3c\x7f", 3), true); });
}

bool cWinApiSimulation::SendFromDawHere(const QString& Name, const QByteArray& Bytes)
{
    return DawSend(Name, Bytes, false);
}
