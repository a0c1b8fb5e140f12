#pragma once
// A port pair for tests and benchmarks: records what is written to it and lets a test deliver bytes
// as the platform would, from a foreign thread. Owned by the fake registry (or by the test that
// made it); Write and Read run on the GUI thread, Deliver on any thread.

#include "Common/MIDI/MIDIInputOutput.h"

#include <QByteArray>
#include <QList>
#include <QMutex>

class cFakeMIDIPort : public cMIDIInputOutput
{
public:
    explicit cFakeMIDIPort(QObject* Parent = nullptr);

    void Read(QByteArray& Data) override;
    void Write(const QByteArray& Data) override;

    // What a platform callback does with one chunk: appends it under the port's mutex and emits
    // MIDIReadReady on the calling thread, only while a receiver is connected (else it is dropped).
    void Deliver(const QByteArray& Chunk);
    // Delivers the chunks, in order, from a thread of its own and waits for that thread to end; the
    // GUI thread's receivers see the announcements queued, once the test runs the event loop.
    void DeliverFromForeignThread(const QList<QByteArray>& Chunks);
    void DeliverFromForeignThread(const QByteArray& Chunk) { DeliverFromForeignThread(QList<QByteArray>{Chunk}); }

    // false: Write only counts (benchmarks); true (default): every Write is kept as well.
    void SetRecordWrites(bool Record) { mRecordWrites = Record; }
    QList<QByteArray> Writes() const { return mWrites; }
    // Forgets the kept writes (not the counts), for a harness that reuses the port.
    void ClearWrites() { mWrites = QList<QByteArray>(); }
    // Every written byte, in order, as one array.
    QByteArray WrittenBytes() const;
    int WriteCount() const { return mWriteCount; }
    qint64 WrittenByteCount() const { return mWrittenByteCount; }
    // Chunks dropped because nobody listened when they arrived.
    int DroppedChunkCount() const;

private:
    mutable QMutex mMutex;
    QByteArray mReceived;
    int mDroppedChunks = 0;

    bool mRecordWrites = true;
    QList<QByteArray> mWrites;
    int mWriteCount = 0;
    qint64 mWrittenByteCount = 0;
};
