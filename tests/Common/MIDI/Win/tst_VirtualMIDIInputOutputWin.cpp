#include "Common/MIDI/Virtual/VirtualMIDIInputOutputWin.h"
#include "Common/MIDI/Virtual/VirtualMIDIPortTable.h"
#include "tests/Common/MIDI/Win/Announcements.h"
#include "tests/support/LogCapture.h"
#include "tests/support/winapi/WinApiSimulation.h"

#include <QtTest>

#include <memory>

// Virtual ports through the simulated driver: what a Write sends, driver ports that outlive their
// objects until CloseAll, a driver that is missing or refuses a port, and bytes from the DAW that
// arrive on the driver's thread and are read on the GUI thread.
class tst_VirtualMIDIInputOutputWin : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void sendsEachCompleteMessageOnItsOwn_data();
    void sendsEachCompleteMessageOnItsOwn();
    void keepsDriverPortsForLaterObjectsOfTheName();
    void logsEveryObjectOfANameTheDriverRefused_data();
    void logsEveryObjectOfANameTheDriverRefused();
    void bringsBytesFromTheDawToTheGuiThread();
    void closesEveryDriverPortOnceAndOutlivesIt();

private:
    std::unique_ptr<cAnnouncements> mHeard;
};

namespace
{
QString LibraryName()
{
    return QString::fromWCharArray(cVirtualMIDIDriverWin::LibraryName());
}

QString Created(const QString& Name)
{
    return QStringLiteral("create %1 6553 0 0").arg(Name);
}
} // namespace

void tst_VirtualMIDIInputOutputWin::init()
{
    cVirtualMIDIPortTable::CloseAll();
    cWinApiSimulation::Reset();
    mHeard = std::make_unique<cAnnouncements>();
}

void tst_VirtualMIDIInputOutputWin::cleanup()
{
    mHeard.reset();
    cVirtualMIDIPortTable::CloseAll();
    cWinApiSimulation::Reset();
}

void tst_VirtualMIDIInputOutputWin::sendsEachCompleteMessageOnItsOwn_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<QStringList>("sent");

    const auto writes = [](std::initializer_list<const char*> Hex) {
        QList<QByteArray> list;
        for (const char* hex : Hex)
            list << QByteArray::fromHex(hex);
        return list;
    };
    QTest::newRow("running status, two notes") << writes({"903c7f3d00"}) << QStringList{"90 3c 7f", "90 3d 00"};
    QTest::newRow("channel kept") << writes({"9e3c7f"}) << QStringList{"9e 3c 7f"};
    QTest::newRow("every channel message kind")
        << writes({"803c40a03c10b00764c005d020e00040"}) << QStringList{"80 3c 40", "a0 3c 10", "b0 07 64", "c0 05", "d0 20", "e0 00 40"};
    QTest::newRow("system common") << writes({"f121f21020f303f6"}) << QStringList{"f1 21", "f2 10 20", "f3 03", "f6"};
    QTest::newRow("active sensing") << writes({"fe"}) << QStringList();
    QTest::newRow("timing clock") << writes({"f8"}) << QStringList();
    QTest::newRow("clock inside a note") << writes({"903cf87f"}) << QStringList{"90 3c 7f"};
    QTest::newRow("exclusive message in one call") << writes({"f0002001060100f7"}) << QStringList{"f0 00 20 01 06 01 00 f7"};
    QTest::newRow("exclusive message over two writes") << writes({"f00020", "0106f7"}) << QStringList{"f0 00 20 01 06 f7"};
    QTest::newRow("note over three writes") << writes({"90", "3c", "7f"}) << QStringList{"90 3c 7f"};
    QTest::newRow("incomplete note") << writes({"903c"}) << QStringList();
    QTest::newRow("data before any status") << writes({"3c7f903c7f"}) << QStringList{"90 3c 7f"};
    QTest::newRow("undefined status") << writes({"f4903c7f"}) << QStringList{"90 3c 7f"};
    QTest::newRow("nothing") << writes({""}) << QStringList();
}

