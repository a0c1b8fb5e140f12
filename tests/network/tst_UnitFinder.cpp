#include "network/UnitFinder.h"
#include "tests/network/LoopbackConsole.h"

#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

namespace
{
const QString kFind = QStringLiteral("NY Find");

QStringList Names(const QSignalSpy& Spy)
{
    QStringList names;
    for (const sUnit& unit : Units(Spy))
        names.append(unit.Name);
    return names;
}

void Poll(cUnitFinder& Finder, int Times)
{
    for (int i = 0; i < Times; ++i)
        Finder.TimerFired();
}

// A finder polled by hand, its console, and what it reports.
struct sFinderUnderTest
{
    cLoopbackConsole console;
    cUnitFinder finder{kFind, nullptr, console.Address(), console.Port(), kManualPolls};
    QSignalSpy found{&finder, &cUnitFinder::UnitFound};
    QSignalSpy lost{&finder, &cUnitFinder::UnitLost};

    bool Answer(const QByteArray& Payload, const QHostAddress& From = QHostAddress(QHostAddress::LocalHost))
    {
        return console.Answer(finder, Payload, From);
    }
};
} // namespace

class tst_UnitFinder : public QObject
{
    Q_OBJECT

private slots:
    void carriesTheUnitThroughAQueuedConnection();
    void sendsTheFindTextAsTheWholeQuery_data();
    void sendsTheFindTextAsTheWholeQuery();
    void namesTheUnitFromTheAnswer_data();
    void namesTheUnitFromTheAnswer();
    void findsARepeatedAnswerOnceAndRestartsItsCountdown();
    void losesSilentUnitsAtTheFifthPollInListOrder();
    void treatsANewNameOrAddressAsANewUnit();
    void keepsAtMost256Units();
    void reportsNothingWhenDestroyed();
    void pollsAndForgetsOnItsOwnTimer();
};

void tst_UnitFinder::carriesTheUnitThroughAQueuedConnection()
{
    sFinderUnderTest t;
    QCOMPARE(QMetaType::type("sUnit"), qMetaTypeId<sUnit>());
    QObject receiver;
    QList<sUnit> received;
    connect(&t.finder, &cUnitFinder::UnitFound, &receiver, [&](sUnit Unit) { received.append(Unit); },
            Qt::QueuedConnection);
    QVERIFY(t.Answer("Desk"));
    QVERIFY(received.isEmpty());
    QTRY_COMPARE(received.size(), 1);
    QCOMPARE(received.first(), MakeUnit("Desk"));
}

void tst_UnitFinder::sendsTheFindTextAsTheWholeQuery_data()
{
    QTest::addColumn<QString>("findText");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("NY family") << "NY Find" << QByteArray("NY Find");
    QTest::newRow("empty text, empty datagram") << "" << QByteArray();
    QTest::newRow("latin-1 letter") << QString::fromUtf8("Caf\xc3\xa9 Find") << QByteArray("Caf\xe9 Find");
}

void tst_UnitFinder::sendsTheFindTextAsTheWholeQuery()
{
    QFETCH(QString, findText);
    QFETCH(QByteArray, payload);
    cLoopbackConsole console;
    cUnitFinder finder(findText, nullptr, console.Address(), console.Port(), kManualPolls);
    QCOMPARE(finder.GetFindString(), findText);
    Poll(finder, 2);
    QVERIFY(console.WaitForQueries(2));
    for (const sReceivedQuery& query : qAsConst(console.Queries))
    {
        QCOMPARE(query.Payload, payload);
        QCOMPARE(query.SenderPort, finder.findChild<QUdpSocket*>()->localPort());
    }
}

void tst_UnitFinder::namesTheUnitFromTheAnswer_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("name");
    QTest::newRow("plain name") << QByteArray("NY-16 Stage") << "NY-16 Stage";
    QTest::newRow("empty answer") << QByteArray() << "";
    QTest::newRow("three letters, zero byte, three letters") << QByteArray("abc\0def", 7) << "abc";
    QTest::newRow("latin-1 letter") << QByteArray("Sc\xe8ne") << QString::fromUtf8("Sc\xc3\xa8ne");
    QTest::newRow("long answer") << QByteArray(4000, 'x') << QString(4000, 'x');
}

void tst_UnitFinder::namesTheUnitFromTheAnswer()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, name);
    sFinderUnderTest t;
    QVERIFY(t.Answer(answer));
    QCOMPARE(t.found.count(), 1);
    const sUnit unit = Units(t.found).first();
    QCOMPARE(unit.Name, name);
    QCOMPARE(unit.FindString, kFind);
    // Plain IPv4, as the user types and sees it, not the IPv4-mapped form the socket reports.
    QCOMPARE(unit.Address.protocol(), QAbstractSocket::IPv4Protocol);
    QCOMPARE(unit.Address.toString(), QString("127.0.0.1"));
}

void tst_UnitFinder::findsARepeatedAnswerOnceAndRestartsItsCountdown()
{
    sFinderUnderTest t;
    QVERIFY(t.Answer("Desk"));
    Poll(t.finder, 2);
    QVERIFY(t.Answer("Desk"));
    QVERIFY(t.Answer("Desk"));
    QCOMPARE(Names(t.found), QStringList{"Desk"});

    // Restarted at five by the answers: four more polls keep it, the fifth loses it.
    Poll(t.finder, 4);
    QCOMPARE(t.lost.count(), 0);
    Poll(t.finder, 1);
    QCOMPARE(Names(t.lost), QStringList{"Desk"});
    Poll(t.finder, 10);
    QCOMPARE(t.lost.count(), 1);
}

