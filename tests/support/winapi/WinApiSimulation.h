#pragma once
// The seam that Linux test builds compile the Windows back-end against: just enough WinMM, window
// and virtual MIDI driver to drive the callbacks that arrive on foreign threads and the device
// changes. The back-end's calls succeed. Process-wide state under one lock; Reset() between tests.

#include <windows.h>
#include <mmsystem.h>
#include <dbt.h>

#include <QByteArray>
#include <QString>

class cWinApiSimulation
{
public:
    // No devices and no driver ports; every port must have been closed.
    static void Reset();

    // A device with an input and an output under one name and interface path, at the next WinMM
    // index; an empty name is a device whose capabilities cannot be read. Unplugging moves the
    // devices after it down one index, as WinMM does. Either is then announced to the registry that
    // listens, if any, on the calling thread; a removal with the path in capitals, as Windows may
    // write it otherwise than WinMM.
    static void Plug(const QString& Name, const QString& Path);
    static void Unplug(const QString& Path);

    // WinMM's input callback for the open input of the device at Path, on the calling thread: Bytes
    // in the first queued exclusive buffer when they begin with F0, else a short message packed from
    // up to three of them. false: no open input, or no buffer queued.
    static bool Deliver(const QString& Path, const QByteArray& Bytes);
    // The driver's data callback for its port called Name, on the calling thread; a null Bytes
    // passes a null pointer. false: no such port.
    static bool SendFromDaw(const QString& Name, const QByteArray& Bytes);
};
