// The console simulator as its users meet it, on loopback: it answers its find texts with its
// name (cut at the zero byte), sends the lines typed on its standard input (hex, or a family's
// commands) once a link connects, and prints what the link sends, one message a line, running
// status written out, a family's controls explained.

#include "network/TCPMIDIInptOutput.h"
#include "network/UnitFinder.h"
#include "tests/network/SimulatorProcess.h"
#include "tests/support/RealComponent.h"

#include <QSignalSpy>
#include <QtTest>

class tst_ConsoleSimulator : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void actsAsAConsole_data();
    void actsAsAConsole();
};

void tst_ConsoleSimulator::init()
{
    QUILLON_REQUIRE(cSimulatorProcess::Available(),
                    QStringLiteral("the console simulator is not built at %1").arg(cSimulatorProcess::ProgramPath()));
}

void tst_ConsoleSimulator::actsAsAConsole_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("findText");     // a finder's query
    QTest::addColumn<QString>("name");         // the name it finds
    QTest::addColumn<QByteArray>("typed");     // on the simulator's standard input
    QTest::addColumn<QByteArray>("received");  // what the link gets
    QTest::addColumn<QByteArray>("sent");      // what the link sends
    QTest::addColumn<QStringList>("printed");  // the simulator's standard output
    QTest::newRow("named console of two families, hex lines")
        << QStringList{"--name", "Sim Desk", "--junk", "trailing junk", "--find", "NY Find", "--find", "KRT Find"}
        << "KRT Find" << "Sim Desk" << QByteArray("c0 05\nnot hex\n90 3C 7f # a note\n\nb0077f\n")
        << QByteArray::fromHex("c005903c7fb0077f") << QByteArray::fromHex("b007640865f04142f84344f7c00506")
        << QStringList({"b0 07 64", "b0 08 65", "f8", "f0 41 42 43 44 f7", "c0 05", "c0 06"});
    QTest::newRow("KRT family on channel 3") << QStringList{"--family", "krt", "--channel", "3"} << "KRT Find"
                                             << "Quillon Console Sim" << QByteArray("fader 1 8192\n")
                                             << QByteArray::fromHex("b26301b26200b20640b22600")
                                             << QByteArray::fromHex("b26301b26201b2067fb2267f")
                                             << QStringList({"b2 63 01", "b2 62 01", "b2 06 7f", "b2 26 7f   # fader 2 = 16383"});
    QTest::newRow("Ny family's bank and select keys") << QStringList{"--family", "ny"} << "NY Find" << "Quillon Console Sim"
                                                      << QByteArray("key bank-right down\nselect 16 on\n")
                                                      << QByteArray::fromHex("b0567fb06f7f") << QByteArray::fromHex("b0567f6f00")
                                                      << QStringList({"b0 56 7f   # bank-right lamp on", "b0 6f 00   # select 16 off"});
}

void tst_ConsoleSimulator::actsAsAConsole()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, findText);
    QFETCH(QString, name);
    QFETCH(QByteArray, typed);
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, sent);
    QFETCH(QStringList, printed);
    cSimulatorProcess sim;
    QVERIFY2(sim.Start(QStringList{"--address", "127.0.0.1", "--port", "0", "--discovery-port", "0"} + arguments),
             qPrintable(sim.Errors()));
    sim.Write(typed);
    cUnitFinder finder(findText, nullptr, QHostAddress(QHostAddress::LocalHost), sim.UdpPort, 50);
    QSignalSpy found(&finder, &cUnitFinder::UnitFound);
    cTCPMIDIInptOutput link(nullptr, sim.TcpPort);
    QByteArray atLink;
    connect(&link, &cMIDIInput::MIDIReadReady, this, [&] {
        QByteArray piece;
        link.Read(piece);
        atLink += piece;
    });
    link.ConnectToHost(QHostAddress::LocalHost);
    QTRY_VERIFY(link.IsConnected());
    QTRY_COMPARE(atLink, received);
    link.Write(sent);
    QTRY_COMPARE(sim.OutputLines(), printed);
    QTRY_VERIFY(!found.isEmpty());
    const sUnit unit = qvariant_cast<sUnit>(found.first().first());
    QCOMPARE(unit.Name + " @ " + unit.Address.toString(), name + " @ 127.0.0.1");
}

QTEST_GUILESS_MAIN(tst_ConsoleSimulator)
#include "tst_ConsoleSimulator.moc"
