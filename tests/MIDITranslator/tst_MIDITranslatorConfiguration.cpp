#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "MIDITranslator/MIDIInputMatcher.h"
#include "tests/support/ConsoleTraffic.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/LogCapture.h"
#include "tests/support/TestFile.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <climits>
#include <thread>

namespace
{
// A console map as the program ships them: rules listed before the ports they use, the console
// reached through "Mixer In"/"Mixer Out", a channel variable baked into the patterns.
const char* const kConsoleMap = R"({
  "rules": [
    {"name": "fader 1 to DAW",
     "incoming": {"midi": "B*n 07 v", "ports": ["Mixer In"]},
     "outgoing": {"midi": "E0 00 v", "ports": ["Quillon MIDI DAW"]}},
    {"name": "DAW fader 1 to console",
     "incoming": {"midi": "E0 00 w", "ports": ["Quillon MIDI DAW"]},
     "outgoing": {"midi": "B*n 07 w", "ports": ["Mixer Out"]}},
    {"name": "mute 1 from console",
     "incoming": {"midi": "9*n 10 7F", "ports": ["Mixer In"]},
     "outgoing": {"midi": "90 10 7F", "ports": ["Quillon MIDI DAW", "Quillon MIDI Ext"]}}
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

    // The road of a message, both ways.
    void consoleAndDawTalkThroughTheMap();
    void consoleTalksThroughTheTcpLink();
    void aStreamInRandomChunksFromAForeignThreadTranslatesAsInOneRead();
    void rebindingMixerInMovesTheMatchers();
    void rebindingMixerOutActsOnTheNextRule();
    void portsThatComeAndGoAfterLoadingAreFollowed();
    void aVariableChangeRebuildsThePatterns();
    void mixerInIsRelayedOnlyWhenTheFirstRuleOfThePortNamedIt();
    void aReloadFromAWriteSlotStopsTheOldMatchersAtOnce();

    // Loading.
    void withoutAMixerInAliasTheNameIsTakenLiterally();
    void missingMixerOutPortSkipsItSilently();
    void reloadingTheSameFileEndsTheSame();
    void malformedFilesAreReported_data();
    void malformedFilesAreReported();
    void wrongTypesEverywhereLoadWhatIsUsable();

    // Refusals.
    void invalidTriggerIdentifiersAreRefused_data();
    void invalidTriggerIdentifiersAreRefused();
    void defaultRegistryIsThePlatformOne();

private:
    QString WriteMap(const QByteArray& Content, const QString& Name = "console.json");
    // Loads the console map as the window does: the file, then the console's ports bound.
    void LoadConsole(const QString& In = "Desk In", const QString& Out = "Desk Out");
    QList<cMIDIInputMatcher*> Matchers() const { return mConfiguration->findChildren<cMIDIInputMatcher*>(); }
    QStringList MatcherNames() const;
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

QStringList tst_MIDITranslatorConfiguration::MatcherNames() const
{
    QStringList names;
    for (cMIDIInputMatcher* matcher : Matchers())
        names << matcher->GetName();
    names.sort();
    return names;
}

void tst_MIDITranslatorConfiguration::consoleAndDawTalkThroughTheMap()
{
    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    cFakeMIDIPort* deskOut = mRegistry->PlugOutput("Desk Out");
    LoadConsole();
    cFakeMIDIPort* daw = Daw();
    cFakeMIDIPort* ext = mRegistry->VirtualPort("Quillon MIDI Ext");
    QVERIFY(daw && ext);
    QSignalSpy written(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIOutputWrite);
    // Each announcement of the console input is relayed once, after the bytes it brought went out.
    QList<int> dawWritesAtRelay;
    connect(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIInputRead, this,
            [&] { dawWritesAtRelay << daw->WriteCount(); });

    // Fader moves with running status and a clock byte inside, taken by one read; a mute split
    // across two reads.
    desk->DeliverFromForeignThread(QList<QByteArray>{Hex("b00740"), Hex("07f841"), Hex("9010")});
    QTRY_COMPARE(dawWritesAtRelay, (QList<int>{2, 2, 2}));
    desk->DeliverFromForeignThread(Hex("7f"));
    QTRY_COMPARE(dawWritesAtRelay.size(), 4);
    QCOMPARE(dawWritesAtRelay.last(), 3);
    QCOMPARE(daw->Writes(), (QList<QByteArray>{Hex("e00040"), Hex("e00041"), Hex("90107f")}));
    QCOMPARE(ext->Writes(), QList<QByteArray>{Hex("90107f")});

    // Reads of the DAW's port are no console activity; writes to the console are.
    daw->DeliverFromForeignThread(Hex("e0007f"));
    QTRY_COMPARE(deskOut->Writes(), QList<QByteArray>{Hex("b0077f")});
    QCOMPARE(written.count(), 1);
    QCOMPARE(dawWritesAtRelay.size(), 4);
}

void tst_MIDITranslatorConfiguration::consoleTalksThroughTheTcpLink()
{
    cFakeMIDIPort link;
    cFakeMIDIPort relink;
    mConfiguration->SetTCPInputOutput(&link);
    // The link's registration outlives a reload.
    LoadConsole(kTcp, kTcp);
    LoadConsole(kTcp, kTcp);

    // The link delivers on the GUI thread itself.
    link.Deliver(Hex("b00733"));
    QCOMPARE(Daw()->Writes(), QList<QByteArray>{Hex("e00033")});
    Daw()->DeliverFromForeignThread(Hex("e00011"));
    QTRY_COMPARE(link.Writes(), QList<QByteArray>{Hex("b00711")});

    // A new link under the same name takes over at once, both ways.
    mConfiguration->SetTCPInputOutput(&relink);
    mConfiguration->MIDIMatchTriggered(1, {0xe0, 0x00, 0x22});
    QCOMPARE(relink.Writes(), QList<QByteArray>{Hex("b00722")});
    QCOMPARE(link.WriteCount(), 1);
    relink.Deliver(Hex("b00744"));
    QCOMPARE(Daw()->Writes().last(), Hex("e00044"));

    mConfiguration->SetTCPInputOutput(nullptr);
    QCOMPARE(mRegistry->GetInput(kTcp), nullptr);
    mConfiguration->SetTCPInputOutput(nullptr);
}

void tst_MIDITranslatorConfiguration::aStreamInRandomChunksFromAForeignThreadTranslatesAsInOneRead()
{
    const std::vector<uint8_t> traffic = MakeConsoleTraffic(64 * 1024, 7);
    const QByteArray stream(reinterpret_cast<const char*>(traffic.data()), static_cast<int>(traffic.size()));
    const QString path = WriteMap(kConsoleMap);

    // The whole stream in one read, on the GUI thread.
    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    mConfiguration->LoadFile(path);
    desk->Deliver(stream);
    const QByteArray expected = mRegistry->VirtualPort("Quillon MIDI DAW")->WrittenBytes();
    QVERIFY(expected.size() > 1000);

    // The same stream cut at arbitrary places, delivered from a foreign thread while the GUI thread
    // is reading: reads coalesce and split messages, running status and exclusive messages anywhere.
    auto* registry = new cFakeSystemMIDIConfiguration;
    cMIDITranslatorConfiguration configuration(registry);
    cFakeMIDIPort* port = registry->PlugInput("Desk In");
    configuration.LoadFile(path);
    std::thread driver([port, stream] {
        uint32_t seed = 12345;
        for (int at = 0; at < stream.size();)
        {
            seed = seed * 1103515245u + 12345u;
            const int length = 1 + static_cast<int>((seed >> 16) % 97);
            port->Deliver(stream.mid(at, length));
            at += length;
        }
    });
    cFakeMIDIPort* daw = registry->VirtualPort("Quillon MIDI DAW");
    QTRY_COMPARE_WITH_TIMEOUT(daw->WrittenBytes().size(), expected.size(), 20000);
    driver.join();
    QCoreApplication::processEvents();
    QCOMPARE(daw->WrittenBytes(), expected);
}

void tst_MIDITranslatorConfiguration::rebindingMixerInMovesTheMatchers()
{
    cFakeMIDIPort* deskA = mRegistry->PlugInput("Desk A");
    cFakeMIDIPort* deskB = mRegistry->PlugInput("Desk B");
    LoadConsole("Desk A");
    QCOMPARE(MatcherNames(), (QStringList{"Desk A", "Quillon MIDI DAW"}));
    deskA->DeliverFromForeignThread(Hex("b00701"));
    QTRY_COMPARE(Daw()->WriteCount(), 1);

    mConfiguration->SetMixerInputPortName("Desk B");
    QCOMPARE(MatcherNames(), (QStringList{"Desk B", "Quillon MIDI DAW"}));
    deskA->DeliverFromForeignThread(Hex("b00702"));
    deskB->DeliverFromForeignThread(Hex("b00703"));
    QTRY_COMPARE(Daw()->WriteCount(), 2);
    QCoreApplication::processEvents();
    QCOMPARE(Daw()->Writes().last(), Hex("e00003"));
    QCOMPARE(deskA->DroppedChunkCount(), 1);
}

void tst_MIDITranslatorConfiguration::rebindingMixerOutActsOnTheNextRule()
{
    cFakeMIDIPort* outA = mRegistry->PlugOutput("Out A");
    cFakeMIDIPort* outB = mRegistry->PlugOutput("Out B");
    LoadConsole("Desk In", "Out A");
    const QPointer<cMIDIInputMatcher> matcher = Matchers().value(0);

    mConfiguration->MIDIMatchTriggered(1, {0xe0, 0x00, 0x10});
    mConfiguration->SetMixerOutputPortName("Out B");
    QVERIFY(matcher);
    mConfiguration->MIDIMatchTriggered(1, {0xe0, 0x00, 0x20});
    QCOMPARE(outA->Writes(), QList<QByteArray>{Hex("b00710")});
    QCOMPARE(outB->Writes(), QList<QByteArray>{Hex("b00720")});
}

void tst_MIDITranslatorConfiguration::portsThatComeAndGoAfterLoadingAreFollowed()
{
    LoadConsole();
    QSignalSpy written(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIOutputWrite);
    mRegistry->PlugInput("Desk In")->DeliverFromForeignThread(Hex("b0075a"));
    QTRY_COMPARE(Daw()->Writes(), QList<QByteArray>{Hex("e0005a")});

    mConfiguration->MIDIMatchTriggered(1, {0xe0, 0x00, 0x01});
    cFakeMIDIPort* out = mRegistry->PlugOutput("Desk Out");
    mConfiguration->MIDIMatchTriggered(1, {0xe0, 0x00, 0x02});
    QCOMPARE(out->Writes(), QList<QByteArray>{Hex("b00702")});
    // The port object is destroyed on removal: nothing may be written to it any more.
    mRegistry->UnplugOutput("Desk Out");
    mConfiguration->MIDIMatchTriggered(1, {0xe0, 0x00, 0x03});
    out = mRegistry->PlugOutput("Desk Out");
    mConfiguration->MIDIMatchTriggered(1, {0xe0, 0x00, 0x04});
    QCOMPARE(out->Writes(), QList<QByteArray>{Hex("b00704")});
    QCOMPARE(written.count(), 2);
}

void tst_MIDITranslatorConfiguration::aVariableChangeRebuildsThePatterns()
{
    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    cFakeMIDIPort* deskOut = mRegistry->PlugOutput("Desk Out");
    LoadConsole();

    // Variables go by their exact one-letter name: neither the display name nor another case
    // changes or rebuilds anything.
    const QPointer<cMIDIInputMatcher> matcher = Matchers().value(0);
    cLogCapture log;
    mConfiguration->SetVariableValue("MIDI Channel", 2);
    mConfiguration->SetVariableValue("N", 2);
    QVERIFY(matcher);
    QCOMPARE(mConfiguration->GetGlobalVariable("N"), uint8_t(0));
    QCOMPARE(log.Messages(), QStringList{"Unknown Global Variable: \"N\""});
    QVERIFY(log.Files().value(0).endsWith("MIDITranslatorConfiguration.cpp"));
    QCOMPARE(mConfiguration->GetGlobalVariable("n"), uint8_t(0));
    log.Clear();

    mConfiguration->SetVariableValue("n", 2);
    QCOMPARE(mConfiguration->GetGlobalVariable("n"), uint8_t(2));
    desk->DeliverFromForeignThread(QList<QByteArray>{Hex("b00711"), Hex("b20722")});
    QTRY_COMPARE(Daw()->WriteCount(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(Daw()->Writes(), QList<QByteArray>{Hex("e00022")});
    // Outgoing bytes read the variable when the rule fires.
    Daw()->DeliverFromForeignThread(Hex("e00033"));
    QTRY_COMPARE(deskOut->Writes(), QList<QByteArray>{Hex("b20733")});

    // A value the variable does not allow keeps the current one, and the patterns still work.
    mConfiguration->SetVariableValue("n", 9);
    QCOMPARE(log.Messages(), QStringList{"Invalid value: 9"});
    desk->DeliverFromForeignThread(Hex("b20744"));
    QTRY_COMPARE(Daw()->WriteCount(), 2);
}

void tst_MIDITranslatorConfiguration::mixerInIsRelayedOnlyWhenTheFirstRuleOfThePortNamedIt()
{
    // One matcher for the port however its rules name it; a rule that reads it twice fires twice.
    const QByteArray map = R"({
      "port_aliases": [{"type": "input", "name": "Desk In", "alias": "Mixer In"}],
      "virtual_ports": ["DAW"],
      "rules": [
        {"name": "direct", "incoming": {"midi": "C0 v", "ports": ["Desk In"]}, "outgoing": {"midi": "C1 v", "ports": ["DAW"]}},
        {"name": "alias 1", "incoming": {"midi": "C2 v", "ports": ["Mixer In"]}, "outgoing": {"midi": "C3 v", "ports": ["DAW"]}},
        {"name": "alias 2", "incoming": {"midi": "C4 v", "ports": ["Mixer In"]}, "outgoing": {"midi": "C5 v", "ports": ["DAW"]}},
        {"name": "twice", "incoming": {"midi": "C6 v", "ports": ["Mixer In", "Desk In", 3]}, "outgoing": {"midi": "C7 v", "ports": ["DAW"]}}
      ]})";
    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    cLogCapture log;
    mConfiguration->LoadFile(WriteMap(map));
    QCOMPARE(log.Messages(), QStringList{"Identifier 3 is alread in use"});
    QCOMPARE(MatcherNames(), QStringList{"Desk In"});
    QSignalSpy read(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIInputRead);
    desk->DeliverFromForeignThread(Hex("c001c202c403c607"));
    cFakeMIDIPort* daw = mRegistry->VirtualPort("DAW");
    QTRY_COMPARE(daw->WriteCount(), 5);
    QCOMPARE(daw->WrittenBytes(), Hex("c101c302c503c707c707"));
    QCOMPARE(read.count(), 0);
}

void tst_MIDITranslatorConfiguration::aReloadFromAWriteSlotStopsTheOldMatchersAtOnce()
{
    cFakeMIDIPort* deskOut = mRegistry->PlugOutput("Desk Out");
    LoadConsole();
    // In the file loaded from the slot, the firing rule's identifier also writes to another port.
    const QString other = WriteMap(QByteArray(kConsoleMap).replace(R"(["Mixer Out"])", R"(["Mixer Out", "Quillon MIDI Ext"])"),
                                   "other.json");

    // A slot connected directly reloads while the DAW port's matcher is inside its chunk.
    int reloads = 0;
    connect(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIOutputWrite, this, [&] {
        if (reloads++ == 0)
        {
            mConfiguration->LoadFile(other);
            mConfiguration->SetMixerOutputPortName("Desk Out");
        }
    });
    Daw()->Deliver(Hex("e00001e00002"));
    // The rest of the chunk belonged to the matchers that were thrown away, and the rest of the
    // firing to the rule of the old file.
    QCOMPARE(deskOut->Writes(), QList<QByteArray>{Hex("b00701")});
    QCOMPARE(mRegistry->VirtualPort("Quillon MIDI Ext")->WriteCount(), 0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(Matchers().size(), 2);

    // The new matchers work.
    Daw()->Deliver(Hex("e00003"));
    QCOMPARE(deskOut->Writes(), (QList<QByteArray>{Hex("b00701"), Hex("b00703")}));
    QCOMPARE(mRegistry->VirtualPort("Quillon MIDI Ext")->Writes(), QList<QByteArray>{Hex("b00703")});
}

void tst_MIDITranslatorConfiguration::withoutAMixerInAliasTheNameIsTakenLiterally()
{
    const QByteArray map = R"({
      "virtual_ports": ["DAW"],
      "rules": [{"name": "literal", "incoming": {"midi": "D0 v", "ports": ["Mixer In"]},
                 "outgoing": {"midi": "D1 v", "ports": ["DAW", "Mixer Out"]}}]})";
    cFakeMIDIPort* literal = mRegistry->PlugInput("Mixer In");
    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    cFakeMIDIPort* literalOut = mRegistry->PlugOutput("Mixer Out");
    mRegistry->PlugOutput("Desk Out");
    mConfiguration->LoadFile(WriteMap(map));
    mConfiguration->SetMixerInputPortName("Desk In");
    mConfiguration->SetMixerOutputPortName("Desk Out");
    QCOMPARE(MatcherNames(), QStringList{"Mixer In"});

    desk->DeliverFromForeignThread(Hex("d001"));
    literal->DeliverFromForeignThread(Hex("d002"));
    QTRY_COMPARE(mRegistry->VirtualPort("DAW")->Writes(), QList<QByteArray>{Hex("d102")});
    QCOMPARE(literalOut->Writes(), QList<QByteArray>{Hex("d102")});
}

void tst_MIDITranslatorConfiguration::missingMixerOutPortSkipsItSilently()
{
    const QByteArray map = R"({
      "virtual_ports": ["DAW"],
      "port_aliases": [{"type": "output", "name": "Desk Out", "alias": "Mixer Out"}],
      "rules": [{"name": "both", "incoming": {"midi": "D0 v", "ports": ["In"]},
                 "outgoing": {"midi": "D1 v", "ports": ["Mixer Out", "DAW", "Nowhere"]}}]})";
    mConfiguration->LoadFile(WriteMap(map));
    QSignalSpy written(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIOutputWrite);
    cLogCapture log;
    mConfiguration->MIDIMatchTriggered(0, {0xd0, 0x44});
    QCOMPARE(mRegistry->VirtualPort("DAW")->Writes(), QList<QByteArray>{Hex("d144")});
    QCOMPARE(written.count(), 0);
    QVERIFY(log.Lines().isEmpty());
}

