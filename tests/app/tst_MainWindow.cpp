#include "Common/MIDI/VirtualMIDIPortCloser.h"
#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "app/MainWindowForm.h"
#include "app/MonitorWindow.h"
#include "session/SettingsKeys.h"
#include "tests/app/WindowFixture.h"
#include "tests/network/LoopbackConsole.h"
#include "tests/support/LogCapture.h"

#include <QDate>
#include <QGridLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

using namespace WindowFixture;

namespace
{
// The "MIDI Channel" variables of the loaded map, as "n=1" texts.
QStringList ChannelVariables(const sWindow& Window)
{
    QStringList values;
    for (const cMIDITranslatorVariable& variable : Window.Window->GetMIDITranslatorConfiguration()->GetVariables())
        if (variable.GetName() == "MIDI Channel")
            values << QString("%1=%2").arg(variable.GetVariableName()).arg(variable.GetValue());
    return values;
}

cUnitFinder* Finder(const sWindow& Window)
{
    return Window.Window->findChild<cUnitFinder*>();
}

// A console's TCP side on loopback: accepts the window's link.
struct sLoopbackLink
{
    sLoopbackLink()
    {
        Server.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&Server, &QTcpServer::newConnection, &Server, [this] { Peer = Server.nextPendingConnection(); });
    }
    QTcpServer Server;
    QPointer<QTcpSocket> Peer;
};

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

private slots:
    void initTestCase();
    void init();

    // The form.
    void everyWidgetSitsInItsGridCell_data();
    void everyWidgetSitsInItsGridCell();
    void theFormStartsAsDrawn();

    // Family, protocol, channel, mode and ports.
    void firstStartWithAnEmptyStore();
    void withoutMapsTheWindowStillWorks();
    void aProtocolListedTwiceIsShownOnceAndLoadsWhatIsShown();
    void consolePortsFollowPluggingAndTheStore_data();
    void consolePortsFollowPluggingAndTheStore();
    void hotPlugIsIgnoredInTcpMode();

    // The console network panel.
    void firstConsoleFoundIsSelectedAndNothingStored();
    void savedConsoles_data();
    void savedConsoles();
    void typedAddressesEnableConnect_data();
    void typedAddressesEnableConnect();
    void connectingStoresTheConsoleAndFreezesTheList();
    void aProtocolChangeDropsTheConnection();

    // Tray, about box, destruction.
    void slotsKeepTheirNamesAndOrder();
    void trayMenuAndAboutBox();
    void closingTheWindowClosesTheVirtualPortsFirst();

private:
    cTestPlace mPlace;
};

void tst_MainWindow::initTestCase()
{
    QVERIFY(mPlace.Prepare());
}

void tst_MainWindow::init()
{
    cTestPlace::ClearStore();
}

// ---- The form -----------------------------------------------------------------------------------

void tst_MainWindow::everyWidgetSitsInItsGridCell_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("row");
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("columnSpan");
    QTest::addColumn<QString>("text");

    QTest::newRow("mixer label") << "mMixerTypeLabel" << 1 << 0 << 1 << "Mixer";
    QTest::newRow("mixer list") << "mMixerTypeComboBox" << 1 << 1 << 1 << "";
    QTest::newRow("channel label") << "mMIDIChannelLabel" << 2 << 0 << 1 << "MIDI Channel";
    QTest::newRow("channel list") << "mMIDIChannelComboBox" << 2 << 1 << 1 << "";
    QTest::newRow("protocol label") << "mDAWTypeLabel" << 3 << 0 << 1 << "Protocol";
    QTest::newRow("protocol list") << "mDAWTypeComboBox" << 3 << 1 << 1 << "";
    QTest::newRow("mode row") << "mConnectionModeLayout" << 9 << 0 << 2 << "";
    QTest::newRow("input label") << "mMixerMIDIInLabel" << 10 << 0 << 1 << "Input Port";
    QTest::newRow("input list") << "mMixerMIDIInComboBox" << 10 << 1 << 1 << "";
    QTest::newRow("output label") << "mMixerMIDIOutLabel" << 11 << 0 << 1 << "Output Port";
    QTest::newRow("output list") << "mMixerMIDIOutComboBox" << 11 << 1 << 1 << "";
    QTest::newRow("unit list") << "mUnitComboBox" << 12 << 0 << 2 << "";
    QTest::newRow("address row") << "mIPAddressAndConnectLayout" << 13 << 0 << 2 << "";
}

