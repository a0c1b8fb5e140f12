// The optional rule keys and the announcements that the shipped maps' tables (tests/Maps) do not
// reach, each through a small map in the real configuration: bytes go in on the virtual port "A",
// what the virtual port "B" receives is compared step by step. A script step is "HEX > HEX" (in on A, expected on B), "up > HEX" /
// "down > HEX" (the console becomes reachable or not), "wait MS > HEX" (time passes).

#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFile.h"

#include <QtTest>

class tst_RuleOptions : public QObject
{
    Q_OBJECT

private slots:
    void keysAtWork_data();
    void keysAtWork();
};

namespace
{
QString MapFile(const QString& RulesAndMore)
{
    return WriteTestFile(QDir::temp().filePath(QStringLiteral("quillon-rule-options-%1.json").arg(QCoreApplication::applicationPid())),
                         QStringLiteral(R"({"virtual_ports": ["A", "B"],
        "variables": [{"name": "MIDI Channel", "variable_name": "n", "default": 2, "values": [{"value": 2, "name": "3"}]}],
        %1})").arg(RulesAndMore).toUtf8());
}

QString Rule(const QString& In, const QString& Out, const QString& Extra)
{
    return QStringLiteral(R"({"name": "r", "incoming": {"midi": "%1", "ports": ["A"]},
        "outgoing": {"midi": "%2", "ports": ["B"]}, %3})").arg(In, Out, Extra);
}
} // namespace

void tst_RuleOptions::keysAtWork_data()
{
    QTest::addColumn<QString>("map");
    QTest::addColumn<QString>("script");
    auto rules = [](const QStringList& Rules) { return QStringLiteral("\"rules\": [%1]").arg(Rules.join(',')); };

    QTest::newRow("steps added up into a position, held in range")
        << rules({Rule("B0 10 v", "B0 30 w", R"("value": {"from": "v", "to": "w", "steps": "add", "start": 64})")})
        << "b0 10 03 > b0 30 43; b0 10 45 > b0 30 3e; b0 10 7f > b0 30 00; b0 10 3f > b0 30 3f; b0 10 3f > b0 30 7e; b0 10 3f > b0 30 7f";
    QTest::newRow("only when changed, per control")
        << rules({Rule("D0 xy", "F0 7D *n 05 0x 0y F7", R"("only_when_changed": true, "value_capture": "y")")})
        << "d0 15 > f0 7d 02 05 01 05 f7; d0 15 > ; d0 25 > f0 7d 02 05 02 05 f7; d0 15 > ; d0 16 > f0 7d 02 05 01 06 f7; "
           "down > ; up > ; d0 16 > f0 7d 02 05 01 06 f7";
    QTest::newRow("needs the console")
        << rules({Rule("90 00 00", "90 00 7F", R"("needs_console": true)")})
        << "90 00 00 > ; up > ; 90 00 00 > 90 00 7f; down > ; 90 00 00 > ";
    QTest::newRow("gesture: one begin, every move, one end after the quiet time")
        << rules({Rule("B0 1x v", "E0 v v", R"("gesture": {"begin": "90 6x 7F", "end": "90 6x 00", "quiet_ms": 40}, "value_capture": "v")")})
        << "b0 10 01 > 90 60 7f e0 01 01; b0 10 02 > e0 02 02; b0 11 05 > 90 61 7f e0 05 05; b0 10 03 > e0 03 03; "
           "wait 150 > 90 61 00 90 60 00; b0 10 04 > 90 60 7f e0 04 04; wait 150 > 90 60 00; "
           "up > ; b0 10 05 > 90 60 7f e0 05 05; down > 90 60 00; wait 150 > ";
    QTest::newRow("announcements: when the port is made, and on every new console connection")
        << QStringLiteral(R"("announcements": [
               {"name": "ready", "when": "daw_connects", "midi": "F0 01 *n F7", "ports": ["B"]},
               {"name": "ready with console", "when": "daw_connects", "midi": "F0 02 F7", "ports": ["B"], "needs_console": true},
               {"name": "back", "when": "console_connects", "midi": "F0 03 F7", "ports": ["B", "nowhere"]}])")
        << "> f0 01 02 f7; up > f0 03 f7; up > ; down > ; up > f0 03 f7";
}

void tst_RuleOptions::keysAtWork()
{
    QFETCH(QString, map);
    QFETCH(QString, script);
    cLogCapture log;
    auto* registry = new cFakeSystemMIDIConfiguration;
    cMIDITranslatorConfiguration configuration(registry);
    configuration.LoadFile(MapFile(map));
    QCOMPARE(log.Messages(), QStringList());
    cFakeMIDIPort* in = registry->VirtualPort(QStringLiteral("A"));
    cFakeMIDIPort* out = registry->VirtualPort(QStringLiteral("B"));
    int seen = 0;
    for (const QString& step : script.split(QLatin1Char(';')))
    {
        const QString action = step.section(QLatin1Char('>'), 0, 0).trimmed();
        if (action == QLatin1String("up") || action == QLatin1String("down"))
            configuration.SetConsoleReachable(action == QLatin1String("up"));
        else if (action.startsWith(QLatin1String("wait ")))
            QTest::qWait(action.mid(5).toInt());
        else if (!action.isEmpty())
            in->Deliver(QByteArray::fromHex(action.toLatin1()));
        const QByteArray written = out->WrittenBytes();
        QCOMPARE(QString(written.mid(seen).toHex(' ')), step.section(QLatin1Char('>'), 1).trimmed());
        seen = written.size();
    }
}

QTEST_GUILESS_MAIN(tst_RuleOptions)
#include "tst_RuleOptions.moc"
