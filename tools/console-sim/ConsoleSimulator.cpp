#include "tools/console-sim/ConsoleSimulator.h"

#include <QCoreApplication>
#include <QNetworkDatagram>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUdpSocket>

#include <cctype>
#include <cstdio>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace
{
// Bytes kept queued in the socket while flooding: enough to keep it busy, little enough to stop
// at once when the peer goes.
constexpr qint64 kFloodQueue = 64 * 1024;
// Time given to the last bytes before a reset throws away whatever the kernel still holds.
constexpr int kResetDelayMs = 100;
// Most bytes of a datagram that -v prints; the rest is counted only.
constexpr int kShownDatagramBytes = 64;

void Report(const QString& Text)
{
    std::fprintf(stderr, "console-sim: %s\n", qPrintable(Text));
    std::fflush(stderr);
}

// "127.0.0.1:51325", or "[::1]:51325" for IPv6, so the port can be told from the address.
QString Endpoint(const QHostAddress& Address, quint16 Port)
{
    if (Address.protocol() == QAbstractSocket::IPv6Protocol)
        return QStringLiteral("[%1]:%2").arg(Address.toString()).arg(Port);
    return QStringLiteral("%1:%2").arg(Address.toString()).arg(Port);
}

// A datagram as printable text: quotes, backslashes and every byte outside printable ASCII
// escaped (\n, \0, \xNN), cut after kShownDatagramBytes bytes with the full length said.
QString Printable(const QByteArray& Datagram)
{
    QString text;
    for (int index = 0; index < Datagram.size() && index < kShownDatagramBytes; ++index)
    {
        const char byte = Datagram.at(index);
        if (byte == '"' || byte == '\\')
        {
            text += QLatin1Char('\\');
            text += QLatin1Char(byte);
        }
        else if (byte == '\n')
            text += QStringLiteral("\\n");
        else if (byte == '\0')
            text += QStringLiteral("\\0");
        else if (byte >= 0x20 && byte < 0x7F)
            text += QLatin1Char(byte);
        else
            text += QStringLiteral("\\x%1").arg(quint8(byte), 2, 16, QLatin1Char('0'));
    }
    text = QStringLiteral("\"%1\"").arg(text);
    if (Datagram.size() > kShownDatagramBytes)
        text += QStringLiteral("... (%1 bytes)").arg(Datagram.size());
    return text;
}
} // namespace

bool ParseHexLine(const QString& Line, QByteArray& Bytes)
{
    Bytes.clear();
    QString text = Line;
    const int comment = text.indexOf(QLatin1Char('#'));
    if (comment >= 0)
        text.truncate(comment);
    QString digits;
    for (const QChar c : text)
    {
        if (c.isSpace())
            continue;
        if (c.unicode() > 0x7F || !std::isxdigit(static_cast<unsigned char>(c.toLatin1())))
            return false;
        digits.append(c);
    }
    if (digits.size() % 2 != 0)
        return false;
    Bytes = QByteArray::fromHex(digits.toLatin1());
    return true;
}

bool ParseConsoleLine(const cConsoleFamily& Family, const QString& Line, QByteArray& Bytes, QString& Error)
{
    if (Family.Command(Line, Bytes, Error))
        return true;
    if (!Error.isEmpty())
        return false;
    if (ParseHexLine(Line, Bytes))
        return true;
    Error = Family.Kind() == cConsoleFamily::eKind::None ? QStringLiteral("not hex bytes")
                                                         : QStringLiteral("neither hex bytes nor a command of the %1").arg(Family.Name());
    return false;
}

cConsoleSimulator::cConsoleSimulator(const sConsoleSimSettings& Settings, QObject* Parent)
    : QObject(Parent),
      mSettings(Settings),
      mServer(new QTcpServer(this)),
      mDiscovery(new QUdpSocket(this)),
      mTrickleTimer(new QTimer(this)),
      mRandom(Settings.Seed * 2654435761u + 1)
{
    // The generator would stay at zero for ever.
    if (mRandom == 0)
        mRandom = 1;
    connect(mServer, &QTcpServer::newConnection, this, &cConsoleSimulator::NewConnection);
    connect(mDiscovery, &QUdpSocket::readyRead, this, &cConsoleSimulator::DiscoveryReadyRead);
    connect(mTrickleTimer, &QTimer::timeout, this, &cConsoleSimulator::TrickleTick);
}

