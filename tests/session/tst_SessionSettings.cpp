// One table of stored settings, written under the literal key strings (they are the contract: the
// window, the bridge and older versions share the store), and what both front ends make of them:
// family, protocol, channel shown and applied (to every channel variable), the console. Rows with
// bridge arguments show what the arguments override; a row whose result has no "|" is the bridge's
// error.

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
    void initTestCase() { QVERIFY(mPlace.Prepare()); }
    void init() { cTestPlace::ClearStore(); }
    void bothFrontEndsReadTheStoreAlike_data();
    void bothFrontEndsReadTheStoreAlike();

private:
    QString Bridge(const QStringList& Arguments = {});
    cTestPlace mPlace;
};

// Results as "family|protocol|channel shown|channel applied|console" (console: "tcp ADDRESS" or
// "midi IN>OUT").
void tst_SessionSettings::bothFrontEndsReadTheStoreAlike_data()
{
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("result");

    const QString tcp = "KRT-24/Mode=TCP";
    const QString krt = "KRT-24|Cubase|2|1|tcp 192.168.1.1";
    const QStringList none;
    const QStringList address{"--console", "10.0.0.7"};
    QTest::newRow("nothing but the mode") << QStringList{tcp} << none << krt;
    QTest::newRow("Ny, the old name of Ny-16, with a protocol shared by families")
        << QStringList{"MixerType=Ny", "DAWType=HUI", "Ny-16/Mode=TCP"} << none << "Ny-16|HUI|2|1|tcp 192.168.1.1";
    QTest::newRow("a family the map lost, a protocol the family lacks") << QStringList{"MixerType=Oskel 9", "DAWType=HUI", tcp} << none << krt;
    QTest::newRow("channel 15") << QStringList{tcp, "KRT-24/MIDIChannel=15"} << none << "KRT-24|Cubase|16|15|tcp 192.168.1.1";
    QTest::newRow("channel 16, out of range") << QStringList{tcp, "KRT-24/MIDIChannel=16"} << none << krt;
    QTest::newRow("another family's channel") << QStringList{tcp, "Ny-16/MIDIChannel=9"} << none << krt;
    QTest::newRow("address with leading zeros") << QStringList{tcp, "KRT-24/Connection/DefaultUnitIP=192.168.001.010"} << none
                                                << "KRT-24|Cubase|2|1|tcp 192.168.1.10";
    QTest::newRow("console by name, not answering") << QStringList{tcp, "KRT-24/Connection/DefaultUnitName=Desk", "KRT-24/Connection/DefaultUnitIP=10.1.1.9"}
                                                    << none << "KRT-24|Cubase|2|1|tcp 10.1.1.9";
    QTest::newRow("MIDI ports") << QStringList{"KRT-24/Mode=MIDI", "KRT-24/MIDI/InputPort=USB In", "KRT-24/MIDI/OutputPort=USB Out"}
                                << none << "KRT-24|Cubase|2|1|midi USB In>USB Out";
    QTest::newRow("nothing saved, nothing given") << QStringList{} << none << "no console given";
    QTest::newRow("nothing saved, address given") << QStringList{} << address << "KRT-24|Cubase|2|1|tcp 10.0.0.7";
    QTest::newRow("saved address with a group of 256") << QStringList{tcp, "KRT-24/Connection/DefaultUnitIP=10.1.1.256"} << none
                                                       << "\"10.1.1.256\" of family \"KRT-24\" is no IPv4 address";
    QTest::newRow("one port given, the other saved") << QStringList{"KRT-24/MIDI/OutputPort=USB Out"} << QStringList{"--midi-in", "Other In"}
                                                     << "KRT-24|Cubase|2|1|midi Other In>USB Out";
    QTest::newRow("given family picks its own settings") << QStringList{"MixerType=Ny-16", "KRT-24/MIDIChannel=9", tcp}
                                                         << QStringList{"--mixer", "KRT-24"} << "KRT-24|Cubase|10|9|tcp 192.168.1.1";
    QTest::newRow("given protocol and channel beat saved") << QStringList{"Ny-16/MIDIChannel=3", "DAWType=Mackie"}
                                                           << QStringList{"--mixer", "Ny-16", "--daw", "HUI", "--channel", "12"} + address
                                                           << "Ny-16|HUI|12|11|tcp 10.0.0.7";
    QTest::newRow("unknown protocol given") << QStringList{} << QStringList{"--mixer", "KRT-24", "--daw", "HUI"} + address
                                            << "has no DAW protocol \"HUI\"";
}

void tst_SessionSettings::bothFrontEndsReadTheStoreAlike()
{
    QFETCH(QStringList, settings);
    QFETCH(QStringList, arguments);
    QFETCH(QString, result);
    for (const QString& entry : settings)
        QSettings().setValue(entry.section('=', 0, 0), entry.section('=', 1));

    // The bridge first: the window writes back what it selected.
    const QString bridge = Bridge(arguments);
    if (!result.contains('|'))
    {
        QVERIFY2(bridge.contains(result), qPrintable(bridge));
        return;
    }
    QCOMPARE(bridge, result);
    if (!arguments.isEmpty())
        return;

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

// The setup the bridge resolves from the store, in the table's short form, or its error.
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

QTEST_MAIN(tst_SessionSettings)
#include "tst_SessionSettings.moc"
