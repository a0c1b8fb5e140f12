// One table of stored settings (written under the literal keys) that the window and the bridge must
// read alike: family, protocol, channel shown and applied (to every channel variable), the console.

#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "session/SessionSettings.h"
#include "tests/app/WindowFixture.h"
#include "tools/bridge/BridgeOptions.h"

#include <QSettings>
#include <QtTest>

using namespace WindowFixture;

class tst_SessionSettings : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void bothFrontEndsReadTheStoreAlike_data();
    void bothFrontEndsReadTheStoreAlike();
    void whatTheWindowStoresTheBridgeRuns();
    void bridgeOptionsBeatTheStore_data();
    void bridgeOptionsBeatTheStore();

private:
    QString Bridge(const QStringList& Arguments = {});
    cTestPlace mPlace;
};

void tst_SessionSettings::initTestCase()
{
    QVERIFY(mPlace.Prepare());
}

void tst_SessionSettings::init()
{
    cTestPlace::ClearStore();
}

// Settings as "key=value" texts; what both front ends make of them as
// "family|protocol|channel shown|channel applied|console" (console: "tcp ADDRESS" or "midi IN>OUT").
void tst_SessionSettings::bothFrontEndsReadTheStoreAlike_data()
{
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QString>("result");

    const QString tcp = "KRT-24/Mode=TCP";
    QTest::newRow("nothing but the mode") << QStringList{tcp} << "KRT-24|Cubase|2|1|tcp 192.168.1.1";
    QTest::newRow("Ny, the old name of Ny-16") << QStringList{"MixerType=Ny", "Ny-16/Mode=TCP"} << "Ny-16|Mackie|2|1|tcp 192.168.1.1";
    QTest::newRow("a family the map lost") << QStringList{"MixerType=Oskel 9", tcp} << "KRT-24|Cubase|2|1|tcp 192.168.1.1";
    QTest::newRow("protocol shared by families") << QStringList{"MixerType=Ny-16", "DAWType=HUI", "Ny-16/Mode=TCP"} << "Ny-16|HUI|2|1|tcp 192.168.1.1";
    QTest::newRow("protocol the family lacks") << QStringList{"DAWType=HUI", tcp} << "KRT-24|Cubase|2|1|tcp 192.168.1.1";
    QTest::newRow("channel 0") << QStringList{tcp, "KRT-24/MIDIChannel=0"} << "KRT-24|Cubase|1|0|tcp 192.168.1.1";
    QTest::newRow("channel 15") << QStringList{tcp, "KRT-24/MIDIChannel=15"} << "KRT-24|Cubase|16|15|tcp 192.168.1.1";
    QTest::newRow("channel 16, out of range") << QStringList{tcp, "KRT-24/MIDIChannel=16"} << "KRT-24|Cubase|2|1|tcp 192.168.1.1";
    QTest::newRow("channel 259, cut to 8 bits") << QStringList{tcp, "KRT-24/MIDIChannel=259"} << "KRT-24|Cubase|4|3|tcp 192.168.1.1";
    QTest::newRow("channel as text") << QStringList{tcp, "KRT-24/MIDIChannel=loud"} << "KRT-24|Cubase|1|0|tcp 192.168.1.1";
    QTest::newRow("another family's channel") << QStringList{tcp, "Ny-16/MIDIChannel=9"} << "KRT-24|Cubase|2|1|tcp 192.168.1.1";
    QTest::newRow("address with leading zeros") << QStringList{tcp, "KRT-24/Connection/DefaultUnitIP=192.168.001.010"}
                                                << "KRT-24|Cubase|2|1|tcp 192.168.1.10";
    QTest::newRow("Custom console") << QStringList{tcp, "KRT-24/Connection/DefaultUnitName=Custom", "KRT-24/Connection/DefaultUnitIP=10.2.2.2"}
                                    << "KRT-24|Cubase|2|1|tcp 10.2.2.2";
    QTest::newRow("console by name, not answering") << QStringList{tcp, "KRT-24/Connection/DefaultUnitName=Desk", "KRT-24/Connection/DefaultUnitIP=10.1.1.9"}
                                                    << "KRT-24|Cubase|2|1|tcp 10.1.1.9";
    QTest::newRow("MIDI ports") << QStringList{"KRT-24/Mode=MIDI", "KRT-24/MIDI/InputPort=USB In", "KRT-24/MIDI/OutputPort=USB Out"}
                                << "KRT-24|Cubase|2|1|midi USB In>USB Out";
}

void tst_SessionSettings::bothFrontEndsReadTheStoreAlike()
{
    QFETCH(QStringList, settings);
    QFETCH(QString, result);
    for (const QString& entry : settings)
        QSettings().setValue(entry.section('=', 0, 0), entry.section('=', 1));

    // The bridge, from the store alone.
    QCOMPARE(Bridge(), result);

    // The window, from the same store (it writes back what it selected, so the bridge reads first).
    sWindow w(mPlace.Maps());
    QStringList applied;
    for (const cMIDITranslatorVariable& variable : w.Window->GetMIDITranslatorConfiguration()->GetVariables())
        if (variable.GetName() == "MIDI Channel")
            applied << QString::number(variable.GetValue());
    applied.removeDuplicates();
    const QString windowConsole = w.Checked("mTCPIPRadioButton")
                                      ? "tcp " + w.Address()
                                      : "midi " + w.Current("mMixerMIDIInComboBox").remove("(Offline) ") + ">" +
                                            w.Current("mMixerMIDIOutComboBox").remove("(Offline) ");
    QCOMPARE(QStringList({w.Current("mMixerTypeComboBox"), w.Current("mDAWTypeComboBox"), w.Current("mMIDIChannelComboBox"),
                          applied.join(','), windowConsole}).join('|'),
             result);
}

