#include "Common/MIDI/SystemMIDIConfigurationWin.h"

#include "Common/LogError.h"
#include "Common/MIDI/MIDIInputWin.h"
#include "Common/MIDI/MIDIOutputWin.h"
#include "Common/MIDI/Virtual/VirtualMIDIInputOutputWin.h"

#include <QVector>
#include <QtDebug>

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace
{
// The class of the registry's message-only notification windows, registered once per process.
const wchar_t kNotificationWindowClass[] = L"QuillonMIDIDeviceNotifications";

// Messages of the driver development headers that ask a device for its interface path.
constexpr UINT kQueryDeviceInterface = 0x80C;
constexpr UINT kQueryDeviceInterfaceSize = 0x80D;

// The product name up to its NUL, never past the field.
QString ProductName(const WCHAR* Name)
{
    int length = 0;
    while (length < MAXPNAMELEN && Name[length] != 0)
        ++length;
    return QString::fromWCharArray(Name, length);
}

// Sends the two interface-path queries through Message (midiInMessage or midiOutMessage) with
// the device index in place of a handle.
template <typename tHandle, typename tMessage> QString QueryInterfacePath(UINT Index, tMessage Message)
{
    const tHandle device = reinterpret_cast<tHandle>(static_cast<UINT_PTR>(Index));
    ULONG bytes = 0;
    // No interface path is longer than 32767 characters; a larger size is a driver's mistake.
    if (Message(device, kQueryDeviceInterfaceSize, reinterpret_cast<DWORD_PTR>(&bytes), 0) != MMSYSERR_NOERROR || bytes == 0 ||
        bytes > 32768 * sizeof(WCHAR))
        return QString();
    // Room for the bytes the driver reports plus one more character, for a NUL of our own.
    QVector<WCHAR> buffer(static_cast<int>(bytes / sizeof(WCHAR)) + 2, 0);
    if (Message(device, kQueryDeviceInterface, reinterpret_cast<DWORD_PTR>(buffer.data()), bytes) != MMSYSERR_NOERROR)
        return QString();
    buffer[static_cast<int>(bytes / sizeof(WCHAR))] = 0;
    return QString::fromWCharArray(buffer.constData());
}

QString PathKey(const QString& Path)
{
    return Path.toUpper().trimmed();
}

// WinMM numbers the devices after a removed one down by one; so do the records and the count.
template <typename tRecord>
void CloseIndexGap(QList<tRecord*>& Records, QList<sUnreadableMIDIDevice>& Unreadable, UINT& Known, UINT Removed)
{
    for (tRecord* record : qAsConst(Records))
    {
        if (record->DeviceIndex > Removed)
            --record->DeviceIndex;
    }
    for (sUnreadableMIDIDevice& device : Unreadable)
    {
        if (device.DeviceIndex > Removed)
            --device.DeviceIndex;
    }
    if (Known > 0)
        --Known;
}
} // namespace

