#include "network/TCPMIDIInptOutput.h"

#include "Common/DepthCounter.h"
#include "Common/LogError.h"

#include <QtGlobal>

// Winsock's headers must come before anything that may bring in windows.h.
#if defined(Q_OS_WIN)
#include <winsock2.h>
#include <mstcpip.h>
#elif defined(Q_OS_UNIX)
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#endif

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

#if defined(Q_OS_UNIX)
// One socket option in whole seconds (or milliseconds for the user timeout); false when refused.
bool SetTcpOption(qintptr Descriptor, int Option, int Value)
{
    return ::setsockopt(int(Descriptor), IPPROTO_TCP, Option, &Value, sizeof Value) == 0;
}
#endif

// Qt switches keep-alive on but leaves its timings to the system, which waits two hours before the
// first probe. A console that loses power sends nothing more, so without short timings the link
// would say "Connected" for hours. Qt has no portable way to set them: each system's own call.
void EnableKeepAlive(QTcpSocket* Socket)
{
    Socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    const qintptr descriptor = Socket->socketDescriptor();
    if (descriptor == -1)
        return;
    bool ok = true;
#if defined(Q_OS_WIN)
    // Windows sends its own fixed number of probes (ten) at this interval.
    tcp_keepalive settings = {1, ULONG(cTCPMIDIInptOutput::kKeepAliveIdleS * 1000),
                              ULONG(cTCPMIDIInptOutput::kKeepAliveIntervalS * 1000)};
    DWORD returned = 0;
    ok = ::WSAIoctl(SOCKET(descriptor), SIO_KEEPALIVE_VALS, &settings, sizeof settings, nullptr, 0, &returned,
                    nullptr, nullptr) == 0;
#elif defined(Q_OS_UNIX)
#if defined(TCP_KEEPIDLE)
    ok = SetTcpOption(descriptor, TCP_KEEPIDLE, cTCPMIDIInptOutput::kKeepAliveIdleS) && ok;
#elif defined(TCP_KEEPALIVE)
    ok = SetTcpOption(descriptor, TCP_KEEPALIVE, cTCPMIDIInptOutput::kKeepAliveIdleS) && ok;
#endif
#if defined(TCP_KEEPINTVL)
    ok = SetTcpOption(descriptor, TCP_KEEPINTVL, cTCPMIDIInptOutput::kKeepAliveIntervalS) && ok;
#endif
#if defined(TCP_KEEPCNT)
    ok = SetTcpOption(descriptor, TCP_KEEPCNT, cTCPMIDIInptOutput::kKeepAliveProbes) && ok;
#endif
#if defined(TCP_USER_TIMEOUT)
    // Keep-alive only probes an idle link: bytes written to a console that has gone would be sent
    // again for a quarter of an hour. This gives up on unacknowledged bytes within the same time.
    ok = SetTcpOption(descriptor, TCP_USER_TIMEOUT,
                      (cTCPMIDIInptOutput::kKeepAliveIdleS +
                       cTCPMIDIInptOutput::kKeepAliveIntervalS * cTCPMIDIInptOutput::kKeepAliveProbes) * 1000) &&
         ok;
#endif
#endif
    if (!ok)
        LOG_ERROR("Could not set the keep-alive timings of the console link: a console that goes away "
                  "unannounced is noticed late");
}
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
    // Without a bound the socket takes in all that the system holds for it at each notification,
    // megabytes from a console that floods, and the event loop waits while they are matched. With
    // it, the rest stays with the system, which slows the console down instead.
    mSocket->setReadBufferSize(kReadBufferBytes);
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
    if (State == QAbstractSocket::ConnectedState && mSocket)
    {
        EnableKeepAlive(mSocket);
        // Whatever the previous connection left unfinished must not be completed by this one's
        // first bytes.
        emit StreamRestarted();
    }
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
