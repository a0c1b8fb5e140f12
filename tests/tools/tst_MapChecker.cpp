// The map checker's findings: each mistake the lenient loader passes over, and each refusal, is
// reported at the line and column of the offending value with its JSON path. In each map text a
// '^' marks where the one expected finding points.

#include "tools/mapcheck/MapChecker.h"

#include <QTemporaryDir>
#include <QtTest>

namespace
{
// %1 more aliases, %2 more values of the channel variable, %3 more variables, %4 the rules, %5 more
// top-level keys.
const char kTemplate[] = R"({"virtual_ports": ["Quillon MIDI T"],
"port_aliases": [{"type": "input", "name": "Corvane Internal TCP MIDI", "alias": "Mixer In"},
  {"type": "output", "name": "Corvane Internal TCP MIDI", "alias": "Mixer Out"}%1],
"variables": [{"name": "MIDI Channel", "variable_name": "n", "default": 0, "values": [{"value": 0, "name": "1"}%2]}%3],
"rules": [%4]%5}
)";

const char kRule[] = R"({"name": "fader", "incoming": {"midi": "B*n 07 v", "ports": ["Mixer In"]}, "outgoing": {"midi": "E0 v v", "ports": ["Quillon MIDI T"]}})";

QString Rule(const QString& From, const QString& To)
{
    return QString::fromLatin1(kRule).replace(From, To);
}

// Writes Text to the file Name in Dir and returns its path (empty when it could not be written).
QString Write(const QTemporaryDir& Dir, const QString& Name, const QString& Text)
{
    QFile file(Dir.filePath(Name));
    const QByteArray bytes = Text.toUtf8();
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() ? file.fileName() : QString();
}
} // namespace

class tst_MapChecker : public QObject
{
    Q_OBJECT

private slots:
    void findings_data();
    void findings();
    void translateShowsWhatEachPortReceives();
    void mixerMapFindings_data();
    void mixerMapFindings();
};

void tst_MapChecker::findings_data()
{
    QTest::addColumn<QStringList>("parts");
    QTest::addColumn<QString>("finding"); // "warning PATH" or "rejected PATH"; empty: none
    QTest::addColumn<QString>("message"); // a piece of its message

    const QString none;
    QTest::newRow("a sound map") << QStringList{none, none, none, kRule, none} << none << none;
    QTest::newRow("misspelled rules key") << QStringList{none, none, none, none, R"(, ^"rulez": [])"}
                                          << "warning $.rulez" << R"(did you mean "rules"?)";
    QTest::newRow("alias of type inptu") << QStringList{R"(, {"type": ^"inptu", "name": "X", "alias": "Y"})", none, none, none, none}
                                         << "warning $.port_aliases[2].type" << R"(did you mean "input"?)";
    QTest::newRow("alias without alias") << QStringList{R"(, ^{"type": "input", "name": "X"})", none, none, none, none}
                                         << "warning $.port_aliases[2]" << R"("alias" is missing)";
    QTest::newRow("value entry with a string value") << QStringList{none, R"(, ^{"value": "1", "name": "2"})", none, none, none}
                                                     << "warning $.variables[0].values[1]" << "needs a number";
    QTest::newRow("variable letter of two characters")
        << QStringList{none, none, R"(, ^{"name": "x", "variable_name": "ch", "default": 0, "values": []})", none, none}
        << "rejected $.variables[1]" << R"(Invalid "variable_name": ch)";
    QTest::newRow("empty incoming midi") << QStringList{none, none, none, Rule(R"("midi": "B*n 07 v")", R"("midi": ^"")").replace("E0 v v", "E0 00 00"), none}
                                         << "warning $.rules[0].incoming.midi" << "never fires";
    QTest::newRow("rule reading no port") << QStringList{none, none, none, Rule(R"("ports": ["Mixer In"])", R"("ports": ^[])"), none}
                                          << "warning $.rules[0].incoming.ports" << "reads no port";
    QTest::newRow("output port nobody names")
        << QStringList{none, none, none, Rule(R"(["Quillon MIDI T"])", R"([^"Quillon MIDI X"])"), none}
        << "warning $.rules[0].outgoing.ports[0]" << R"("Quillon MIDI X" is no virtual port)";
    QTest::newRow("letter O for a zero") << QStringList{none, none, none, Rule("\"B*n 07 v\"", "^\"B*n O7 v\""), none}
                                         << "warning $.rules[0].incoming.midi" << R"(token "O7")";
    QTest::newRow("outgoing capture never captured") << QStringList{none, none, none, Rule("\"E0 v v\"", "^\"E0 w v\""), none}
                                                     << "rejected $.rules[0].outgoing.midi" << R"(token "w" copies)";
    QTest::newRow("unknown variable") << QStringList{none, none, none, Rule("\"B*n 07 v\"", "^\"B*q 07 v\""), none}
                                      << "rejected $.rules[0].incoming.midi" << R"(token "B*q" refers to no variable "q")";
    QTest::newRow("value capture not captured")
        << QStringList{none, none, none, Rule("}}", R"(}, "value_capture": ^"w"})"), none}
        << "warning $.rules[0].value_capture" << "capture letters";
    QTest::newRow("optional keys of a sound rule")
        << QStringList{none, none, none, Rule("}}", R"(}, "only_when_changed": true, "needs_console": true, "value": {"from": "v", "to": "w"}})"), none}
        << none << none;
    QTest::newRow("gesture without quiet time") << QStringList{none, none, none, Rule("}}", R"(}, "gesture": ^{"end": "90 68 00"}})"), none}
                                                << "rejected $.rules[0].gesture" << "quiet_ms";
    QTest::newRow("announcement at no known time")
        << QStringList{none, none, none, kRule, R"(, "announcements": [{"name": "a", "when": ^"later", "midi": "F0 F7", "ports": ["Quillon MIDI T"]}])"}
        << "rejected $.announcements[0].when" << "daw_connects";
    QTest::newRow("fader marked safe") << QStringList{none, none, none, Rule("}}", R"(}, "safe": ^true})"), none}
                                       << "rejected $.rules[0].safe" << "never safe";
    QTest::newRow("safe not a bool") << QStringList{none, none, none, Rule("\"fader\"", "\"lamp\"").replace("}}", R"(}, "safe": ^"yes"})"), none}
                                     << "warning $.rules[0].safe" << "not true or false";
    QTest::newRow("not JSON") << QStringList{none, none, none, R"({"name": "x",^})", none} << "rejected " << "not valid JSON";
}

