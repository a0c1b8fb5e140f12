#include "network/MultiUnitFinder.h"
#include "network/TCPMIDIInptOutput.h"
#include "tests/network/LinkReader.h"
#include "tests/network/SimulatorProcess.h"
#include "tests/support/RealComponent.h"
#include "tests/support/TestFile.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <QUdpSocket>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
QString WriteScript(QTemporaryDir& Dir, const QString& Text)
{
    return WriteTestFile(Dir.filePath(QStringLiteral("script.txt")), Text.toLatin1());
}

const QStringList kLoopbackPorts = {"--address", "127.0.0.1", "--port", "0", "--discovery-port", "0"};
} // namespace

class tst_ConsoleSimulator : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void answersItsFindTextsWithItsName();
    void reportsTheQueriesItIgnores_data();
    void reportsTheQueriesItIgnores();
    void writesAnIPv6AddressInBrackets();
    void sendsItsScriptToTheLink();
    void printsEachMessageOnItsOwnLine_data();
    void printsEachMessageOnItsOwnLine();
    void dropsAnExclusiveMessageThatNeverEnds();
    void sendsStandardInputLinesOnceALinkConnects();
    void appliesItsFaultModes_data();
    void appliesItsFaultModes();
    void replacesTheLinkWithANewOne();
    void rejectsBadArguments_data();
    void rejectsBadArguments();
    void tellsItsVersion();
};

void tst_ConsoleSimulator::init()
{
    QUILLON_REQUIRE(cSimulatorProcess::Available(),
                    QStringLiteral("the console simulator is not built at %1").arg(cSimulatorProcess::ProgramPath()));
}

void tst_ConsoleSimulator::answersItsFindTextsWithItsName()
{
    cSimulatorProcess sim;
    QVERIFY2(sim.Start(kLoopbackPorts + QStringList{"--name", "Sim Desk", "--junk", "trailing junk", "--find",
                                                    "NY Find", "--find", "KRT Find"}),
             qPrintable(sim.Errors()));
    cMultiUnitFinder multi(nullptr, QHostAddress(QHostAddress::LocalHost), sim.UdpPort, 50);
    multi.AddFinder("NY Find");
    multi.AddFinder("PVX Find");
    multi.AddFinder("KRT Find");
    QTRY_COMPARE(multi.GetUnits().size(), 2);
    QStringList families;
    for (const sUnit& unit : multi.GetUnits())
    {
        // The zero byte ends the name; what follows it is ignored.
        QCOMPARE(unit.Name, QString("Sim Desk"));
        QCOMPARE(unit.Address, QHostAddress("127.0.0.1"));
        families.append(unit.FindString);
    }
    families.sort();
    QCOMPARE(families, QStringList({"KRT Find", "NY Find"}));
}

void tst_ConsoleSimulator::reportsTheQueriesItIgnores_data()
{
    QTest::addColumn<QByteArray>("query");
    QTest::addColumn<QString>("report");
    QTest::newRow("query with a newline, as echo sends it")
        << QByteArray("NY Find\n") << "ignored query \"NY Find\\n\" from 127.0.0.1:";
    QTest::newRow("query with a zero byte and more after it")
        << QByteArray("NY Find\0x", 9) << "ignored query \"NY Find\\0x\" from";
    QTest::newRow("control bytes and quotes escaped")
        << QByteArray("\x01\"\\\xff") << "ignored query \"\\x01\\\"\\\\\\xff\" from";
    QTest::newRow("long datagram cut") << QByteArray(500, 'a') << "\"... (500 bytes) from";
}

void tst_ConsoleSimulator::reportsTheQueriesItIgnores()
{
    QFETCH(QByteArray, query);
    QFETCH(QString, report);
    cSimulatorProcess sim;
    QVERIFY2(sim.Start(kLoopbackPorts + QStringList{"--verbose"}), qPrintable(sim.Errors()));
    QUdpSocket asker;
    QVERIFY(asker.bind(QHostAddress(QHostAddress::LocalHost), 0));
    asker.writeDatagram(query, QHostAddress::LocalHost, sim.UdpPort);
    QTRY_VERIFY2(sim.Errors().contains(report), qPrintable(sim.Errors()));
    QCOMPARE(sim.Errors().contains("a query is the text alone"), query.endsWith('\n'));
    // Nothing but the query text itself is answered.
    QTest::qWait(50);
    QVERIFY(!asker.hasPendingDatagrams());
}

