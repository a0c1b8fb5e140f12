#pragma once
// Finds the consoles of one family on the local network: broadcasts the family's query text once a
// poll period and keeps the units that answer, reporting each when it first answers and when it has
// stopped answering for five polls. Owned by the multi-family finder; GUI thread only.

#include "network/Unit.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class QTimer;
class QUdpSocket;

class cUnitFinder : public QObject
{
    Q_OBJECT

public:
    // The port on which consoles listen for queries.
    static constexpr quint16 kDiscoveryPort = 51320;
    static constexpr int kPollMs = 1000;
    // Polls a unit survives without answering.
    static constexpr int kCountdown = 5;
    static constexpr int kMostUnits = 256;
    // Answers handled in one go before the event loop gets its turn again.
    static constexpr int kMostAnswersPerRead = 256;

    // The destination and the poll period are only ever changed by tests, which keep their
    // queries on loopback; the application always broadcasts to the limited broadcast address.
    explicit cUnitFinder(const QString& FindString, QObject* Parent = nullptr,
                         const QHostAddress& Destination = QHostAddress(QHostAddress::Broadcast),
                         quint16 DestinationPort = kDiscoveryPort, int PollMs = kPollMs);
    ~cUnitFinder() override;

    QString GetFindString() const { return mFindString; }
    int GetUnitCount() const { return mUnits.size(); }

    // Handles one answer as if it had just come from Sender: what UDPRead does with each datagram.
    // Public so that an answer can be handed in without a socket (the fuzz harness does).
    void TakeAnswer(QByteArray Datagram, QHostAddress Sender);

signals:
    void UnitFound(sUnit Unit);
    void UnitLost(sUnit Unit);

public slots:
    void TimerFired();

private slots:
    // Called by the finder's own socket only.
    void UDPRead();

private:
    struct sUnitRecord
    {
        sUnit Unit;
        int Countdown;
    };

    void AddOrRefresh(const sUnit& Unit);

    QUdpSocket* mSocket;
    QTimer* mTimer;
    QString mFindString;
    QByteArray mQuery;
    QList<sUnitRecord> mUnits;
    QHostAddress mDestination;
    quint16 mDestinationPort;
};
