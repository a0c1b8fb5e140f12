#include "network/UnitFinder.h"

#include "Common/LogError.h"

#include <QTimer>
#include <QUdpSocket>

#include <utility>

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
    CountDown();
}

void cUnitFinder::CountDown()
{
    int lostCount = 0;
    for (sUnitRecord& record : mUnits)
        lostCount += --record.Countdown == 0 ? 1 : 0;
    if (lostCount == 0)
        return;

    // Reported once the list no longer holds them, in the order they were found.
    QVector<sUnit> lost;
    lost.reserve(lostCount);
    int kept = 0;
    for (int at = 0; at < mUnits.size(); ++at)
    {
        sUnitRecord& record = mUnits[at];
        if (record.Countdown == 0)
        {
            lost.append(record.Unit);
            continue;
        }
        if (kept != at)
            mUnits[kept] = std::move(record);
        ++kept;
    }
    mUnits.resize(kept);
    RebuildIndex();
    for (const sUnit& unit : qAsConst(lost))
        emit UnitLost(unit);
    emit UnitsChanged();
}

void cUnitFinder::UDPRead()
{
    // A flood of answers must not hold the event loop: after this many the rest waits for the
    // next notification, which the socket gives again while datagrams are queued.
    bool changed = false;
    for (int taken = 0; taken < kMostAnswersPerRead && mSocket->hasPendingDatagrams(); ++taken)
    {
        const qint64 size = mSocket->pendingDatagramSize();
        QByteArray datagram(size > 0 ? int(size) : 0, Qt::Uninitialized);
        QHostAddress sender;
        const qint64 read = mSocket->readDatagram(datagram.data(), datagram.size(), &sender);
        if (read < 0)
        {
            // Nothing usable came with it, not even a sender to answer to. The socket announces
            // again whatever is still queued, so nothing is lost by stopping here.
            break;
        }
        datagram.truncate(int(read));
        changed = AddOrRefresh(datagram, sender) || changed;
    }
    if (changed)
        emit UnitsChanged();
}

void cUnitFinder::TakeAnswer(const QByteArray& Datagram, const QHostAddress& Sender)
{
    if (AddOrRefresh(Datagram, Sender))
        emit UnitsChanged();
}

bool cUnitFinder::AddOrRefresh(const QByteArray& Datagram, const QHostAddress& Sender)
{
    // The name ends at the first zero byte; left() shares the bytes when there is none.
    const int zero = Datagram.indexOf('\0');
    const QByteArray name = zero >= 0 ? Datagram.left(zero) : Datagram;

    // The socket listens on both protocols, so an IPv4 console's address comes IPv4-mapped
    // ("::ffff:192.168.1.20"); it is kept in its plain IPv4 form, as users type and see it.
    bool isIPv4 = false;
    const quint32 ipv4 = Sender.toIPv4Address(&isIPv4);
    const QHostAddress address =
        isIPv4 && Sender.protocol() != QAbstractSocket::IPv4Protocol ? QHostAddress(ipv4) : Sender;

    for (auto known = mIndex.constFind(name); known != mIndex.constEnd() && known.key() == name; ++known)
    {
        sUnitRecord& record = mUnits[known.value()];
        if (record.Unit.Address == address)
        {
            record.Countdown = kCountdown;
            return false;
        }
    }
    if (mUnits.size() >= kMostUnits)
        return false;

    sUnit unit;
    unit.Address = address;
    unit.Name = QString::fromLatin1(name);
    unit.FindString = mFindString;
    mIndex.insert(name, mUnits.size());
    mUnits.append(sUnitRecord{unit, name, kCountdown});
    emit UnitFound(unit);
    return true;
}

void cUnitFinder::RebuildIndex()
{
    mIndex.clear();
    for (int at = 0; at < mUnits.size(); ++at)
        mIndex.insert(mUnits[at].NameBytes, at);
}
