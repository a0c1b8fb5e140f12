#pragma once
// Finds the consoles of one family on the local network: broadcasts the family's query text once a
// poll period and keeps the units that answer, reporting each when it first answers and when it has
// stopped answering for five polls. Owned by the multi-family finder; GUI thread only.

#include "network/Unit.h"

#include <QByteArray>
#include <QHostAddress>
#include <QMultiHash>
#include <QObject>
#include <QString>
#include <QVector>

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
    void TakeAnswer(const QByteArray& Datagram, const QHostAddress& Sender);
    // What each poll does after sending its query: counts one poll down for every unit and reports
    // those that have run out. Public so that polls can be made without any traffic (the fuzz
    // harness does).
    void CountDown();

signals:
    void UnitFound(sUnit Unit);
    void UnitLost(sUnit Unit);
    // Once after the found and lost reports of one batch (one read of the socket, one poll, one
    // answer handed in), when there was at least one: a list shown to the user is rebuilt once
    // per batch rather than once per unit, which a flood of new names would make quadratic.
    void UnitsChanged();

public slots:
    void TimerFired();

private slots:
    // Called by the finder's own socket only.
    void UDPRead();

private:
    struct sUnitRecord
    {
        sUnit Unit;
        // The answer's text up to its first zero byte: the name as it came, for the index.
        QByteArray NameBytes;
        int Countdown;
    };

    // Finds or adds the unit of one answer; true when it was new (UnitFound has been emitted).
    bool AddOrRefresh(const QByteArray& Datagram, const QHostAddress& Sender);
    void RebuildIndex();

    QUdpSocket* mSocket;
    QTimer* mTimer;
    QString mFindString;
    QByteArray mQuery;
    // In the order found, which is the order they are reported lost in.
    QVector<sUnitRecord> mUnits;
    // Position in mUnits by name: each answer of a flood is looked up without a scan of the list or
    // a text built for it. Several units may share a name; their addresses tell them apart.
    QMultiHash<QByteArray, int> mIndex;
    QHostAddress mDestination;
    quint16 mDestinationPort;
};
