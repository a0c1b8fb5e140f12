#pragma once
// The port registry on Windows: the WinMM input and output devices by product name, opened on
// first use, followed as they are plugged in and pulled out through device-change notifications.
// Owned by the translator configuration; everything runs on the GUI thread: notifications arrive at
// a message-only window of the registry's own, made on that thread, so no widget is needed.

#include "Common/MIDI/SystemMIDIConfiguration.h"

#include <QList>
#include <QString>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>
#include <dbt.h>

class cMIDIInputWin;
class cMIDIOutputWin;

// One system device; tPort is cMIDIInputWin or cMIDIOutputWin. DeviceIndex is the device's own
// WinMM index: a device whose capabilities cannot be read gets no record, and the records after
// it must still open their own device.
template <typename tPort> struct sMIDIDeviceInfo
{
    QString InterfacePath;
    QString Name;
    tPort* Port = nullptr;
    UINT DeviceIndex = 0;
};

// A device whose capabilities could not be read: never offered, but kept so that its removal
// renumbers the devices after it, as WinMM does.
struct sUnreadableMIDIDevice
{
    QString InterfacePath;
    UINT DeviceIndex = 0;
};

class cSystemMIDIConfigurationWin : public cSystemMIDIConfiguration
{
public:
    explicit cSystemMIDIConfigurationWin(QObject* Parent = nullptr);
    ~cSystemMIDIConfigurationWin() override;

    int GetInputCount() override;
    QString GetInputName(int Index) override;
    cMIDIInput* GetInput(QString Name) override;
    QStringList GetInputNames() override;
    int GetOutputCount() override;
    QString GetOutputName(int Index) override;
    cMIDIOutput* GetOutput(QString Name) override;
    QStringList GetOutputNames() override;

    // What the notification window does with a message: true when it was a device arrival or
    // removal, which it handled.
    bool HandleWindowMessage(UINT Message, WPARAM WParam, LPARAM LParam);

    // The text of a WinMM result for the log.
    static QString MMErrorText(MMRESULT Result);
    // Filter for device-interface notifications of the kernel-streaming audio category.
    static DEV_BROADCAST_DEVICEINTERFACE_W NotificationFilter();
    // Device names that contain this text are Quillon's own ports and never offered for picking.
    static constexpr const char* kOwnPortText = "Quillon MIDI";

protected:
    cMIDIInputOutput* NewVirtualInputOutput(const QString& Name) override;

private:
    static LRESULT CALLBACK NotificationWindowProcedure(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);
    void AddInputDevice(UINT Index);
    void AddOutputDevice(UINT Index);
    void RemoveInputDevice(const QString& Path);
    void RemoveOutputDevice(const QString& Path);
    static QString GetInputDeviceInterfacePath(UINT Index);
    static QString GetOutputDeviceInterfacePath(UINT Index);
    static bool SamePath(const QString& First, const QString& Second);
    QStringList PickableNames(QStringList Names) const;

    QList<sMIDIDeviceInfo<cMIDIInputWin>*> mInputs;
    QList<sMIDIDeviceInfo<cMIDIOutputWin>*> mOutputs;
    QList<sUnreadableMIDIDevice> mUnreadableInputs;
    QList<sUnreadableMIDIDevice> mUnreadableOutputs;
    HWND mNotificationWindow = nullptr;
    HDEVNOTIFY mNotification = nullptr;
    // How many WinMM indices have been looked at; a new device takes the next one.
    UINT mKnownInputDevices = 0;
    UINT mKnownOutputDevices = 0;
};
