#include "tests/support/FakeMIDIPort.h"

#include <QMetaMethod>
#include <QMutexLocker>

#include <thread>

cFakeMIDIPort::cFakeMIDIPort(QObject* Parent) : cMIDIInputOutput(Parent) {}

void cFakeMIDIPort::Read(QByteArray& Data)
{
    QMutexLocker lock(&mMutex);
    Data = mReceived;
    mReceived.clear();
}

void cFakeMIDIPort::Write(const QByteArray& Data)
{
    ++mWriteCount;
    mWrittenByteCount += Data.size();
    if (mRecordWrites)
        mWrites << Data;
}

void cFakeMIDIPort::Deliver(const QByteArray& Chunk)
{
    static const QMetaMethod readReady = QMetaMethod::fromSignal(&cMIDIInput::MIDIReadReady);
    // The copy is taken before the lock, as a driver callback must not hold it longer than needed.
    const QByteArray copy(Chunk.constData(), Chunk.size());
    if (!isSignalConnected(readReady))
    {
        QMutexLocker lock(&mMutex);
        ++mDroppedChunks;
        return;
    }
    {
        QMutexLocker lock(&mMutex);
        mReceived.append(copy);
    }
    emit MIDIReadReady();
}

void cFakeMIDIPort::DeliverFromForeignThread(const QList<QByteArray>& Chunks)
{
    std::thread driver([this, Chunks] {
        for (const QByteArray& chunk : Chunks)
            Deliver(chunk);
    });
    driver.join();
}

QByteArray cFakeMIDIPort::WrittenBytes() const
{
    QByteArray all;
    for (const QByteArray& write : mWrites)
        all += write;
    return all;
}

int cFakeMIDIPort::DroppedChunkCount() const
{
    QMutexLocker lock(&mMutex);
    return mDroppedChunks;
}
