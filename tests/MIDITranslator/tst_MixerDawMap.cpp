#include "MIDITranslator/MixerDawMap.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

class tst_MixerDawMap : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void readsLeniently_data();
    void readsLeniently();
    void brokenFilesLeaveAnEmptyMap_data();
    void brokenFilesLeaveAnEmptyMap();
    void unknownFamilyOrProtocolIsReported();
    void findTextFromTheFileElseByName();
    void mapIsReadFromTheMapsFolderNextToTheExecutable();

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
    return WriteTestFile(mDir.filePath(Name), Content);
}

void tst_MixerDawMap::readsLeniently_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("mixers");
    QTest::addColumn<QString>("mixer");
    // The protocols offered for that family, and the file GetMapFileName gives for each of them.
    QTest::addColumn<QStringList>("daws");
    QTest::addColumn<QStringList>("files");

    QTest::newRow("families and protocols in file order")
        << QByteArray(R"({"mixers": [{"name": "Ny-16", "daws": [{"name": "Mackie Control", "file": "ny16_mackie.json"},
                                                                {"name": "HUI", "file": "ny16_hui.json"}]},
                                     {"name": "Arvo 32", "daws": [{"name": "HUI", "file": "arvo_hui.json"}]}]})")
        << QStringList{"Arvo 32", "Ny-16"} << "Ny-16" << QStringList{"Mackie Control", "HUI"}
        << QStringList{"ny16_mackie.json", "ny16_hui.json"};
    QTest::newRow("same family twice, the later wins")
        << QByteArray(R"({"mixers": [{"name": "A", "daws": [{"name": "X", "file": "a1.json"}]},
                                     {"name": "A", "daws": [{"name": "Y", "file": "a2.json"}]}]})")
        << QStringList{"A"} << "A" << QStringList{"Y"} << QStringList{"a2.json"};
    QTest::newRow("same protocol twice, both listed, first file used")
        << QByteArray(R"({"mixers": [{"name": "A", "daws": [{"name": "X", "file": "first.json"},
                                                            {"name": "X", "file": "second.json"}]}]})")
        << QStringList{"A"} << "A" << QStringList{"X", "X"} << QStringList{"first.json", "first.json"};
    QTest::newRow("family without daws listed, no protocols")
        << QByteArray(R"({"mixers": [{"name": "A"}]})") << QStringList{"A"} << "A" << QStringList{} << QStringList{};
    QTest::newRow("wrong types, missing keys and empty names everywhere read as empty")
        << QByteArray(R"({"mixers": [3, "A", null, [], {"name": 7, "daws": []}, {"daws": [{"name": "X", "file": "x.json"}]},
                                     {"name": "B", "daws": {"name": "X", "file": "x.json"}},
                                     {"name": "C", "daws": [1, "x", {"name": 2, "file": "c.json"}, {"name": "X"},
                                                           {"name": "Y", "file": true}, {"name": "", "file": "e.json"},
                                                           {"name": "W", "file": ""},
                                                           {"name": "Z", "file": "z.json"}]}]})")
        << QStringList{"B", "C"} << "C" << QStringList{"Z"} << QStringList{"z.json"};
    QTest::newRow("mixers not an array")
        << QByteArray(R"({"mixers": {"name": "A"}})") << QStringList{} << "" << QStringList{} << QStringList{};
    QTest::newRow("top level is an array")
        << QByteArray(R"([{"mixers": [{"name": "A"}]}])") << QStringList{} << "" << QStringList{} << QStringList{};
    QTest::newRow("names compared exactly")
        << QByteArray(R"({"mixers": [{"name": "a", "daws": [{"name": "x", "file": "lower.json"}]},
                                     {"name": "A", "daws": [{"name": "X", "file": "upper.json"}]}]})")
        << QStringList{"A", "a"} << "a" << QStringList{"x"} << QStringList{"lower.json"};
}

