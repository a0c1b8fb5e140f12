// The engine end to end: a map file loaded into the real configuration, the ports from the fake
// registry. One table row is bytes in on a port (in one or more reads) and what every port got.
// The shipped maps are tested the same way in tests/Maps, also fed whole and in pieces.

#include "Common/JsonFile.h"
#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "MIDITranslator/MIDIInputMatcher.h"
#include "MIDITranslator/MixerDawMap.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFile.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
// Rules listed before the ports they use, the console reached through "Mixer In"/"Mixer Out", a
// channel variable baked into the patterns.
const char* const kConsoleMap = R"({
  "rules": [
    {"name": "fader 1 to DAW", "incoming": {"midi": "B*n 07 v", "ports": ["Mixer In"]},
     "outgoing": {"midi": "E0 00 v", "ports": ["Quillon MIDI DAW"]}},
    {"name": "DAW fader 1 to console", "incoming": {"midi": "E0 00 w", "ports": ["Quillon MIDI DAW"]},
     "outgoing": {"midi": "B*n 07 w", "ports": ["Mixer Out"]}},
    {"name": "mute 1", "incoming": {"midi": "9*n 10 7F", "ports": ["Mixer In"]},
     "outgoing": {"midi": "90 10 7F", "ports": ["Quillon MIDI DAW", "Quillon MIDI Ext"]}},
    {"name": "clock", "incoming": {"midi": "F8", "ports": ["Mixer In"]}, "outgoing": {"midi": "F8", "ports": ["Quillon MIDI DAW"]}},
    {"name": "nibbles", "incoming": {"midi": "A0 v k", "ports": ["Mixer In"]}, "outgoing": {"midi": "A0 kv", "ports": ["Quillon MIDI DAW"]}},
    {"name": "scene", "incoming": {"midi": "F0 00 20 v F7", "ports": ["Mixer In"]}, "outgoing": {"midi": "C*n v", "ports": ["Quillon MIDI DAW"]}},
    {"name": "digit then global", "incoming": {"midi": "D*n", "ports": ["Mixer In"]}, "outgoing": {"midi": "*n5", "ports": ["Quillon MIDI Ext"]}}
  ],
  "virtual_ports": ["Quillon MIDI DAW", "Quillon MIDI Ext"],
  "port_aliases": [
    {"type": "input", "name": "Desk In", "alias": "Mixer In"},
    {"type": "output", "name": "Desk Out", "alias": "Mixer Out"}
  ],
  "variables": [
    {"name": "MIDI Channel", "variable_name": "n", "default": 0,
     "values": [{"value": 0, "name": "1"}, {"value": 1, "name": "2"}, {"value": 2, "name": "3"}]}
  ]
})";

QByteArray Hex(const char* Text)
{
    return QByteArray::fromHex(Text);
}

const QString kTcp = QStringLiteral("Corvane Internal TCP MIDI");
} // namespace

class tst_MIDITranslatorConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void translates_data();
    void translates();
    void consoleTalksThroughTheTcpLink();
    void portsThatComeAndGoAndRebindingAreFollowed();
    void aReloadFromAWriteSlotStopsTheOldMatchersAtOnce();
    void badMapsAreReportedAndTheEngineGoesOn_data();
    void badMapsAreReportedAndTheEngineGoesOn();

private:
    QString WriteMap(const QByteArray& Content, const QString& Name = "console.json");
    // Loads the console map as the window does: the file, then the console's ports bound.
    void LoadConsole(const QString& In = "Desk In", const QString& Out = "Desk Out");
    QList<cMIDIInputMatcher*> Matchers() const { return mConfiguration->findChildren<cMIDIInputMatcher*>(); }
    cFakeMIDIPort* Daw() const { return mRegistry->VirtualPort("Quillon MIDI DAW"); }

    QTemporaryDir* mDir = nullptr;
    cFakeSystemMIDIConfiguration* mRegistry = nullptr;
    cMIDITranslatorConfiguration* mConfiguration = nullptr;
};