void tst_MIDITranslatorConfiguration::reloadingTheSameFileEndsTheSame()
{
    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    const QString path = WriteMap(kConsoleMap);
    cLogCapture log;
    for (int load = 0; load < 2; ++load)
    {
        mConfiguration->LoadFile(path);
        // The file lists its rules first, yet the aliases were known when the matchers were built.
        QCOMPARE(MatcherNames(), (QStringList{"Desk In", "Quillon MIDI DAW"}));
        QCOMPARE(mConfiguration->GetVirtualPortNames(), (QStringList{"Quillon MIDI DAW", "Quillon MIDI Ext"}));
        QStringList named = mRegistry->GetNamedPortNames();
        named.sort();
        QCOMPARE(named, mConfiguration->GetVirtualPortNames());
        QCOMPARE(mConfiguration->GetRules().size(), 3);
        for (int id = 0; id < mConfiguration->GetRules().size(); ++id)
            QCOMPARE(mConfiguration->GetRules().at(id).GetId(), id);
    }
    QVERIFY2(log.Lines().isEmpty(), qPrintable(log.Lines().join("")));
    QCOMPARE(mRegistry->VirtualPortsMade(), 4);
    QCOMPARE(mConfiguration->GetFileName(), path);
    desk->DeliverFromForeignThread(Hex("b00708"));
    QTRY_COMPARE(Daw()->Writes(), QList<QByteArray>{Hex("e00008")});
}