void tst_ConsoleSimulator::writesAnIPv6AddressInBrackets()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHostIPv6, 0))
        QSKIP("no IPv6 loopback here");
    probe.close();
    cSimulatorProcess sim;
    QVERIFY2(sim.Start({"--address", "::1", "--port", "0", "--discovery-port", "0"}), qPrintable(sim.Errors()));
    QVERIFY2(QRegularExpression("ready tcp=\\[::1\\]:\\d+ udp=\\[::1\\]:\\d+ ").match(sim.Errors()).hasMatch(),
             qPrintable(sim.Errors()));
    QVERIFY(sim.TcpPort != 0);
}

void tst_ConsoleSimulator::sendsItsScriptToTheLink()
{
    QTemporaryDir dir;
    const QString script = WriteScript(dir, "# a fader, then a pause, then an exclusive message\n"
                                             "b0 07 64\n"
                                             "sleep 20\n"
                                             "F00102F7   # inline comment\n");
    cSimulatorProcess sim;
    QVERIFY2(sim.Start(kLoopbackPorts + QStringList{"--script", script}), qPrintable(sim.Errors()));
    cTCPMIDIInptOutput link(nullptr, sim.TcpPort);
    cLinkReader reader(link);
    link.ConnectToHost(QHostAddress::LocalHost);
    QTRY_COMPARE(reader.Received, QByteArray::fromHex("b00764f00102f7"));
}

void tst_ConsoleSimulator::printsEachMessageOnItsOwnLine_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("running status written out")
        << QByteArray::fromHex("b007640865") << QStringList({"b0 07 64", "b0 08 65"});
    QTest::newRow("program change has one data byte")
        << QByteArray::fromHex("c005060790") << QStringList({"c0 05", "c0 06", "c0 07"});
    QTest::newRow("clock inside an exclusive message")
        << QByteArray::fromHex("f04142f84344f7") << QStringList({"f8", "f0 41 42 43 44 f7"});
    QTest::newRow("exclusive cut short by a status byte")
        << QByteArray::fromHex("f04142903c7f") << QStringList({"f0 41 42", "90 3c 7f"});
    QTest::newRow("data bytes with no status")
        << QByteArray::fromHex("0102b00102") << QStringList({"01", "02", "b0 01 02"});
    QTest::newRow("exclusive message ends running status")
        << QByteArray::fromHex("903c7ff04142f73e40") << QStringList({"90 3c 7f", "f0 41 42 f7", "3e", "40"});
    QTest::newRow("system common messages")
        << QByteArray::fromHex("f20102f305f6f1") << QStringList({"f2 01 02", "f3 05", "f6"});
}

void tst_ConsoleSimulator::printsEachMessageOnItsOwnLine()
{
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, lines);
    cSimulatorProcess sim;
    QVERIFY2(sim.Start(kLoopbackPorts + QStringList{"--no-discovery"}), qPrintable(sim.Errors()));
    cTCPMIDIInptOutput link(nullptr, sim.TcpPort);
    link.ConnectToHost(QHostAddress::LocalHost);
    QTRY_VERIFY(link.IsConnected());
    // One byte per segment: the simulator must join messages across reads.
    for (char byte : stream)
    {
        link.Write(QByteArray(1, byte));
        QTest::qWait(1);
    }
    QTRY_COMPARE(sim.OutputLines(), lines);
}