void tst_MainWindow::everyWidgetSitsInItsGridCell()
{
    QFETCH(QString, name);
    QFETCH(int, row);
    QFETCH(int, column);
    QFETCH(int, columnSpan);
    QFETCH(QString, text);

    QMainWindow window;
    cMainWindowForm form;
    form.SetupUi(&window);
    QGridLayout* grid = window.findChild<QGridLayout*>("gridLayout_3");
    QVERIFY(grid);
    int index = -1;
    if (QWidget* widget = window.findChild<QWidget*>(name))
        index = grid->indexOf(widget);
    else if (QLayout* layout = window.findChild<QLayout*>(name))
        index = grid->indexOf(layout);
    QVERIFY2(index >= 0, qPrintable(name));
    int r, c, rs, cs;
    grid->getItemPosition(index, &r, &c, &rs, &cs);
    QCOMPARE(r, row);
    QCOMPARE(c, column);
    QCOMPARE(rs, 1);
    QCOMPARE(cs, columnSpan);
    if (QLabel* label = qobject_cast<QLabel*>(window.findChild<QWidget*>(name)))
        QCOMPARE(label->text(), text);
}

void tst_MainWindow::theFormStartsAsDrawn()
{
    QMainWindow window;
    cMainWindowForm form;
    form.SetupUi(&window);
    QCOMPARE(window.objectName(), QString("MainWindow"));
    QCOMPARE(window.windowTitle(), QString("Quillon"));
    QCOMPARE(window.minimumSize(), QSize(210, 80));
    QVERIFY(form.mMIDIPortsRadioButton->isChecked());
    QVERIFY(!form.mTCPIPRadioButton->isChecked());
    QCOMPARE(form.mMIDIPortsRadioButton->text(), QString("MIDI Ports"));
    QCOMPARE(form.mTCPIPRadioButton->text(), QString("TCP/IP"));
    QCOMPARE(form.mConnectCheckBox->text(), QString("Connect"));
    QCOMPARE(form.mIPAddressEdit->text(), QString("192.168.1.1"));
    QCOMPARE(form.mIPAddressEdit->inputMask(), QString("000.000.000.000"));
    QCOMPARE(form.mDAWTypeComboBox->minimumWidth(), 230);
    QCOMPARE(form.mDAWTypeLabel->minimumWidth(), 84);
    QVERIFY(!form.mStatusBar->isSizeGripEnabled());
    QCOMPARE(form.mConnectionModeLayout->stretch(0), 1);
    QCOMPARE(form.mConnectionModeLayout->stretch(3), 1);
    QCOMPARE(form.verticalLayout->contentsMargins().top(), 12);
    QCOMPARE(form.gridLayout_3->contentsMargins().bottom(), 0);

    // The mask leaves only digits in the groups; letters and extra dots change nothing.
    form.mIPAddressEdit->clear();
    form.mIPAddressEdit->setFocus();
    form.mIPAddressEdit->setCursorPosition(0);
    QTest::keyClicks(form.mIPAddressEdit, "1a.2b3");
    QCOMPARE(form.mIPAddressEdit->text(), QString("1.23.."));

    // Tab walks the widgets in the order they were made.
    const QStringList chain = {"mMixerMIDIInComboBox", "mMixerTypeComboBox", "mMixerMIDIOutComboBox",
                               "mMIDIPortsRadioButton", "mTCPIPRadioButton", "mUnitComboBox",
                               "mIPAddressEdit", "mConnectCheckBox", "mMIDIChannelComboBox", "mDAWTypeComboBox"};
    QWidget* widget = form.mMixerMIDIInComboBox;
    QStringList walked;
    for (int step = 0; step < chain.size(); ++step)
    {
        walked << widget->objectName();
        do
            widget = widget->nextInFocusChain();
        while (widget->focusPolicy() == Qt::NoFocus || widget->objectName().isEmpty());
    }
    QCOMPARE(walked, chain);
}

// ---- Family, protocol, channel, mode and ports --------------------------------------------------