void tst_MixerDawMap::readsLeniently()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, mixers);
    QFETCH(QString, mixer);
    QFETCH(QStringList, daws);
    QFETCH(QStringList, files);

    cLogCapture log;
    cMixerDawMap map;
    // Every load starts from an empty map.
    map.Load(Write(R"({"mixers": [{"name": "Old"}]})", "old.json"));
    map.Load(Write(content));
    QStringList names = map.GetMixerNames();
    names.sort();
    QCOMPARE(names, mixers);
    if (!mixer.isEmpty())
        QCOMPARE(map.GetDAWNames(mixer), daws);
    for (int i = 0; i < daws.size(); ++i)
        QCOMPARE(map.GetMapFileName(mixer, daws.at(i)), files.at(i));
    QVERIFY(log.Lines().isEmpty());
}

void tst_MixerDawMap::brokenFilesLeaveAnEmptyMap_data()
{
    QTest::addColumn<QByteArray>("content");
    // The file read: written with the content unless that is null; "" is the maps folder itself,
    // which a caller tries to open after an unknown protocol gave it an empty file name.
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");

    QTest::newRow("missing file") << QByteArray() << "absent.json" << "Could not open file: %1";
    QTest::newRow("the maps folder") << QByteArray() << "" << "Could not open file: %1";
    QTest::newRow("truncated document")
        << QByteArray(R"({"mixers": [{"name": "A", "daws": [{"name": "X", "fi)") << "broken.json"
        << "Json Parse Error: %2 for file %1";
    QTest::newRow("empty file") << QByteArray("") << "broken.json" << "Json Parse Error: %2 for file %1";
}

void tst_MixerDawMap::brokenFilesLeaveAnEmptyMap()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, name);
    QFETCH(QString, message);

    const QString path = name.isEmpty() ? mDir.path() + QDir::separator()
                         : content.isNull() ? mDir.filePath(name) : Write(content, name);
    QJsonParseError error;
    QJsonDocument::fromJson(content, &error);

    cMixerDawMap map;
    map.Load(Write(R"({"mixers": [{"name": "Old"}]})"));
    cLogCapture log;
    map.Load(path);
    const QString expected = message.contains(QLatin1String("%2")) ? message.arg(path, error.errorString()) : message.arg(path);
    QCOMPARE(log.Messages(), QStringList{expected});
    QVERIFY(log.Files().value(0).endsWith("MixerDawMap.cpp"));
    QVERIFY(map.GetMixerNames().isEmpty());

    // A good file loaded afterwards is read as if nothing had happened.
    map.Load(Write(R"({"mixers": [{"name": "A", "daws": [{"name": "X", "file": "x.json"}]}]})"));
    QCOMPARE(map.GetMapFileName("A", "X"), QString("x.json"));
    QCOMPARE(log.Lines().size(), 1);
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

void tst_MixerDawMap::findTextFromTheFileElseByName()
{
    cMixerDawMap map;
    map.Load(Write(R"({"mixers": [{"name": "Ny-16", "find": "Desk Query"}, {"name": "KRT-8"}, {"name": "Oskel 8", "find": ""},
                                  {"name": "Ny-2", "find": 3}, {"name": "Zeta"}]})"));
    QStringList found;
    for (const char* family : {"Ny-16", "KRT-8", "Oskel 8", "Ny-2", "Zeta"})
        found << map.GetFindString(family);
    QCOMPARE(found, QStringList({"Desk Query", "KRT Find", "", "NY Find", ""}));
}

void tst_MixerDawMap::mapIsReadFromTheMapsFolderNextToTheExecutable()
{
    // The window appends map file names to the folder, so it must end in a separator.
    const QString folder = cMixerDawMap::GetMapsDirectory();
    QVERIFY(folder.endsWith(QDir::separator()));
    QCOMPARE(QDir::cleanPath(folder), QDir(QCoreApplication::applicationDirPath()).filePath("Maps"));
    QCOMPARE(cMixerDawMap::GetMixerMapPath(), folder + "mixer_map.json");
}

QTEST_GUILESS_MAIN(tst_MixerDawMap)
#include "tst_MixerDawMap.moc"