void tst_ConsoleSimulator::dropsAnExclusiveMessageThatNeverEnds()
{
    cSimulatorProcess sim;
    QVERIFY2(sim.Start(kLoopbackPorts + QStringList{"--no-discovery"}), qPrintable(sim.Errors()));
    cTCPMIDIInptOutput link(nullptr, sim.TcpPort);
    link.ConnectToHost(QHostAddress::LocalHost);
    QTRY_VERIFY(link.IsConnected());
    // 100 000 data bytes: dropped once 64 KiB are reached, the rest and the late end byte too.
    link.Write(QByteArray(1, '\xF0') + QByteArray(100000, '\x11') + QByteArray::fromHex("f7903c7f"));
    QTRY_COMPARE(sim.OutputLines(), QStringList{"90 3c 7f"});
    QVERIFY2(sim.Errors().contains("an exclusive message reached 65536 bytes without its end byte; dropped"),
             qPrintable(sim.Errors()));
}

void tst_ConsoleSimulator::sendsStandardInputLinesOnceALinkConnects()
{
    cSimulatorProcess sim;
    QVERIFY2(sim.Start(kLoopbackPorts), qPrintable(sim.Errors()));
    sim.Write("c0 05\nnot hex\n# only a comment\n90 3C 7f # a note\n\nb0077f\n");
    QTRY_VERIFY(sim.Errors().contains("not hex"));
    cTCPMIDIInptOutput link(nullptr, sim.TcpPort);
    cLinkReader reader(link);
    link.ConnectToHost(QHostAddress::LocalHost);
    QTRY_COMPARE(reader.Received, QByteArray::fromHex("c005903c7fb0077f"));
    sim.Write("f8\n");
    QTRY_COMPARE(reader.Received, QByteArray::fromHex("c005903c7fb0077ff8"));
    // The last line needs no newline: the end of input sends it.
    sim.Write("fe");
    sim.CloseInput();
    QTRY_COMPARE(reader.Received, QByteArray::fromHex("c005903c7fb0077ff8fe"));
}

void tst_ConsoleSimulator::appliesItsFaultModes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("mostBytes");
    QTest::addColumn<bool>("exactly");
    QTest::addColumn<bool>("endsConnection");
    QTest::newRow("closes after 10 bytes of a flood")
        << QStringList{"--flood", "100000", "--close-after", "10"} << QString() << 10 << true << true;
    QTest::newRow("resets after 300 bytes of a flood")
        << QStringList{"--flood", "100000", "--reset-after", "300"} << QString() << 300 << false << true;
    QTest::newRow("trickles a script byte by byte")
        << QStringList{"--trickle", "1"} << QString("b00764b00865\nf0010203040506f7\n903c7f\n") << 17 << true
        << false;
    QTest::newRow("floods 300 kB") << QStringList{"--flood", "300000"} << QString() << 300000 << true << false;
    QTest::newRow("sends 5000 bytes of garbage")
        << QStringList{"--garbage", "5000", "--seed", "7"} << QString() << 5000 << true << false;
    QTest::newRow("sends 200 kB of garbage, then its script")
        << QStringList{"--garbage", "200000"} << QString("903c7f\n") << 200003 << true << false;
}

void tst_ConsoleSimulator::appliesItsFaultModes()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, script);
    QFETCH(int, mostBytes);
    QFETCH(bool, exactly);
    QFETCH(bool, endsConnection);
    QTemporaryDir dir;
    if (!script.isEmpty())
        arguments << "--script" << WriteScript(dir, script);
    cSimulatorProcess sim;
    QVERIFY2(sim.Start(kLoopbackPorts + arguments), qPrintable(sim.Errors()));
    cTCPMIDIInptOutput link(nullptr, sim.TcpPort);
    cLinkReader reader(link);
    link.ConnectToHost(QHostAddress::LocalHost);
    if (endsConnection)
    {
        QTRY_VERIFY(reader.States.contains("Connected"));
        QTRY_COMPARE(reader.States.last(), QString("Not Connected"));
        QVERIFY(!link.IsConnected());
    }
    if (exactly)
        QTRY_COMPARE_WITH_TIMEOUT(reader.Received.size(), mostBytes, 20000);
    QVERIFY2(reader.Received.size() <= mostBytes, qPrintable(QString::number(reader.Received.size())));
    if (!script.isEmpty() && exactly && mostBytes > 0)
        QVERIFY(reader.Received.toHex().endsWith(script.remove('\n').toLatin1()));
    if (!endsConnection)
        QVERIFY(link.IsConnected());
    if (arguments.contains("--trickle"))
        QVERIFY(reader.Pieces.size() > 1);
}

