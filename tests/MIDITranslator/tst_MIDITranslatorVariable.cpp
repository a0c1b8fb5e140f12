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

const char* kChannel = R"({"name": "MIDI Channel", "variable_name": "n", "default": 2,
    "values": [{"value": 0, "name": "1"}, {"value": 1, "name": "2"}, {"value": 2, "name": "3"}]})";
} // namespace

class tst_MIDITranslatorVariable : public QObject
{
    Q_OBJECT

private slots:
    void acceptsAWellFormedVariable();
    void rejectsObjectsWithTheFirstFaultNamed_data();
    void rejectsObjectsWithTheFirstFaultNamed();
    void convertsJsonNumbersToBytes_data();
    void convertsJsonNumbersToBytes();
    void skipsMalformedValueEntriesQuietly();
    void defaultIsRoundedBeforeItIsLookedUp();
    void defaultNotAmongValuesSelectsTheFirstEntry();
    void variableWithoutEntriesKeepsItsDefault();
    void setValueSelectsTheFirstOfDuplicateEntries();
    void setValueWithUnlistedValueKeepsTheCurrentEntry();
};

void tst_MIDITranslatorVariable::acceptsAWellFormedVariable()
{
    cLogCapture capture;
    bool ok = false;
    const cMIDITranslatorVariable variable = cMIDITranslatorVariable::FromJson(Json(kChannel), &ok);
    QVERIFY(ok);
    QCOMPARE(variable.GetName(), QString("MIDI Channel"));
    QCOMPARE(variable.GetVariableName(), QString("n"));
    QCOMPARE(variable.GetValue(), uint8_t(2));
    QCOMPARE(variable.GetIndex(), 2);
    QCOMPARE(variable.GetValues().size(), 3);
    QCOMPARE(variable.GetValues().at(1).name, QString("2"));
    QCOMPARE(variable.GetValues().at(1).value, uint8_t(1));
    QCOMPARE(capture.Lines(), QStringList());
}

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
    QTest::newRow("default missing") << R"({"name": "x", "variable_name": "n", "values": []})"
                                     << R"(No "default" double value for variable)";
    QTest::newRow("values is an object") << R"({"name": "x", "variable_name": "n", "default": 0, "values": {}})"
                                         << R"(No "values" array for variable)";
    QTest::newRow("values missing") << R"({"name": "x", "variable_name": "n", "default": 0})"
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
    QTest::newRow("whole number") << 127.0 << 127;
    QTest::newRow("above a byte keeps the low bits") << 300.0 << 44;
    QTest::newRow("255.5 wraps to 0") << 255.5 << 0;
    QTest::newRow("small negative truncates toward zero") << -0.7 << 0;
    QTest::newRow("minus one plus half truncates to zero") << -1.0 << 0;
    QTest::newRow("minus two is 255") << -2.0 << 255;
    QTest::newRow("minus 1.5 plus half is minus one") << -1.5 << 255;
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

void tst_MIDITranslatorVariable::skipsMalformedValueEntriesQuietly()
{
    cLogCapture capture;
    bool ok = false;
    const cMIDITranslatorVariable variable = cMIDITranslatorVariable::FromJson(
        Json(R"({"name": "x", "variable_name": "v", "default": 300, "values": [
            {"value": "1", "name": "one as a string"},
            {"value": 44, "name": "forty-four"},
            {"value": 5},
            {"name": "no value"},
            7,
            "text",
            [1, 2],
            {"value": 6.6, "name": "seven"}]})"),
        &ok);
    QVERIFY(ok);
    QCOMPARE(capture.Lines(), QStringList());
    QCOMPARE(variable.GetValues().size(), 2);
    QCOMPARE(variable.GetValues().at(0).name, QString("forty-four"));
    QCOMPARE(variable.GetValues().at(1).value, uint8_t(7));
    QCOMPARE(variable.GetValue(), uint8_t(44));
}

void tst_MIDITranslatorVariable::defaultIsRoundedBeforeItIsLookedUp()
{
    bool ok = false;
    const cMIDITranslatorVariable variable = cMIDITranslatorVariable::FromJson(
        Json(R"({"name": "x", "variable_name": "v", "default": 1.5,
                 "values": [{"value": 1, "name": "one"}, {"value": 2, "name": "two"}]})"),
        &ok);
    QVERIFY(ok);
    QCOMPARE(variable.GetIndex(), 1);
    QCOMPARE(variable.GetValue(), uint8_t(2));
}

void tst_MIDITranslatorVariable::defaultNotAmongValuesSelectsTheFirstEntry()
{
    cLogCapture capture;
    bool ok = false;
    cMIDITranslatorVariable variable = cMIDITranslatorVariable::FromJson(
        Json(R"({"name": "x", "variable_name": "v", "default": 9,
                 "values": [{"value": 4, "name": "four"}, {"value": 5, "name": "five"}]})"),
        &ok);
    QVERIFY(ok);
    QCOMPARE(capture.Messages(), QStringList{"Invalid value: 9"});
    QCOMPARE(variable.GetIndex(), 0);
    QCOMPARE(variable.GetValue(), uint8_t(4));
    variable.SetValue(5);
    QCOMPARE(variable.GetValue(), uint8_t(5));
}

void tst_MIDITranslatorVariable::variableWithoutEntriesKeepsItsDefault()
{
    cLogCapture capture;
    bool ok = false;
    cMIDITranslatorVariable variable = cMIDITranslatorVariable::FromJson(
        Json(R"({"name": "x", "variable_name": "v", "default": 300, "values": [{"value": "1", "name": "one"}]})"), &ok);
    QVERIFY(ok);
    QCOMPARE(capture.Messages(), QStringList{"Invalid value: 44"});
    QVERIFY(variable.GetValues().isEmpty());
    QCOMPARE(variable.GetValue(), uint8_t(44));

    variable.SetValue(3);
    QCOMPARE(capture.Messages().last(), QString("Invalid value: 3"));
    QCOMPARE(variable.GetValue(), uint8_t(44));

    QCOMPARE(cMIDITranslatorVariable().GetValue(), uint8_t(0));
}

void tst_MIDITranslatorVariable::setValueSelectsTheFirstOfDuplicateEntries()
{
    bool ok = false;
    cMIDITranslatorVariable variable = cMIDITranslatorVariable::FromJson(
        Json(R"({"name": "x", "variable_name": "v", "default": 7, "values": [
            {"value": 5, "name": "a"}, {"value": 7, "name": "b"}, {"value": 5, "name": "c"}, {"value": 7, "name": "d"}]})"),
        &ok);
    QVERIFY(ok);
    QCOMPARE(variable.GetIndex(), 1);
    variable.SetValue(5);
    QCOMPARE(variable.GetIndex(), 0);
    QCOMPARE(variable.GetValue(), uint8_t(5));
}

void tst_MIDITranslatorVariable::setValueWithUnlistedValueKeepsTheCurrentEntry()
{
    bool ok = false;
    cMIDITranslatorVariable variable = cMIDITranslatorVariable::FromJson(Json(kChannel), &ok);
    QVERIFY(ok);
    variable.SetValue(1);
    cLogCapture capture;
    variable.SetValue(200);
    QCOMPARE(capture.Messages(), QStringList{"Invalid value: 200"});
    QCOMPARE(variable.GetValue(), uint8_t(1));
    QCOMPARE(variable.GetIndex(), 1);
}

QTEST_GUILESS_MAIN(tst_MIDITranslatorVariable)
#include "tst_MIDITranslatorVariable.moc"