void tst_MainWindow::firstStartWithAnEmptyStore()
{
    sWindow w(mPlace.Maps());
    QCOMPARE(w.Items("mMixerTypeComboBox"), QStringList({"KRT-24", "Ny-16", "Zeta"}));
    QCOMPARE(w.Current("mMixerTypeComboBox"), QString("KRT-24"));
    QCOMPARE(w.Current("mDAWTypeComboBox"), QString("Cubase"));
    QCOMPARE(w.LoadedFile(), QString("krt_cubase.json"));
    QCOMPARE(w.Current("mMIDIChannelComboBox"), QString("2"));
    QCOMPARE(ChannelVariables(w), QStringList({"n=1"}));
    QVERIFY(w.Checked("mMIDIPortsRadioButton"));
    QCOMPARE(w.Items("mMixerMIDIInComboBox"), QStringList({"-"}));
    QCOMPARE(w.Items("mMixerMIDIOutComboBox"), QStringList({"-"}));
    QVERIFY(!w.Window->isVisible());
    // The mode handler ran once before any family was chosen, at the top level of the store.
    QCOMPARE(Stored("Mode").toString(), QString("MIDI"));
    QCOMPARE(Stored(ModeKey("KRT-24")).toString(), QString("MIDI"));
    QCOMPARE(Stored(MixerTypeKey()).toString(), QString("KRT-24"));
    QCOMPARE(Stored(MIDIChannelKey("KRT-24")).toUInt(), 1u);
    QVERIFY(!QSettings().contains(DefaultUnitNameKey("KRT-24")));
    // The link is not registered while Connect is unchecked.
    QVERIFY(!w.Registry->GetNamedPortNames().contains("Corvane Internal TCP MIDI"));
}

void tst_MainWindow::withoutMapsTheWindowStillWorks()
{
    QTemporaryDir empty;
    cLogCapture log;
    sWindow w(empty.path() + "/");
    QVERIFY(!log.Messages().filter("mixer_map.json").isEmpty());
    QCOMPARE(w.Items("mMixerTypeComboBox"), QStringList());
    QCOMPARE(w.Items("mDAWTypeComboBox"), QStringList());
    QVERIFY(!QSettings().contains(MixerTypeKey()));
    w.Registry->PlugInput("Desk");
    QCOMPARE(w.Items("mMixerMIDIInComboBox"), QStringList({"-", "Desk"}));
    w.Choose("mMixerMIDIInComboBox", "Desk");
    QCOMPARE(Stored(InputPortKey("")).toString(), QString("Desk"));
    w.Click("mTCPIPRadioButton");
    QCOMPARE(w.Status(), QString("Not Connected"));
    w.Choose("mMIDIChannelComboBox", "3");
    QCOMPARE(Stored(MIDIChannelKey("")).toUInt(), 2u);
}

void tst_MainWindow::aProtocolListedTwiceIsShownOnceAndLoadsWhatIsShown()
{
    cLogCapture log;
    Store(DAWTypeKey(), "Cubase");
    sWindow w(mPlace.Maps());
    QCOMPARE(w.Items("mDAWTypeComboBox"), QStringList({"Cubase", "Mackie"}));
    QCOMPARE(w.Current("mDAWTypeComboBox"), QString("Cubase"));
    QCOMPARE(w.LoadedFile(), QString("krt_cubase.json"));
    QVERIFY(!log.Messages().filter("\"Cubase\" is listed more than once").isEmpty());

    // One protocol change is one reload, not two.
    const int made = w.Registry->VirtualPortsMade();
    w.Choose("mDAWTypeComboBox", "Mackie");
    QCOMPARE(w.Registry->VirtualPortsMade(), made + 1);
    w.Choose("mDAWTypeComboBox", "Cubase");
    QCOMPARE(w.Registry->VirtualPortsMade(), made + 2);
    QCOMPARE(w.LoadedFile(), QString("krt_cubase.json"));
}

void tst_MainWindow::consolePortsFollowPluggingAndTheStore_data()
{
    QTest::addColumn<bool>("input");
    QTest::newRow("input") << true;
    QTest::newRow("output") << false;
}

