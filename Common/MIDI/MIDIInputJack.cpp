#include "Common/MIDI/MIDIInputJack.h"

#include "Common/LogError.h"
#include "Common/MIDI/MIDIClientJack.h"

QString cMIDIInputJack::PortName(const QString& Peer, bool Input)
{
    QString peer = Peer;
    peer.replace(QLatin1Char(':'), QLatin1Char('/'));
    return (Input ? QStringLiteral("from ") : QStringLiteral("to ")) + peer;
}

cMIDIInputJack::cMIDIInputJack(const QString& Peer, QObject* Parent) : cMIDIInput(Parent), mPeer(Peer)
{
    QString why;
    cMIDIClientJack* client = cMIDIClientJack::Instance(&why);
    if (client != nullptr)
        mSlot = client->OpenPort(PortName(Peer, true), true, &why);
    if (mSlot < 0)
    {
        LOG_ERROR("Failed to open MIDI input device \"%s\": %s", Peer.toLocal8Bit().constData(), why.toLocal8Bit().constData());
        return;
    }
    mSerial = client->Serial();
    client->SetReader(mSlot, this);
    client->Follow(mSlot, Peer);
}

cMIDIInputJack::~cMIDIInputJack()
{
    if (cMIDIClientJack* client = cMIDIClientJack::Existing(mSerial))
        client->ClosePort(mSlot);
}

void cMIDIInputJack::Read(QByteArray& Data)
{
    Data.clear();
    if (cMIDIClientJack* client = cMIDIClientJack::Existing(mSerial))
        client->Take(mSlot, Data);
}