void tst_VirtualMIDIInputOutputWin::sendsEachCompleteMessageOnItsOwn()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QStringList, sent);

    cLogCapture log;
    cVirtualMIDIInputOutputWin port("Quillon MIDI DAW", nullptr);
    for (const QByteArray& write : writes)
        port.Write(write);
    QStringList expected{"load " + LibraryName(), Created("Quillon MIDI DAW")};
    for (const QString& message : sent)
        expected << "send Quillon MIDI DAW " + message;
    QCOMPARE(cWinApiSimulation::DriverCalls(), expected);
    // The undefined status byte is the parser's to report; the port itself logs nothing.
    QCOMPARE(log.Messages().filter("Virtual"), QStringList());
}

void tst_VirtualMIDIInputOutputWin::keepsDriverPortsForLaterObjectsOfTheName()
{
    auto first = std::make_unique<cVirtualMIDIInputOutputWin>("DAW", nullptr);
    auto other = std::make_unique<cVirtualMIDIInputOutputWin>("Other", nullptr);
    first.reset();
    // Between two objects of the name the DAW's bytes have nowhere to go.
    QVERIFY(cWinApiSimulation::SendFromDaw("DAW", QByteArray::fromHex("903c7f")));

    auto second = std::make_unique<cVirtualMIDIInputOutputWin>("DAW", nullptr);
    QCOMPARE(cWinApiSimulation::DriverCalls(), (QStringList{"load " + LibraryName(), Created("DAW"), Created("Other")}));
    QCOMPARE(cWinApiSimulation::OpenDriverPorts(), (QStringList{"DAW", "Other"}));
    mHeard->Listen(second.get());
    QVERIFY(cWinApiSimulation::SendFromDaw("DAW", QByteArray::fromHex("b00764")));
    QByteArray read;
    second->Read(read);
    QCOMPARE(read, QByteArray::fromHex("b00764"));
    second->Write(QByteArray::fromHex("c001"));
    QCOMPARE(cWinApiSimulation::DriverCalls().last(), QStringLiteral("send DAW c0 01"));

    // A second object of a name that is still attached takes the port over; the first, destroyed
    // later, does not detach its successor.
    auto third = std::make_unique<cVirtualMIDIInputOutputWin>("DAW", nullptr);
    mHeard->Listen(third.get());
    second.reset();
    QVERIFY(cWinApiSimulation::SendFromDaw("DAW", QByteArray::fromHex("f6")));
    third->Read(read);
    QCOMPARE(read, QByteArray::fromHex("f6"));
    QCOMPARE(cWinApiSimulation::DriverCalls().filter("create").size(), 2);
}

void tst_VirtualMIDIInputOutputWin::logsEveryObjectOfANameTheDriverRefused_data()
{
    QTest::addColumn<bool>("driverInstalled");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("driverCalls");

    // The driver refuses the first port: every object of that name says so, with the driver's
    // error, and the driver is not asked again. Other names still get their ports.
    QTest::newRow("driver refuses the port") << true
                                             << QStringList{"Virtual port not created, Error 5\r\n", "Virtual port not created, Error 5\r\n"}
                                             << QStringList{"load " + LibraryName(), Created("DAW"), Created("Other")};
    // Without the driver Quillon still runs: one line names the library, each port says it has none.
    QTest::newRow("driver not installed")
        << false
        << QStringList{"Virtual MIDI driver library " + LibraryName() + " not loaded, Error 126: virtual ports cannot reach a DAW",
                       "Virtual port not created, Error 126\r\n", "Virtual port not created, Error 126\r\n",
                       "Virtual port not created, Error 126\r\n"}
        << QStringList{"load " + LibraryName()};
}