void tst_MainWindow::consolePortsFollowPluggingAndTheStore()
{
    QFETCH(bool, input);
    const char* list = input ? "mMixerMIDIInComboBox" : "mMixerMIDIOutComboBox";
    const QString key = input ? InputPortKey("KRT-24") : OutputPortKey("KRT-24");
    sWindow w(mPlace.Maps());
    auto plug = [&](const QString& Name) { return input ? w.Registry->PlugInput(Name) : w.Registry->PlugOutput(Name); };
    auto unplug = [&](const QString& Name) { input ? w.Registry->UnplugInput(Name) : w.Registry->UnplugOutput(Name); };
    // The DAW's own ports are never offered as console ports.
    QCOMPARE(w.Items(list), QStringList({"-"}));
    plug("Zed Desk");
    plug("Alpha Desk");
    QCOMPARE(w.Items(list), QStringList({"-", "Alpha Desk", "Zed Desk"}));

    w.Choose(list, "Zed Desk");
    QCOMPARE(Stored(key).toString(), QString("Zed Desk"));

    // Pulled out: listed last as offline and still selected; nothing forgotten.
    unplug("Zed Desk");
    QCOMPARE(w.Items(list), QStringList({"-", "Alpha Desk", "(Offline) Zed Desk"}));
    QCOMPARE(w.Current(list), QString("(Offline) Zed Desk"));
    QCOMPARE(Stored(key).toString(), QString("Zed Desk"));

    // Plugged in again: its own name, selected, and used at once.
    cFakeMIDIPort* desk = plug("Zed Desk");
    QCOMPARE(w.Items(list), QStringList({"-", "Alpha Desk", "Zed Desk"}));
    QCOMPARE(w.Current(list), QString("Zed Desk"));
    if (input)
    {
        desk->Deliver(QByteArray::fromHex("b10711"));
        QTRY_COMPARE(w.Registry->VirtualPort("KRT Cubase DAW")->WrittenBytes(), QByteArray::fromHex("e00011"));
    }
    else
    {
        w.Registry->VirtualPort("KRT Cubase DAW")->Deliver(QByteArray::fromHex("e00022"));
        QTRY_COMPARE(desk->WrittenBytes(), QByteArray::fromHex("b10722"));
    }

    // Choosing the offline entry changes nothing; choosing "-" stores no port.
    unplug("Zed Desk");
    w.ChooseIndex(list, 1);
    QCOMPARE(Stored(key).toString(), QString("Alpha Desk"));
    QCOMPARE(w.Current(list), QString("Alpha Desk"));
    w.Choose(list, "(Offline) Zed Desk");
    QCOMPARE(Stored(key).toString(), QString("Alpha Desk"));
    unplug("Alpha Desk");
    w.ChooseIndex(list, 0);
    QCOMPARE(w.Items(list), QStringList({"-", "(Offline) Alpha Desk"}));
    QVERIFY(QSettings().contains(key));
    QCOMPARE(Stored(key).toString(), QString());
}

void tst_MainWindow::hotPlugIsIgnoredInTcpMode()
{
    sWindow w(mPlace.Maps());
    // Several family changes in MIDI ports mode leave one set of hot-plug connections: a device
    // plugged in rebuilds the list once (cleared, then selected: two index changes).
    w.Choose("mMixerTypeComboBox", "Ny-16");
    w.Choose("mMixerTypeComboBox", "KRT-24");
    w.Choose("mDAWTypeComboBox", "Mackie");
    QSignalSpy rebuilt(w.Combo("mMixerMIDIInComboBox"), SIGNAL(currentIndexChanged(int)));
    w.Registry->PlugInput("Early Desk");
    QCOMPARE(rebuilt.count(), 2);
    QCOMPARE(w.Items("mMixerMIDIInComboBox"), QStringList({"-", "Early Desk"}));

    w.Click("mTCPIPRadioButton");
    QVERIFY(w.Checked("mTCPIPRadioButton"));
    w.Registry->PlugInput("Desk");
    w.Registry->PlugOutput("Desk");
    QCOMPARE(w.Items("mMixerMIDIInComboBox"), QStringList({"-", "Early Desk"}));
    QCOMPARE(w.Items("mMixerMIDIOutComboBox"), QStringList({"-"}));
    QVERIFY(w.Get<QWidget>("mMixerMIDIInComboBox")->isHidden());
    QVERIFY(!w.Get<QWidget>("mUnitComboBox")->isHidden());
    QCOMPARE(w.Status(), QString("Not Connected"));

    w.Click("mMIDIPortsRadioButton");
    QCOMPARE(w.Items("mMixerMIDIInComboBox"), QStringList({"-", "Desk", "Early Desk"}));
    QCOMPARE(w.Items("mMixerMIDIOutComboBox"), QStringList({"-", "Desk"}));
    QVERIFY(w.Status().isEmpty());
    QVERIFY(w.Get<QWidget>("mUnitComboBox")->isHidden());
}