void tst_MIDITranslatorConfiguration::init()
{
    mDir = new QTemporaryDir;
    QVERIFY(mDir->isValid());
    mRegistry = new cFakeSystemMIDIConfiguration;
    mConfiguration = new cMIDITranslatorConfiguration(mRegistry);
}

void tst_MIDITranslatorConfiguration::cleanup()
{
    delete mConfiguration;
    mConfiguration = nullptr;
    mRegistry = nullptr;
    delete mDir;
    mDir = nullptr;
}

QString tst_MIDITranslatorConfiguration::WriteMap(const QByteArray& Content, const QString& Name)
{
    return WriteTestFile(mDir->filePath(Name), Content);
}

void tst_MIDITranslatorConfiguration::LoadConsole(const QString& In, const QString& Out)
{
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    mConfiguration->SetMixerInputPortName(In);
    mConfiguration->SetMixerOutputPortName(Out);
}

void tst_MIDITranslatorConfiguration::translates_data()
{
    QTest::addColumn<int>("channel"); // the value of n
    QTest::addColumn<QString>("from"); // "desk" or "daw"
    QTest::addColumn<QString>("reads"); // one read per "|"
    QTest::addColumn<QString>("daw");
    QTest::addColumn<QString>("ext");
    QTest::addColumn<QString>("desk");
    auto row = [](const char* Name, int Channel, const char* From, const char* Reads, const char* Daw, const char* Ext,
                  const char* Desk) { QTest::newRow(Name) << Channel << From << Reads << Daw << Ext << Desk; };
    row("fader in running status, a clock inside", 0, "desk", "b00740 07f841", "e00040 e00041 f8", "", "");
    row("running status split across reads", 0, "desk", "b007|40 07|41", "e00040 e00041", "", "");
    row("a message cut short by the next is dropped", 0, "desk", "b007|b00710", "e00010", "", "");
    row("clock inside an exclusive message", 0, "desk", "f000f82005|f7", "c005 f8", "", "");
    row("nibbles of two captures", 0, "desk", "a01234", "a042", "", "");
    row("mute split across reads, to two ports", 0, "desk", "9010|7f", "90107f", "90107f", "");
    row("channel 3 only on channel 3", 2, "desk", "b00711 b20722", "e00022", "", "");
    row("channel in a low nibble after a digit", 2, "desk", "d2", "", "25", "");
    row("channel in exclusive output", 1, "desk", "f0002033f7", "c133", "", "");
    row("DAW to console through the alias", 2, "daw", "e00033", "", "", "b20733");
    row("DAW pitch bend in running status", 0, "daw", "e00001 0002", "", "", "b00701 b00702");
}

void tst_MIDITranslatorConfiguration::translates()
{
    QFETCH(int, channel);
    QFETCH(QString, from);
    QFETCH(QString, reads);
    cFakeMIDIPort* deskIn = mRegistry->PlugInput("Desk In");
    cFakeMIDIPort* deskOut = mRegistry->PlugOutput("Desk Out");
    cLogCapture log;
    LoadConsole();
    mConfiguration->SetVariableValue("n", uint8_t(channel));
    QCOMPARE(mConfiguration->GetGlobalVariable("n"), uint8_t(channel));
    QSignalSpy read(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIInputRead);
    QSignalSpy written(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIOutputWrite);
    for (const QString& chunk : reads.split('|'))
        (from == "desk" ? deskIn : Daw())->Deliver(QByteArray::fromHex(chunk.toLatin1()));
    auto hex = [](cFakeMIDIPort* Port) { return QString(Port->WrittenBytes().toHex(' ')); };
    auto spaced = [](const QString& Text) { return QString(QByteArray::fromHex(Text.toLatin1()).toHex(' ')); };
    QFETCH(QString, daw);
    QFETCH(QString, ext);
    QFETCH(QString, desk);
    QCOMPARE(hex(Daw()), spaced(daw));
    QCOMPARE(hex(mRegistry->VirtualPort("Quillon MIDI Ext")), spaced(ext));
    QCOMPARE(hex(deskOut), spaced(desk));
    QCOMPARE(read.count(), from == "desk" ? reads.count('|') + 1 : 0);
    QCOMPARE(written.count(), deskOut->WriteCount());
    QCOMPARE(log.Lines(), QStringList());
}