void tst_VirtualMIDIInputOutputWin::logsEveryObjectOfANameTheDriverRefused()
{
    QFETCH(bool, driverInstalled);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, driverCalls);

    cLogCapture log;
    cWinApiSimulation::SetDriverInstalled(driverInstalled);
    cWinApiSimulation::FailNextPortCreation(5);
    {
        cVirtualMIDIInputOutputWin refused("DAW", nullptr);
        mHeard->Listen(&refused);
        // A port without a driver port takes writes and sends nothing.
        refused.Write(QByteArray::fromHex("903c7f"));
        QByteArray read("stale");
        refused.Read(read);
        QCOMPARE(read, QByteArray());
    }
    cVirtualMIDIInputOutputWin again("DAW", nullptr);
    again.Write(QByteArray::fromHex("903c7f"));
    cVirtualMIDIInputOutputWin other("Other", nullptr);
    QCOMPARE(log.Messages(), messages);
    for (const QString& file : log.Files())
        QVERIFY2(file.contains("VirtualMIDI"), qPrintable(file));
    QCOMPARE(cWinApiSimulation::DriverCalls(), driverCalls);
}

void tst_VirtualMIDIInputOutputWin::bringsBytesFromTheDawToTheGuiThread()
{
    cVirtualMIDIInputOutputWin port("DAW", nullptr);
    // Nobody listens yet: the bytes are dropped.
    QVERIFY(cWinApiSimulation::SendFromDaw("DAW", QByteArray::fromHex("903c7f")));
    mHeard->Listen(&port);
    QVERIFY(cWinApiSimulation::SendNullFromDaw("DAW"));
    QByteArray read;
    port.Read(read);
    QCOMPARE(read, QByteArray());

    const QList<QByteArray> chunks{QByteArray::fromHex("903c7f"), QByteArray::fromHex("f07e7f0601f7"), QByteArray::fromHex("b0")};
    for (const QByteArray& chunk : chunks)
        QVERIFY(cWinApiSimulation::SendFromDaw("DAW", chunk));
    QTRY_COMPARE(mHeard->Count, 3);
    QVERIFY(!mHeard->OffGuiThread);
    // The chunks come back in order, as one stream, and only once.
    port.Read(read);
    QCOMPARE(read, chunks[0] + chunks[1] + chunks[2]);
    port.Read(read);
    QCOMPARE(read, QByteArray());
}

void tst_VirtualMIDIInputOutputWin::closesEveryDriverPortOnceAndOutlivesIt()
{
    auto daw = std::make_unique<cVirtualMIDIInputOutputWin>("DAW", nullptr);
    auto refused = std::unique_ptr<cVirtualMIDIInputOutputWin>();
    cWinApiSimulation::FailNextPortCreation(5);
    {
        cLogCapture quiet;
        refused = std::make_unique<cVirtualMIDIInputOutputWin>("Refused", nullptr);
    }
    auto other = std::make_unique<cVirtualMIDIInputOutputWin>("Other", nullptr);
    other.reset();

    cVirtualMIDIPortTable::CloseAll();
    QCOMPARE(cWinApiSimulation::OpenDriverPorts(), QStringList());
    QStringList closed = cWinApiSimulation::DriverCalls().filter("close");
    closed.sort();
    QCOMPARE(closed, (QStringList{"close DAW", "close Other"}));
    QCOMPARE(cWinApiSimulation::DriverCalls().last(), QStringLiteral("unload"));

    // The window closes the driver ports before the configuration deletes its port objects: they
    // still write, read and go without a driver call and without starting a new table.
    const int calls = cWinApiSimulation::DriverCalls().size();
    daw->Write(QByteArray::fromHex("903c7f"));
    QByteArray read;
    daw->Read(read);
    daw.reset();
    refused.reset();
    cVirtualMIDIPortTable::CloseAll();
    QCOMPARE(cWinApiSimulation::DriverCalls().size(), calls);

    // After that a port of an old name is a new driver port of a new table.
    cVirtualMIDIInputOutputWin reborn("DAW", nullptr);
    QCOMPARE(cWinApiSimulation::DriverCalls().mid(calls), (QStringList{"load " + LibraryName(), Created("DAW")}));
    QCOMPARE(cVirtualMIDIPortTable::Instance()->FindObject(nullptr), nullptr);
}

QTEST_GUILESS_MAIN(tst_VirtualMIDIInputOutputWin)
#include "tst_VirtualMIDIInputOutputWin.moc"