// ---- The console network panel ------------------------------------------------------------------

void tst_MainWindow::firstConsoleFoundIsSelectedAndNothingStored()
{
    cLoopbackConsole console;
    Store(MixerTypeKey(), "Ny-16");
    sWindow w(mPlace.Maps(), console.Address(), console.Port());
    w.Click("mTCPIPRadioButton");
    QCOMPARE(w.Items("mUnitComboBox"), QStringList({"Custom"}));
    QVERIFY(w.Enabled("mIPAddressEdit"));
    QCOMPARE(w.Address(), QString("192.168.1.1"));

    Finder(w)->TimerFired();
    QVERIFY(console.WaitForQueries(1));
    QCOMPARE(console.Queries.first().Payload, QByteArray("NY Find"));
    QVERIFY(console.Answer(*Finder(w), "Stage Left", QHostAddress("127.0.0.2")));
    QVERIFY(console.Answer(*Finder(w), "Stage Right", QHostAddress("127.0.0.3")));
    QCOMPARE(w.Items("mUnitComboBox"), QStringList({"Custom", "Stage Left", "Stage Right"}));
    QCOMPARE(w.Current("mUnitComboBox"), QString("Stage Left"));
    QCOMPARE(w.Address(), QString("127.0.0.2"));
    QVERIFY(!w.Enabled("mIPAddressEdit"));
    QVERIFY(w.Enabled("mConnectCheckBox"));
    QVERIFY(!QSettings().contains(DefaultUnitNameKey("Ny-16")));
    QVERIFY(!QSettings().contains(DefaultUnitIPKey("Ny-16")));

    // The user picks the second console, then the Custom entry.
    w.Choose("mUnitComboBox", "Stage Right");
    QCOMPARE(w.Address(), QString("127.0.0.3"));
    w.Choose("mUnitComboBox", "Custom");
    QCOMPARE(w.Address(), QString("192.168.1.1"));
    QVERIFY(w.Enabled("mIPAddressEdit"));
}

void tst_MainWindow::savedConsoles_data()
{
    QTest::addColumn<QString>("savedName");
    QTest::addColumn<QString>("savedAddress");
    QTest::addColumn<QStringList>("answers"); // name@address
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("shownAddress");
    QTest::addColumn<bool>("editable");
    QTest::addColumn<QString>("storedAddress");

    QTest::newRow("saved console found at a new address")
        << "Stage Left" << "127.0.0.9" << QStringList({"Stage Right@127.0.0.3", "Stage Left@127.0.0.2"})
        << "Stage Left" << "127.0.0.2" << false << "127.0.0.2";
    QTest::newRow("saved console renamed on the network")
        << "Stage Left" << "127.0.0.9" << QStringList({"Stage Left 2@127.0.0.2"}) << "Custom" << "127.0.0.9" << true
        << "127.0.0.9";
    QTest::newRow("Custom saved, no console called Custom")
        << "Custom" << "127.0.0.7" << QStringList({"Stage Left@127.0.0.2"}) << "Custom" << "127.0.0.7" << true
        << "127.0.0.7";
    QTest::newRow("Custom saved, a console called Custom answers")
        << "Custom" << "127.0.0.7" << QStringList({"Stage Left@127.0.0.2", "Custom@127.0.0.4"}) << "Custom"
        << "127.0.0.4" << false << "127.0.0.4";
    QTest::newRow("saved address with leading zeros")
        << "Custom" << "127.000.000.010" << QStringList() << "Custom" << "127.0.0.10" << true << "127.000.000.010";
}

