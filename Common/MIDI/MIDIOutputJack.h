#pragma once
// A MIDI port of another JACK client (the console's), sent to through a port of Quillon's JACK
// client connected to it. Created and destroyed by the registry; GUI thread only.

#include "Common/MIDI/MIDIOutput.h"
#include "Common/MIDI/MIDISenderJack.h"

#include <QString>

class cMIDIOutputJack : public cMIDIOutput
{
public:
    // Registers Quillon's port for the receiving port Peer (full name) and connects them; a port
    // that cannot be made is logged and sends nothing.
    explicit cMIDIOutputJack(const QString& Peer);
    ~cMIDIOutputJack() override;

    // Sends every complete message of Data on its own.
    void Write(const QByteArray& Data) override;

    bool IsOpen() const { return mSlot >= 0; }

private:
    QString mPeer;
    quint64 mSerial = 0;
    int mSlot = -1;
    cMIDISenderJack mSender;
};
