#pragma once
// One port pair offered to the DAW through Quillon's JACK client: what the DAW sends to
// "<name> from DAW" arrives through Read, what is written goes out of "<name> to DAW", one complete
// message per event. The JACK ports themselves are kept by the client and outlive this object.
// Created and destroyed by the registry; GUI thread only.

#include "Common/MIDI/MIDIInputOutput.h"
#include "Common/MIDI/MIDISenderJack.h"

#include <QByteArray>
#include <QString>

class cVirtualMIDIInputOutputJack : public cMIDIInputOutput
{
public:
    // Attaches to the client's pair of that name, or makes it; when it cannot, says why in the
    // log and then neither receives nor sends.
    cVirtualMIDIInputOutputJack(const QString& Name, QObject* Parent);
    ~cVirtualMIDIInputOutputJack() override;

    void Read(QByteArray& Data) override;
    void Write(const QByteArray& Data) override;

    bool IsOpen() const { return mIn >= 0; }
    // The client closed every pair: nothing is received or sent from now on.
    void PortClosed();

private:
    QString mName;
    quint64 mSerial = 0;
    int mIn = -1;
    cMIDISenderJack mSender;
};
