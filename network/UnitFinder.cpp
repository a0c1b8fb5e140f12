#include "network/UnitFinder.h"

#include "Common/LogError.h"

#include <QTimer>
#include <QUdpSocket>

cUnitFinder::cUnitFinder(const QString& FindString, QObject* Parent, const QHostAddress& Destination,
                         quint16 DestinationPort, int PollMs)
    : QObject(Parent),
      mSocket(new QUdpSocket(this)),
      mTimer(new QTimer(this)),
      mFindString(FindString),
      mQuery(FindString.toLatin1()),
      mDestination(Destination),
      mDestinationPort(DestinationPort)
{
    RegisterUnitMetaType();
    mTimer->start(PollMs);
    if (!mSocket->bind(0))
        LOG_ERROR("Could not open the discovery socket for \"%s\": %s", qPrintable(mFindString),
                  qPrintable(mSocket->errorString()));
    connect(mTimer, &QTimer::timeout, this, &cUnitFinder::TimerFired);
    connect(mSocket, &QUdpSocket::readyRead, this, &cUnitFinder::UDPRead);
}

cUnitFinder::~cUnitFinder()
{
    mSocket->disconnectFromHost();
    mSocket->close();
}

void cUnitFinder::TimerFired()
{
    // A failed send is simply repeated at the next poll.
    mSocket->writeDatagram(mQuery, mDestination, mDestinationPort);

    QList<sUnit> lost;
    for (auto record = mUnits.begin(); record != mUnits.end();)
    {
        --record->Countdown;
        if (record->Countdown == 0)
        {
            lost.append(record->Unit);
            record = mUnits.erase(record);
        }
        else
        {
            ++record;
        }
    }
    for (const sUnit& unit : lost)
        emit UnitLost(unit);
}

void cUnitFinder::UDPRead()
{
    // A flood of answers must not hold the event loop: after this many the rest waits for the
    // next notification, which the socket gives again while datagrams are queued.
    for (int taken = 0; taken < kMostAnswersPerRead && mSocket->hasPendingDatagrams(); ++taken)
    {
        const qint64 size = mSocket->pendingDatagramSize();
        QByteArray datagram(size > 0 ? int(size) : 0, '\0');
        QHostAddress sender;
        const qint64 read = mSocket->readDatagram(datagram.data(), datagram.size(), &sender);
        if (read < 0)
        {
            // Nothing usable came with it, not even a sender to answer to. The socket announces
            // again whatever is still queued, so nothing is lost by stopping here.
            break;
        }
        datagram.truncate(int(read));
        TakeAnswer(datagram, sender);
    }
}

void cUnitFinder::TakeAnswer(QByteArray Datagram, QHostAddress Sender)
{
    const int zero = Datagram.indexOf('\0');
    if (zero >= 0)
        Datagram.truncate(zero);

    // The socket listens on both protocols, so an IPv4 console's address comes IPv4-mapped
    // ("::ffff:192.168.1.20"); it is kept in its plain IPv4 form, as users type and see it.
    bool isIPv4 = false;
    const quint32 ipv4 = Sender.toIPv4Address(&isIPv4);
    if (isIPv4)
        Sender = QHostAddress(ipv4);

    sUnit unit;
    unit.Address = Sender;
    unit.Name = QString::fromLatin1(Datagram);
    unit.FindString = mFindString;
    AddOrRefresh(unit);
}

void cUnitFinder::AddOrRefresh(const sUnit& Unit)
{
    for (sUnitRecord& record : mUnits)
    {
        if (record.Unit == Unit)
        {
            record.Countdown = kCountdown;
            return;
        }
    }
    if (mUnits.size() >= kMostUnits)
        return;
    mUnits.append(sUnitRecord{Unit, kCountdown});
    emit UnitFound(Unit);
}