void tst_MainWindow::savedConsoles()
{
    QFETCH(QString, savedName);
    QFETCH(QString, savedAddress);
    QFETCH(QStringList, answers);
    QFETCH(QString, selected);
    QFETCH(QString, shownAddress);
    QFETCH(bool, editable);
    QFETCH(QString, storedAddress);

    cLoopbackConsole console;
    Store(MixerTypeKey(), "Ny-16");
    Store(ModeKey("Ny-16"), "TCP");
    Store(DefaultUnitNameKey("Ny-16"), savedName);
    Store(DefaultUnitIPKey("Ny-16"), savedAddress);
    sWindow w(mPlace.Maps(), console.Address(), console.Port());
    QVERIFY(w.Checked("mTCPIPRadioButton"));
    for (const QString& answer : answers)
        QVERIFY(console.Answer(*Finder(w), answer.section('@', 0, 0).toLatin1(), QHostAddress(answer.section('@', 1))));
    QCOMPARE(w.Current("mUnitComboBox"), selected);
    QCOMPARE(w.Address(), shownAddress);
    QCOMPARE(w.Enabled("mIPAddressEdit"), editable);
    QCOMPARE(Stored(DefaultUnitIPKey("Ny-16")).toString(), storedAddress);
    QCOMPARE(Stored(DefaultUnitNameKey("Ny-16")).toString(), savedName);
}

void tst_MainWindow::typedAddressesEnableConnect_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("connectable");

    QTest::newRow("127.0.0.1") << "127.0.0.1" << "127.0.0.1" << true;
    QTest::newRow("255.255.255.255") << "255.255.255.255" << "255.255.255.255" << true;
    QTest::newRow("last group missing") << "10.0.0." << "10.0.0." << false;
    QTest::newRow("a group of 256 cannot be typed") << "10.0.0.256" << "10.0.0.25" << true;
    QTest::newRow("a group of 999 cannot be typed") << "999.1.1.1" << "99.1.1.1" << true;
    QTest::newRow("all zero cannot be completed") << "0.0.0.0" << "0.0.0." << false;
    QTest::newRow("0.0.0.1") << "0.0.0.1" << "0.0.0.1" << true;
    QTest::newRow("nothing") << "" << "..." << false;
}

void tst_MainWindow::typedAddressesEnableConnect()
{
    QFETCH(QString, typed);
    QFETCH(QString, text);
    QFETCH(bool, connectable);
    Store(ModeKey("KRT-24"), "TCP");
    sWindow w(mPlace.Maps());
    QLineEdit* edit = w.Get<QLineEdit>("mIPAddressEdit");
    QVERIFY(edit->isEnabled());
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    edit->home(false);
    QTest::keyClicks(edit, typed);
    QCOMPARE(edit->text(), text);
    QCOMPARE(w.Enabled("mConnectCheckBox"), connectable);
    // Typing stores nothing; only connecting does.
    QVERIFY(!QSettings().contains(DefaultUnitIPKey("KRT-24")));
}

void tst_MainWindow::connectingStoresTheConsoleAndFreezesTheList()
{
    cLoopbackConsole console;
    sLoopbackLink link;
    Store(MixerTypeKey(), "Ny-16");
    Store(ModeKey("Ny-16"), "TCP");
    sWindow w(mPlace.Maps(), console.Address(), console.Port(), kManualPolls, link.Server.serverPort());
    QVERIFY(console.Answer(*Finder(w), "Stage Left", QHostAddress("127.0.0.1")));
    QCOMPARE(w.Current("mUnitComboBox"), QString("Stage Left"));

    w.Click("mConnectCheckBox");
    QVERIFY(w.Checked("mConnectCheckBox"));
    QTRY_COMPARE_WITH_TIMEOUT(w.Status(), QString("Connected"), 20000);
    QVERIFY(!w.Enabled("mUnitComboBox"));
    QVERIFY(!w.Enabled("mIPAddressEdit"));
    QCOMPARE(Stored(DefaultUnitNameKey("Ny-16")).toString(), QString("Stage Left"));
    QCOMPARE(Stored(DefaultUnitIPKey("Ny-16")).toString(), QString("127.0.0.1"));
    QVERIFY(w.Registry->GetNamedPortNames().contains("Corvane Internal TCP MIDI"));

    // While the socket is connected, consoles coming and going leave the list alone.
    QVERIFY(console.Answer(*Finder(w), "Stage Right", QHostAddress("127.0.0.3")));
    QCOMPARE(w.Items("mUnitComboBox"), QStringList({"Custom", "Stage Left"}));
    QVERIFY(w.Checked("mConnectCheckBox"));

    // Unchecking drops the link and frees the list (reconnection is tst_MainWindowRoad's).
    w.Click("mConnectCheckBox");
    QVERIFY(w.Enabled("mUnitComboBox"));
    QVERIFY(!w.Registry->GetNamedPortNames().contains("Corvane Internal TCP MIDI"));
    QVERIFY(console.Answer(*Finder(w), "Stage Back", QHostAddress("127.0.0.4")));
    QCOMPARE(w.Items("mUnitComboBox"), QStringList({"Custom", "Stage Left", "Stage Right", "Stage Back"}));

    // Connecting to a found console has moved the Custom entry to its address.
    w.Choose("mUnitComboBox", "Custom");
    QCOMPARE(w.Address(), QString("127.0.0.1"));
    // A typed address is kept for the next start, read in decimal.
    QLineEdit* edit = w.Get<QLineEdit>("mIPAddressEdit");
    edit->setText("127.000.000.001");
    w.Click("mConnectCheckBox");
    QTRY_COMPARE_WITH_TIMEOUT(w.Status(), QString("Connected"), 20000);
    QCOMPARE(Stored(DefaultUnitNameKey("Ny-16")).toString(), QString("Custom"));
    QCOMPARE(Stored(DefaultUnitIPKey("Ny-16")).toString(), QString("127.0.0.1"));
    w.Click("mConnectCheckBox");
    QCOMPARE(w.Status(), QString("Not Connected"));
    QVERIFY(w.Enabled("mIPAddressEdit"));
}

