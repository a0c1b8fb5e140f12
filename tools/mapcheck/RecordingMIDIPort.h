#pragma once
// A port pair of the map checker: keeps what rules write to it and hands the checker's test bytes
// to the engine as if they had arrived. Owned by the checker's registry (virtual ports) or by the
// checker (the stand-in for the TCP link); main thread only.

#include "Common/MIDI/MIDIInputOutput.h"

#include <QByteArray>

class cRecordingMIDIPort : public cMIDIInputOutput
{
    Q_OBJECT

public:
    explicit cRecordingMIDIPort(QObject* Parent = nullptr) : cMIDIInputOutput(Parent) {}

    void Read(QByteArray& Data) override;
    void Write(const QByteArray& Data) override;

    // Bytes "arriving" on the port: kept for Read and announced at once.
    void Receive(const QByteArray& Bytes);
    QByteArray Written() const { return mWritten; }
    void ClearWritten() { mWritten.clear(); }

private:
    QByteArray mReceived;
    QByteArray mWritten;
};