void tst_MIDITranslatorConfiguration::malformedFilesAreReported_data()
{
    QTest::addColumn<QByteArray>("content");
    // The file read: written with the content unless that is null; "" is the folder itself.
    QTest::addColumn<QString>("name");
    // %1 stands for the path, %2 for the parser's error text.
    QTest::addColumn<QStringList>("messages");

    const QStringList parseError{"Json Parse Error: %2 for file %1"};
    QTest::newRow("missing file") << QByteArray() << "absent.json" << QStringList{"Could not open file: %1"};
    QTest::newRow("a folder") << QByteArray() << "" << QStringList{"Could not open file: %1"};
    QTest::newRow("truncated document") << QByteArray(kConsoleMap).left(300) << "broken.json" << parseError;
    QTest::newRow("empty file") << QByteArray("") << "broken.json" << parseError;
    QTest::newRow("top level is an array") << QByteArray("[1, 2, 3]") << "array.json" << QStringList();
    QTest::newRow("every section of the wrong type")
        << QByteArray(R"({"virtual_ports": "DAW", "port_aliases": {}, "variables": 3, "rules": null})") << "types.json"
        << QStringList();
}

void tst_MIDITranslatorConfiguration::malformedFilesAreReported()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, name);
    QFETCH(QStringList, messages);

    const QString path = name.isEmpty() ? mDir->path() + "/" : content.isNull() ? mDir->filePath(name) : WriteMap(content, name);
    QJsonParseError error;
    QJsonDocument::fromJson(content, &error);
    for (QString& message : messages)
        message.replace("%1", path).replace("%2", error.errorString());

    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    LoadConsole();
    cLogCapture log;
    mConfiguration->LoadFile(path);
    QCOMPARE(log.Messages(), messages);
    QVERIFY(messages.isEmpty() || log.Files().value(0).endsWith("MIDITranslatorConfiguration.cpp"));
    QCOMPARE(mConfiguration->GetFileName(), path);
    QVERIFY(mConfiguration->GetRules().isEmpty());
    QVERIFY(mConfiguration->GetVariables().isEmpty());
    QVERIFY(mConfiguration->GetVirtualPortNames().isEmpty());
    QVERIFY(Matchers().isEmpty());
    QVERIFY(mRegistry->GetNamedPortNames().isEmpty());

    // A good file loaded afterwards works as if nothing had happened.
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    QCOMPARE(log.Lines().size(), messages.size());
    desk->DeliverFromForeignThread(Hex("b00712"));
    QTRY_COMPARE(Daw()->Writes(), QList<QByteArray>{Hex("e00012")});
}