cSystemMIDIConfigurationWin::cSystemMIDIConfigurationWin(QObject* Parent) : cSystemMIDIConfiguration(Parent)
{
    // Device changes go to a message-only window of our own: the headless bridge has no widget,
    // and the event loop of this thread dispatches the window's messages to the procedure below.
    const HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass;
    std::memset(&windowClass, 0, sizeof windowClass);
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = NotificationWindowProcedure;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kNotificationWindowClass;
    // A second registry finds the class registered already; that is no failure.
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        LOG_ERROR("Could not register the device notification window class (error %lu)", static_cast<unsigned long>(GetLastError()));
    mNotificationWindow = CreateWindowExW(0, kNotificationWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, instance, nullptr);
    if (mNotificationWindow != nullptr)
    {
        SetWindowLongPtrW(mNotificationWindow, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        DEV_BROADCAST_DEVICEINTERFACE_W filter = NotificationFilter();
        mNotification = RegisterDeviceNotificationW(mNotificationWindow, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
    if (mNotification == nullptr)
        qDebug("Failed to register device notification");

    const UINT inputs = midiInGetNumDevs();
    for (UINT index = 0; index < inputs; ++index)
        AddInputDevice(index);
    mKnownInputDevices = inputs;
    const UINT outputs = midiOutGetNumDevs();
    for (UINT index = 0; index < outputs; ++index)
        AddOutputDevice(index);
    mKnownOutputDevices = outputs;
}

cSystemMIDIConfigurationWin::~cSystemMIDIConfigurationWin()
{
    if (mNotification != nullptr)
        UnregisterDeviceNotification(mNotification);
    // No message reaches this object once its window is gone.
    if (mNotificationWindow != nullptr)
    {
        SetWindowLongPtrW(mNotificationWindow, GWLP_USERDATA, 0);
        DestroyWindow(mNotificationWindow);
    }
    // Input ports are child objects and go with the registry. Output ports are not, yet they hold
    // a device open: they go here, so a new registry can open the same device.
    for (sMIDIDeviceInfo<cMIDIOutputWin>* record : qAsConst(mOutputs))
        delete record->Port;
    qDeleteAll(mOutputs);
    qDeleteAll(mInputs);
}

DEV_BROADCAST_DEVICEINTERFACE_W cSystemMIDIConfigurationWin::NotificationFilter()
{
    DEV_BROADCAST_DEVICEINTERFACE_W filter;
    std::memset(&filter, 0, sizeof filter);
    filter.dbcc_size = sizeof filter;
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    filter.dbcc_reserved = 0;
    // {6994AD04-93EF-11D0-A3CC-00A0C9223196}: kernel-streaming audio devices, MIDI ones included.
    filter.dbcc_classguid = GUID{0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}};
    return filter;
}

QString cSystemMIDIConfigurationWin::MMErrorText(MMRESULT Result)
{
    switch (Result)
    {
    case MMSYSERR_NOERROR:
        return QStringLiteral("No Error");
    case MMSYSERR_BADDEVICEID:
        return QStringLiteral("The specified device identifier is out of range");
    case MMSYSERR_NODRIVER:
        return QStringLiteral("The driver is not installed");
    case MMSYSERR_NOMEM:
        return QStringLiteral("The system is unable to allocate or lock memory");
    case MMSYSERR_INVALPARAM:
        return QStringLiteral("The specified pointer or structure is invalid");
    default:
        return QStringLiteral("Unknown Error %1").arg(Result);
    }
}

int cSystemMIDIConfigurationWin::GetInputCount()
{
    return mInputs.size();
}

QString cSystemMIDIConfigurationWin::GetInputName(int Index)
{
    if (Index < 0 || Index >= mInputs.size())
    {
        LOG_ERROR("Source index %d out of range", Index);
        return QString();
    }
    return mInputs.at(Index)->Name;
}

cMIDIInput* cSystemMIDIConfigurationWin::GetInput(QString Name)
{
    if (cMIDIInput* port = cSystemMIDIConfiguration::GetInput(Name))
        return port;
    cMIDIInput* found = nullptr;
    for (sMIDIDeviceInfo<cMIDIInputWin>* record : qAsConst(mInputs))
    {
        if (record->Name != Name)
            continue;
        if (record->Port == nullptr)
            record->Port = new cMIDIInputWin(record->DeviceIndex, this);
        found = record->Port;
    }
    return found;
}

QStringList cSystemMIDIConfigurationWin::GetInputNames()
{
    QStringList names;
    for (const sMIDIDeviceInfo<cMIDIInputWin>* record : qAsConst(mInputs))
        names << record->Name;
    return PickableNames(names);
}

int cSystemMIDIConfigurationWin::GetOutputCount()
{
    return mOutputs.size();
}

QString cSystemMIDIConfigurationWin::GetOutputName(int Index)
{
    if (Index < 0 || Index >= mOutputs.size())
    {
        LOG_ERROR("Source index %d out of range", Index);
        return QString();
    }
    return mOutputs.at(Index)->Name;
}

cMIDIOutput* cSystemMIDIConfigurationWin::GetOutput(QString Name)
{
    if (cMIDIOutput* port = cSystemMIDIConfiguration::GetOutput(Name))
        return port;
    cMIDIOutput* found = nullptr;
    for (sMIDIDeviceInfo<cMIDIOutputWin>* record : qAsConst(mOutputs))
    {
        if (record->Name != Name)
            continue;
        if (record->Port == nullptr)
            record->Port = new cMIDIOutputWin(record->DeviceIndex);
        found = record->Port;
    }
    return found;
}

QStringList cSystemMIDIConfigurationWin::GetOutputNames()
{
    QStringList names;
    for (const sMIDIDeviceInfo<cMIDIOutputWin>* record : qAsConst(mOutputs))
        names << record->Name;
    return PickableNames(names);
}

QStringList cSystemMIDIConfigurationWin::PickableNames(QStringList Names) const
{
    Names.erase(std::remove_if(Names.begin(), Names.end(),
                               [](const QString& Name) { return Name.contains(QLatin1String(kOwnPortText)); }),
                Names.end());
    for (const QString& named : GetNamedPortNames())
        Names.removeAll(named);
    return Names;
}

cMIDIInputOutput* cSystemMIDIConfigurationWin::NewVirtualInputOutput(const QString& Name)
{
    return new cVirtualMIDIInputOutputWin(Name, this);
}

void cSystemMIDIConfigurationWin::AddInputDevice(UINT Index)
{
    MIDIINCAPSW caps;
    std::memset(&caps, 0, sizeof caps);
    const MMRESULT result = midiInGetDevCapsW(Index, &caps, sizeof caps);
    if (result != MMSYSERR_NOERROR)
    {
        LOG_ERROR("Cannot get input device capabilities, error string: \"%s\"", MMErrorText(result).toLocal8Bit().constData());
        mUnreadableInputs.append(sUnreadableMIDIDevice{GetInputDeviceInterfacePath(Index), Index});
        return;
    }
    auto* record = new sMIDIDeviceInfo<cMIDIInputWin>;
    record->Name = ProductName(caps.szPname);
    record->InterfacePath = GetInputDeviceInterfacePath(Index);
    record->DeviceIndex = Index;
    mInputs.append(record);
    emit InputAddedSignal(record->Name);
}

void cSystemMIDIConfigurationWin::AddOutputDevice(UINT Index)
{
    MIDIOUTCAPSW caps;
    std::memset(&caps, 0, sizeof caps);
    const MMRESULT result = midiOutGetDevCapsW(Index, &caps, sizeof caps);
    if (result != MMSYSERR_NOERROR)
    {
        LOG_ERROR("Cannot get output device capabilities, error string: \"%s\"", MMErrorText(result).toLocal8Bit().constData());
        mUnreadableOutputs.append(sUnreadableMIDIDevice{GetOutputDeviceInterfacePath(Index), Index});
        return;
    }
    auto* record = new sMIDIDeviceInfo<cMIDIOutputWin>;
    record->Name = ProductName(caps.szPname);
    record->InterfacePath = GetOutputDeviceInterfacePath(Index);
    record->DeviceIndex = Index;
    mOutputs.append(record);
    emit OutputAddedSignal(record->Name);
}

QString cSystemMIDIConfigurationWin::GetInputDeviceInterfacePath(UINT Index)
{
    return QueryInterfacePath<HMIDIIN>(Index, &midiInMessage);
}

QString cSystemMIDIConfigurationWin::GetOutputDeviceInterfacePath(UINT Index)
{
    return QueryInterfacePath<HMIDIOUT>(Index, &midiOutMessage);
}

bool cSystemMIDIConfigurationWin::SamePath(const QString& First, const QString& Second)
{
    const QByteArray first = First.toLocal8Bit();
    const QByteArray second = Second.toLocal8Bit();
    return std::strcmp(first.constData(), second.constData()) == 0;
}

void cSystemMIDIConfigurationWin::RemoveInputDevice(const QString& Path)
{
    const QString key = PathKey(Path);
    for (int position = 0; position < mUnreadableInputs.size();)
    {
        const sUnreadableMIDIDevice device = mUnreadableInputs.at(position);
        if (device.InterfacePath.isEmpty() || !SamePath(PathKey(device.InterfacePath), key))
        {
            ++position;
            continue;
        }
        mUnreadableInputs.removeAt(position);
        CloseIndexGap(mInputs, mUnreadableInputs, mKnownInputDevices, device.DeviceIndex);
    }
    for (int position = 0; position < mInputs.size();)
    {
        sMIDIDeviceInfo<cMIDIInputWin>* record = mInputs.at(position);
        // A record whose path could not be read is never matched, not even by an empty path.
        if (record->InterfacePath.isEmpty() || !SamePath(PathKey(record->InterfacePath), key))
        {
            ++position;
            continue;
        }
        mInputs.removeAt(position);
        CloseIndexGap(mInputs, mUnreadableInputs, mKnownInputDevices, record->DeviceIndex);
        // Listeners let go of the port before it closes.
        emit InputRemovedSignal(record->Name);
        delete record->Port;
        delete record;
    }
}

void cSystemMIDIConfigurationWin::RemoveOutputDevice(const QString& Path)
{
    const QString key = PathKey(Path);
    for (int position = 0; position < mUnreadableOutputs.size();)
    {
        const sUnreadableMIDIDevice device = mUnreadableOutputs.at(position);
        if (device.InterfacePath.isEmpty() || !SamePath(PathKey(device.InterfacePath), key))
        {
            ++position;
            continue;
        }
        mUnreadableOutputs.removeAt(position);
        CloseIndexGap(mOutputs, mUnreadableOutputs, mKnownOutputDevices, device.DeviceIndex);
    }
    for (int position = 0; position < mOutputs.size();)
    {
        sMIDIDeviceInfo<cMIDIOutputWin>* record = mOutputs.at(position);
        if (record->InterfacePath.isEmpty() || !SamePath(PathKey(record->InterfacePath), key))
        {
            ++position;
            continue;
        }
        mOutputs.removeAt(position);
        CloseIndexGap(mOutputs, mUnreadableOutputs, mKnownOutputDevices, record->DeviceIndex);
        emit OutputRemovedSignal(record->Name);
        delete record->Port;
        delete record;
    }
}

LRESULT CALLBACK cSystemMIDIConfigurationWin::NotificationWindowProcedure(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam)
{
    auto* registry = reinterpret_cast<cSystemMIDIConfigurationWin*>(GetWindowLongPtrW(Window, GWLP_USERDATA));
    if (registry != nullptr && registry->HandleWindowMessage(Message, WParam, LParam))
        return TRUE;
    return DefWindowProcW(Window, Message, WParam, LParam);
}

bool cSystemMIDIConfigurationWin::HandleWindowMessage(UINT Message, WPARAM WParam, LPARAM LParam)
{
    if (Message != WM_DEVICECHANGE)
        return false;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(LParam);
    const bool deviceInterface =
        header != nullptr && header->dbch_size >= sizeof(DEV_BROADCAST_HDR) && header->dbch_devicetype == DBT_DEVTYP_DEVICEINTERFACE;
    switch (WParam)
    {
    case DBT_DEVICEARRIVAL:
        if (deviceInterface)
        {
            // A new device takes the next WinMM index; known devices are not read again.
            const UINT inputs = midiInGetNumDevs();
            for (UINT index = mKnownInputDevices; index < inputs; ++index)
                AddInputDevice(index);
            if (inputs > mKnownInputDevices)
                mKnownInputDevices = inputs;
            const UINT outputs = midiOutGetNumDevs();
            for (UINT index = mKnownOutputDevices; index < outputs; ++index)
                AddOutputDevice(index);
            if (outputs > mKnownOutputDevices)
                mKnownOutputDevices = outputs;
        }
        return true;
    case DBT_DEVICEREMOVECOMPLETE:
        if (deviceInterface)
        {
            // The path runs up to its NUL, but never past the size that the broadcast gives.
            const auto* broadcast = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
            const std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
            const std::size_t room = broadcast->dbcc_size > nameOffset ? (broadcast->dbcc_size - nameOffset) / sizeof(WCHAR) : 0;
            std::size_t length = 0;
            while (length < room && broadcast->dbcc_name[length] != 0)
                ++length;
            const QString path = QString::fromWCharArray(broadcast->dbcc_name, static_cast<int>(length));
            RemoveInputDevice(path);
            RemoveOutputDevice(path);
        }
        return true;
    default:
        return false;
    }
}