// The setup the bridge resolves from the store, in the table's short form.
QString tst_SessionSettings::Bridge(const QStringList& Arguments)
{
    sBridgeOptions options;
    QString message;
    cBridgeOptions::Parse(QStringList{"quillon-bridge", "--maps", mPlace.Maps()} + Arguments, options, message);
    cMixerDawMap map;
    map.Load(mPlace.Maps() + "mixer_map.json");
    sBridgeSetup setup;
    QStringList notes;
    if (!cBridgeOptions::Resolve(options, map, setup, message, notes))
        return message;
    const QString console = setup.Mode == eConsoleMode::MidiPorts ? "midi " + setup.MidiIn + ">" + setup.MidiOut
                                                                  : "tcp " + setup.Address.toString();
    return QStringList({setup.Family, setup.Daw, QString::number(setup.Channel + 1), QString::number(setup.Channel), console}).join('|');
}

// Two families set up in the window keep their own choices there, and the bridge runs each as set.
void tst_SessionSettings::whatTheWindowStoresTheBridgeRuns()
{
    {
        sWindow w(mPlace.Maps());
        w.Registry->PlugInput("Desk A");
        w.Choose("mMixerMIDIInComboBox", "Desk A");
        w.Choose("mMIDIChannelComboBox", "9");
        w.Choose("mMixerTypeComboBox", "Ny-16");
        w.Choose("mDAWTypeComboBox", "HUI");
        w.Click("mTCPIPRadioButton");
        w.Get<QLineEdit>("mIPAddressEdit")->setText("127.0.0.042");
        w.Click("mConnectCheckBox");
        w.Choose("mMIDIChannelComboBox", "5");
        w.Choose("mMixerTypeComboBox", "KRT-24");
        QVERIFY(w.Checked("mMIDIPortsRadioButton"));
        QCOMPARE(w.Current("mMIDIChannelComboBox") + w.Current("mMixerMIDIInComboBox"), QString("9Desk A"));
        w.Choose("mMixerTypeComboBox", "Ny-16");
        QVERIFY(w.Checked("mTCPIPRadioButton"));
        QCOMPARE(w.Current("mMIDIChannelComboBox") + w.Current("mDAWTypeComboBox"), QString("5HUI"));
    }
    QCOMPARE(Bridge(), QString("Ny-16|HUI|5|4|tcp 127.0.0.42"));
    QCOMPARE(Bridge({"--mixer", "KRT-24"}), QString("KRT-24|Cubase|9|8|midi Desk A>"));
}

// Settings as in the table above, the bridge's arguments, and its setup in short or part of its error.
void tst_SessionSettings::bridgeOptionsBeatTheStore_data()
{
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("result");

    const QStringList address{"--console", "10.0.0.7"};
    QTest::newRow("nothing saved, nothing given") << QStringList{} << QStringList{} << "no console given";
    QTest::newRow("nothing saved, address given") << QStringList{} << address << "KRT-24|Cubase|2|1|tcp 10.0.0.7";
    QTest::newRow("saved address broken") << QStringList{"KRT-24/Mode=TCP", "KRT-24/Connection/DefaultUnitIP=nowhere"} << QStringList{}
                                          << "\"nowhere\" of family \"KRT-24\" is no IPv4 address";
    QTest::newRow("one port given, the other saved") << QStringList{"KRT-24/MIDI/OutputPort=USB Out"} << QStringList{"--midi-in", "Other In"}
                                                     << "KRT-24|Cubase|2|1|midi Other In>USB Out";
    QTest::newRow("given family picks its own settings") << QStringList{"MixerType=Ny-16", "KRT-24/MIDIChannel=9", "KRT-24/Mode=TCP"}
                                                         << QStringList{"--mixer", "KRT-24"} << "KRT-24|Cubase|10|9|tcp 192.168.1.1";
    QTest::newRow("given protocol and channel beat saved") << QStringList{"Ny-16/MIDIChannel=3", "DAWType=Mackie"}
                                                           << QStringList{"--mixer", "Ny-16", "--daw", "HUI", "--channel", "12"} + address
                                                           << "Ny-16|HUI|12|11|tcp 10.0.0.7";
    QTest::newRow("unknown family given") << QStringList{} << QStringList{"--mixer", "Ny-32"} + address << "unknown console family \"Ny-32\"";
    QTest::newRow("unknown protocol given") << QStringList{} << QStringList{"--mixer", "KRT-24", "--daw", "HUI"} + address
                                            << "has no DAW protocol \"HUI\"";
}

void tst_SessionSettings::bridgeOptionsBeatTheStore()
{
    QFETCH(QStringList, settings);
    QFETCH(QStringList, arguments);
    QFETCH(QString, result);
    for (const QString& entry : settings)
        QSettings().setValue(entry.section('=', 0, 0), entry.section('=', 1));
    const QString setup = Bridge(arguments);
    QVERIFY2(setup.contains(result), qPrintable(setup));
}

QTEST_MAIN(tst_SessionSettings)
#include "tst_SessionSettings.moc"
