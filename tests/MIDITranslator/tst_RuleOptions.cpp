// The optional rule keys and the announcements, each through a small map in the real
// configuration: bytes go in on the virtual port "A", what the virtual port "B" receives is
// compared step by step. A script step is "HEX > HEX" (in on A, expected on B), "up > HEX" /
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
    void badKeysRefuseTheRule_data();
    void badKeysRefuseTheRule();
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

    QTest::newRow("table: 7-bit 99 is 14-bit 12808 and back")
        << rules({Rule("B0 10 v", "E0 q p", R"("value": {"from": "v", "to": "pq", "table": [[0, 0], [99, 12808], [127, 16383]]})"),
                  Rule("E1 l m", "B0 11 w", R"("value": {"from": "ml", "to": "w", "table": [[0, 0], [12808, 99], [16383, 127]]})")})
        << "b0 10 63 > e0 08 64; b0 10 7f > e0 7f 7f; b0 10 62 > e0 07 63; e1 08 64 > b0 11 63; e1 07 63 > b0 11 62; e1 00 40 > b0 11 3f";
    QTest::newRow("steps made from an absolute knob, bit 6 turns left")
        << rules({Rule("B0 3x v", "B0 1x s", R"("value": {"from": "v", "to": "s", "steps": "make"}, "value_capture": "v")")})
        << "b0 30 40 > ; b0 30 43 > b0 10 03; b0 30 41 > b0 10 42; b0 30 41 > ; b0 31 00 > ; b0 31 7f > b0 11 3f; "
           "down > ; up > ; b0 30 50 > ; b0 30 51 > b0 10 01";
    QTest::newRow("steps made, bit 6 turns right, after a 14-bit table")
        << rules({Rule("B0 30 m B0 31 l", "B0 40 s", R"("value": {"from": "ml", "to": "s", "table": [[0, 0], [16383, 127]], "steps": "make", "bit6": "right"})")})
        << "b0 30 40 b0 31 00 > ; b0 30 42 b0 31 00 > b0 40 41; b0 30 30 b0 31 00 > b0 40 11";
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
    QTest::newRow("remembered zone, several ports after it")
        << rules({R"({"name": "zone", "incoming": {"midi": "B0 0C z", "ports": ["A"]}, "outgoing": {"midi": "", "ports": []},
                      "remember": {"slot": "zone", "capture": "z"}})",
                  Rule("B0 2C 4p", "B0 2p 7F", R"("when_remembered": {"slot": "zone", "is": 3})"),
                  Rule("B0 2C 0p", "B0 2p 00", R"("when_remembered": {"slot": "zone", "is": 3})")})
        << "b0 2c 42 > ; b0 0c 03 b0 2c 42 > b0 22 7f; b0 2c 43 2c 02 > b0 23 7f b0 22 00; b0 0c 04 b0 2c 42 > ";
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

void tst_RuleOptions::badKeysRefuseTheRule_data()
{
    QTest::addColumn<QString>("extra");
    QTest::addColumn<QString>("message");
    QTest::newRow("value from no capture") << R"("value": {"from": "q", "to": "w"})" << "Invalid \"value\" for rule \"r\": \"from\" letter \"q\" is no capture of the incoming \"midi\"";
    QTest::newRow("value to a capture") << R"("value": {"from": "v", "to": "v"})" << "Invalid \"value\" for rule \"r\": \"to\" letter \"v\" must be a letter g-z that the incoming \"midi\" does not capture";
    QTest::newRow("table falling") << R"("value": {"from": "v", "to": "w", "table": [[5, 0], [5, 1]]})" << "Invalid \"value\" for rule \"r\": \"table\" entry 1: the inputs must rise";
    QTest::newRow("steps unknown") << R"("value": {"from": "v", "to": "w", "steps": "both"})" << "Invalid \"value\" for rule \"r\": \"steps\" must be \"make\" or \"add\"";
    QTest::newRow("flag not a boolean") << R"("only_when_changed": 1)" << "Invalid \"only_when_changed\" for rule \"r\": must be true or false";
    QTest::newRow("gesture without quiet time") << R"("gesture": {"end": "90 68 00"})" << "Invalid \"gesture\" for rule \"r\": \"quiet_ms\" must be a whole number of milliseconds 1-60000";
    QTest::newRow("gesture end with a foreign capture") << R"("gesture": {"end": "90 6k 00", "quiet_ms": 5})" << "Invalid \"gesture\" for rule \"r\": \"end\" is not a valid outgoing \"midi\" string for this rule";
    QTest::newRow("remember a missing capture") << R"("remember": {"slot": "z", "capture": "k"})" << "Invalid \"remember\" for rule \"r\": must be {\"slot\": a name, \"capture\": a capture letter of the incoming \"midi\"}";
    QTest::newRow("when remembered out of range") << R"("when_remembered": {"slot": "z", "is": 256})" << "Invalid \"when_remembered\" for rule \"r\": must be {\"slot\": a name, \"is\": a number 0-255}";
}

void tst_RuleOptions::badKeysRefuseTheRule()
{
    QFETCH(QString, extra);
    QFETCH(QString, message);
    cLogCapture log;
    cMIDITranslatorConfiguration configuration(new cFakeSystemMIDIConfiguration);
    configuration.LoadFile(MapFile(QStringLiteral("\"rules\": [%1]").arg(Rule("B0 10 v", "E0 v v", extra))));
    QCOMPARE(configuration.GetRules().size(), 0);
    QCOMPARE(log.Messages(), QStringList{message});
}

QTEST_GUILESS_MAIN(tst_RuleOptions)
#include "tst_RuleOptions.moc"
