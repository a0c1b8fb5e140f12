#pragma once
// A MIDI port of another JACK client (the console's), received through a port of Quillon's JACK
// client connected to it. Created and destroyed by the registry; GUI thread only (the client's
// process callback fills its ring, and the GUI thread is told).

#include "Common/MIDI/MIDIInput.h"

#include <QByteArray>
#include <QString>

class cMIDIInputJack : public cMIDIInput
{
public:
    // Registers Quillon's port for the sending port Peer (full name) and connects them; a port
    // that cannot be made or connected is logged and receives nothing.
    cMIDIInputJack(const QString& Peer, QObject* Parent);
    ~cMIDIInputJack() override;

    void Read(QByteArray& Data) override;

    bool IsOpen() const { return mSlot >= 0; }
    // The name of Quillon's port for Peer ("from <Peer>"; ':' reads as '/').
    static QString PortName(const QString& Peer, bool Input);

private:
    QString mPeer;
    quint64 mSerial = 0;
    int mSlot = -1;
};
