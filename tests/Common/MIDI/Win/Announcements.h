#pragma once
// Counts a port's MIDIReadReady announcements as they reach the GUI thread, and notes one that
// arrives on any other thread. A new one per test, so that none left queued by an earlier row counts.

#include "Common/MIDI/MIDIInput.h"

#include <QThread>

class cAnnouncements : public QObject
{
public:
    void Listen(cMIDIInput* Port)
    {
        connect(Port, &cMIDIInput::MIDIReadReady, this, [this] {
            ++Count;
            OffGuiThread = OffGuiThread || QThread::currentThread() != thread();
        });
    }

    int Count = 0;
    bool OffGuiThread = false;
};