cConsoleSimulator::~cConsoleSimulator() = default;

bool cConsoleSimulator::Start()
{
#ifdef Q_OS_UNIX
    // Started with standard input closed, the first socket opened would become descriptor 0 and
    // be read as input.
    if (::fcntl(0, F_GETFD) == -1)
        mSettings.ReadStandardInput = false;
#endif
    if (!mServer->listen(mSettings.Address, mSettings.TcpPort))
    {
        Report(QStringLiteral("cannot listen on tcp %1: %2")
                   .arg(Endpoint(mSettings.Address, mSettings.TcpPort), mServer->errorString()));
        return false;
    }
    QString discovery = QStringLiteral("off");
    if (mSettings.Discovery)
    {
        if (!mDiscovery->bind(mSettings.Address, mSettings.DiscoveryPort))
        {
            Report(QStringLiteral("cannot bind udp %1: %2")
                       .arg(Endpoint(mSettings.Address, mSettings.DiscoveryPort), mDiscovery->errorString()));
            return false;
        }
        discovery = Endpoint(mSettings.Address, mDiscovery->localPort());
    }
    if (mSettings.ReadStandardInput)
    {
        mStandardInput = new QSocketNotifier(0, QSocketNotifier::Read, this);
        connect(mStandardInput, &QSocketNotifier::activated, this, &cConsoleSimulator::StandardInputReadable);
    }
    Report(QStringLiteral("ready tcp=%1 udp=%2 name=\"%3\" find=\"%4\"")
               .arg(Endpoint(mSettings.Address, mServer->serverPort()), discovery, mSettings.Name,
                    mSettings.FindTexts.join(QStringLiteral("\",\""))));
    return true;
}

void cConsoleSimulator::DiscoveryReadyRead()
{
    while (mDiscovery->hasPendingDatagrams())
    {
        const QNetworkDatagram query = mDiscovery->receiveDatagram();
        if (!query.isValid())
            break;
        // Answered only when the payload is exactly a find text: no terminator, nothing after it.
        const QByteArray payload = query.data();
        const QString from = Endpoint(query.senderAddress(), quint16(query.senderPort()));
        bool known = false;
        for (const QString& findText : mSettings.FindTexts)
            known = known || payload == findText.toLatin1();
        if (!known)
        {
            if (mSettings.Verbose)
                Report(QStringLiteral("ignored query %1 from %2%3")
                           .arg(Printable(payload), from,
                                payload.endsWith('\n') ? QStringLiteral(" (it ends in a newline; a query is the "
                                                                        "text alone)")
                                                       : QString()));
            continue;
        }
        QByteArray answer = mSettings.Name.toLatin1();
        if (mSettings.AnswerJunk)
        {
            answer.append('\0');
            answer.append(mSettings.Junk);
        }
        mDiscovery->writeDatagram(answer, query.senderAddress(), quint16(query.senderPort()));
        if (mSettings.Verbose)
            Report(QStringLiteral("answered query %1 from %2").arg(Printable(payload), from));
    }
}

void cConsoleSimulator::NewConnection()
{
    while (QTcpSocket* incoming = mServer->nextPendingConnection())
    {
        if (mClient)
        {
            // One link at a time, like a console: the newest one wins.
            Report(QStringLiteral("closing the previous connection for a new one"));
            mClient->disconnect(this);
            mClient->abort();
            mClient->deleteLater();
            if (mSplitter)
                mSplitter->Flush();
        }
        mClient = incoming;
        ++mConnectionNumber;
        mSent = 0;
        mEnding = false;
        mOutgoing.clear();
        mTrickleTimer->stop();
        mClient->setSocketOption(QAbstractSocket::LowDelayOption, 1);
        mSplitter.reset(new cMidiMessageSplitter([this](const QByteArray& Message) { PrintMessage(Message); },
                                                 [](const QString& Problem) { Report(Problem); }));
        connect(mClient, &QTcpSocket::readyRead, this, &cConsoleSimulator::ClientReadyRead);
        connect(mClient, &QTcpSocket::disconnected, this, &cConsoleSimulator::ClientDisconnected);
        connect(mClient, &QTcpSocket::bytesWritten, this, &cConsoleSimulator::Pump);
        Report(QStringLiteral("connected %1").arg(Endpoint(mClient->peerAddress(), mClient->peerPort())));

        mGarbageLeft = qMax<qint64>(mSettings.GarbageBytes, 0);
        mGarbageQueued = 0;
        mOutgoing.append(mWaiting);
        mWaiting.clear();
        mFloodLeft = mSettings.FloodBytes;
        mScriptIndex = 0;
        RunScript();
        TopUpFlood();
        Pump();
    }
}

