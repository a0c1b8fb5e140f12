#pragma once
// Test helper: the consoles of the discovery tests, on loopback only. It receives the finders'
// queries on a port of its own and hands answers to a finder one at a time, so that every test
// decides exactly when an answer is taken in relative to the polls. Test thread only.

#include "network/UnitFinder.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QSharedPointer>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

// Long enough that a finder's own timer never fires during a test: the tests poll by hand.
constexpr int kManualPolls = 24 * 3600 * 1000;

// A unit as a finder reports it after an answer from this loopback console.
inline sUnit MakeUnit(const QString& Name, const QString& FindString = QStringLiteral("NY Find"))
{
    sUnit unit;
    unit.Address = QHostAddress(QStringLiteral("127.0.0.1"));
    unit.Name = Name;
    unit.FindString = FindString;
    return unit;
}

// The units carried by a spy on UnitFound or UnitLost.
inline QList<sUnit> Units(const QSignalSpy& Spy)
{
    QList<sUnit> units;
    for (const QList<QVariant>& arguments : Spy)
        units.append(qvariant_cast<sUnit>(arguments.value(0)));
    return units;
}

struct sReceivedQuery
{
    QByteArray Payload;
    quint16 SenderPort;
};

class cLoopbackConsole
{
public:
    cLoopbackConsole()
    {
        mSocket.bind(QHostAddress(QHostAddress::LocalHost), 0);
        QObject::connect(&mSocket, &QUdpSocket::readyRead, &mSocket, [this] {
            while (mSocket.hasPendingDatagrams())
            {
                const qint64 size = mSocket.pendingDatagramSize();
                QByteArray payload(int(qMax<qint64>(size, 0)), '\0');
                QHostAddress sender;
                quint16 port = 0;
                const qint64 read = mSocket.readDatagram(payload.data(), payload.size(), &sender, &port);
                if (read < 0)
                    break;
                payload.truncate(int(read));
                Queries.append(sReceivedQuery{payload, port});
            }
        });
    }

    quint16 Port() const { return mSocket.localPort(); }
    QHostAddress Address() const { return QHostAddress(QHostAddress::LocalHost); }

    // Waits (running the event loop) until at least Count queries have come in.
    bool WaitForQueries(int Count, int TimeoutMs = 10000)
    {
        QElapsedTimer waited;
        waited.start();
        while (Queries.size() < Count && waited.elapsed() < TimeoutMs)
            QTest::qWait(2);
        return Queries.size() >= Count;
    }

    // Sends one answer from the given loopback address to the finder and makes the finder take it
    // in before returning. The finder's own notification is held back meanwhile, so the answer is
    // handled here and now, never during a later poll.
    bool Answer(cUnitFinder& Finder, const QByteArray& Payload,
                const QHostAddress& From = QHostAddress(QHostAddress::LocalHost))
    {
        QUdpSocket* finderSocket = Finder.findChild<QUdpSocket*>();
        if (!finderSocket)
            return false;
        QUdpSocket* sender = SenderAt(From);
        if (!sender)
            return false;
        const bool wasBlocked = finderSocket->blockSignals(true);
        bool delivered = sender->writeDatagram(Payload, QHostAddress(QHostAddress::LocalHost),
                                               finderSocket->localPort()) == Payload.size();
        QElapsedTimer waited;
        waited.start();
        while (delivered && !finderSocket->hasPendingDatagrams() && waited.elapsed() < 10000)
            QTest::qWait(1);
        delivered = delivered && finderSocket->hasPendingDatagrams();
        if (delivered)
            QMetaObject::invokeMethod(&Finder, "UDPRead", Qt::DirectConnection);
        finderSocket->blockSignals(wasBlocked);
        return delivered;
    }

    QList<sReceivedQuery> Queries;

private:
    QUdpSocket* SenderAt(const QHostAddress& From)
    {
        const QString key = From.toString();
        if (!mSenders.contains(key))
        {
            QSharedPointer<QUdpSocket> socket(new QUdpSocket);
            if (!socket->bind(From, 0))
                return nullptr;
            mSenders.insert(key, socket);
        }
        return mSenders.value(key).data();
    }

    QUdpSocket mSocket;
    QHash<QString, QSharedPointer<QUdpSocket>> mSenders;
};
