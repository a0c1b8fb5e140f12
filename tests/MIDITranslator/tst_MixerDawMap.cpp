#include "MIDITranslator/MixerDawMap.h"
#include "tests/support/LogCapture.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class tst_MixerDawMap : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readsFamiliesAndProtocolsInFileOrder();
    void readsLeniently_data();
    void readsLeniently();
    void brokenFilesLeaveAnEmptyMap_data();
    void brokenFilesLeaveAnEmptyMap();
    void aGoodLoadAfterABrokenOneWorks();
    void loadStartsFromAnEmptyMap();
    void unknownFamilyOrProtocolIsReported();
    void emptyFileNameNamesAFolderThatCannotBeOpened();
    void mapsDirectoryIsNextToTheExecutable();

private:
    QString Write(const QByteArray& Content, const QString& Name = "mixer_map.json");
    QTemporaryDir mDir;
};

void tst_MixerDawMap::init()
{
    QVERIFY(mDir.isValid());
}

QString tst_MixerDawMap::Write(const QByteArray& Content, const QString& Name)
{
    const QString path = mDir.filePath(Name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write(Content);
    return path;
}

void tst_MixerDawMap::readsFamiliesAndProtocolsInFileOrder()
{
    const QString path = Write(R"({"mixers": [
        {"name": "Ny-16", "daws": [{"name": "Mackie Control", "file": "ny16_mackie.json"},
                                   {"name": "HUI", "file": "ny16_hui.json"}]},
        {"name": "Arvo 32", "daws": [{"name": "HUI", "file": "arvo_hui.json"}]}
    ]})");
    cLogCapture log;
    cMixerDawMap map;
    map.Load(path);
    QStringList mixers = map.GetMixerNames();
    mixers.sort();
    QCOMPARE(mixers, (QStringList{"Arvo 32", "Ny-16"}));
    QCOMPARE(map.GetDAWNames("Ny-16"), (QStringList{"Mackie Control", "HUI"}));
    QCOMPARE(map.GetMapFileName("Ny-16", "HUI"), QString("ny16_hui.json"));
    QCOMPARE(map.GetMapFileName("Arvo 32", "HUI"), QString("arvo_hui.json"));
    QVERIFY(log.Lines().isEmpty());
}

void tst_MixerDawMap::readsLeniently_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("mixers");
    QTest::addColumn<QString>("mixer");
    QTest::addColumn<QStringList>("daws");
    QTest::addColumn<QString>("firstFile");

    QTest::newRow("same family twice, the later wins")
        << QByteArray(R"({"mixers": [{"name": "A", "daws": [{"name": "X", "file": "a1.json"}]},
                                     {"name": "A", "daws": [{"name": "Y", "file": "a2.json"}]}]})")
        << QStringList{"A"} << "A" << QStringList{"Y"} << "a2.json";
    QTest::newRow("same protocol twice, both listed, first file used")
        << QByteArray(R"({"mixers": [{"name": "A", "daws": [{"name": "X", "file": "first.json"},
                                                            {"name": "X", "file": "second.json"}]}]})")
        << QStringList{"A"} << "A" << QStringList{"X", "X"} << "first.json";
    QTest::newRow("protocol without file or with empty file dropped")
        << QByteArray(R"({"mixers": [{"name": "A", "daws": [{"name": "X"}, {"name": "Y", "file": ""},
                                                            {"name": "", "file": "z.json"},
                                                            {"name": "W", "file": "w.json"}]}]})")
        << QStringList{"A"} << "A" << QStringList{"W"} << "w.json";
    QTest::newRow("family without daws listed, no protocols")
        << QByteArray(R"({"mixers": [{"name": "A"}]})") << QStringList{"A"} << "A" << QStringList{} << "";
    QTest::newRow("family without name dropped")
        << QByteArray(R"({"mixers": [{"daws": [{"name": "X", "file": "x.json"}]}, {"name": "B"}]})")
        << QStringList{"B"} << "B" << QStringList{} << "";
    QTest::newRow("wrong types everywhere read as empty")
        << QByteArray(R"({"mixers": [3, "A", null, [], {"name": 7, "daws": []},
                                     {"name": "B", "daws": {"name": "X", "file": "x.json"}},
                                     {"name": "C", "daws": [1, "x", {"name": 2, "file": "c.json"},
                                                           {"name": "Y", "file": true},
                                                           {"name": "Z", "file": "z.json"}]}]})")
        << QStringList{"B", "C"} << "C" << QStringList{"Z"} << "z.json";
    QTest::newRow("mixers not an array")
        << QByteArray(R"({"mixers": {"name": "A"}})") << QStringList{} << "" << QStringList{} << "";
    QTest::newRow("mixers missing") << QByteArray(R"({"families": []})") << QStringList{} << "" << QStringList{} << "";
    QTest::newRow("top level is an array")
        << QByteArray(R"([{"mixers": [{"name": "A"}]}])") << QStringList{} << "" << QStringList{} << "";
    QTest::newRow("names compared exactly")
        << QByteArray(R"({"mixers": [{"name": "a", "daws": [{"name": "x", "file": "lower.json"}]},
                                     {"name": "A", "daws": [{"name": "X", "file": "upper.json"}]}]})")
        << QStringList{"A", "a"} << "a" << QStringList{"x"} << "lower.json";
}

