// Discovery on loopback, polled by hand: the finders of a multi-finder (one per family) name a
// console from its answer (Latin-1, up to a zero byte) at its plain IPv4 address, keep a console
// that goes on answering and lose one that falls silent at the fifth poll, in the order found; the
// multi-finder's list follows. (The queries' text is the simulator's test's and the window's.)

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
        texts.append(unit.Name + " / " + unit.FindString + " / " + unit.Address.toString());
    return texts;
}

// A multi-finder polled by hand and the loopback console its finders ask.
struct sMultiUnderTest
{
    cLoopbackConsole console;
    cMultiUnitFinder multi{nullptr, console.Address(), console.Port(), kManualPolls};
    QSignalSpy found{&multi, &cMultiUnitFinder::UnitFound};
    QSignalSpy lost{&multi, &cMultiUnitFinder::UnitLost};

    cUnitFinder* Finder(const QString& FindString)
    {
        for (cUnitFinder* finder : multi.findChildren<cUnitFinder*>())
            if (finder->GetFindString() == FindString)
                return finder;
        return nullptr;
    }
    bool Answer(const QString& FindString, const QByteArray& Payload, const QHostAddress& From = QHostAddress::LocalHost)
    {
        cUnitFinder* finder = Finder(FindString);
        return finder && console.Answer(*finder, Payload, From);
    }
    void Poll()
    {
        for (cUnitFinder* finder : multi.findChildren<cUnitFinder*>())
            finder->TimerFired();
    }
};
} // namespace

class tst_UnitFinder : public QObject
{
    Q_OBJECT

private slots:
    void keepsAnsweringConsolesAndLosesSilentOnes();
};

void tst_UnitFinder::keepsAnsweringConsolesAndLosesSilentOnes()
{
    sMultiUnderTest t;
    t.multi.AddFinder("NY Find");
    t.multi.AddFinder("KRT Find");
    // One console of both families, and others that a new name or address makes new.
    QVERIFY(t.Answer("NY Find", "Desk"));
    QVERIFY(t.Answer("KRT Find", "Desk"));
    QVERIFY(t.Answer("NY Find", QByteArray("Sc\xe8ne\0more", 10)));
    QVERIFY(t.Answer("NY Find", "Desk", QHostAddress("127.0.0.2")));
    QVERIFY(t.Answer("NY Find", "Desk"));
    QCOMPARE(Describe(Units(t.found)), QStringList({"Desk / NY Find / 127.0.0.1", "Desk / KRT Find / 127.0.0.1",
                                                    "Sc\u00e8ne / NY Find / 127.0.0.1", "Desk / NY Find / 127.0.0.2"}));

    // Only the KRT answer and the moved console go on answering, one poll after another.
    for (int poll = 1; poll <= cUnitFinder::kCountdown + 2; ++poll)
    {
        t.Poll();
        QCOMPARE(t.lost.count(), poll < cUnitFinder::kCountdown ? 0 : 2);
        QVERIFY(t.Answer("KRT Find", "Desk"));
        QVERIFY(t.Answer("NY Find", "Desk", QHostAddress("127.0.0.2")));
    }
    // Those that fell silent together go at the same poll, in the order they were found.
    QCOMPARE(Describe(Units(t.lost)), QStringList({"Desk / NY Find / 127.0.0.1", "Sc\u00e8ne / NY Find / 127.0.0.1"}));
    QCOMPARE(Describe(t.multi.GetUnits()), QStringList({"Desk / KRT Find / 127.0.0.1", "Desk / NY Find / 127.0.0.2"}));
    QCOMPARE(t.found.count(), 4);
}

QTEST_GUILESS_MAIN(tst_UnitFinder)
#include "tst_UnitFinder.moc"
