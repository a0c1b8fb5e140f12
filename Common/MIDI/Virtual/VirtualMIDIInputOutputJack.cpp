#include "Common/MIDI/Virtual/VirtualMIDIInputOutputJack.h"

#include "Common/LogError.h"
#include "Common/MIDI/MIDIClientJack.h"

cVirtualMIDIInputOutputJack::cVirtualMIDIInputOutputJack(const QString& Name, QObject* Parent)
    : cMIDIInputOutput(Parent), mName(Name)
{
    QString why;
    cMIDIClientJack* client = cMIDIClientJack::Instance(&why);
    int out = -1;
    if (client != nullptr && client->AttachPair(Name, this, &mIn, &out, &why))
    {
        mSerial = client->Serial();
        mSender.SetSlot(mSerial, out);
        return;
    }
    mIn = -1;
    LOG_ERROR("Virtual MIDI port \"%s\" reaches no DAW: %s", Name.toLocal8Bit().constData(), why.toLocal8Bit().constData());
}

cVirtualMIDIInputOutputJack::~cVirtualMIDIInputOutputJack()
{
    cMIDIClientJack::DetachPair(mName, this);
}

void cVirtualMIDIInputOutputJack::Read(QByteArray& Data)
{
    Data.clear();
    if (cMIDIClientJack* client = cMIDIClientJack::Existing(mSerial))
        client->Take(mIn, Data);
}

void cVirtualMIDIInputOutputJack::Write(const QByteArray& Data)
{
    mSender.Send(Data);
}

void cVirtualMIDIInputOutputJack::PortClosed()
{
    mIn = -1;
    mSender.SetSlot(0, -1);
}
