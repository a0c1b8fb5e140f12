#include "Common/MIDI/Virtual/VirtualMIDIPortTable.h"

#include "Common/MIDI/Virtual/VirtualMIDIInputOutputWin.h"
#include "Common/MIDI/VirtualMIDIPortCloser.h"

#include <mutex>

namespace
{
// Guards gTable and everything in it. A std::mutex: it needs no construction order and the driver
// thread may take it while the GUI thread ends the table.
std::mutex gTableLock;
cVirtualMIDIPortTable* gTable = nullptr;
} // namespace

cVirtualMIDIPortTable* cVirtualMIDIPortTable::Instance()
{
    std::lock_guard<std::mutex> lock(gTableLock);
    if (gTable == nullptr)
    {
        gTable = new cVirtualMIDIPortTable();
        // The window closes every driver port of the process through this when it goes.
        SetVirtualMIDIPortCloser(&cVirtualMIDIPortTable::CloseAll);
    }
    return gTable;
}

tVirtualMIDIPort cVirtualMIDIPortTable::CreatePort(const QString& Name, tVirtualMIDIDataCallback Callback,
                                                   cVirtualMIDIInputOutputWin* Object, DWORD MaxSysExLength, DWORD Flags)
{
    tVirtualMIDIPort port = nullptr;
    bool known = false;
    {
        std::lock_guard<std::mutex> lock(gTableLock);
        known = mPortsByName.contains(Name);
        port = mPortsByName.value(Name);
        if (known && port == nullptr)
            SetLastError(mCreationErrors.value(Name));
    }
    if (!known)
    {
        // The driver is called without the lock: it may wait for its own callback thread, which
        // may be waiting for the lock. Only the GUI thread changes the table, so nothing else
        // creates this name meanwhile. The callback finds its object through the table, so the
        // instance value stays 0.
        port = mDriver.CreatePort(Name, Callback, 0, MaxSysExLength, Flags);
        const DWORD error = GetLastError();
        std::lock_guard<std::mutex> lock(gTableLock);
        mPortsByName.insert(Name, port);
        if (port == nullptr)
            mCreationErrors.insert(Name, error);
        SetLastError(error);
    }
    if (port != nullptr)
    {
        std::lock_guard<std::mutex> lock(gTableLock);
        mObjectsByPort.insert(port, Object);
    }
    return port;
}

cVirtualMIDIInputOutputWin* cVirtualMIDIPortTable::FindObject(tVirtualMIDIPort Port) const
{
    std::lock_guard<std::mutex> lock(gTableLock);
    return mObjectsByPort.value(Port);
}

void cVirtualMIDIPortTable::DetachPort(tVirtualMIDIPort Port, cVirtualMIDIInputOutputWin* Object)
{
    std::lock_guard<std::mutex> lock(gTableLock);
    if (gTable == nullptr)
        return;
    auto found = gTable->mObjectsByPort.find(Port);
    if (found != gTable->mObjectsByPort.end() && found.value() == Object)
        found.value() = nullptr;
}

void cVirtualMIDIPortTable::Deliver(tVirtualMIDIPort Port, const QByteArray& Bytes)
{
    std::lock_guard<std::mutex> lock(gTableLock);
    if (gTable == nullptr)
        return;
    if (cVirtualMIDIInputOutputWin* object = gTable->mObjectsByPort.value(Port))
        object->Received(Bytes);
}

void cVirtualMIDIPortTable::Send(tVirtualMIDIPort Port, const BYTE* Bytes, DWORD Length)
{
    cVirtualMIDIPortTable* table = nullptr;
    {
        std::lock_guard<std::mutex> lock(gTableLock);
        if (gTable != nullptr && gTable->mObjectsByPort.contains(Port))
            table = gTable;
    }
    // Only the GUI thread (this one) ends the table, so it stays while the driver sends.
    if (table != nullptr)
        table->mDriver.SendData(Port, Bytes, Length);
}

void cVirtualMIDIPortTable::CloseAll()
{
    cVirtualMIDIPortTable* table = nullptr;
    {
        std::lock_guard<std::mutex> lock(gTableLock);
        table = gTable;
        gTable = nullptr;
    }
    if (table == nullptr)
        return;
    // From here on callbacks find no table and drop their bytes; the ports are closed without the
    // lock, as the driver may wait for a callback in flight.
    for (tVirtualMIDIPort port : qAsConst(table->mPortsByName))
    {
        if (port != nullptr)
            table->mDriver.ClosePort(port);
    }
    delete table;
}
