#include "network/MultiUnitFinder.h"
#include "tests/network/LoopbackConsole.h"

#include <QSignalSpy>
#include <QtTest>

namespace
{
QStringList Describe(const QList<sUnit>& Units)
{
    QStringList texts;
    for (const sUnit& unit : Units)
        texts.append(unit.Name + " / " + unit.FindString);
    return texts;
}

cUnitFinder* FinderFor(cMultiUnitFinder& Multi, const QString& FindString)
{
    for (cUnitFinder* finder : Multi.findChildren<cUnitFinder*>())
    {
        if (finder->GetFindString() == FindString)
            return finder;
    }
    return nullptr;
}
} // namespace

class tst_MultiUnitFinder : public QObject
{
    Q_OBJECT

private slots:
    void addsOneFinderPerText();
    void mergesTheFamiliesInTheOrderFound();
    void forgetsAUnitItsFinderLost();
    void reportsALostUnitItNeverHeld();
    void removeAllFindersReportsTheLastFoundFirst();
    void findsAgainAfterTheFindersAreReplaced();
    void reportsNothingWhenDestroyed();
};

void tst_MultiUnitFinder::addsOneFinderPerText()
{
    cLoopbackConsole console;
    cMultiUnitFinder multi(nullptr, console.Address(), console.Port(), kManualPolls);
    for (const char* text : {"NY Find", "NY Find", "ny find", ""})
        multi.AddFinder(text);
    QCOMPARE(multi.GetFinderCount(), 3);
    QCOMPARE(multi.findChildren<cUnitFinder*>().size(), 3);
    // Each finder queries the multi-finder's destination with its own text; an empty one is zero bytes long.
    for (cUnitFinder* finder : multi.findChildren<cUnitFinder*>())
        finder->TimerFired();
    QVERIFY(console.WaitForQueries(3));
    QList<QByteArray> payloads;
    for (const sReceivedQuery& query : qAsConst(console.Queries))
        payloads.append(query.Payload);
    std::sort(payloads.begin(), payloads.end());
    QCOMPARE(payloads, QList<QByteArray>({QByteArray(), QByteArray("NY Find"), QByteArray("ny find")}));
}

void tst_MultiUnitFinder::mergesTheFamiliesInTheOrderFound()
{
    cLoopbackConsole console;
    cMultiUnitFinder multi(nullptr, console.Address(), console.Port(), kManualPolls);
    QSignalSpy found(&multi, &cMultiUnitFinder::UnitFound);
    multi.AddFinder("NY Find");
    multi.AddFinder("KRT Find");
    cUnitFinder* ny = FinderFor(multi, "NY Find");
    cUnitFinder* krt = FinderFor(multi, "KRT Find");

    // One console that answers both families is listed once per family.
    QVERIFY(console.Answer(*krt, "Desk"));
    QVERIFY(console.Answer(*ny, "Desk"));
    QVERIFY(console.Answer(*ny, "Stage"));
    QVERIFY(console.Answer(*ny, "Desk"));
    const QList<sUnit> expected = {MakeUnit("Desk", "KRT Find"), MakeUnit("Desk", "NY Find"),
                                   MakeUnit("Stage", "NY Find")};
    QCOMPARE(Describe(multi.GetUnits()), Describe(expected));
    QVERIFY(multi.GetUnits() == expected);
    QVERIFY(Units(found) == expected);
}

void tst_MultiUnitFinder::forgetsAUnitItsFinderLost()
{
    cLoopbackConsole console;
    cMultiUnitFinder multi(nullptr, console.Address(), console.Port(), kManualPolls);
    QSignalSpy lost(&multi, &cMultiUnitFinder::UnitLost);
    multi.AddFinder("NY Find");
    multi.AddFinder("KRT Find");
    cUnitFinder* ny = FinderFor(multi, "NY Find");
    cUnitFinder* krt = FinderFor(multi, "KRT Find");
    QVERIFY(console.Answer(*ny, "Desk"));
    QVERIFY(console.Answer(*krt, "Desk"));

    for (int poll = 0; poll < cUnitFinder::kCountdown; ++poll)
    {
        ny->TimerFired();
        krt->TimerFired();
        QVERIFY(console.Answer(*krt, "Desk"));
    }
    QVERIFY(Units(lost) == QList<sUnit>{MakeUnit("Desk", "NY Find")});
    QVERIFY(multi.GetUnits() == QList<sUnit>{MakeUnit("Desk", "KRT Find")});
}

