#include "tools/mapcheck/RecordingMIDIPort.h"

void cRecordingMIDIPort::Read(QByteArray& Data)
{
    Data = mReceived;
    mReceived.clear();
}

void cRecordingMIDIPort::Write(const QByteArray& Data)
{
    mWritten.append(Data);
}

void cRecordingMIDIPort::Receive(const QByteArray& Bytes)
{
    mReceived.append(Bytes);
    emit MIDIReadReady();
}
