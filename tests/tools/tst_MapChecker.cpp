// The map checker's findings: each mistake the lenient loader passes over, and each refusal, is
// reported at the line and column of the offending value with its JSON path. In each text a '^'
// marks where the one expected finding points. A sound map translates as the engine would.

#include "tests/support/TestFile.h"
#include "tools/mapcheck/MapChecker.h"

#include <QTemporaryDir>
#include <QtTest>

namespace
{
// %1 more aliases, %2 more variables, %3 the rules, %4 more top-level keys.
const char kTemplate[] = R"({"virtual_ports": ["Quillon MIDI T"],
"port_aliases": [{"type": "input", "name": "Corvane Internal TCP MIDI", "alias": "Mixer In"},
  {"type": "output", "name": "Corvane Internal TCP MIDI", "alias": "Mixer Out"}%1],
"variables": [{"name": "MIDI Channel", "variable_name": "n", "default": 0, "values": [{"value": 0, "name": "1"}]}%2],
"rules": [%3]%4}
)";
const QString kRule = R"({"name": "fader", "incoming": {"midi": "B*n 07 v", "ports": ["Mixer In"]}, "outgoing": {"midi": "E0 v v", "ports": ["Quillon MIDI T"]}})";
const QString kIndex = R"({"mixers": [{"name": "KRT-8", "daws": [{"name": "HUI", "file": "map.json"}]}]})";

QString Map(const QString& Aliases, const QString& Variables, const QString& Rules, const QString& Keys = QString())
{
    return QString::fromLatin1(kTemplate).arg(Aliases, Variables, Rules, Keys);
}

QString Write(const QTemporaryDir& Dir, const QString& Name, const QString& Text)
{
    return WriteTestFile(Dir.filePath(Name), Text.toUtf8());
}
} // namespace

class tst_MapChecker : public QObject
{
    Q_OBJECT

private slots:
    void findings_data();
    void findings();
    void translateShowsWhatEachPortReceives();
};

void tst_MapChecker::findings_data()
{
    QTest::addColumn<QString>("text");    // a map; a family index when it holds "mixers"
    QTest::addColumn<QString>("finding"); // "warning: PATH" or "rejected: PATH"; empty: none
    QTest::addColumn<QString>("message"); // a piece of its message

    const auto rule = [](const QString& From, const QString& To) { return Map("", "", QString(kRule).replace(From, To)); };
    QTest::newRow("a sound map") << Map("", "", kRule) << "" << "";
    QTest::newRow("misspelled rules key") << Map("", "", "", R"(, ^"rulez": [])") << "warning: $.rulez" << R"(did you mean "rules"?)";
    QTest::newRow("variable letter of two characters")
        << Map("", R"(, ^{"name": "x", "variable_name": "ch", "default": 0, "values": []})", kRule) << "rejected: $.variables[1]"
        << R"(Invalid "variable_name": ch)";
    QTest::newRow("output port nobody names") << rule(R"(["Quillon MIDI T"])", R"([^"Quillon MIDI X"])")
                                              << "warning: $.rules[0].outgoing.ports[0]" << R"("Quillon MIDI X" is no virtual port)";
    QTest::newRow("outgoing capture never captured") << rule("\"E0 v v\"", "^\"E0 w v\"") << "rejected: $.rules[0].outgoing.midi"
                                                     << R"(token "w" copies)";
    QTest::newRow("fader marked safe") << rule("}}", R"(}, "safe": ^true})") << "rejected: $.rules[0].safe" << "never safe";
    QTest::newRow("not JSON") << Map("", "", R"({"name": "x",^})") << "rejected: " << "not valid JSON";
    QTest::newRow("a sound index") << kIndex << "" << "";
    QTest::newRow("index naming a missing map file") << QString(kIndex).replace(R"("map.json")", R"(^"gone.json")")
                                                     << "rejected: $.mixers[0].daws[0].file" << "";
}

void tst_MapChecker::findings()
{
    QFETCH(QString, text);
    QFETCH(QString, finding);
    QFETCH(QString, message);

    const int marker = text.indexOf(QLatin1Char('^'));
    const QString before = text.left(marker);
    const int line = before.count(QLatin1Char('\n')) + 1;
    const int column = marker - (before.lastIndexOf(QLatin1Char('\n')) + 1) + 1;
    text.remove(QLatin1Char('^'));

    QTemporaryDir dir;
    const bool index = text.contains("\"mixers\"");
    QVERIFY(!Write(dir, "map.json", index ? Map("", "", kRule) : text).isEmpty());
    const QString path = index ? Write(dir, "mixer_map.json", text) : dir.filePath("map.json");
    cMapChecker checker;
    checker.Check(path);
    const QStringList lines = checker.FindingLines();
    const QString expected = QStringLiteral("%1:%2:%3: %4").arg(path).arg(line).arg(column).arg(finding);
    QVERIFY2(finding.isEmpty() ? lines.isEmpty() : lines.size() == 1 && lines.first().startsWith(expected) && lines.first().contains(message),
             qPrintable(lines.join('\n') + "\nexpected: " + expected + " ... " + message));
    QCOMPARE(checker.RejectionCount(), finding.startsWith("rejected") ? 1 : 0);
}

void tst_MapChecker::translateShowsWhatEachPortReceives()
{
    QTemporaryDir dir;
    const QString path = Write(dir, "map.json", Map("", "", kRule));
    QVERIFY(!path.isEmpty());
    cMapChecker checker;
    checker.Check(path);
    QList<QPair<QString, QByteArray>> outputs;
    QVERIFY(checker.Translate("Mixer In", QByteArray::fromHex("b0 07 40"), outputs));
    const QList<QPair<QString, QByteArray>> expected = {{"Quillon MIDI T", QByteArray::fromHex("e0 40 40")},
                                                         {cMapChecker::kTcpPortName, QByteArray()}};
    QCOMPARE(outputs, expected);
    QVERIFY(!checker.Translate("Nowhere", QByteArray::fromHex("b0 07 40"), outputs));
}

QTEST_GUILESS_MAIN(tst_MapChecker)
#include "tst_MapChecker.moc"