void cConsoleSimulator::RunScript()
{
    const int connection = mConnectionNumber;
    while (mClient && mScriptIndex < mSettings.Script.size())
    {
        const sScriptStep& step = mSettings.Script.at(mScriptIndex++);
        if (step.SleepMs > 0)
        {
            QTimer::singleShot(step.SleepMs, this, [this, connection] {
                if (connection == mConnectionNumber)
                    RunScript();
            });
            return;
        }
        mOutgoing.append(step.Bytes);
        Pump();
    }
}

void cConsoleSimulator::Send(const QByteArray& Bytes)
{
    if (!mClient || mEnding)
    {
        mWaiting.append(Bytes);
        return;
    }
    mOutgoing.append(Bytes);
    Pump();
}

void cConsoleSimulator::TopUpFlood()
{
    if (mFloodLeft < 0 || mOutgoing.size() >= kFloodQueue)
        return;
    // Console-like traffic: fader moves with running status, button notes, clock bytes.
    QByteArray traffic;
    const qint64 want = mFloodLeft == 0 ? kFloodQueue : qMin<qint64>(kFloodQueue, mFloodLeft);
    while (traffic.size() < want)
    {
        const quint32 roll = NextRandom();
        switch (roll % 8)
        {
        case 0:
            traffic.append(char(0x90 | (roll >> 8 & 0x0F)));
            traffic.append(char(roll >> 12 & 0x7F));
            traffic.append(char((roll >> 20 & 1) ? 0x7F : 0x00));
            break;
        case 1:
            traffic.append(char(0xF8));
            break;
        default:
            traffic.append(char(0xB0 | (roll >> 8 & 0x0F)));
            for (int i = 0; i < 4; ++i)
            {
                traffic.append(char(roll >> 12 & 0x1F));
                traffic.append(char(((roll >> 17) + quint32(i)) & 0x7F));
            }
            break;
        }
    }
    if (mFloodLeft > 0)
    {
        traffic.truncate(int(want));
        mFloodLeft -= traffic.size();
        if (mFloodLeft == 0)
            mFloodLeft = -1; // done: the whole amount is queued
    }
    mOutgoing.append(traffic);
}

void cConsoleSimulator::TopUpGarbage()
{
    // Made a piece at a time, ahead of everything else queued, so that any amount costs no memory.
    if (mGarbageLeft <= 0 || mGarbageQueued >= kFloodQueue)
        return;
    QByteArray garbage(int(qMin<qint64>(kFloodQueue, mGarbageLeft)), '\0');
    for (char& byte : garbage)
        byte = char(NextRandom() >> 24);
    mOutgoing.insert(int(mGarbageQueued), garbage);
    mGarbageQueued += garbage.size();
    mGarbageLeft -= garbage.size();
}

void cConsoleSimulator::Sent(qint64 Count)
{
    mOutgoing.remove(0, int(Count));
    mSent += Count;
    mGarbageQueued -= qMin(Count, mGarbageQueued);
}

void cConsoleSimulator::Pump()
{
    if (!mClient || mEnding || mClient->state() != QAbstractSocket::ConnectedState)
        return;
    TopUpGarbage();
    TopUpFlood();

    qint64 limit = -1;
    if (mSettings.CloseAfter >= 0)
        limit = mSettings.CloseAfter;
    if (mSettings.ResetAfter >= 0 && (limit < 0 || mSettings.ResetAfter < limit))
        limit = mSettings.ResetAfter;
    if (limit >= 0 && mSent >= limit)
    {
        EndConnection(mSettings.ResetAfter >= 0 && mSettings.ResetAfter == limit);
        return;
    }
    if (mSettings.TrickleMs >= 0)
    {
        if (!mOutgoing.isEmpty() && !mTrickleTimer->isActive())
            mTrickleTimer->start(mSettings.TrickleMs);
        return;
    }
    // Hold back while the socket still has plenty queued, so a flood follows the peer's pace.
    if (mOutgoing.isEmpty() || mClient->bytesToWrite() >= kFloodQueue)
        return;
    qint64 count = mOutgoing.size();
    // While more garbage is to come, nothing queued behind it may overtake it.
    if (mGarbageLeft > 0)
        count = mGarbageQueued;
    if (limit >= 0)
        count = qMin(count, limit - mSent);
    mClient->write(mOutgoing.constData(), count);
    Sent(count);
    if (limit >= 0 && mSent >= limit)
        EndConnection(mSettings.ResetAfter >= 0 && mSettings.ResetAfter == limit);
}

