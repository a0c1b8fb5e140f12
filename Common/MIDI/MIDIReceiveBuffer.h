#pragma once
// What a platform port received on the MIDI system's thread and its reader has not taken yet. The
// system's callback hands the bytes to Receive, which copies them in under the buffer's own lock and
// announces them on the port (MIDIReadReady, queued to the reader's thread); the port's Read takes
// them all with Take. Held by value by each platform input.

#include "Common/MIDI/MIDIInput.h"

#include <QByteArray>
#include <QMutex>

class cMIDIReceiveBuffer
{
public:
    // Keeps Count bytes for Port's reader and announces them; keeps nothing while Port has no reader.
    void Receive(cMIDIInput& Port, const char* Bytes, int Count);
    // Replaces Data with everything kept so far, in arrival order, and empties the buffer.
    void Take(QByteArray& Data);

private:
    QMutex mLock;
    QByteArray mReceived;
};
