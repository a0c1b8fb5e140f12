#include "network/UnitFinder.h"
#include "tests/network/LoopbackConsole.h"

#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

namespace
{
// Long enough that the finder's own timer never fires during a test: the test polls by hand.
constexpr int kManualPolls = 24 * 3600 * 1000;
const QString kFind = QStringLiteral("NY Find");

sUnit MakeUnit(const QString& Name, const QString& Address = QStringLiteral("127.0.0.1"),
               const QString& FindString = kFind)
{
    sUnit unit;
    unit.Address = QHostAddress(Address);
    unit.Name = Name;
    unit.FindString = FindString;
    return unit;
}

QList<sUnit> Units(const QSignalSpy& Spy)
{
    QList<sUnit> units;
    for (const QList<QVariant>& arguments : Spy)
        units.append(qvariant_cast<sUnit>(arguments.value(0)));
    return units;
}

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
} // namespace

class tst_UnitFinder : public QObject
{
    Q_OBJECT

private slots:
    void registersTheUnitTypeUnderItsName();
    void comparesUnitsOnAllThreeFields();
    void sendsTheFindTextAsTheWholeQuery_data();
    void sendsTheFindTextAsTheWholeQuery();
    void namesTheUnitFromTheAnswer_data();
    void namesTheUnitFromTheAnswer();
    void findsARepeatedAnswerOnceAndRestartsItsCountdown();
    void keepsAUnitThatAnswersEveryPoll();
    void losesSilentUnitsAtTheFifthPollInListOrder();
    void treatsANewNameOrAddressAsANewUnit();
    void keepsAtMost256Units();
    void reportsNothingWhenDestroyed();
    void pollsAndForgetsOnItsOwnTimer();
};

void tst_UnitFinder::registersTheUnitTypeUnderItsName()
{
    cLoopbackConsole console;
    cUnitFinder finder(kFind, nullptr, console.Address(), console.Port(), kManualPolls);
    const int id = QMetaType::type("sUnit");
    QVERIFY(id != QMetaType::UnknownType);
    QCOMPARE(id, qMetaTypeId<sUnit>());
    const QVariant stored = QVariant::fromValue(MakeUnit("Desk"));
    QCOMPARE(qvariant_cast<sUnit>(stored), MakeUnit("Desk"));

    // A queued connection by signature carries the unit.
    QObject receiver;
    QList<sUnit> received;
    connect(&finder, &cUnitFinder::UnitFound, &receiver, [&](sUnit Unit) { received.append(Unit); },
            Qt::QueuedConnection);
    QVERIFY(console.Answer(finder, "Desk"));
    QVERIFY(received.isEmpty());
    QTRY_COMPARE(received.size(), 1);
    QCOMPARE(received.first(), MakeUnit("Desk"));
}

void tst_UnitFinder::comparesUnitsOnAllThreeFields()
{
    const sUnit desk = MakeUnit("Desk");
    QVERIFY(desk == MakeUnit("Desk"));
    QVERIFY(desk != MakeUnit("desk"));
    QVERIFY(desk != MakeUnit("Desk", "127.0.0.2"));
    QVERIFY(desk != MakeUnit("Desk", "127.0.0.1", "KRT Find"));
}

void tst_UnitFinder::sendsTheFindTextAsTheWholeQuery_data()
{
    QTest::addColumn<QString>("findText");
    QTest::addColumn<QByteArray>("payload");
    QTest::newRow("NY family") << "NY Find" << QByteArray("NY Find");
    QTest::newRow("KRT family") << "KRT Find" << QByteArray("KRT Find");
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
    finder.TimerFired();
    finder.TimerFired();
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
    QTest::newRow("zero byte first") << QByteArray("\0abc", 4) << "";
    QTest::newRow("latin-1 letter") << QByteArray("Sc\xe8ne") << QString::fromUtf8("Sc\xc3\xa8ne");
    QTest::newRow("long answer") << QByteArray(4000, 'x') << QString(4000, 'x');
}

void tst_UnitFinder::namesTheUnitFromTheAnswer()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, name);
    cLoopbackConsole console;
    cUnitFinder finder(kFind, nullptr, console.Address(), console.Port(), kManualPolls);
    QSignalSpy found(&finder, &cUnitFinder::UnitFound);
    QVERIFY(console.Answer(finder, answer));
    QCOMPARE(found.count(), 1);
    const sUnit unit = Units(found).first();
    QCOMPARE(unit.Name, name);
    QCOMPARE(unit.FindString, kFind);
    // Plain IPv4, as the user types and sees it, not the IPv4-mapped form the socket reports.
    QVERIFY2(unit.Address == QHostAddress("127.0.0.1"), qPrintable(unit.Address.toString()));
    QCOMPARE(unit.Address.protocol(), QAbstractSocket::IPv4Protocol);
    QCOMPARE(unit.Address.toString(), QString("127.0.0.1"));
}

