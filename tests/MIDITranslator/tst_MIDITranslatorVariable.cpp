#include "MIDITranslator/MIDITranslatorVariable.h"
#include "tests/support/LogCapture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

namespace
{
QJsonObject Json(const char* Text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(Text), &error);
    if (error.error != QJsonParseError::NoError)
        qFatal("bad test JSON: %s", qPrintable(error.errorString()));
    return document.object();
}

// "44=forty-four 7=seven": every entry kept, in order.
QString Entries(const cMIDITranslatorVariable& Variable)
{
    QStringList entries;
    for (const sVariableValue& entry : Variable.GetValues())
        entries << QString("%1=%2").arg(entry.value).arg(entry.name);
    return entries.join(' ');
}
} // namespace

class tst_MIDITranslatorVariable : public QObject
{
    Q_OBJECT

private slots:
    void rejectsObjectsWithTheFirstFaultNamed_data();
    void rejectsObjectsWithTheFirstFaultNamed();
    void convertsJsonNumbersToBytes_data();
    void convertsJsonNumbersToBytes();
    void selectsTheEntryOfTheDefaultAndOfEachNewValue_data();
    void selectsTheEntryOfTheDefaultAndOfEachNewValue();
};

void tst_MIDITranslatorVariable::rejectsObjectsWithTheFirstFaultNamed_data()
{
    QTest::addColumn<QString>("json");
    QTest::addColumn<QString>("message");

    QTest::newRow("no name") << R"({"variable_name": "n", "default": 0, "values": []})"
                             << R"(No "name" string value for variable)";
    QTest::newRow("name is a number, everything else missing too") << R"({"name": 5})"
                                                                   << R"(No "name" string value for variable)";
    QTest::newRow("variable_name is a number") << R"({"name": "x", "variable_name": 7, "default": 0, "values": []})"
                                               << R"(No "variable_name" string value for variable)";
    QTest::newRow("variable_name of two letters") << R"({"name": "x", "variable_name": "ch", "default": 0, "values": []})"
                                                  << R"(Invalid "variable_name": ch)";
    QTest::newRow("variable_name empty") << R"({"name": "x", "variable_name": "", "default": 0, "values": []})"
                                         << R"(Invalid "variable_name": )";
    QTest::newRow("variable_name a digit") << R"({"name": "x", "variable_name": "7", "default": 0, "values": []})"
                                           << R"(Invalid "variable_name": 7)";
    QTest::newRow("variable_name a non-ASCII letter")
        << R"({"name": "x", "variable_name": "é", "default": 0, "values": []})" << R"(Invalid "variable_name": é)";
    QTest::newRow("variable_name invalid and default missing") << R"({"name": "x", "variable_name": "*n"})"
                                                               << R"(Invalid "variable_name": *n)";
    QTest::newRow("default is a string") << R"({"name": "x", "variable_name": "n", "default": "3", "values": []})"
                                         << R"(No "default" double value for variable)";
    QTest::newRow("values is an object") << R"({"name": "x", "variable_name": "n", "default": 0, "values": {}})"
                                         << R"(No "values" array for variable)";
}

void tst_MIDITranslatorVariable::rejectsObjectsWithTheFirstFaultNamed()
{
    QFETCH(QString, json);
    QFETCH(QString, message);
    cLogCapture capture;
    bool ok = true;
    cMIDITranslatorVariable::FromJson(Json(json.toUtf8().constData()), &ok);
    QVERIFY(!ok);
    QCOMPARE(capture.Messages(), QStringList{message});
    QCOMPARE(capture.Files(), QStringList{"MIDITranslator/MIDITranslatorVariable.cpp"});
}

void tst_MIDITranslatorVariable::convertsJsonNumbersToBytes_data()
{
    QTest::addColumn<double>("number");
    QTest::addColumn<int>("byte");

    QTest::newRow("half rounds up") << 1.5 << 2;
    QTest::newRow("below half rounds down") << 0.4 << 0;
    QTest::newRow("above a byte keeps the low bits") << 300.0 << 44;
    QTest::newRow("255.5 wraps to 0") << 255.5 << 0;
    QTest::newRow("small negative truncates toward zero") << -0.7 << 0;
    QTest::newRow("minus two is 255") << -2.0 << 255;
    QTest::newRow("largest 32-bit integer") << 2147483647.0 << 255;
    QTest::newRow("beyond 32 bits keeps the low bits") << 4294967297.0 << 1;
    QTest::newRow("far beyond any integer type") << 1e300 << 0;
    QTest::newRow("infinity") << std::numeric_limits<double>::infinity() << 0;
    QTest::newRow("not a number") << std::numeric_limits<double>::quiet_NaN() << 0;
}