void tst_MIDITranslatorConfiguration::wrongTypesEverywhereLoadWhatIsUsable()
{
    const QByteArray map = R"({
      "virtual_ports": ["DAW", 1, null, {"name": "X"}, ["Y"], "DAW"],
      "port_aliases": [
        "Mixer In",
        {"type": "input", "name": 5, "alias": "Mixer In"},
        {"type": "input", "name": "Desk In"},
        {"type": "both", "name": "Desk In", "alias": "Mixer In"},
        {"type": "Input", "name": "Desk In", "alias": "Mixer In"},
        {"type": "output", "name": "Old Out", "alias": "Mixer Out"},
        {"type": "output", "name": "Desk Out", "alias": "Mixer Out"}
      ],
      "variables": [7, "n", {"name": "MIDI Channel", "variable_name": "ch", "default": 0, "values": []},
                    {"name": "MIDI Channel", "variable_name": "n", "default": 1, "values": [{"value": 1, "name": "2"}]}],
      "rules": [3, [], "rule",
        {"name": "first", "incoming": {"midi": "A0 v", "ports": ["Mixer In"]}, "outgoing": {"midi": "A1 v", "ports": ["DAW"]}},
        {"name": "bad incoming", "incoming": "B0 07 v", "outgoing": {"midi": "B0 07 v", "ports": ["DAW"]}},
        {"incoming": {"midi": "A2 v", "ports": ["Mixer In"]}, "outgoing": {"midi": "A3 v", "ports": ["DAW"]}},
        {"name": "good", "incoming": {"midi": "B*n 07 v", "ports": ["Mixer In"]}, "outgoing": {"midi": "B*n 08 v", "ports": ["DAW", "Mixer Out"]}}
      ],
      "unknown": {"anything": true}
    })";
    cFakeMIDIPort* literal = mRegistry->PlugInput("Mixer In");
    cFakeMIDIPort* deskOut = mRegistry->PlugOutput("Desk Out");
    cLogCapture log;
    mConfiguration->LoadFile(WriteMap(map));
    QCOMPARE(log.Messages(), (QStringList{"Virtual MIDI Input Output \"DAW\" already created", "Invalid \"variable_name\": ch",
                                          "No \"incoming\" object for rule \"bad incoming\"", "No \"name\" string for rule"}));
    // A refused port name is still recorded, so that clearing asks for its deletion too.
    QCOMPARE(mConfiguration->GetVirtualPortNames(), (QStringList{"DAW", "DAW"}));
    QCOMPARE(mConfiguration->GetVariables().size(), 1);
    QCOMPARE(MatcherNames(), QStringList{"Mixer In"});
    // The refused rules took no identifier, so the two good ones fire through the port as 0 and 1.
    literal->DeliverFromForeignThread(Hex("a005b10712"));
    QTRY_COMPARE(mRegistry->VirtualPort("DAW")->Writes(), (QList<QByteArray>{Hex("a105"), Hex("b10812")}));
    QCOMPARE(deskOut->Writes(), QList<QByteArray>{Hex("b10812")});

    mConfiguration->Clear();
    QVERIFY(mRegistry->GetNamedPortNames().isEmpty());
    QVERIFY(mConfiguration->GetVirtualPortNames().isEmpty());
    QVERIFY(mConfiguration->GetFileName().isEmpty());
    QCOMPARE(log.Lines().size(), 4);
}

