#include "network/MultiUnitFinder.h"

cMultiUnitFinder::cMultiUnitFinder(QObject* Parent, const QHostAddress& Destination, quint16 DestinationPort,
                                   int PollMs)
    : QObject(Parent), mDestination(Destination), mDestinationPort(DestinationPort), mPollMs(PollMs)
{
    RegisterUnitMetaType();
}

cMultiUnitFinder::~cMultiUnitFinder() = default;

void cMultiUnitFinder::AddFinder(const QString& FindString)
{
    for (const cUnitFinder* finder : qAsConst(mFinders))
    {
        if (finder->GetFindString() == FindString)
            return;
    }
    auto* finder = new cUnitFinder(FindString, this, mDestination, mDestinationPort, mPollMs);
    connect(finder, &cUnitFinder::UnitFound, this, &cMultiUnitFinder::SingleUnitFound);
    connect(finder, &cUnitFinder::UnitLost, this, &cMultiUnitFinder::SingleUnitLost);
    connect(finder, &cUnitFinder::UnitsChanged, this, &cMultiUnitFinder::UnitsChanged);
    mFinders.append(finder);
}

void cMultiUnitFinder::RemoveAllFinders()
{
    while (!mFinders.isEmpty())
        delete mFinders.takeLast();
    if (mUnits.isEmpty())
        return;
    while (!mUnits.isEmpty())
        emit UnitLost(mUnits.takeLast());
    emit UnitsChanged();
}

void cMultiUnitFinder::SingleUnitFound(sUnit Unit)
{
    mUnits.append(Unit);
    emit UnitFound(Unit);
}

void cMultiUnitFinder::SingleUnitLost(sUnit Unit)
{
    const int index = mUnits.indexOf(Unit);
    if (index >= 0)
        mUnits.removeAt(index);
    emit UnitLost(Unit);
}