void tst_UnitFinder::findsARepeatedAnswerOnceAndRestartsItsCountdown()
{
    cLoopbackConsole console;
    cUnitFinder finder(kFind, nullptr, console.Address(), console.Port(), kManualPolls);
    QSignalSpy found(&finder, &cUnitFinder::UnitFound);
    QSignalSpy lost(&finder, &cUnitFinder::UnitLost);

    QVERIFY(console.Answer(finder, "Desk"));
    Poll(finder, 2);
    QVERIFY(console.Answer(finder, "Desk"));
    QVERIFY(console.Answer(finder, "Desk"));
    QCOMPARE(Names(found), QStringList{"Desk"});

    // Restarted at five by the answers: four more polls keep it, the fifth loses it.
    Poll(finder, 4);
    QCOMPARE(lost.count(), 0);
    Poll(finder, 1);
    QCOMPARE(Names(lost), QStringList{"Desk"});
    Poll(finder, 10);
    QCOMPARE(lost.count(), 1);
}

void tst_UnitFinder::keepsAUnitThatAnswersEveryPoll()
{
    cLoopbackConsole console;
    cUnitFinder finder(kFind, nullptr, console.Address(), console.Port(), kManualPolls);
    QSignalSpy found(&finder, &cUnitFinder::UnitFound);
    QSignalSpy lost(&finder, &cUnitFinder::UnitLost);
    for (int poll = 0; poll < 20; ++poll)
    {
        finder.TimerFired();
        QVERIFY(console.Answer(finder, "Desk"));
    }
    QCOMPARE(found.count(), 1);
    QCOMPARE(lost.count(), 0);
}

void tst_UnitFinder::losesSilentUnitsAtTheFifthPollInListOrder()
{
    cLoopbackConsole console;
    cUnitFinder finder(kFind, nullptr, console.Address(), console.Port(), kManualPolls);
    QSignalSpy found(&finder, &cUnitFinder::UnitFound);
    QSignalSpy lost(&finder, &cUnitFinder::UnitLost);

    QVERIFY(console.Answer(finder, "Alpha"));
    QVERIFY(console.Answer(finder, "Bravo"));
    QVERIFY(console.Answer(finder, "Charlie"));
    Poll(finder, 1);
    QVERIFY(console.Answer(finder, "Charlie"));
    QVERIFY(console.Answer(finder, "Delta"));
    QCOMPARE(Names(found), QStringList({"Alpha", "Bravo", "Charlie", "Delta"}));

    Poll(finder, 3);
    QCOMPARE(lost.count(), 0);
    Poll(finder, 1);
    // Alpha and Bravo fell silent together: both go at the same poll, in the order they were found.
    QCOMPARE(Names(lost), QStringList({"Alpha", "Bravo"}));
    QCOMPARE(Units(lost).first(), MakeUnit("Alpha"));
    Poll(finder, 1);
    QCOMPARE(Names(lost), QStringList({"Alpha", "Bravo", "Charlie", "Delta"}));

    // Gone units come back as new finds.
    QVERIFY(console.Answer(finder, "Bravo"));
    QCOMPARE(Names(found).last(), QString("Bravo"));
    QCOMPARE(found.count(), 5);
}

void tst_UnitFinder::treatsANewNameOrAddressAsANewUnit()
{
    cLoopbackConsole console;
    cUnitFinder finder(kFind, nullptr, console.Address(), console.Port(), kManualPolls);
    QSignalSpy found(&finder, &cUnitFinder::UnitFound);
    QSignalSpy lost(&finder, &cUnitFinder::UnitLost);

    QVERIFY(console.Answer(finder, "Desk"));
    QVERIFY(console.Answer(finder, "Desk renamed"));
    QVERIFY(console.Answer(finder, "Desk", QHostAddress("127.0.0.2")));
    QCOMPARE(Names(found), QStringList({"Desk", "Desk renamed", "Desk"}));
    QVERIFY(Units(found).at(2).Address == QHostAddress("127.0.0.2"));

    // Only the renamed unit and the moved one keep answering: the old record runs out.
    for (int poll = 0; poll < 5; ++poll)
    {
        finder.TimerFired();
        QVERIFY(console.Answer(finder, "Desk renamed"));
        QVERIFY(console.Answer(finder, "Desk", QHostAddress("127.0.0.2")));
    }
    QCOMPARE(lost.count(), 1);
    QVERIFY(Units(lost).first().Address == QHostAddress("127.0.0.1"));
    QCOMPARE(Units(lost).first().Name, QString("Desk"));
}

void tst_UnitFinder::keepsAtMost256Units()
{
    cLoopbackConsole console;
    cUnitFinder finder(kFind, nullptr, console.Address(), console.Port(), kManualPolls);
    QSignalSpy found(&finder, &cUnitFinder::UnitFound);
    QSignalSpy lost(&finder, &cUnitFinder::UnitLost);

    QVERIFY(console.Answer(finder, "Unit 0"));
    finder.TimerFired();
    for (int i = 1; i < cUnitFinder::kMostUnits; ++i)
        QVERIFY(console.Answer(finder, QStringLiteral("Unit %1").arg(i).toLatin1()));
    QCOMPARE(found.count(), 256);

    QVERIFY(console.Answer(finder, "Unit 256"));
    QCOMPARE(found.count(), 256);

    // Unit 0 runs out one poll before the others and makes room.
    Poll(finder, 4);
    QCOMPARE(Names(lost), QStringList{"Unit 0"});
    QVERIFY(console.Answer(finder, "Unit 256"));
    QCOMPARE(found.count(), 257);
    QCOMPARE(Names(found).last(), QString("Unit 256"));
    QVERIFY(console.Answer(finder, "Unit 0"));
    QCOMPARE(found.count(), 257);
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