void tst_MIDITranslatorConfiguration::consoleTalksThroughTheTcpLink()
{
    cFakeMIDIPort link;
    cFakeMIDIPort relink;
    mConfiguration->SetTCPInputOutput(&link);
    // The link's registration outlives a reload.
    LoadConsole(kTcp, kTcp);
    LoadConsole(kTcp, kTcp);
    link.Deliver(Hex("b00733"));
    QCOMPARE(Daw()->Writes(), QList<QByteArray>{Hex("e00033")});
    Daw()->Deliver(Hex("e00011"));
    QCOMPARE(link.Writes(), QList<QByteArray>{Hex("b00711")});

    // A new link under the same name takes over at once, both ways.
    mConfiguration->SetTCPInputOutput(&relink);
    Daw()->Deliver(Hex("e00022"));
    QCOMPARE(relink.Writes(), QList<QByteArray>{Hex("b00722")});
    QCOMPARE(link.WriteCount(), 1);
    relink.Deliver(Hex("b00744"));
    QCOMPARE(Daw()->Writes().last(), Hex("e00044"));
    mConfiguration->SetTCPInputOutput(nullptr);
    QCOMPARE(mRegistry->GetInput(kTcp), nullptr);
}

void tst_MIDITranslatorConfiguration::portsThatComeAndGoAndRebindingAreFollowed()
{
    cFakeMIDIPort* deskA = mRegistry->PlugInput("Desk A");
    LoadConsole("Desk A", "Out A");
    deskA->Deliver(Hex("b00701"));
    // The console's input moves to another port; the old one is let go.
    mConfiguration->SetMixerInputPortName("Desk B");
    cFakeMIDIPort* deskB = mRegistry->PlugInput("Desk B");
    deskA->DeliverFromForeignThread(Hex("b00702"));
    deskB->Deliver(Hex("b00703"));
    QCOMPARE(Daw()->WrittenBytes(), Hex("e00001e00003"));
    QCOMPARE(deskA->DroppedChunkCount(), 1);

    // Outputs plugged in, pulled out (the object is destroyed) and in again, and rebound.
    Daw()->Deliver(Hex("e00001"));
    cFakeMIDIPort* out = mRegistry->PlugOutput("Out A");
    Daw()->Deliver(Hex("e00002"));
    mRegistry->UnplugOutput("Out A");
    Daw()->Deliver(Hex("e00003"));
    out = mRegistry->PlugOutput("Out A");
    Daw()->Deliver(Hex("e00004"));
    cFakeMIDIPort* outB = mRegistry->PlugOutput("Out B");
    mConfiguration->SetMixerOutputPortName("Out B");
    Daw()->Deliver(Hex("e00005"));
    QCOMPARE(out->Writes(), QList<QByteArray>{Hex("b00704")});
    QCOMPARE(outB->Writes(), QList<QByteArray>{Hex("b00705")});
}

