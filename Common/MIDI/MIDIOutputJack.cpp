#include "Common/MIDI/MIDIOutputJack.h"

#include "Common/LogError.h"
#include "Common/MIDI/MIDIClientJack.h"
#include "Common/MIDI/MIDIInputJack.h"

cMIDIOutputJack::cMIDIOutputJack(const QString& Peer) : mPeer(Peer)
{
    QString why;
    cMIDIClientJack* client = cMIDIClientJack::Instance(&why);
    if (client != nullptr)
        mSlot = client->OpenPort(cMIDIInputJack::PortName(Peer, false), false, &why);
    if (mSlot < 0)
    {
        LOG_ERROR("Failed to open MIDI output device \"%s\": %s", Peer.toLocal8Bit().constData(), why.toLocal8Bit().constData());
        return;
    }
    mSerial = client->Serial();
    mSender.SetSlot(mSerial, mSlot);
    client->Follow(mSlot, Peer);
}

cMIDIOutputJack::~cMIDIOutputJack()
{
    if (cMIDIClientJack* client = cMIDIClientJack::Existing(mSerial))
        client->ClosePort(mSlot);
}

void cMIDIOutputJack::Write(const QByteArray& Data)
{
    mSender.Send(Data);
}
