#pragma once
// The MIDI link to a console over one TCP connection: raw MIDI bytes both ways, no framing.
// Owned by the main window for its whole life (registered in the port registry by name only);
// every call and every signal is on the GUI thread.

#include "Common/MIDI/MIDIInputOutput.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QHostAddress>
#include <QString>

class QTcpSocket;

class cTCPMIDIInptOutput : public cMIDIInputOutput
{
    Q_OBJECT

public:
    // The port on which a console accepts the MIDI link.
    static constexpr quint16 kConsolePort = 51325;
    // Most bytes taken from the socket in one piece; each piece is announced on its own.
    static constexpr qint64 kLargestRead = 1024;
    // Most bytes the socket takes in from the system per notification.
    static constexpr qint64 kReadBufferBytes = 64 * 1024;
    // How long Disconnect waits for an orderly close before the socket is destroyed anyway.
    static constexpr int kCloseWaitMs = 1000;
    // A console that stops answering is given up after about kKeepAliveIdleS seconds of silence
    // plus kKeepAliveProbes unanswered probes kKeepAliveIntervalS apart.
    static constexpr int kKeepAliveIdleS = 5;
    static constexpr int kKeepAliveIntervalS = 1;
    static constexpr int kKeepAliveProbes = 5;

    // ConsolePort is only ever changed by tests, which run their console on a loopback port.
    explicit cTCPMIDIInptOutput(QObject* Parent = nullptr, quint16 ConsolePort = kConsolePort);
    ~cTCPMIDIInptOutput() override;

    // Closes any previous connection (signalling "Not Connected"), then starts connecting to the
    // address. Returns at once; progress comes through StateStringChanged.
    void ConnectToHost(const QHostAddress& Address);
    // Closes the connection (waiting up to kCloseWaitMs), destroys the socket, empties the receive
    // buffer and signals "Not Connected", also when there was no connection.
    void Disconnect();

    QString GetStateString() const;
    bool IsConnected() const;
    QHostAddress GetAddress() const { return mAddress; }
    quint16 GetConsolePort() const { return mConsolePort; }

    // The text shown for a socket state; empty for a value outside the known states.
    static QString StateText(int State);

    void Read(QByteArray& Data) override;
    void Write(const QByteArray& Data) override;

signals:
    void StateStringChanged(QString State);

private slots:
    // Called by the link's own socket only.
    void TCPRead();
    void StateChanged(QAbstractSocket::SocketState State);

private:
    void DestroySocket();

    QTcpSocket* mSocket = nullptr;
    QHostAddress mAddress;
    QByteArray mReceiveBuffer;
    quint16 mConsolePort;
    // Depth of socket notifications being handled: the socket must not be deleted inside its own
    // signal, so Disconnect called from a listener defers the deletion.
    int mInSocketSignal = 0;
};
