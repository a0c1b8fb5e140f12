#pragma once
// Test helper: the consoles of the discovery tests, on loopback only. It receives the finders'
// queries on a port of its own and hands answers to a finder one at a time, so that every test
// decides exactly when an answer is taken in relative to the polls. Test thread only.

#include "network/UnitFinder.h"

#include <QHash>
#include <QList>
#include <QSharedPointer>
#include <QSignalSpy>
#include <QUdpSocket>
#include <QtTest>

// Long enough that a finder's own timer never fires during a test: the tests poll by hand.
constexpr int kManualPolls = 24 * 3600 * 1000;

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
                QByteArray payload(int(qMax<qint64>(mSocket.pendingDatagramSize(), 0)), '\0');
                quint16 port = 0;
                const qint64 read = mSocket.readDatagram(payload.data(), payload.size(), nullptr, &port);
                if (read < 0)
                    break;
                Queries.append(sReceivedQuery{payload.left(int(read)), port});
            }
        });
    }

    quint16 Port() const { return mSocket.localPort(); }
    QHostAddress Address() const { return QHostAddress(QHostAddress::LocalHost); }

    // Waits (running the event loop) until at least Count queries have come in.
    bool WaitForQueries(int Count) { return QTest::qWaitFor([&] { return Queries.size() >= Count; }, 10000); }

    // Sends one answer from the given loopback address to the finder and makes the finder take it
    // in before returning. The finder's own notification is held back meanwhile, so the answer is
    // handled here and now, never during a later poll.
    bool Answer(cUnitFinder& Finder, const QByteArray& Payload,
                const QHostAddress& From = QHostAddress(QHostAddress::LocalHost))
    {
        QUdpSocket* finderSocket = Finder.findChild<QUdpSocket*>();
        if (!finderSocket)
            return false;
        QSharedPointer<QUdpSocket>& sender = mSenders[From.toString()];
        if (!sender)
        {
            sender.reset(new QUdpSocket);
            if (!sender->bind(From, 0))
                return false;
        }
        const bool wasBlocked = finderSocket->blockSignals(true);
        const bool delivered =
            sender->writeDatagram(Payload, QHostAddress(QHostAddress::LocalHost), finderSocket->localPort()) == Payload.size() &&
            QTest::qWaitFor([&] { return finderSocket->hasPendingDatagrams(); }, 10000);
        if (delivered)
            QMetaObject::invokeMethod(&Finder, "UDPRead", Qt::DirectConnection);
        finderSocket->blockSignals(wasBlocked);
        return delivered;
    }

    QList<sReceivedQuery> Queries;

private:
    QUdpSocket mSocket;
    QHash<QString, QSharedPointer<QUdpSocket>> mSenders;
};
