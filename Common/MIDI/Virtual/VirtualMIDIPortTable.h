#pragma once
// Every virtual MIDI driver port of the process, by name, and the port object attached to each. One
// per process, made on first use; the window's destructor closes every port with CloseAll. Changed
// on the GUI thread only; the driver callback reads it on the driver's thread, so every access
// holds one process-wide lock, and a callback delivers to its object while holding it: an object
// being destroyed first detaches, which waits for a callback that is delivering to it.

#include "Common/MIDI/Virtual/VirtualMIDIDriverWin.h"

#include <QByteArray>
#include <QHash>
#include <QString>

class cVirtualMIDIInputOutputWin;

class cVirtualMIDIPortTable
{
public:
    // The table, created empty on first use (also after CloseAll).
    static cVirtualMIDIPortTable* Instance();

    // The driver port of Name: the one made earlier under that name (null included: a failed name
    // is not tried again), else a new one from the driver. Object is attached to it from now on.
    tVirtualMIDIPort CreatePort(const QString& Name, tVirtualMIDIDataCallback Callback, cVirtualMIDIInputOutputWin* Object,
                                DWORD MaxSysExLength, DWORD Flags);
    // The object attached to Port, or null.
    cVirtualMIDIInputOutputWin* FindObject(tVirtualMIDIPort Port) const;

    // Detaches Object from Port; the driver port stays open. Does nothing when Object is no longer
    // the one attached, or when CloseAll has already ended the table (the window closes every
    // driver port before the configuration deletes its port objects).
    static void DetachPort(tVirtualMIDIPort Port, cVirtualMIDIInputOutputWin* Object);
    // Hands bytes from the driver to the object attached to Port, if any; any thread.
    static void Deliver(tVirtualMIDIPort Port, const QByteArray& Bytes);
    // Sends Length bytes through Port when Port is a port of the current table; GUI thread.
    static void Send(tVirtualMIDIPort Port, const BYTE* Bytes, DWORD Length);
    // Closes every driver port and ends the table; the next Instance starts a new, empty one.
    static void CloseAll();

private:
    cVirtualMIDIPortTable() = default;
    ~cVirtualMIDIPortTable() = default;

    QHash<QString, tVirtualMIDIPort> mPortsByName;
    QHash<tVirtualMIDIPort, cVirtualMIDIInputOutputWin*> mObjectsByPort;
    // The Windows error of each name whose creation failed, for the log line of every later object.
    QHash<QString, DWORD> mCreationErrors;
    cVirtualMIDIDriverWin mDriver;
};
