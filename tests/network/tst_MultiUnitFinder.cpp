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

// A multi-finder polled by hand and the loopback console its finders ask.
struct sMultiUnderTest
{
    cLoopbackConsole console;
    cMultiUnitFinder multi{nullptr, console.Address(), console.Port(), kManualPolls};

    // Makes the finder of FindString take in Payload as an answer.
    bool Answer(const QString& FindString, const QByteArray& Payload)
    {
        cUnitFinder* finder = FinderFor(multi, FindString);
        return finder && console.Answer(*finder, Payload);
    }
};
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
    sMultiUnderTest t;
    for (const char* text : {"NY Find", "NY Find", "ny find", ""})
        t.multi.AddFinder(text);
    QCOMPARE(t.multi.GetFinderCount(), 3);
    QCOMPARE(t.multi.findChildren<cUnitFinder*>().size(), 3);
    // Each finder queries the multi-finder's destination with its own text; an empty one is zero bytes long.
    for (cUnitFinder* finder : t.multi.findChildren<cUnitFinder*>())
        finder->TimerFired();
    QVERIFY(t.console.WaitForQueries(3));
    QList<QByteArray> payloads;
    for (const sReceivedQuery& query : qAsConst(t.console.Queries))
        payloads.append(query.Payload);
    std::sort(payloads.begin(), payloads.end());
    QCOMPARE(payloads, QList<QByteArray>({QByteArray(), QByteArray("NY Find"), QByteArray("ny find")}));
}

void tst_MultiUnitFinder::mergesTheFamiliesInTheOrderFound()
{
    sMultiUnderTest t;
    QSignalSpy found(&t.multi, &cMultiUnitFinder::UnitFound);
    t.multi.AddFinder("NY Find");
    t.multi.AddFinder("KRT Find");

    // One console that answers both families is listed once per family.
    QVERIFY(t.Answer("KRT Find", "Desk"));
    QVERIFY(t.Answer("NY Find", "Desk"));
    QVERIFY(t.Answer("NY Find", "Stage"));
    QVERIFY(t.Answer("NY Find", "Desk"));
    const QList<sUnit> expected = {MakeUnit("Desk", "KRT Find"), MakeUnit("Desk", "NY Find"),
                                   MakeUnit("Stage", "NY Find")};
    QCOMPARE(Describe(t.multi.GetUnits()), Describe(expected));
    QVERIFY(t.multi.GetUnits() == expected);
    QVERIFY(Units(found) == expected);
}

void tst_MultiUnitFinder::forgetsAUnitItsFinderLost()
{
    sMultiUnderTest t;
    QSignalSpy lost(&t.multi, &cMultiUnitFinder::UnitLost);
    t.multi.AddFinder("NY Find");
    t.multi.AddFinder("KRT Find");
    QVERIFY(t.Answer("NY Find", "Desk"));
    QVERIFY(t.Answer("KRT Find", "Desk"));

    for (int poll = 0; poll < cUnitFinder::kCountdown; ++poll)
    {
        for (cUnitFinder* finder : t.multi.findChildren<cUnitFinder*>())
            finder->TimerFired();
        QVERIFY(t.Answer("KRT Find", "Desk"));
    }
    QVERIFY(Units(lost) == QList<sUnit>{MakeUnit("Desk", "NY Find")});
    QVERIFY(t.multi.GetUnits() == QList<sUnit>{MakeUnit("Desk", "KRT Find")});
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
    sMultiUnderTest t;
    t.multi.AddFinder("NY Find");
    t.multi.AddFinder("KRT Find");
    QVERIFY(t.Answer("NY Find", "Alpha"));
    QVERIFY(t.Answer("KRT Find", "Bravo"));
    QVERIFY(t.Answer("NY Find", "Charlie"));

    QSignalSpy lost(&t.multi, &cMultiUnitFinder::UnitLost);
    QSignalSpy found(&t.multi, &cMultiUnitFinder::UnitFound);
    t.multi.RemoveAllFinders();
    QCOMPARE(Describe(Units(lost)), QStringList({"Charlie / NY Find", "Bravo / KRT Find", "Alpha / NY Find"}));
    QVERIFY(t.multi.GetUnits().isEmpty());
    QCOMPARE(t.multi.GetFinderCount(), 0);
    QVERIFY(t.multi.findChildren<cUnitFinder*>().isEmpty());
    QCOMPARE(found.count(), 0);
    // The finders are gone at once: nothing more comes later, and with nothing known nothing is lost.
    QTest::qWait(20);
    t.multi.RemoveAllFinders();
    QCOMPARE(lost.count(), 3);
}

void tst_MultiUnitFinder::findsAgainAfterTheFindersAreReplaced()
{
    sMultiUnderTest t;
    QSignalSpy found(&t.multi, &cMultiUnitFinder::UnitFound);
    t.multi.AddFinder("NY Find");
    QVERIFY(t.Answer("NY Find", "Desk"));
    t.multi.RemoveAllFinders();
    t.multi.AddFinder("NY Find");
    QCOMPARE(t.multi.GetFinderCount(), 1);
    QVERIFY(t.Answer("NY Find", "Desk"));
    QCOMPARE(found.count(), 2);
    QVERIFY(t.multi.GetUnits() == QList<sUnit>{MakeUnit("Desk", "NY Find")});
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
