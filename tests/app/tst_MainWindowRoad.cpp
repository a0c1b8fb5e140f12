#include "session/SettingsKeys.h"
#include "tests/support/RealComponent.h"
#include "tests/app/WindowFixture.h"
#include "tests/network/SimulatorProcess.h"

#include <QtTest>

using namespace WindowFixture;

// The whole road through the window, as a user takes it: the console simulator answers discovery
// and speaks MIDI over TCP on loopback; the window finds it, the user picks TCP/IP, checks Connect,
// and MIDI crosses the translation engine both ways between the simulator and a virtual port of the
// in-memory registry, lighting the lamps in the status bar. The console restarted comes back by
// itself with the DAW's last values.
class tst_MainWindowRoad : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void consoleAndDawTalkThroughTheWindow_data();
    void consoleAndDawTalkThroughTheWindow();

private:
    cTestPlace mPlace;
};

void tst_MainWindowRoad::initTestCase()
{
    QVERIFY(mPlace.Prepare());
    QUILLON_REQUIRE(cSimulatorProcess::Available(), QStringLiteral("the console simulator is not built"));
}

void tst_MainWindowRoad::consoleAndDawTalkThroughTheWindow_data()
{
    QTest::addColumn<QString>("channel");     // as chosen in the window
    QTest::addColumn<QByteArray>("fromConsole"); // typed into the simulator
    QTest::addColumn<QByteArray>("toDaw");
    QTest::addColumn<QByteArray>("fromDaw");
    QTest::addColumn<QString>("toConsole");   // as the simulator prints it

    QTest::newRow("channel 2 (the default)") << "2" << QByteArray("b1 07 64") << QByteArray::fromHex("e00064")
                                             << QByteArray::fromHex("e00021") << "b1 07 21";
    QTest::newRow("channel 16") << "16" << QByteArray("bf 07 7f") << QByteArray::fromHex("e0007f")
                                << QByteArray::fromHex("e00000") << "bf 07 00";
}

void tst_MainWindowRoad::consoleAndDawTalkThroughTheWindow()
{
    QFETCH(QString, channel);
    QFETCH(QByteArray, fromConsole);
    QFETCH(QByteArray, toDaw);
    QFETCH(QByteArray, fromDaw);
    QFETCH(QString, toConsole);

    cTestPlace::ClearStore();
    QSettings().setValue(MixerTypeKey(), "Ny-16");
    cSimulatorProcess simulator;
    QVERIFY2(simulator.Start({"--port", "0", "--discovery-port", "0", "--name", "Stage Left", "--find", "NY Find"}),
             qPrintable(simulator.Errors()));
    sWindow w(mPlace.Maps(), QHostAddress::LocalHost, simulator.UdpPort, 50, simulator.TcpPort);
    w.Choose("mMIDIChannelComboBox", channel);

    // The user opens the window from the tray and switches to the network.
    w.Action("&Show Preferences")->trigger();
    w.Click("mTCPIPRadioButton");
    QCOMPARE(w.Status(), QString("Not Connected"));
    QTRY_COMPARE_WITH_TIMEOUT(w.Items("mUnitComboBox"), QStringList({"Custom", "Stage Left"}), 20000);
    QCOMPARE(w.Address(), QString("127.0.0.1"));
    w.Click("mConnectCheckBox");
    QTRY_COMPARE_WITH_TIMEOUT(w.Status(), QString("Connected"), 20000);
    QTRY_VERIFY(simulator.Errors().contains("console-sim: connected"));

    // Console to DAW. The lamp is looked at right after it was told, before its 20 ms run out.
    cMIDIActiveWidget* inputLamp = w.Lamp("mMIDIInputActiveWidget");
    cMIDIActiveWidget* outputLamp = w.Lamp("mMIDIOutputActiveWidget");
    QVERIFY(inputLamp && outputLamp);
    bool inputLit = false, outputLit = false;
    connect(w.Window->GetMIDITranslatorConfiguration(), &cMIDITranslatorConfiguration::MixerMIDIInputRead, this,
            [&] { inputLit = inputLit || inputLamp->IsActive(); });
    connect(w.Window->GetMIDITranslatorConfiguration(), &cMIDITranslatorConfiguration::MixerMIDIOutputWrite, this,
            [&] { outputLit = outputLit || outputLamp->IsActive(); });
    cFakeMIDIPort* daw = w.Registry->VirtualPort("Ny Mackie DAW");
    QVERIFY(daw);
    simulator.Write(fromConsole + "\n");
    QTRY_COMPARE(daw->WrittenBytes(), toDaw);
    QVERIFY(inputLit);
    QVERIFY(!outputLit);
    QTRY_VERIFY(!inputLamp->IsActive());

    // DAW to console, from the driver's thread as a real virtual port delivers it.
    daw->DeliverFromForeignThread(fromDaw);
    QTRY_VERIFY2(simulator.OutputLines().contains(toConsole), qPrintable(simulator.OutputLines().join('|')));
    QVERIFY(outputLit);
    QTRY_VERIFY(!outputLamp->IsActive());

    // The console is switched off and on again at the same place: Connect stays checked, the
    // window connects again by itself and the console gets the DAW's last fader value back.
    const quint16 tcpPort = simulator.TcpPort, udpPort = simulator.UdpPort;
    simulator.Kill();
    QTRY_COMPARE_WITH_TIMEOUT(w.Status(), QString("Reconnecting in 1 s"), 20000);
    cSimulatorProcess again;
    QVERIFY2(again.Start({"--port", QString::number(tcpPort), "--discovery-port", QString::number(udpPort), "--name",
                          "Stage Left", "--find", "NY Find"}),
             qPrintable(again.Errors()));
    QTRY_COMPARE_WITH_TIMEOUT(again.OutputLines(), QStringList{toConsole}, 20000);
    QVERIFY(w.Checked("mConnectCheckBox") && w.Current("mUnitComboBox") == "Stage Left" && w.Status() == "Connected");

    // Quitting while connected takes everything down in order; the console sees the link end.
    w.Window.reset();
    QTRY_VERIFY(again.Errors().contains("console-sim: disconnected"));
}

QTEST_MAIN(tst_MainWindowRoad)
#include "tst_MainWindowRoad.moc"