void tst_MainWindow::aProtocolChangeDropsTheConnection()
{
    sLoopbackLink link;
    Store(ModeKey("KRT-24"), "TCP");
    Store(DefaultUnitIPKey("KRT-24"), "127.0.0.1");
    sWindow w(mPlace.Maps(), QHostAddress::LocalHost, 9, kManualPolls, link.Server.serverPort());
    QCOMPARE(w.Address(), QString("127.0.0.1"));
    w.Click("mConnectCheckBox");
    QTRY_COMPARE_WITH_TIMEOUT(w.Status(), QString("Connected"), 20000);
    const int made = w.Registry->VirtualPortsMade();

    w.Choose("mDAWTypeComboBox", "Mackie");
    QCOMPARE(Stored(DAWTypeKey()).toString(), QString("Mackie"));
    QCOMPARE(w.LoadedFile(), QString("krt_mackie.json"));
    QCOMPARE(w.Registry->VirtualPortsMade(), made + 1);
    QVERIFY(!w.Checked("mConnectCheckBox"));
    QCOMPARE(w.Status(), QString("Not Connected"));
    QVERIFY(w.Checked("mTCPIPRadioButton"));

    // Back to MIDI ports: the status bar is cleared and the link's texts no longer shown.
    w.Click("mConnectCheckBox");
    QTRY_COMPARE_WITH_TIMEOUT(w.Status(), QString("Connected"), 20000);
    w.Click("mMIDIPortsRadioButton");
    QVERIFY(!w.Checked("mConnectCheckBox"));
    QVERIFY(w.Status().isEmpty());
}

// ---- Tray, about box, destruction ---------------------------------------------------------------

void tst_MainWindow::slotsKeepTheirNamesAndOrder()
{
    // Other code connects to the window by these signatures.
    const QStringList expected = {
        "SystemTrayIconActivated(QSystemTrayIcon::ActivationReason)", "ShowPreferences()", "ShowAboutMessageBox()",
        "OpenHelpManual()", "FoundUnitsChanged()", "IPAddressChanged()", "SelectedMixerTypeChanged(int)",
        "SelectedUnitChanged(int)", "SelectedDAWChanged(int)", "ConnectCheckBoxToggled(bool)",
        "MixerConnectionModeToggled()", "RepopulateMixerMIDIInputComboBox()", "MixerMIDIInputSelected(int)",
        "RepopulateMixerMIDIOutputComboBox()", "MixerMIDIOutputSelected(int)", "MIDIChannelComboIndexChanged(int)",
        "TCPMIDIConnectionStateStringChanged(QString)"};
    const QMetaObject& meta = cMainWindow::staticMetaObject;
    QStringList found;
    for (int index = meta.methodOffset(); index < meta.methodCount(); ++index)
    {
        const QMetaMethod method = meta.method(index);
        QCOMPARE(method.methodType(), QMetaMethod::Slot);
        QCOMPARE(method.access(), QMetaMethod::Public);
        found << QString::fromLatin1(method.methodSignature());
    }
    QCOMPARE(found, expected);
}

