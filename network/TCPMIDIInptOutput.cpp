#include "network/TCPMIDIInptOutput.h"

#include "Common/DepthCounter.h"

#include <QTcpSocket>

namespace
{
// Indexed by QAbstractSocket::SocketState.
const char* const kStateTexts[] = {
    QT_TRANSLATE_NOOP("cTCPMIDIInptOutput", "Not Connected"),
    QT_TRANSLATE_NOOP("cTCPMIDIInptOutput", "Looking up host"),
    QT_TRANSLATE_NOOP("cTCPMIDIInptOutput", "Connecting..."),
    QT_TRANSLATE_NOOP("cTCPMIDIInptOutput", "Connected"),
    QT_TRANSLATE_NOOP("cTCPMIDIInptOutput", "Bound"),
    QT_TRANSLATE_NOOP("cTCPMIDIInptOutput", "Listening"),
    QT_TRANSLATE_NOOP("cTCPMIDIInptOutput", "Closing..."),
};
constexpr int kStateTextCount = int(sizeof kStateTexts / sizeof kStateTexts[0]);
} // namespace

cTCPMIDIInptOutput::cTCPMIDIInptOutput(QObject* Parent, quint16 ConsolePort)
    : cMIDIInputOutput(Parent), mConsolePort(ConsolePort)
{
}

cTCPMIDIInptOutput::~cTCPMIDIInptOutput()
{
    Disconnect();
}

QString cTCPMIDIInptOutput::StateText(int State)
{
    if (State < 0 || State >= kStateTextCount)
        return QString();
    return tr(kStateTexts[State]);
}

void cTCPMIDIInptOutput::ConnectToHost(const QHostAddress& Address)
{
    Disconnect();
    mAddress = Address;
    mSocket = new QTcpSocket(this);
    connect(mSocket, &QTcpSocket::readyRead, this, &cTCPMIDIInptOutput::TCPRead);
    connect(mSocket, &QTcpSocket::stateChanged, this, &cTCPMIDIInptOutput::StateChanged);
    mSocket->connectToHost(Address, mConsolePort, QIODevice::ReadWrite);
    // A listener of the state texts may already have dropped the socket again.
    if (mSocket)
        mSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

void cTCPMIDIInptOutput::Disconnect()
{
    if (mSocket)
        DestroySocket();
    mReceiveBuffer.clear();
    emit StateStringChanged(StateText(QAbstractSocket::UnconnectedState));
}

void cTCPMIDIInptOutput::DestroySocket()
{
    QTcpSocket* socket = mSocket;
    // Forgotten first: listeners of the closing states may call back into this object.
    mSocket = nullptr;
    const bool insideSocketSignal = mInSocketSignal > 0;
    socket->disconnectFromHost();
    // Waiting runs the socket's own event processing, which must not happen inside its signal.
    if (!insideSocketSignal && socket->state() != QAbstractSocket::UnconnectedState)
        socket->waitForDisconnected(kCloseWaitMs);
    if (insideSocketSignal)
    {
        // Deleting a socket while it emits crashes in Qt's code after the emission returns.
        socket->disconnect(this);
        socket->abort();
        socket->deleteLater();
    }
    else
    {
        delete socket;
    }
}

QString cTCPMIDIInptOutput::GetStateString() const
{
    return StateText(mSocket ? mSocket->state() : QAbstractSocket::UnconnectedState);
}

bool cTCPMIDIInptOutput::IsConnected() const
{
    return mSocket && mSocket->state() == QAbstractSocket::ConnectedState;
}

void cTCPMIDIInptOutput::TCPRead()
{
    cDepthCounter depth(mInSocketSignal);
    // Everything the socket holds is taken now, piece by piece: the socket announces bytes only
    // once, so a piece left behind would wait for the console's next traffic, maybe for ever.
    while (mSocket && mSocket->bytesAvailable() > 0)
    {
        const QByteArray piece = mSocket->read(kLargestRead);
        if (piece.isEmpty())
            break;
        mReceiveBuffer.append(piece);
        emit MIDIReadReady();
    }
}

void cTCPMIDIInptOutput::StateChanged(QAbstractSocket::SocketState State)
{
    cDepthCounter depth(mInSocketSignal);
    emit StateStringChanged(StateText(State));
}

void cTCPMIDIInptOutput::Read(QByteArray& Data)
{
    Data = mReceiveBuffer;
    mReceiveBuffer.clear();
}

void cTCPMIDIInptOutput::Write(const QByteArray& Data)
{
    if (mSocket)
        mSocket->write(Data);
}