void tst_UnitFinder::losesSilentUnitsAtTheFifthPollInListOrder()
{
    sFinderUnderTest t;
    QVERIFY(t.Answer("Alpha"));
    QVERIFY(t.Answer("Bravo"));
    QVERIFY(t.Answer("Charlie"));
    Poll(t.finder, 1);
    QVERIFY(t.Answer("Charlie"));
    QVERIFY(t.Answer("Delta"));
    QCOMPARE(Names(t.found), QStringList({"Alpha", "Bravo", "Charlie", "Delta"}));

    Poll(t.finder, 3);
    QCOMPARE(t.lost.count(), 0);
    Poll(t.finder, 1);
    // Alpha and Bravo fell silent together: both go at the same poll, in the order they were found.
    QCOMPARE(Names(t.lost), QStringList({"Alpha", "Bravo"}));
    QCOMPARE(Units(t.lost).first(), MakeUnit("Alpha"));
    Poll(t.finder, 1);
    QCOMPARE(Names(t.lost), QStringList({"Alpha", "Bravo", "Charlie", "Delta"}));

    // Gone units come back as new finds.
    QVERIFY(t.Answer("Bravo"));
    QCOMPARE(Names(t.found).last(), QString("Bravo"));
    QCOMPARE(t.found.count(), 5);
}

void tst_UnitFinder::treatsANewNameOrAddressAsANewUnit()
{
    sFinderUnderTest t;
    QVERIFY(t.Answer("Desk"));
    QVERIFY(t.Answer("Desk renamed"));
    QVERIFY(t.Answer("Desk", QHostAddress("127.0.0.2")));
    QCOMPARE(Names(t.found), QStringList({"Desk", "Desk renamed", "Desk"}));
    QVERIFY(Units(t.found).at(2).Address == QHostAddress("127.0.0.2"));

    // Only the renamed unit and the moved one keep answering: the old record runs out.
    for (int poll = 0; poll < 5; ++poll)
    {
        t.finder.TimerFired();
        QVERIFY(t.Answer("Desk renamed"));
        QVERIFY(t.Answer("Desk", QHostAddress("127.0.0.2")));
    }
    QCOMPARE(Units(t.lost), QList<sUnit>{MakeUnit("Desk")});
}

void tst_UnitFinder::keepsAtMost256Units()
{
    sFinderUnderTest t;
    QVERIFY(t.Answer("Unit 0"));
    t.finder.TimerFired();
    for (int i = 1; i < cUnitFinder::kMostUnits; ++i)
        QVERIFY(t.Answer(QStringLiteral("Unit %1").arg(i).toLatin1()));
    QCOMPARE(t.found.count(), 256);

    QVERIFY(t.Answer("Unit 256"));
    QCOMPARE(t.found.count(), 256);

    // Unit 0 runs out one poll before the others and makes room.
    Poll(t.finder, 4);
    QCOMPARE(Names(t.lost), QStringList{"Unit 0"});
    QVERIFY(t.Answer("Unit 256"));
    QCOMPARE(t.found.count(), 257);
    QCOMPARE(Names(t.found).last(), QString("Unit 256"));
    QVERIFY(t.Answer("Unit 0"));
    QCOMPARE(t.found.count(), 257);
}

void tst_UnitFinder::reportsNothingWhenDestroyed()
{
    cLoopbackConsole console;
    QPointer<cUnitFinder> finder = new cUnitFinder(kFind, nullptr, console.Address(), console.Port(), kManualPolls);
    QSignalSpy lost(finder.data(), &cUnitFinder::UnitLost);
    QVERIFY(console.Answer(*finder, "Alpha"));
    QVERIFY(console.Answer(*finder, "Bravo"));
    delete finder.data();
    QCOMPARE(lost.count(), 0);
}

void tst_UnitFinder::pollsAndForgetsOnItsOwnTimer()
{
    cLoopbackConsole console;
    bool answering = true;
    cUnitFinder finder(kFind, nullptr, console.Address(), console.Port(), 50);
    QUdpSocket answerer;
    QVERIFY(answerer.bind(QHostAddress(QHostAddress::LocalHost), 0));
    // Answers arrive through the finder's own notification here, as they do in the application.
    int answered = 0;
    QTimer relay;
    connect(&relay, &QTimer::timeout, this, [&] {
        while (answering && answered < console.Queries.size())
        {
            QCOMPARE(console.Queries.at(answered).Payload, QByteArray("NY Find"));
            answerer.writeDatagram("Timer Desk", QHostAddress(QHostAddress::LocalHost),
                                   console.Queries.at(answered).SenderPort);
            ++answered;
        }
    });
    relay.start(1);
    QSignalSpy found(&finder, &cUnitFinder::UnitFound);
    QSignalSpy lost(&finder, &cUnitFinder::UnitLost);
    QTRY_COMPARE(found.count(), 1);
    QCOMPARE(Names(found), QStringList{"Timer Desk"});

    answering = false;
    const int lastAnswered = answered;
    QTRY_COMPARE(lost.count(), 1);
    QCOMPARE(Names(lost), QStringList{"Timer Desk"});
    // The last answer came after poll number lastAnswered: five more polls were needed.
    QTRY_VERIFY(console.Queries.size() >= lastAnswered + cUnitFinder::kCountdown);
    QCOMPARE(found.count(), 1);
}

QTEST_GUILESS_MAIN(tst_UnitFinder)
#include "tst_UnitFinder.moc"