void tst_MainWindow::trayMenuAndAboutBox()
{
    QVERIFY(QFile::exists(":/Images/Quillon.ico"));
    QVERIFY(QFile::exists(":/Images/Quillon.svg"));
    sWindow w(mPlace.Maps());
    QMenu* menu = w.Window->findChild<QMenu*>();
    QVERIFY(menu);
    QStringList entries;
    for (QAction* action : menu->actions())
        entries << (action->isSeparator() ? QString("|") : action->text());
    QCOMPARE(entries, QStringList({"&Show Preferences", "MIDI &Monitor", "&Lock Console", "|", "&About", "&Help", "|", "&Quit"}));
    QSystemTrayIcon* tray = w.Window->findChild<QSystemTrayIcon*>();
    QVERIFY(tray);
    QCOMPARE(tray->contextMenu(), menu);
    QVERIFY(!tray->icon().isNull());
    QVERIFY(!tray->icon().pixmap(16, 16).isNull());
    QVERIFY(!w.Window->windowIcon().isNull());

    QVERIFY(!w.Window->isVisible());
    emit tray->activated(QSystemTrayIcon::Trigger);
    emit tray->activated(QSystemTrayIcon::MiddleClick);
    QVERIFY(!w.Window->isVisible());
    emit tray->activated(QSystemTrayIcon::DoubleClick);
    QVERIFY(w.Window->isVisible());
    w.Window->close();
    QVERIFY(!w.Window->isVisible());
    w.Action("&Show Preferences")->trigger();
    QVERIFY(w.Window->isVisible());

    QCOMPARE(cMainWindow::AboutTitle(), QString("About Quillon"));
    QVERIFY(cMainWindow::AboutText().startsWith("Quillon 1.40\n\n"));
    QVERIFY(cMainWindow::AboutText().contains(QString::number(QDate::currentDate().year()) + " Corvane\n"));
    QVERIFY(cMainWindow::HelpManualPath().endsWith("/../Resources/HelpManual.pdf"));

    // The about box comes up with the texts and goes with its one button.
    QString title, text;
    QTimer::singleShot(0, [&] {
        QMessageBox* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        title = box->windowTitle();
        text = box->text();
        box->accept();
    });
    w.Action("&About")->trigger();
    QCOMPARE(title, cMainWindow::AboutTitle());
    QCOMPARE(text, cMainWindow::AboutText());

    // Locked: the session holds the DAW back, the tray says so, a new window starts locked.
    w.Action("&Lock Console")->trigger();
    QVERIFY(w.Window->GetSession()->IsConsoleLocked());
    QVERIFY(tray->toolTip().contains("locked"));
    QVERIFY(sWindow(mPlace.Maps()).Window->GetSession()->IsConsoleLocked());
    w.Action("&Lock Console")->trigger();
    QVERIFY(tray->toolTip().isEmpty());
    w.Action("MIDI &Monitor")->trigger();
    QVERIFY(w.Window->GetMonitor()->isVisible());
}

void tst_MainWindow::closingTheWindowClosesTheVirtualPortsFirst()
{
    sLoopbackLink link;
    Store(ModeKey("KRT-24"), "TCP");
    Store(DefaultUnitIPKey("KRT-24"), "127.0.0.1");
    auto w = std::make_unique<sWindow>(mPlace.Maps(), QHostAddress::LocalHost, 9, kManualPolls, link.Server.serverPort());
    w->Click("mConnectCheckBox");
    QTRY_COMPARE_WITH_TIMEOUT(w->Status(), QString("Connected"), 20000);
    gRegistryAtClose = w->Registry;
    gRegistryAliveAtClose = false;
    SetVirtualMIDIPortCloser(&RecordClose);
    QPointer<cMainWindow> window = w->Window.get();
    w.reset();
    SetVirtualMIDIPortCloser(nullptr);
    QVERIFY(window.isNull());
    QVERIFY(gRegistryAliveAtClose);
    QVERIFY(gRegistryAtClose.isNull());
    // The link went down with the window.
    QVERIFY(link.Peer);
    QTRY_COMPARE(link.Peer->state(), QAbstractSocket::UnconnectedState);
}

QTEST_MAIN(tst_MainWindow)
#include "tst_MainWindow.moc"
