// The preferences window as a view over the console session, driven through its widgets as a user
// does (offscreen): the console simulator on loopback for the network road, the in-memory registry
// for the console's MIDI ports and the DAW's virtual ports, map files of the test's own.

#include "Common/MIDI/VirtualMIDIPortCloser.h"
#include "app/MonitorWindow.h"
#include "session/SettingsKeys.h"
#include "tests/app/WindowFixture.h"
#include "tests/network/LoopbackConsole.h"
#include "tests/network/SimulatorProcess.h"
#include "tests/support/RealComponent.h"

#include <QPointer>

using namespace WindowFixture;

namespace
{
QPointer<cFakeSystemMIDIConfiguration> gRegistryAtClose;
bool gRegistryAliveAtClose = false;
void RecordClose()
{
    gRegistryAliveAtClose = !gRegistryAtClose.isNull();
}
} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private:
    cTestPlace mPlace;

private slots:
    void initTestCase() { QVERIFY(mPlace.Prepare()); }
    void init() { cTestPlace::ClearStore(); }

    // The whole road: the simulator answers discovery and speaks MIDI over TCP; the user picks TCP/IP
    // and checks Connect; MIDI on channel 16 (the last in the list) crosses the engine both ways
    // between the simulator and a virtual port, lighting the lamps. The console restarted comes back
    // by itself with the DAW's last values.
    void consoleAndDawTalkThroughTheWindow()
    {
        QUILLON_REQUIRE(cSimulatorProcess::Available(), QStringLiteral("the console simulator is not built"));

        Store(MixerTypeKey(), "Ny-16");
        cSimulatorProcess simulator;
        const QStringList arguments{"--name", "Stage Left", "--find", "NY Find", "--discovery-port"};
        QVERIFY2(simulator.Start(arguments + QStringList{"0", "--port", "0"}), qPrintable(simulator.Errors()));
        sWindow w(mPlace.Maps(), QHostAddress::LocalHost, simulator.UdpPort, 50, simulator.TcpPort);
        w.Choose("mMIDIChannelComboBox", "16");

        w.Action("&Show Preferences")->trigger();
        w.Click("mTCPIPRadioButton");
        QTRY_COMPARE_WITH_TIMEOUT(w.Items("mUnitComboBox"), QStringList({"Custom", "Stage Left"}), 20000);
        QCOMPARE(w.Address(), QString("127.0.0.1"));
        w.Click("mConnectCheckBox");
        QTRY_COMPARE_WITH_TIMEOUT(w.Status(), QString("Connected"), 20000);
        QVERIFY(!w.Enabled("mUnitComboBox") && !w.Enabled("mIPAddressEdit"));
        QCOMPARE(Stored(DefaultUnitNameKey("Ny-16")).toString() + "@" + Stored(DefaultUnitIPKey("Ny-16")).toString(),
                 QString("Stage Left@127.0.0.1"));

        // Console to DAW. Each lamp is looked at as it is told, before its 20 ms run out.
        cMIDIActiveWidget* inputLamp = w.Lamp("mMIDIInputActiveWidget");
        cMIDIActiveWidget* outputLamp = w.Lamp("mMIDIOutputActiveWidget");
        bool inputLit = false, outputLit = false;
        connect(w.Window->GetMIDITranslatorConfiguration(), &cMIDITranslatorConfiguration::MixerMIDIInputRead, this,
                [&] { inputLit = inputLit || inputLamp->IsActive(); });
        connect(w.Window->GetMIDITranslatorConfiguration(), &cMIDITranslatorConfiguration::MixerMIDIOutputWrite, this,
                [&] { outputLit = outputLit || outputLamp->IsActive(); });
        cFakeMIDIPort* daw = w.Registry->VirtualPort("Ny Mackie DAW");
        simulator.Write("bf 07 64\n");
        QTRY_COMPARE(daw->WrittenBytes(), QByteArray::fromHex("e00064"));
        QVERIFY(inputLit && !outputLit);
        QTRY_VERIFY(!inputLamp->IsActive());

        // DAW to console, from the driver's thread as a real virtual port delivers it.
        daw->DeliverFromForeignThread(QByteArray::fromHex("e00021"));
        QTRY_VERIFY2(simulator.OutputLines().contains("bf 07 21"), qPrintable(simulator.OutputLines().join('|')));
        QVERIFY(outputLit);

        // The console switched off and on again at the same place: Connect stays checked, the window
        // connects again by itself and the console gets the DAW's last fader value back.
        const QStringList same{QString::number(simulator.UdpPort), "--port", QString::number(simulator.TcpPort)};
        simulator.Kill();
        QTRY_COMPARE_WITH_TIMEOUT(w.Status(), QString("Reconnecting in 1 s"), 20000);
        cSimulatorProcess again;
        QVERIFY2(again.Start(arguments + same), qPrintable(again.Errors()));
        QTRY_COMPARE_WITH_TIMEOUT(again.OutputLines(), QStringList{"bf 07 21"}, 20000);
        QVERIFY(w.Checked("mConnectCheckBox") && w.Current("mUnitComboBox") == "Stage Left" && w.Status() == "Connected");

        // Quitting while connected closes the DAW's ports while the registry still stands; the console
        // sees the link end.
        gRegistryAtClose = w.Registry;
        gRegistryAliveAtClose = false;
        SetVirtualMIDIPortCloser(&RecordClose);
        w.Window.reset();
        SetVirtualMIDIPortCloser(nullptr);
        QVERIFY(gRegistryAliveAtClose && gRegistryAtClose.isNull());
        QTRY_VERIFY(again.Errors().contains("console-sim: disconnected"));
    }

    // MIDI ports mode from a first start: the map's families and protocols, the console ports as they
    // are plugged and pulled, remembered per family, MIDI through the chosen ports both ways.
    void consolePortsFollowPluggingAndTheStore()
    {
        sWindow w(mPlace.Maps());
        QCOMPARE(w.Items("mMixerTypeComboBox"), QStringList({"KRT-24", "Ny-16", "Zeta"}));
        // A protocol listed twice is shown once, and what is shown is loaded.
        QCOMPARE(w.Items("mDAWTypeComboBox"), QStringList({"Cubase", "Mackie"}));
        QCOMPARE(w.LoadedFile(), QString("krt_cubase.json"));
        QCOMPARE(w.Current("mMIDIChannelComboBox"), QString("2"));
        QVERIFY(w.Checked("mMIDIPortsRadioButton") && !w.Window->isVisible());

        // The DAW's own ports are never offered as console ports.
        const char* in = "mMixerMIDIInComboBox";
        QCOMPARE(w.Items(in), QStringList({"-"}));
        w.Registry->PlugInput("Zed Desk");
        w.Registry->PlugInput("Alpha Desk");
        cFakeMIDIPort* deskOut = w.Registry->PlugOutput("Zed Desk");
        QCOMPARE(w.Items(in), QStringList({"-", "Alpha Desk", "Zed Desk"}));
        w.Choose(in, "Zed Desk");
        w.Choose("mMixerMIDIOutComboBox", "Zed Desk");

        // Pulled out: listed last as offline, still selected, nothing forgotten. Plugged in again: its
        // own name, selected, and used at once.
        w.Registry->UnplugInput("Zed Desk");
        QCOMPARE(w.Items(in), QStringList({"-", "Alpha Desk", "(Offline) Zed Desk"}));
        QCOMPARE(w.Current(in), QString("(Offline) Zed Desk"));
        QCOMPARE(Stored(InputPortKey("KRT-24")).toString(), QString("Zed Desk"));
        cFakeMIDIPort* deskIn = w.Registry->PlugInput("Zed Desk");
        QCOMPARE(w.Current(in), QString("Zed Desk"));
        cFakeMIDIPort* daw = w.Registry->VirtualPort("KRT Cubase DAW");
        deskIn->Deliver(QByteArray::fromHex("b10711"));
        QTRY_COMPARE(daw->WrittenBytes(), QByteArray::fromHex("e00011"));
        daw->Deliver(QByteArray::fromHex("e00022"));
        QTRY_COMPARE(deskOut->WrittenBytes(), QByteArray::fromHex("b10722"));

        // Choosing the offline entry changes nothing; "-" stores no port.
        w.Registry->UnplugInput("Zed Desk");
        w.Choose(in, "Alpha Desk");
        w.Choose(in, "(Offline) Zed Desk");
        QCOMPARE(Stored(InputPortKey("KRT-24")).toString(), QString("Alpha Desk"));

        // A protocol change is one reload; family changes leave one set of hot-plug connections (a
        // device plugged in rebuilds the list once: cleared, first entry, the saved port).
        const int made = w.Registry->VirtualPortsMade();
        w.Choose("mDAWTypeComboBox", "Mackie");
        QCOMPARE(w.Registry->VirtualPortsMade(), made + 1);
        QCOMPARE(w.LoadedFile(), QString("krt_mackie.json"));
        w.Choose("mMixerTypeComboBox", "Ny-16");
        w.Choose("mMixerTypeComboBox", "KRT-24");
        QSignalSpy rebuilt(w.Combo(in), SIGNAL(currentIndexChanged(int)));
        w.Registry->PlugInput("Early Desk");
        QCOMPARE(rebuilt.count(), 3);

        // In TCP/IP mode plugging is ignored; back in MIDI ports mode the lists catch up.
        w.Click("mTCPIPRadioButton");
        w.Registry->PlugInput("Desk");
        QCOMPARE(w.Items(in), QStringList({"-", "Alpha Desk", "Early Desk"}));
        QVERIFY(w.Get<QWidget>(in)->isHidden() && !w.Get<QWidget>("mUnitComboBox")->isHidden());
        QCOMPARE(w.Status(), QString("Not Connected"));
        w.Click("mMIDIPortsRadioButton");
        QCOMPARE(w.Items(in), QStringList({"-", "Alpha Desk", "Desk", "Early Desk"}));
        QVERIFY(w.Status().isEmpty());
    }

    // A console saved for the family is found by its name wherever it answers now; with none saved
    // the first found is chosen and nothing is stored. A found console's address cannot be typed over.
    void savedConsoles_data()
    {
        QTest::addColumn<bool>("saved");
        QTest::newRow("nothing saved") << false;
        QTest::newRow("saved console at a new address") << true;
    }

    void savedConsoles()
    {
        QFETCH(bool, saved);
        cLoopbackConsole console;
        Store(MixerTypeKey(), "Ny-16");
        Store(ModeKey("Ny-16"), "TCP");
        if (saved)
        {
            Store(DefaultUnitNameKey("Ny-16"), "Stage Right");
            Store(DefaultUnitIPKey("Ny-16"), "127.0.0.9");
        }
        sWindow w(mPlace.Maps(), console.Address(), console.Port());
        for (const QString answer : {"Stage Left@127.0.0.2", "Stage Right@127.0.0.3"})
            QVERIFY(console.Answer(*w.Window->findChild<cUnitFinder*>(), answer.section('@', 0, 0).toLatin1(),
                                   QHostAddress(answer.section('@', 1))));
        QCOMPARE(w.Current("mUnitComboBox") + "@" + w.Address(), QString(saved ? "Stage Right@127.0.0.3" : "Stage Left@127.0.0.2"));
        QVERIFY(!w.Enabled("mIPAddressEdit"));
        QCOMPARE(Stored(DefaultUnitIPKey("Ny-16")).toString(), QString(saved ? "127.0.0.3" : ""));
    }

    // Typed through the address mask: Connect is offered for a whole address only.
    void typedAddresses_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("connectable");

        QTest::newRow("127.0.0.1") << "127.0.0.1" << "127.0.0.1" << true;
        QTest::newRow("a group of 256 cannot be typed") << "10.0.0.256" << "10.0.0.25" << true;
        QTest::newRow("all zero cannot be completed") << "0.0.0.0" << "0.0.0." << false;
    }

    void typedAddresses()
    {
        QFETCH(QString, typed);
        QFETCH(QString, text);
        QFETCH(bool, connectable);
        Store(ModeKey("KRT-24"), "TCP");
        sWindow w(mPlace.Maps());
        QLineEdit* edit = w.Get<QLineEdit>("mIPAddressEdit");
        edit->clear();
        edit->home(false);
        QTest::keyClicks(edit, typed);
        QCOMPARE(edit->text(), text);
        QCOMPARE(w.Enabled("mConnectCheckBox"), connectable);
    }

    void trayEntries()
    {
        sWindow w(mPlace.Maps());
        QSystemTrayIcon* tray = w.Window->findChild<QSystemTrayIcon*>();
        QVERIFY(tray && !w.Window->isVisible());
        emit tray->activated(QSystemTrayIcon::DoubleClick);
        QVERIFY(w.Window->isVisible());

        // Locked: the session holds the DAW back, the tray says so, the family's next start is locked.
        w.Action("&Lock Console")->trigger();
        QVERIFY(w.Window->GetSession()->IsConsoleLocked() && tray->toolTip().contains("locked"));
        QVERIFY(sWindow(mPlace.Maps()).Window->GetSession()->IsConsoleLocked());
        w.Choose("mMixerTypeComboBox", "Ny-16");
        QVERIFY(!w.Window->GetSession()->IsConsoleLocked() && tray->toolTip().isEmpty());
        w.Action("MIDI &Monitor")->trigger();
        QVERIFY(w.Window->GetMonitor()->isVisible());
    }
};

QTEST_MAIN(tst_MainWindow)
#include "tst_MainWindow.moc"