void tst_MIDITranslatorConfiguration::aReloadFromAWriteSlotStopsTheOldMatchersAtOnce()
{
    cFakeMIDIPort* deskOut = mRegistry->PlugOutput("Desk Out");
    LoadConsole();
    // In the file loaded from the slot, the firing rule's identifier also writes to another port.
    const QString other = WriteMap(QByteArray(kConsoleMap).replace(R"(["Mixer Out"])", R"(["Mixer Out", "Quillon MIDI Ext"])"),
                                   "other.json");
    int reloads = 0;
    connect(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIOutputWrite, this, [&] {
        if (reloads++ == 0)
        {
            mConfiguration->LoadFile(other);
            mConfiguration->SetMixerOutputPortName("Desk Out");
        }
    });
    Daw()->Deliver(Hex("e00001e00002"));
    // The rest of the chunk belonged to the matchers thrown away, the rest of the firing to the
    // rule of the old file.
    QCOMPARE(deskOut->Writes(), QList<QByteArray>{Hex("b00701")});
    QCOMPARE(mRegistry->VirtualPort("Quillon MIDI Ext")->WriteCount(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(Matchers().size(), 2);
    Daw()->Deliver(Hex("e00003"));
    QCOMPARE(deskOut->Writes(), (QList<QByteArray>{Hex("b00701"), Hex("b00703")}));
    QCOMPARE(mRegistry->VirtualPort("Quillon MIDI Ext")->Writes(), QList<QByteArray>{Hex("b00703")});
}

// One fault row per way a map goes wrong; the rest of map loading is the fuzz harness's
// (fuzz/fuzz_translator_config and its seeds).
void tst_MIDITranslatorConfiguration::badMapsAreReportedAndTheEngineGoesOn_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file
    // The log's messages; %1 stands for the path, %2 for the parser's error text.
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<bool>("translates"); // the bad map's good rule
    const QStringList parseError{"Json Parse Error: %2 for file %1"};
    QTest::newRow("missing file") << QByteArray() << QStringList{"Could not open file: %1"} << false;
    QTest::newRow("truncated document") << QByteArray(kConsoleMap).left(300) << parseError << false;
    QTest::newRow("nested 100,000 deep") << QByteArray("{\"rules\": " + QByteArray(100000, '[') + QByteArray(100000, ']') + "}")
                                         << parseError << false;
    QTest::newRow("10 MB file") << QByteArray("{\"rules\": [], \"notes\": \"" + QByteArray(10 * 1000 * 1000, 'x') + "\"}")
                                << QStringList{"Map file too large: %1 (more than %3 bytes)"} << false;
    QTest::newRow("every section of the wrong type")
        << QByteArray(R"({"virtual_ports": "DAW", "port_aliases": {}, "variables": 3, "rules": null})") << QStringList() << false;
    QTest::newRow("wrong types inside, the good parts used")
        << QByteArray(R"({"virtual_ports": ["Quillon MIDI DAW", 1, null],
             "variables": [{"name": "MIDI Channel", "variable_name": "ch", "default": 0, "values": []}],
             "rules": [3, {"name": "bad", "incoming": "B0 07 v", "outgoing": {}},
               {"name": "good", "incoming": {"midi": "B0 07 v", "ports": ["Desk In"]}, "outgoing": {"midi": "E0 00 v", "ports": ["Quillon MIDI DAW"]}}]})")
        << QStringList{"Invalid \"variable_name\": ch", "No \"incoming\" object for rule \"bad\""} << true;
}

void tst_MIDITranslatorConfiguration::badMapsAreReportedAndTheEngineGoesOn()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, messages);
    QFETCH(bool, translates);
    const QString path = content.isNull() ? mDir->filePath("absent.json") : WriteMap(content, "bad.json");
    QJsonParseError error;
    QJsonDocument::fromJson(content, &error);
    for (QString& message : messages)
        message.replace("%1", path).replace("%2", error.errorString()).replace("%3", QString::number(kMostJsonFileBytes));

    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    LoadConsole();
    cLogCapture log;
    mConfiguration->LoadFile(path);
    QCOMPARE(log.Messages(), messages);
    QCOMPARE(mConfiguration->GetFileName(), path);
    desk->Deliver(Hex("b00712"));
    QCOMPARE(Daw() ? Daw()->WrittenBytes() : QByteArray(), translates ? Hex("e00012") : QByteArray());
    // Read as the list of consoles, it leaves an empty list.
    cMixerDawMap mixers;
    mixers.Load(path);
    QVERIFY(mixers.GetMixerNames().isEmpty());

    // A good file loaded afterwards works as if nothing had happened.
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    desk->Deliver(Hex("b00713"));
    QCOMPARE(Daw()->Writes().last(), Hex("e00013"));
}

QTEST_GUILESS_MAIN(tst_MIDITranslatorConfiguration)
#include "tst_MIDITranslatorConfiguration.moc"