void tst_MapChecker::findings()
{
    QFETCH(QStringList, parts);
    QFETCH(QString, finding);
    QFETCH(QString, message);

    QString text = QString::fromLatin1(kTemplate).arg(parts.at(0), parts.at(1), parts.at(2), parts.at(3), parts.at(4));
    const int marker = text.indexOf(QLatin1Char('^'));
    const QString before = text.left(marker);
    const int line = before.count(QLatin1Char('\n')) + 1;
    const int column = marker - (before.lastIndexOf(QLatin1Char('\n')) + 1) + 1;
    text.remove(marker, marker >= 0 ? 1 : 0);

    QTemporaryDir dir;
    const QString path = Write(dir, QStringLiteral("map.json"), text);
    QVERIFY(!path.isEmpty());

    cMapChecker checker;
    checker.Check(path);
    const QStringList lines = checker.FindingLines();
    if (finding.isEmpty())
    {
        QVERIFY2(lines.isEmpty(), qPrintable(lines.join(QLatin1Char('\n'))));
        return;
    }
    QCOMPARE(lines.size(), 1);
    const QString expected = QStringLiteral("%1:%2:%3: %4").arg(path).arg(line).arg(column).arg(finding.section(QLatin1Char(' '), 0, 0));
    QVERIFY2(lines.first().startsWith(expected), qPrintable(lines.first() + QStringLiteral("\nexpected: ") + expected));
    QVERIFY2(lines.first().contains(finding.section(QLatin1Char(' '), 1) + QStringLiteral(": ")) || finding.endsWith(QLatin1Char(' ')),
             qPrintable(lines.first()));
    QVERIFY2(lines.first().contains(message), qPrintable(lines.first()));
    QCOMPARE(checker.RejectionCount(), finding.startsWith(QLatin1String("rejected")) ? 1 : 0);
}

void tst_MapChecker::translateShowsWhatEachPortReceives()
{
    QTemporaryDir dir;
    const QString path = Write(dir, QStringLiteral("map.json"), QString::fromLatin1(kTemplate).arg(QString(), QString(), QString(), kRule, QString()));
    QVERIFY(!path.isEmpty());

    cMapChecker checker;
    checker.Check(path);
    QList<QPair<QString, QByteArray>> outputs;
    QVERIFY(checker.Translate(QStringLiteral("Mixer In"), QByteArray::fromHex("b0 07 40"), outputs));
    const QList<QPair<QString, QByteArray>> expected = {{"Quillon MIDI T", QByteArray::fromHex("e0 40 40")},
                                                         {cMapChecker::kTcpPortName, QByteArray()}};
    QCOMPARE(outputs, expected);
    QVERIFY(!checker.Translate(QStringLiteral("Nowhere"), QByteArray::fromHex("b0 07 40"), outputs));
}

void tst_MapChecker::mixerMapFindings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("finding");

    QTest::newRow("a sound index") << R"({"mixers": [{"name": "KRT-8", "daws": [{"name": "HUI", "file": "map.json"}]}]})" << "";
    QTest::newRow("missing map file")
        << R"({"mixers": [{"name": "KRT-8", "daws": [{"name": "HUI", "file": ^"gone.json"}]}]})" << "rejected: $.mixers[0].daws[0].file";
    QTest::newRow("family no find text matches")
        << R"({"mixers": [{"name": ^"ny-16", "daws": [{"name": "HUI", "file": "map.json"}]}]})" << "warning: $.mixers[0].name";
    QTest::newRow("protocol without file")
        << R"({"mixers": [{"name": "KRT-8", "daws": [^{"name": "HUI", "fiel": "map.json"}]}]})" << "warning: $.mixers[0].daws[0]";
}

void tst_MapChecker::mixerMapFindings()
{
    QFETCH(QString, text);
    QFETCH(QString, finding);

    const int marker = text.indexOf(QLatin1Char('^'));
    text.remove(QLatin1Char('^'));
    QTemporaryDir dir;
    QVERIFY(!Write(dir, QStringLiteral("map.json"), QString()).isEmpty());
    const QString index = Write(dir, QStringLiteral("mixer_map.json"), text);
    QVERIFY(!index.isEmpty());

    cMapChecker checker;
    checker.Check(index);
    const QStringList lines = checker.FindingLines();
    if (finding.isEmpty())
    {
        QVERIFY2(lines.isEmpty(), qPrintable(lines.join(QLatin1Char('\n'))));
        return;
    }
    // A misspelled key is reported as well; the finding looked for is the one at the marker.
    const QString expected = QStringLiteral("%1:1:%2: %3").arg(index).arg(marker + 1).arg(finding);
    QVERIFY2(!lines.filter(expected).isEmpty(), qPrintable(lines.join(QLatin1Char('\n')) + QStringLiteral("\nexpected: ") + expected));
}

QTEST_GUILESS_MAIN(tst_MapChecker)
#include "tst_MapChecker.moc"