void tst_MixerDawMap::readsLeniently()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, mixers);
    QFETCH(QString, mixer);
    QFETCH(QStringList, daws);
    QFETCH(QString, firstFile);

    cLogCapture log;
    cMixerDawMap map;
    map.Load(Write(content));
    QStringList names = map.GetMixerNames();
    names.sort();
    QCOMPARE(names, mixers);
    QVERIFY(log.Lines().isEmpty());
    if (mixer.isEmpty())
        return;
    QCOMPARE(map.GetDAWNames(mixer), daws);
    if (!daws.isEmpty())
        QCOMPARE(map.GetMapFileName(mixer, daws.first()), firstFile);
    QVERIFY(log.Lines().isEmpty());
}

void tst_MixerDawMap::brokenFilesLeaveAnEmptyMap_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<QString>("message");

    QTest::newRow("missing file") << QByteArray() << false << "Could not open file: %1";
    QTest::newRow("truncated document")
        << QByteArray(R"({"mixers": [{"name": "A", "daws": [{"name": "X", "fi)") << true
        << "Json Parse Error: %2 for file %1";
    QTest::newRow("not JSON") << QByteArray("mixers = A, B") << true << "Json Parse Error: %2 for file %1";
    QTest::newRow("empty file") << QByteArray("") << true << "Json Parse Error: %2 for file %1";
    QTest::newRow("binary garbage") << QByteArray("\x00\xff\xfe{", 4) << true << "Json Parse Error: %2 for file %1";
}

void tst_MixerDawMap::brokenFilesLeaveAnEmptyMap()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, exists);
    QFETCH(QString, message);

    const QString path = exists ? Write(content, "broken.json") : mDir.filePath("absent.json");
    QJsonParseError error;
    QJsonDocument::fromJson(content, &error);

    cMixerDawMap map;
    map.Load(Write(R"({"mixers": [{"name": "Old"}]})"));
    cLogCapture log;
    map.Load(path);
    QCOMPARE(log.Messages(), QStringList{message.arg(path, error.errorString())});
    QVERIFY(log.Files().value(0).endsWith("MixerDawMap.cpp"));
    QVERIFY(map.GetMixerNames().isEmpty());
}

void tst_MixerDawMap::aGoodLoadAfterABrokenOneWorks()
{
    cMixerDawMap map;
    cLogCapture log;
    map.Load(Write("{\"mixers\": [", "bad.json"));
    QCOMPARE(log.Lines().size(), 1);
    map.Load(Write(R"({"mixers": [{"name": "A", "daws": [{"name": "X", "file": "x.json"}]}]})"));
    QCOMPARE(map.GetMixerNames(), QStringList{"A"});
    QCOMPARE(map.GetMapFileName("A", "X"), QString("x.json"));
    QCOMPARE(log.Lines().size(), 1);
}

void tst_MixerDawMap::loadStartsFromAnEmptyMap()
{
    cMixerDawMap map;
    map.Load(Write(R"({"mixers": [{"name": "A"}]})", "first.json"));
    map.Load(Write(R"({"mixers": [{"name": "B"}]})", "second.json"));
    QCOMPARE(map.GetMixerNames(), QStringList{"B"});
}

void tst_MixerDawMap::unknownFamilyOrProtocolIsReported()
{
    cMixerDawMap map;
    map.Load(Write(R"({"mixers": [{"name": "Ny-16", "daws": [{"name": "HUI", "file": "hui.json"}]}]})"));
    cLogCapture log;
    QCOMPARE(map.GetDAWNames("ny-16"), QStringList());
    QCOMPARE(map.GetMapFileName("Ny", "HUI"), QString("Ny"));
    QCOMPARE(map.GetMapFileName("Ny-16", "Mackie"), QString());
    QCOMPARE(log.Messages(), (QStringList{"Unknown mixer name \"ny-16\"", "Unknown mixer name \"Ny\"",
                                          "Unknown DAW \"Mackie\" for mixer \"Ny-16\""}));
}

void tst_MixerDawMap::emptyFileNameNamesAFolderThatCannotBeOpened()
{
    // An unknown protocol gives an empty name; the caller then tries the maps folder itself.
    cMixerDawMap map;
    cLogCapture log;
    map.Load(mDir.path() + QDir::separator());
    QCOMPARE(log.Messages(), QStringList{"Could not open file: " + mDir.path() + QDir::separator()});
    QVERIFY(map.GetMixerNames().isEmpty());
}

void tst_MixerDawMap::mapsDirectoryIsNextToTheExecutable()
{
    const QString separator = QDir::separator();
    QCOMPARE(cMixerDawMap::GetMapsDirectory(), QCoreApplication::applicationDirPath() + separator + "Maps" + separator);
    QCOMPARE(cMixerDawMap::GetMixerMapPath(), cMixerDawMap::GetMapsDirectory() + "mixer_map.json");
}

QTEST_GUILESS_MAIN(tst_MixerDawMap)
#include "tst_MixerDawMap.moc"
