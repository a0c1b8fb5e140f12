#include "session/SettingsKeys.h"
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

QTEST_MAIN(tst_SettingsKeys)
#include "tst_SettingsKeys.moc"