void tst_MultiUnitFinder::reportsALostUnitItNeverHeld()
{
    cMultiUnitFinder multi(nullptr, QHostAddress(QHostAddress::LocalHost), 9, kManualPolls);
    QSignalSpy lost(&multi, &cMultiUnitFinder::UnitLost);
    multi.SingleUnitFound(MakeUnit("Desk", "NY Find"));
    multi.SingleUnitFound(MakeUnit("Desk", "NY Find"));
    multi.SingleUnitLost(MakeUnit("Ghost", "NY Find"));
    QCOMPARE(lost.count(), 1);
    QCOMPARE(multi.GetUnits().size(), 2);
    // Only the first equal unit goes.
    multi.SingleUnitLost(MakeUnit("Desk", "NY Find"));
    QCOMPARE(multi.GetUnits().size(), 1);
}

void tst_MultiUnitFinder::removeAllFindersReportsTheLastFoundFirst()
{
    cLoopbackConsole console;
    cMultiUnitFinder multi(nullptr, console.Address(), console.Port(), kManualPolls);
    multi.AddFinder("NY Find");
    multi.AddFinder("KRT Find");
    QVERIFY(console.Answer(*FinderFor(multi, "NY Find"), "Alpha"));
    QVERIFY(console.Answer(*FinderFor(multi, "KRT Find"), "Bravo"));
    QVERIFY(console.Answer(*FinderFor(multi, "NY Find"), "Charlie"));

    QSignalSpy lost(&multi, &cMultiUnitFinder::UnitLost);
    QSignalSpy found(&multi, &cMultiUnitFinder::UnitFound);
    multi.RemoveAllFinders();
    QCOMPARE(Describe(Units(lost)), QStringList({"Charlie / NY Find", "Bravo / KRT Find", "Alpha / NY Find"}));
    QVERIFY(multi.GetUnits().isEmpty());
    QCOMPARE(multi.GetFinderCount(), 0);
    QVERIFY(multi.findChildren<cUnitFinder*>().isEmpty());
    QCOMPARE(found.count(), 0);
    // The finders are gone at once: nothing more comes later, and with nothing known nothing is lost.
    QTest::qWait(20);
    multi.RemoveAllFinders();
    QCOMPARE(lost.count(), 3);
}

void tst_MultiUnitFinder::findsAgainAfterTheFindersAreReplaced()
{
    cLoopbackConsole console;
    cMultiUnitFinder multi(nullptr, console.Address(), console.Port(), kManualPolls);
    QSignalSpy found(&multi, &cMultiUnitFinder::UnitFound);
    multi.AddFinder("NY Find");
    QVERIFY(console.Answer(*FinderFor(multi, "NY Find"), "Desk"));
    multi.RemoveAllFinders();
    multi.AddFinder("NY Find");
    QCOMPARE(multi.GetFinderCount(), 1);
    QVERIFY(console.Answer(*FinderFor(multi, "NY Find"), "Desk"));
    QCOMPARE(found.count(), 2);
    QVERIFY(multi.GetUnits() == QList<sUnit>{MakeUnit("Desk", "NY Find")});
}

void tst_MultiUnitFinder::reportsNothingWhenDestroyed()
{
    cLoopbackConsole console;
    auto* multi = new cMultiUnitFinder(nullptr, console.Address(), console.Port(), kManualPolls);
    multi->AddFinder("NY Find");
    QVERIFY(console.Answer(*FinderFor(*multi, "NY Find"), "Desk"));
    QSignalSpy lost(multi, &cMultiUnitFinder::UnitLost);
    delete multi;
    QCOMPARE(lost.count(), 0);
}

QTEST_GUILESS_MAIN(tst_MultiUnitFinder)
#include "tst_MultiUnitFinder.moc"