void tst_ConsoleSimulator::replacesTheLinkWithANewOne()
{
    cSimulatorProcess sim;
    QVERIFY2(sim.Start(kLoopbackPorts), qPrintable(sim.Errors()));
    cTCPMIDIInptOutput first(nullptr, sim.TcpPort);
    cLinkReader firstReader(first);
    first.ConnectToHost(QHostAddress::LocalHost);
    QTRY_VERIFY(first.IsConnected());
    QTRY_VERIFY(sim.Errors().contains("connected"));

    cTCPMIDIInptOutput second(nullptr, sim.TcpPort);
    second.ConnectToHost(QHostAddress::LocalHost);
    QTRY_VERIFY(second.IsConnected());
    QTRY_COMPARE(firstReader.States.last(), QString("Not Connected"));
    second.Write(QByteArray::fromHex("903c7f"));
    QTRY_COMPARE(sim.OutputLines(), QStringList{"90 3c 7f"});
}

void tst_ConsoleSimulator::rejectsBadArguments_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("message");
    QTest::newRow("port that is no number") << QStringList{"--port", "x"} << QString() << "--port";
    QTest::newRow("port out of range") << QStringList{"--discovery-port", "70000"} << QString() << "--discovery-port";
    QTest::newRow("address that is no address") << QStringList{"--address", "300.1.1.1"} << QString()
                                                << "not an IP address";
    QTest::newRow("script line of odd length") << QStringList{} << QString("b00764\nb0076\n") << "script.txt:2";
    QTest::newRow("missing script") << QStringList{"--script", "/nonexistent/quillon/script"} << QString()
                                    << "cannot read the script";
    QTest::newRow("unknown option") << QStringList{"--frobnicate"} << QString() << "Unknown option 'frobnicate'";
    QTest::newRow("option without its value") << QStringList{"--name"} << QString() << "Missing value after '--name'";
    QTest::newRow("stray argument") << QStringList{"extra"} << QString() << "unexpected argument \"extra\"";
    QTest::newRow("close and reset together") << QStringList{"--close-after", "1", "--reset-after", "2"} << QString()
                                              << "--close-after and --reset-after exclude each other";
    QTest::newRow("find without discovery") << QStringList{"--find", "NY Find", "--no-discovery"} << QString()
                                            << "--find and --no-discovery exclude each other";
    QTest::newRow("empty find text") << QStringList{"--find", ""} << QString() << "--find wants a non-empty";
}

void tst_ConsoleSimulator::rejectsBadArguments()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, script);
    QFETCH(QString, message);
    QTemporaryDir dir;
    if (!script.isEmpty())
        arguments << "--script" << WriteScript(dir, script);
    QProcess process;
    process.start(cSimulatorProcess::ProgramPath(), kLoopbackPorts + arguments);
    QVERIFY(process.waitForFinished(15000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 2);
    const QString errors = QString::fromLatin1(process.readAllStandardError());
    QVERIFY2(errors.startsWith("console-sim: ") && errors.contains(message), qPrintable(errors));
}

void tst_ConsoleSimulator::tellsItsVersion()
{
    QProcess process;
    process.start(cSimulatorProcess::ProgramPath(), {"--version"});
    QVERIFY(process.waitForFinished(15000));
    QCOMPARE(process.exitCode(), 0);
    QVERIFY(QRegularExpression("^quillon-console-sim \\d+\\.\\d+\\n$").match(process.readAllStandardOutput()).hasMatch());
}

QTEST_GUILESS_MAIN(tst_ConsoleSimulator)
#include "tst_ConsoleSimulator.moc"
