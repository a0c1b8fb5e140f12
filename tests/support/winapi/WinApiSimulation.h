#pragma once
// Control of the Windows API simulation that Linux test builds compile the Windows back-end against.
// Tests plug devices in and out, let WinMM and the virtual MIDI driver deliver bytes from threads
// of their own, make calls fail and read back every call made. Process-wide state, safe from any
// thread; Reset() between tests.

#include <windows.h>
#include <mmsystem.h>
#include <dbt.h>

#include <QByteArray>
#include <QString>
#include <QStringList>

// One system device as Windows lists it.
struct sSimDevice
{
    QString Name;
    // Device interface path; also how tests name the device in every other call.
    QString Path;
    // What midi*GetDevCapsW answers for it.
    MMRESULT CapsResult = MMSYSERR_NOERROR;
    // What midi*Open answers for it.
    MMRESULT OpenResult = MMSYSERR_NOERROR;
    bool PathQueryFails = false;
};

class cWinApiSimulation
{
public:
    // Back to no devices, no ports, no failures, an installed driver and empty records; waits for
    // the simulation's own threads.
    static void Reset();

    // Devices take the next WinMM index; unplugging renumbers the devices after it, as WinMM does.
    // Neither notifies: SendDeviceChange does, as Windows does after the change.
    static void PlugInput(const sSimDevice& Device);
    static void PlugOutput(const sSimDevice& Device);
    static void UnplugInput(const QString& Path);
    static void UnplugOutput(const QString& Path);
    // A device with an input and an output under one name and path, as most are.
    static void PlugInputAndOutput(const sSimDevice& Device);
    static void UnplugInputAndOutput(const QString& Path);

    // A device-interface broadcast for Path (dbcc_name), with DeviceType in its header.
    static QByteArray InterfaceBroadcast(const QString& Path, DWORD DeviceType = DBT_DEVTYP_DEVICEINTERFACE);
    // WM_DEVICECHANGE with Event and the broadcast, to the procedure of the window that registered
    // for notifications, the way the event loop dispatches it; only while a notification is
    // registered and its window lives. Returns whether the procedure took the message.
    static bool SendDeviceChange(WPARAM Event, const QByteArray& Broadcast);
    static bool SendDeviceChange(WPARAM Event, const QString& Path) { return SendDeviceChange(Event, InterfaceBroadcast(Path)); }
    static void FailNotificationRegistration(bool Fail);
    // Registrations made and not yet undone, and the filter of the last one.
    static int ActiveNotifications();
    static DEV_BROADCAST_DEVICEINTERFACE_W LastNotificationFilter();
    static DWORD LastNotificationFlags();

    // The next call of the WinMM function named Function answers Result instead.
    static void FailNext(const QString& Function, MMRESULT Result);

    // Input the device at Path receives, handed to its callback on a thread of the simulation's own
    // (the call returns once that thread has ended). false when the device is not open and started.
    static bool DeliverShortMessage(const QString& Path, DWORD Packed, UINT Message = MIM_DATA);
    // Fills the queued exclusive buffers with Bytes, one after the other, and returns each; the count
    // of buffers returned (0: none was queued and the bytes are lost).
    static int DeliverExclusive(const QString& Path, const QByteArray& Bytes);
    // Returns the first queued exclusive buffer with a count of 0, as a reset does.
    static bool ReturnEmptyExclusive(const QString& Path);
    // The same without a thread of its own, for tests that run their own threads.
    static bool DeliverShortMessageHere(const QString& Path, DWORD Packed, UINT Message = MIM_DATA);
    static int DeliverExclusiveHere(const QString& Path, const QByteArray& Bytes);
    static int QueuedExclusiveBuffers(const QString& Path);
    static bool IsInputOpen(const QString& Path);

    // When the driver hands a long-message buffer back: during midiOutLongMsg, a few milliseconds
    // later from a thread of its own, or only when the output is reset.
    enum class eOutputCompletion
    {
        Immediate,
        Later,
        Never
    };
    static void SetOutputCompletion(eOutputCompletion Completion);
    // The bytes the device at Path sent, read from each buffer when the driver finished it.
    static QList<QByteArray> SentToDevice(const QString& Path);
    // midiOutUnprepareHeader calls answered MIDIERR_STILLPLAYING so far.
    static int StillPlayingAnswers();

    // Every WinMM call, as "<function> <device path>" (plus the hex bytes of a long message); a
    // handle-less call names the device index: "midiInOpen #7".
    static QStringList Calls();
    static void ClearCalls();

    // The virtual MIDI driver: installed or not, a failing next creation, and its calls as
    // "load <library>", "create <name> <largest exclusive> <flags> <instance>", "send <name> <hex>",
    // "close <name>", "unload".
    static void SetDriverInstalled(bool Installed);
    static void FailNextPortCreation(DWORD Error);
    static QStringList DriverCalls();
    static QStringList OpenDriverPorts();
    // Bytes the DAW sends to the port called Name: the driver's callback runs on a thread of its own
    // (the call returns once it has ended). Null Bytes passes a null pointer. false: no such port.
    static bool SendFromDaw(const QString& Name, const QByteArray& Bytes);
    static bool SendNullFromDaw(const QString& Name);
    static bool SendFromDawHere(const QString& Name, const QByteArray& Bytes);
};
