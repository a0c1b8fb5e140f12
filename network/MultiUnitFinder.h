#pragma once
// Merges the discoveries of one unit finder per console family into one list and one pair of
// found/lost signals. Owned by the main window for its whole life; GUI thread only.

#include "network/Unit.h"
#include "network/UnitFinder.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

class cMultiUnitFinder : public QObject
{
    Q_OBJECT

public:
    // The destination and poll period are handed to every finder made here; only tests change them.
    explicit cMultiUnitFinder(QObject* Parent = nullptr,
                              const QHostAddress& Destination = QHostAddress(QHostAddress::Broadcast),
                              quint16 DestinationPort = cUnitFinder::kDiscoveryPort,
                              int PollMs = cUnitFinder::kPollMs);
    ~cMultiUnitFinder() override;

    // Starts a finder for the query text unless one with exactly that text runs already.
    void AddFinder(const QString& FindString);
    // Destroys every finder, then reports each known unit lost, the most recently found first.
    void RemoveAllFinders();
    QList<sUnit> GetUnits() const { return mUnits; }
    int GetFinderCount() const { return mFinders.size(); }

signals:
    void UnitFound(sUnit Unit);
    void UnitLost(sUnit Unit);
    // Once after each batch of found and lost reports (see cUnitFinder::UnitsChanged), and once
    // after RemoveAllFinders has reported units lost: the moment to show the list again.
    void UnitsChanged();

public slots:
    virtual void SingleUnitFound(sUnit Unit);
    virtual void SingleUnitLost(sUnit Unit);

private:
    QList<cUnitFinder*> mFinders;
    QList<sUnit> mUnits;
    QHostAddress mDestination;
    quint16 mDestinationPort;
    int mPollMs;
};
