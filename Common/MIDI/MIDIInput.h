#pragma once
// A place where MIDI bytes come in. Owned by whoever created it (the registry, or the window for
// the TCP link). Read is called on the GUI thread; MIDIReadReady may be emitted on a platform thread.

#include <QByteArray>
#include <QMetaMethod>
#include <QObject>

class cMIDIInput : public QObject
{
    Q_OBJECT

public:
    explicit cMIDIInput(QObject* Parent = nullptr) : QObject(Parent) {}

    // Replaces Data with every byte received since the previous Read, in arrival order, and leaves
    // the port's receive buffer empty. Data becomes empty when nothing arrived.
    virtual void Read(QByteArray& Data) = 0;

    // Whether anyone listens to MIDIReadReady; a port keeps nothing it receives while no one does.
    bool HasReader() const
    {
        static const QMetaMethod readReady = QMetaMethod::fromSignal(&cMIDIInput::MIDIReadReady);
        return isSignalConnected(readReady);
    }

signals:
    // New bytes wait to be taken with Read. Emissions may be coalesced by the reader.
    void MIDIReadReady();
    // The bytes from here on do not continue the ones before (the TCP link has a new connection):
    // a message left unfinished, and the running status, end here. Emitted before the first byte of
    // the new stream is announced.
    void StreamRestarted();
};