void cConsoleSimulator::TrickleTick()
{
    TopUpGarbage();
    if (!mClient || mEnding || mOutgoing.isEmpty())
    {
        mTrickleTimer->stop();
        return;
    }
    mClient->write(mOutgoing.constData(), 1);
    mClient->flush();
    Sent(1);
    Pump();
}

void cConsoleSimulator::EndConnection(bool Reset)
{
    if (!mClient || mEnding)
        return;
    mEnding = true;
    mTrickleTimer->stop();
    if (!Reset)
    {
        Report(QStringLiteral("closing the connection after %1 bytes").arg(mSent));
        mClient->disconnectFromHost();
        return;
    }
    Report(QStringLiteral("resetting the connection after %1 bytes").arg(mSent));
    QTcpSocket* client = mClient;
    client->flush();
    const int connection = mConnectionNumber;
    QTimer::singleShot(kResetDelayMs, this, [this, client, connection] {
        if (connection != mConnectionNumber || client != mClient)
            return;
#ifdef Q_OS_UNIX
        // A zero linger time makes closing send a reset instead of the orderly end.
        struct linger hard = {1, 0};
        ::setsockopt(int(client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
#endif
        client->abort();
        ClientDisconnected();
    });
}

void cConsoleSimulator::ClientReadyRead()
{
    if (!mClient || !mSplitter)
        return;
    mSplitter->Feed(mClient->readAll());
}

void cConsoleSimulator::ClientDisconnected()
{
    if (!mClient)
        return;
    if (mClient->bytesAvailable() > 0 && mSplitter)
        mSplitter->Feed(mClient->readAll());
    if (mSplitter)
        mSplitter->Flush();
    Report(QStringLiteral("disconnected"));
    mClient->disconnect(this);
    mClient->deleteLater();
    mClient = nullptr;
    mTrickleTimer->stop();
    ++mConnectionNumber;
    if (mSettings.Once)
        QCoreApplication::exit(0);
}

void cConsoleSimulator::StandardInputReadable()
{
    char buffer[4096];
#ifdef Q_OS_UNIX
    const ssize_t count = ::read(0, buffer, sizeof buffer);
#else
    const qint64 count = qint64(std::fread(buffer, 1, 1, stdin));
#endif
    if (count <= 0)
    {
        // End of input: a last line without its newline is sent all the same; the link is then
        // served with what was sent so far.
        mStandardInput->setEnabled(false);
        if (!mStandardInputLine.isEmpty())
            SendStandardInputLine(QString::fromLatin1(mStandardInputLine));
        mStandardInputLine.clear();
        return;
    }
    mStandardInputLine.append(buffer, int(count));
    int end;
    while ((end = mStandardInputLine.indexOf('\n')) >= 0)
    {
        const QString line = QString::fromLatin1(mStandardInputLine.left(end));
        mStandardInputLine.remove(0, end + 1);
        SendStandardInputLine(line);
    }
}

void cConsoleSimulator::SendStandardInputLine(const QString& Line)
{
    ++mStandardInputLineNumber;
    QByteArray bytes;
    QString error;
    if (!ParseConsoleLine(mSettings.Family, Line, bytes, error))
    {
        Report(QStringLiteral("standard input line %1 skipped, %2: %3")
                   .arg(mStandardInputLineNumber)
                   .arg(error, Line.trimmed()));
        return;
    }
    if (!bytes.isEmpty())
        Send(bytes);
}

void cConsoleSimulator::PrintMessage(const QByteArray& Message)
{
    const QString meaning = mSettings.Family.Describe(Message);
    if (meaning.isEmpty())
        std::fprintf(stdout, "%s\n", Message.toHex(' ').constData());
    else
        std::fprintf(stdout, "%s   # %s\n", Message.toHex(' ').constData(), qPrintable(meaning));
    std::fflush(stdout);
}

quint32 cConsoleSimulator::NextRandom()
{
    mRandom ^= mRandom << 13;
    mRandom ^= mRandom >> 17;
    mRandom ^= mRandom << 5;
    return mRandom;
}