void tst_MIDITranslatorVariable::convertsJsonNumbersToBytes()
{
    QFETCH(double, number);
    QFETCH(int, byte);
    QCOMPARE(int(cMIDITranslatorVariable::ByteFromJsonNumber(number)), byte);
}

void tst_MIDITranslatorVariable::selectsTheEntryOfTheDefaultAndOfEachNewValue_data()
{
    QTest::addColumn<QString>("defaultAndValues"); // the object's members after "name" and "variable_name"
    QTest::addColumn<int>("setTo");                // SetValue after loading, or -1
    QTest::addColumn<QString>("entries");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("value");
    QTest::addColumn<QStringList>("messages");

    const QString channel = R"("values": [{"value": 0, "name": "1"}, {"value": 1, "name": "2"}, {"value": 2, "name": "3"}])";
    const QString fourFive = R"("values": [{"value": 4, "name": "four"}, {"value": 5, "name": "five"}])";
    const QString duplicates = R"("values": [{"value": 5, "name": "a"}, {"value": 7, "name": "b"},
                                             {"value": 5, "name": "c"}, {"value": 7, "name": "d"}])";
    const QString onlyMalformed = R"("values": [{"value": "1", "name": "one"}])";
    QTest::newRow("listed value selects its entry") << R"("default": 2, )" + channel << 1 << "0=1 1=2 2=3" << 1 << 1
                                                    << QStringList{};
    QTest::newRow("unlisted value keeps the current entry") << R"("default": 2, )" + channel << 200 << "0=1 1=2 2=3" << 2
                                                            << 2 << QStringList{"Invalid value: 200"};
    QTest::newRow("malformed entries skipped quietly, default rounded to a byte")
        << R"("default": 300, "values": [{"value": "1", "name": "one as a string"}, {"value": 44, "name": "forty-four"},
              {"value": 5}, {"name": "no value"}, 7, "text", [1, 2], {"value": 6.6, "name": "seven"}])"
        << -1 << "44=forty-four 7=seven" << 0 << 44 << QStringList{};
    QTest::newRow("default rounded before it is looked up")
        << R"("default": 1.5, "values": [{"value": 1, "name": "one"}, {"value": 2, "name": "two"}])" << -1
        << "1=one 2=two" << 1 << 2 << QStringList{};
    // Chosen: a default missing from the list is logged and the first entry is used.
    QTest::newRow("default not among values selects the first entry") << R"("default": 9, )" + fourFive << -1
                                                                       << "4=four 5=five" << 0 << 4
                                                                       << QStringList{"Invalid value: 9"};
    QTest::newRow("then a listed value still selects its entry") << R"("default": 9, )" + fourFive << 5
                                                                 << "4=four 5=five" << 1 << 5
                                                                 << QStringList{"Invalid value: 9"};
    QTest::newRow("duplicate values select the first entry, default") << R"("default": 7, )" + duplicates << -1
                                                                      << "5=a 7=b 5=c 7=d" << 1 << 7 << QStringList{};
    // Chosen: without entries the variable keeps its default byte, and no value can replace it.
    QTest::newRow("no entries refuses any new value") << R"("default": 300, )" + onlyMalformed << 3 << "" << 0 << 44
                                                      << QStringList{"Invalid value: 44", "Invalid value: 3"};
}

void tst_MIDITranslatorVariable::selectsTheEntryOfTheDefaultAndOfEachNewValue()
{
    QFETCH(QString, defaultAndValues);
    QFETCH(int, setTo);
    QFETCH(QString, entries);
    QFETCH(int, index);
    QFETCH(int, value);
    QFETCH(QStringList, messages);
    cLogCapture capture;
    bool ok = false;
    cMIDITranslatorVariable variable = cMIDITranslatorVariable::FromJson(
        Json(qPrintable(R"({"name": "MIDI Channel", "variable_name": "n", )" + defaultAndValues + "}")), &ok);
    QVERIFY(ok);
    QCOMPARE(variable.GetName(), QString("MIDI Channel"));
    QCOMPARE(variable.GetVariableName(), QString("n"));
    if (setTo >= 0)
        variable.SetValue(uint8_t(setTo));
    QCOMPARE(Entries(variable), entries);
    if (!entries.isEmpty())
        QCOMPARE(variable.GetIndex(), index);
    QCOMPARE(int(variable.GetValue()), value);
    QCOMPARE(capture.Messages(), messages);
}

QTEST_GUILESS_MAIN(tst_MIDITranslatorVariable)
#include "tst_MIDITranslatorVariable.moc"