void tst_MIDITranslatorConfiguration::invalidTriggerIdentifiersAreRefused_data()
{
    QTest::addColumn<int>("id");
    QTest::newRow("one past the end") << 3;
    QTest::newRow("far past the end") << INT_MAX;
    QTest::newRow("minus one") << -1;
    QTest::newRow("most negative") << INT_MIN;
}

void tst_MIDITranslatorConfiguration::invalidTriggerIdentifiersAreRefused()
{
    QFETCH(int, id);
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    cLogCapture log;
    mConfiguration->MIDIMatchTriggered(id, {0xb0, 0x07, 0x01});
    QCOMPARE(log.Messages(), QStringList{QString("Invalid Trigger Id: %1").arg(id)});
    QCOMPARE(mRegistry->VirtualPort("Quillon MIDI DAW")->WriteCount(), 0);
    QCOMPARE(mRegistry->VirtualPort("Quillon MIDI Ext")->WriteCount(), 0);
}

void tst_MIDITranslatorConfiguration::defaultRegistryIsThePlatformOne()
{
    cMIDITranslatorConfiguration configuration;
    QVERIFY(configuration.GetSystemMIDIConfiguration() != nullptr);
    QVERIFY(qobject_cast<cFakeSystemMIDIConfiguration*>(configuration.GetSystemMIDIConfiguration()) == nullptr);
}

QTEST_GUILESS_MAIN(tst_MIDITranslatorConfiguration)
#include "tst_MIDITranslatorConfiguration.moc"
