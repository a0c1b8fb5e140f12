#include "Common/MIDI/MIDIReceiveBuffer.h"

#include <QMutexLocker>

void cMIDIReceiveBuffer::Receive(cMIDIInput& Port, const char* Bytes, int Count)
{
    if (Count <= 0 || !Port.HasReader())
        return;
    {
        QMutexLocker lock(&mLock);
        mReceived.append(Bytes, Count);
    }
    emit Port.MIDIReadReady();
}

void cMIDIReceiveBuffer::Take(QByteArray& Data)
{
    QMutexLocker lock(&mLock);
    Data = mReceived;
    mReceived.clear();
}
