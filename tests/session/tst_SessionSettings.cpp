// The settings store as both front ends read it: where each key lands, how a typed or stored
// address is read, and one table of stored settings that the window and the bridge must read
// alike (family, protocol, channel shown and applied, the console).

#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "session/SessionSettings.h"
#include "session/SettingsKeys.h"
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
    void keysReachTheirPlaceInTheStore_data();
    void keysReachTheirPlaceInTheStore();
    void addresses_data();
    void addresses();
    void bothFrontEndsReadTheStoreAlike_data();
    void bothFrontEndsReadTheStoreAlike();

private:
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

void tst_SessionSettings::keysReachTheirPlaceInTheStore_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("group");   // where the value is found with beginGroup
    QTest::addColumn<QString>("leaf");

    QTest::newRow("MixerType") << MixerTypeKey() << "" << "MixerType";
    QTest::newRow("DAWType") << DAWTypeKey() << "" << "DAWType";
    QTest::newRow("Mode") << ModeKey("Ny-16") << "Ny-16" << "Mode";
    QTest::newRow("MIDIChannel") << MIDIChannelKey("Ny-16") << "Ny-16" << "MIDIChannel";
    QTest::newRow("InputPort") << InputPortKey("Ny-16") << "Ny-16/MIDI" << "InputPort";
    QTest::newRow("OutputPort") << OutputPortKey("Ny-16") << "Ny-16/MIDI" << "OutputPort";
    QTest::newRow("DefaultUnitName") << DefaultUnitNameKey("Ny-16") << "Ny-16/Connection" << "DefaultUnitName";
    QTest::newRow("DefaultUnitIP") << DefaultUnitIPKey("Ny-16") << "Ny-16/Connection" << "DefaultUnitIP";
    QTest::newRow("Mode, no family") << ModeKey("") << "" << "Mode";
    QTest::newRow("InputPort, no family") << InputPortKey("") << "MIDI" << "InputPort";
    QTest::newRow("DefaultUnitIP, no family") << DefaultUnitIPKey("") << "Connection" << "DefaultUnitIP";
    QTest::newRow("family with a blank") << ModeKey("KRT 24") << "KRT 24" << "Mode";
}

void tst_SessionSettings::keysReachTheirPlaceInTheStore()
{
    QFETCH(QString, key);
    QFETCH(QString, group);
    QFETCH(QString, leaf);
    QSettings().setValue(key, "stored");
    QSettings settings;
    QCOMPARE(settings.allKeys().size(), 1);
    if (!group.isEmpty())
        settings.beginGroup(group);
    QCOMPARE(settings.childKeys(), QStringList({leaf}));
    QCOMPARE(settings.value(leaf).toString(), QString("stored"));
}

void tst_SessionSettings::addresses_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("address");
    QTest::newRow("plain") << "192.168.1.1" << "192.168.1.1";
    QTest::newRow("leading zeros are decimal") << "192.168.001.010" << "192.168.1.10";
    QTest::newRow("blanks of the mask") << "10 .0  .0  .7  " << "10.0.0.7";
    QTest::newRow("a group above 255") << "10.0.0.256" << "";
    QTest::newRow("an empty group") << "10.0..1" << "";
    QTest::newRow("three groups") << "10.0.1" << "";
    QTest::newRow("a sign") << "+10.0.0.1" << "";
    QTest::newRow("a host name") << "desk.local" << "";
    QTest::newRow("IPv6") << "::1" << "";
}

void tst_SessionSettings::addresses()
{
    QFETCH(QString, text);
    QFETCH(QString, address);
    const QHostAddress parsed = cSessionSettings::ParseAddress(text);
    QCOMPARE(parsed.isNull() ? QString() : parsed.toString(), address);
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
    QTest::newRow("ny in lower case is no family") << QStringList{"MixerType=ny", tcp} << "KRT-24|Cubase|2|1|tcp 192.168.1.1";
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
    sBridgeOptions options;
    QString message;
    QCOMPARE(cBridgeOptions::Parse({"quillon-bridge", "--maps", mPlace.Maps()}, options, message), eBridgeAction::Run);
    cMixerDawMap map;
    map.Load(mPlace.Maps() + "mixer_map.json");
    sBridgeSetup setup;
    QStringList notes;
    QVERIFY2(cBridgeOptions::Resolve(options, map, setup, message, notes), qPrintable(message));
    const QString bridgeConsole = setup.Mode == eConsoleMode::MidiPorts ? "midi " + setup.MidiIn + ">" + setup.MidiOut
                                                                        : "tcp " + setup.Address.toString();
    QCOMPARE(QStringList({setup.Family, setup.Daw, QString::number(setup.Channel + 1), QString::number(setup.Channel), bridgeConsole}).join('|'),
             result);

    // The window, from the same store (it writes back what it selected, so the bridge reads first).
    sWindow w(mPlace.Maps());
    QString applied;
    for (const cMIDITranslatorVariable& variable : w.Window->GetMIDITranslatorConfiguration()->GetVariables())
        if (variable.GetName() == "MIDI Channel")
            applied = QString::number(variable.GetValue());
    const QString windowConsole = w.Checked("mTCPIPRadioButton")
                                      ? "tcp " + w.Address()
                                      : "midi " + w.Current("mMixerMIDIInComboBox").remove("(Offline) ") + ">" +
                                            w.Current("mMixerMIDIOutComboBox").remove("(Offline) ");
    QCOMPARE(QStringList({w.Current("mMixerTypeComboBox"), w.Current("mDAWTypeComboBox"), w.Current("mMIDIChannelComboBox"),
                          applied, windowConsole}).join('|'),
             result);
}

QTEST_MAIN(tst_SessionSettings)
#include "tst_SessionSettings.moc"
