#include "app/SettingsKeys.h"
#include "tests/app/WindowFixture.h"

#include <QSettings>
#include <QtTest>

class tst_SettingsKeys : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void keysReachTheirPlaceInTheStore_data();
    void keysReachTheirPlaceInTheStore();
    void familiesKeepSeparateValues();
    void upgradedFamilyNames_data();
    void upgradedFamilyNames();

private:
    WindowFixture::cTestPlace mPlace;
};

void tst_SettingsKeys::initTestCase()
{
    QVERIFY(mPlace.Prepare());
}

void tst_SettingsKeys::init()
{
    WindowFixture::cTestPlace::ClearStore();
}

void tst_SettingsKeys::keysReachTheirPlaceInTheStore_data()
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

void tst_SettingsKeys::keysReachTheirPlaceInTheStore()
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

void tst_SettingsKeys::familiesKeepSeparateValues()
{
    QSettings().setValue(MIDIChannelKey("Ny-16"), 4u);
    QSettings().setValue(MIDIChannelKey("KRT-24"), 9u);
    QSettings().setValue(DefaultUnitIPKey("Ny-16"), "10.0.0.1");
    QCOMPARE(QSettings().value(MIDIChannelKey("Ny-16")).toUInt(), 4u);
    QCOMPARE(QSettings().value(MIDIChannelKey("KRT-24")).toUInt(), 9u);
    QCOMPARE(QSettings().value(DefaultUnitIPKey("KRT-24"), DefaultUnitIP()).toString(), QString("192.168.1.1"));
    QVERIFY(!QSettings().contains(MIDIChannelKey("Zeta")));
    QCOMPARE(kDefaultMIDIChannel, 1u);
    QCOMPARE(MIDIModeValue(), QString("MIDI"));
    QCOMPARE(TCPModeValue(), QString("TCP"));
}

void tst_SettingsKeys::upgradedFamilyNames_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("used");
    QTest::newRow("Ny") << "Ny" << "Ny-16";
    QTest::newRow("Ny-16") << "Ny-16" << "Ny-16";
    QTest::newRow("NY") << "NY" << "NY";
    QTest::newRow("Ny with a blank") << "Ny " << "Ny ";
    QTest::newRow("empty") << "" << "";
}

void tst_SettingsKeys::upgradedFamilyNames()
{
    QFETCH(QString, stored);
    QFETCH(QString, used);
    QCOMPARE(UpgradedMixerType(stored), used);
}

QTEST_MAIN(tst_SettingsKeys)
#include "tst_SettingsKeys.moc"
