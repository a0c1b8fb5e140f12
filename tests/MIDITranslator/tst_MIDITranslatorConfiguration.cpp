#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "MIDITranslator/MIDIInputMatcher.h"
#include "tests/support/ConsoleTraffic.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/LogCapture.h"

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
} // namespace

class tst_MIDITranslatorConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // The road of a message, both ways.
    void consoleBytesReachTheDawTranslated();
    void dawBytesReachTheConsoleTranslated();
    void consoleBytesThroughTheTcpLink();
    void aStreamInRandomChunksFromAForeignThreadTranslatesAsInOneRead();
    void rebindingMixerInMovesTheMatchers();
    void rebindingMixerOutActsOnTheNextRule();
    void aPortPluggedInAfterLoadingIsFollowed();
    void anOutputPortThatComesAndGoesIsFollowed();
    void aVariableChangeRebuildsThePatterns();
    void relaysReadAndWriteActivity();
    void mixerInIsRelayedOnlyWhenTheFirstRuleOfThePortNamedIt();
    void aReloadFromAWriteSlotStopsTheOldMatchersAtOnce();

    // Loading.
    void readsTheSectionsInAFixedOrder();
    void refusedRulesTakeNoIdentifier();
    void ruleReadingOnePortTwiceFiresTwice();
    void withoutAMixerInAliasTheNameIsTakenLiterally();
    void missingMixerOutPortSkipsItSilently();
    void reloadingTheSameFileEndsTheSame();
    void duplicateVirtualPortIsReportedAndStillCleared();
    void malformedFilesAreReported_data();
    void malformedFilesAreReported();
    void wrongTypesEverywhereLoadWhatIsUsable();
    void aGoodLoadAfterABrokenOneWorks();
    void theTcpLinkSurvivesAReload();

    // Lookups and refusals.
    void invalidTriggerIdentifiersAreRefused_data();
    void invalidTriggerIdentifiersAreRefused();
    void unknownGlobalVariableIsReported();
    void unknownVariableNameChangesNothing();
    void defaultRegistryIsThePlatformOne();

private:
    QString WriteMap(const QByteArray& Content, const QString& Name = "console.json");
    QList<cMIDIInputMatcher*> Matchers() const { return mConfiguration->findChildren<cMIDIInputMatcher*>(); }
    QStringList MatcherNames() const;

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
    const QString path = mDir->filePath(Name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return QString();
    file.write(Content);
    return path;
}

QStringList tst_MIDITranslatorConfiguration::MatcherNames() const
{
    QStringList names;
    for (cMIDIInputMatcher* matcher : Matchers())
        names << matcher->GetName();
    names.sort();
    return names;
}

void tst_MIDITranslatorConfiguration::consoleBytesReachTheDawTranslated()
{
    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    mConfiguration->SetMixerInputPortName("Desk In");
    cFakeMIDIPort* daw = mRegistry->VirtualPort("Quillon MIDI DAW");
    cFakeMIDIPort* ext = mRegistry->VirtualPort("Quillon MIDI Ext");
    QVERIFY(daw && ext);

    // Fader move with running status, a clock byte inside, mute split across two reads.
    desk->DeliverFromForeignThread(QList<QByteArray>{Hex("b00740"), Hex("07f841"), Hex("9010")});
    desk->DeliverFromForeignThread(Hex("7f"));
    QTRY_COMPARE(daw->WriteCount(), 3);
    QCOMPARE(daw->Writes(), (QList<QByteArray>{Hex("e00040"), Hex("e00041"), Hex("90107f")}));
    QCOMPARE(ext->Writes(), QList<QByteArray>{Hex("90107f")});
}

void tst_MIDITranslatorConfiguration::dawBytesReachTheConsoleTranslated()
{
    cFakeMIDIPort* deskOut = mRegistry->PlugOutput("Desk Out");
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    mConfiguration->SetMixerOutputPortName("Desk Out");
    QSignalSpy written(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIOutputWrite);

    mRegistry->VirtualPort("Quillon MIDI DAW")->DeliverFromForeignThread(Hex("e0007f"));
    QTRY_COMPARE(deskOut->WriteCount(), 1);
    QCOMPARE(deskOut->Writes(), QList<QByteArray>{Hex("b0077f")});
    QCOMPARE(written.count(), 1);
}

void tst_MIDITranslatorConfiguration::consoleBytesThroughTheTcpLink()
{
    cFakeMIDIPort link;
    mConfiguration->SetTCPInputOutput(&link);
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    mConfiguration->SetMixerInputPortName("Corvane Internal TCP MIDI");
    mConfiguration->SetMixerOutputPortName("Corvane Internal TCP MIDI");

    // The link delivers on the GUI thread itself.
    link.Deliver(Hex("b00733"));
    QCOMPARE(mRegistry->VirtualPort("Quillon MIDI DAW")->Writes(), QList<QByteArray>{Hex("e00033")});
    mRegistry->VirtualPort("Quillon MIDI DAW")->DeliverFromForeignThread(Hex("e00011"));
    QTRY_COMPARE(link.Writes(), QList<QByteArray>{Hex("b00711")});

    mConfiguration->SetTCPInputOutput(nullptr);
    QCOMPARE(mRegistry->GetInput("Corvane Internal TCP MIDI"), nullptr);
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
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    mConfiguration->SetMixerInputPortName("Desk A");
    QCOMPARE(MatcherNames(), (QStringList{"Desk A", "Quillon MIDI DAW"}));
    cFakeMIDIPort* daw = mRegistry->VirtualPort("Quillon MIDI DAW");

    deskA->DeliverFromForeignThread(Hex("b00701"));
    QTRY_COMPARE(daw->WriteCount(), 1);

    mConfiguration->SetMixerInputPortName("Desk B");
    QCOMPARE(MatcherNames(), (QStringList{"Desk B", "Quillon MIDI DAW"}));
    QCOMPARE(mConfiguration->ResolveInputAlias("Mixer In"), QString("Desk B"));
    deskA->DeliverFromForeignThread(Hex("b00702"));
    deskB->DeliverFromForeignThread(Hex("b00703"));
    QTRY_COMPARE(daw->WriteCount(), 2);
    QCoreApplication::processEvents();
    QCOMPARE(daw->Writes().last(), Hex("e00003"));
    QCOMPARE(deskA->DroppedChunkCount(), 1);
}

void tst_MIDITranslatorConfiguration::rebindingMixerOutActsOnTheNextRule()
{
    cFakeMIDIPort* outA = mRegistry->PlugOutput("Out A");
    cFakeMIDIPort* outB = mRegistry->PlugOutput("Out B");
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    mConfiguration->SetMixerOutputPortName("Out A");
    const int matchers = Matchers().size();

    mConfiguration->MIDIMatchTriggered(1, {0xe0, 0x00, 0x10});
    mConfiguration->SetMixerOutputPortName("Out B");
    QCOMPARE(Matchers().size(), matchers);
    mConfiguration->MIDIMatchTriggered(1, {0xe0, 0x00, 0x20});
    QCOMPARE(outA->Writes(), QList<QByteArray>{Hex("b00710")});
    QCOMPARE(outB->Writes(), QList<QByteArray>{Hex("b00720")});
}

void tst_MIDITranslatorConfiguration::aPortPluggedInAfterLoadingIsFollowed()
{
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    mConfiguration->SetMixerInputPortName("Desk In");
    cFakeMIDIPort* daw = mRegistry->VirtualPort("Quillon MIDI DAW");

    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    desk->DeliverFromForeignThread(Hex("b0075a"));
    QTRY_COMPARE(daw->Writes(), QList<QByteArray>{Hex("e0005a")});

    // Pulled out and plugged in again: the same matcher follows it.
    mRegistry->UnplugInput("Desk In");
    desk = mRegistry->PlugInput("Desk In");
    desk->DeliverFromForeignThread(Hex("b0075b"));
    QTRY_COMPARE(daw->WriteCount(), 2);
    QCOMPARE(daw->Writes().last(), Hex("e0005b"));
}

void tst_MIDITranslatorConfiguration::anOutputPortThatComesAndGoesIsFollowed()
{
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    mConfiguration->SetMixerOutputPortName("Desk Out");
    QSignalSpy written(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIOutputWrite);

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

    // The same for a registered pair replaced under the name.
    cFakeMIDIPort first;
    cFakeMIDIPort second;
    mConfiguration->SetMixerOutputPortName("Corvane Internal TCP MIDI");
    mConfiguration->SetTCPInputOutput(&first);
    mConfiguration->MIDIMatchTriggered(1, {0xe0, 0x00, 0x05});
    mConfiguration->SetTCPInputOutput(&second);
    mConfiguration->MIDIMatchTriggered(1, {0xe0, 0x00, 0x06});
    QCOMPARE(first.Writes(), QList<QByteArray>{Hex("b00705")});
    QCOMPARE(second.Writes(), QList<QByteArray>{Hex("b00706")});
}

void tst_MIDITranslatorConfiguration::aVariableChangeRebuildsThePatterns()
{
    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    cFakeMIDIPort* deskOut = mRegistry->PlugOutput("Desk Out");
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    mConfiguration->SetMixerInputPortName("Desk In");
    mConfiguration->SetMixerOutputPortName("Desk Out");
    cFakeMIDIPort* daw = mRegistry->VirtualPort("Quillon MIDI DAW");
    QCOMPARE(mConfiguration->GetGlobalVariable("n"), uint8_t(0));

    mConfiguration->SetVariableValue("n", 2);
    QCOMPARE(mConfiguration->GetGlobalVariable("n"), uint8_t(2));
    desk->DeliverFromForeignThread(QList<QByteArray>{Hex("b00711"), Hex("b20722")});
    QTRY_COMPARE(daw->WriteCount(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(daw->Writes(), QList<QByteArray>{Hex("e00022")});
    // Outgoing bytes read the variable when the rule fires.
    daw->DeliverFromForeignThread(Hex("e00033"));
    QTRY_COMPARE(deskOut->Writes(), QList<QByteArray>{Hex("b20733")});

    // A value the variable does not allow keeps the current one, and the patterns still work.
    cLogCapture log;
    mConfiguration->SetVariableValue("n", 9);
    QCOMPARE(log.Messages(), QStringList{"Invalid value: 9"});
    desk->DeliverFromForeignThread(Hex("b20744"));
    QTRY_COMPARE(daw->WriteCount(), 2);
}

void tst_MIDITranslatorConfiguration::relaysReadAndWriteActivity()
{
    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    mRegistry->PlugOutput("Desk Out");
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    mConfiguration->SetMixerInputPortName("Desk In");
    mConfiguration->SetMixerOutputPortName("Desk Out");
    QSignalSpy read(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIInputRead);
    QSignalSpy written(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIOutputWrite);
    cFakeMIDIPort* daw = mRegistry->VirtualPort("Quillon MIDI DAW");

    // Each announcement of the console input is relayed once, after its bytes went out.
    int writesAtRelay = -1;
    connect(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIInputRead, this,
            [&] { writesAtRelay = daw->WriteCount(); });
    desk->DeliverFromForeignThread(Hex("b00701"));
    QTRY_COMPARE(read.count(), 1);
    QCOMPARE(writesAtRelay, 1);
    desk->DeliverFromForeignThread(Hex("f8"));
    QTRY_COMPARE(read.count(), 2);
    // Reads of the DAW's port are not console activity; writes to the console are.
    daw->DeliverFromForeignThread(Hex("e00001"));
    QTRY_COMPARE(written.count(), 1);
    QCOMPARE(read.count(), 2);
}

void tst_MIDITranslatorConfiguration::mixerInIsRelayedOnlyWhenTheFirstRuleOfThePortNamedIt()
{
    const QByteArray map = R"({
      "port_aliases": [{"type": "input", "name": "Desk In", "alias": "Mixer In"}],
      "virtual_ports": ["DAW"],
      "rules": [
        {"name": "direct", "incoming": {"midi": "C0 v", "ports": ["Desk In"]}, "outgoing": {"midi": "C1 v", "ports": ["DAW"]}},
        {"name": "alias 1", "incoming": {"midi": "C2 v", "ports": ["Mixer In"]}, "outgoing": {"midi": "C3 v", "ports": ["DAW"]}},
        {"name": "alias 2", "incoming": {"midi": "C4 v", "ports": ["Mixer In"]}, "outgoing": {"midi": "C5 v", "ports": ["DAW"]}}
      ]})";
    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    mConfiguration->LoadFile(WriteMap(map));
    QCOMPARE(MatcherNames(), QStringList{"Desk In"});
    QSignalSpy read(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIInputRead);
    desk->DeliverFromForeignThread(Hex("c001c202c403"));
    cFakeMIDIPort* daw = mRegistry->VirtualPort("DAW");
    QTRY_COMPARE(daw->WriteCount(), 3);
    QCOMPARE(daw->WrittenBytes(), Hex("c101c302c503"));
    QCOMPARE(read.count(), 0);
}

void tst_MIDITranslatorConfiguration::aReloadFromAWriteSlotStopsTheOldMatchersAtOnce()
{
    cFakeMIDIPort* deskOut = mRegistry->PlugOutput("Desk Out");
    const QString path = WriteMap(kConsoleMap);
    mConfiguration->LoadFile(path);
    mConfiguration->SetMixerOutputPortName("Desk Out");
    cFakeMIDIPort* daw = mRegistry->VirtualPort("Quillon MIDI DAW");

    // A slot connected directly reloads while the DAW port's matcher is inside its chunk.
    int reloads = 0;
    connect(mConfiguration, &cMIDITranslatorConfiguration::MixerMIDIOutputWrite, this, [&] {
        if (reloads++ == 0)
        {
            mConfiguration->LoadFile(path);
            mConfiguration->SetMixerOutputPortName("Desk Out");
        }
    });
    daw->Deliver(Hex("e00001e00002"));
    // The rest of the chunk belonged to the matchers that were thrown away.
    QCOMPARE(deskOut->Writes(), QList<QByteArray>{Hex("b00701")});
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(Matchers().size(), 2);

    // The new matchers work.
    mRegistry->VirtualPort("Quillon MIDI DAW")->Deliver(Hex("e00003"));
    QCOMPARE(deskOut->Writes(), (QList<QByteArray>{Hex("b00701"), Hex("b00703")}));
}

void tst_MIDITranslatorConfiguration::readsTheSectionsInAFixedOrder()
{
    cLogCapture log;
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    QVERIFY2(log.Lines().isEmpty(), qPrintable(log.Lines().join("")));
    QCOMPARE(mConfiguration->GetVirtualPortNames(), (QStringList{"Quillon MIDI DAW", "Quillon MIDI Ext"}));
    QCOMPARE(mConfiguration->GetRules().size(), 3);
    QCOMPARE(mConfiguration->GetVariables().size(), 1);
    QCOMPARE(mConfiguration->GetFileName(), mDir->filePath("console.json"));
    // The aliases were known when the matchers were built, though the rules came first in the file.
    QCOMPARE(MatcherNames(), (QStringList{"Desk In", "Quillon MIDI DAW"}));
    QCOMPARE(mConfiguration->ResolveOutputAlias("Mixer Out"), QString("Desk Out"));
    QCOMPARE(mConfiguration->ResolveOutputAlias("Desk Out"), QString("Desk Out"));
    // The patterns were built with the variable's value, so the channel rule matches channel 1.
    mRegistry->PlugInput("Desk In")->DeliverFromForeignThread(Hex("b00709"));
    QTRY_COMPARE(mRegistry->VirtualPort("Quillon MIDI DAW")->WriteCount(), 1);
}

void tst_MIDITranslatorConfiguration::refusedRulesTakeNoIdentifier()
{
    const QByteArray map = R"({
      "virtual_ports": ["DAW"],
      "rules": [
        {"name": "first", "incoming": {"midi": "A0 v", "ports": ["In"]}, "outgoing": {"midi": "A1 v", "ports": ["DAW"]}},
        {"incoming": {"midi": "A2 v", "ports": ["In"]}, "outgoing": {"midi": "A3 v", "ports": ["DAW"]}},
        {"name": "third", "incoming": {"midi": "A4 v", "ports": ["In"]}, "outgoing": {"midi": "A5 v", "ports": ["DAW"]}}
      ]})";
    cLogCapture log;
    mConfiguration->LoadFile(WriteMap(map));
    QCOMPARE(log.Messages(), QStringList{"No \"name\" string for rule"});
    QCOMPARE(mConfiguration->GetRules().size(), 2);
    QCOMPARE(mConfiguration->GetRules().at(0).GetId(), 0);
    QCOMPARE(mConfiguration->GetRules().at(1).GetId(), 1);
    QCOMPARE(mConfiguration->GetRules().at(1).GetName(), QString("third"));
    QCOMPARE(mConfiguration->GetRules().at(1).GetMatchTrigger()->id, 1);

    mConfiguration->MIDIMatchTriggered(1, {0xa4, 0x05});
    QCOMPARE(mRegistry->VirtualPort("DAW")->Writes(), QList<QByteArray>{Hex("a505")});
}

void tst_MIDITranslatorConfiguration::ruleReadingOnePortTwiceFiresTwice()
{
    const QByteArray map = R"({
      "port_aliases": [{"type": "input", "name": "Desk In", "alias": "Mixer In"}],
      "virtual_ports": ["DAW"],
      "rules": [{"name": "twice", "incoming": {"midi": "C0 v", "ports": ["Mixer In", "Desk In", 3]},
                 "outgoing": {"midi": "C1 v", "ports": ["DAW"]}}]})";
    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    cLogCapture log;
    mConfiguration->LoadFile(WriteMap(map));
    QCOMPARE(log.Messages(), QStringList{"Identifier 0 is alread in use"});
    QCOMPARE(MatcherNames(), QStringList{"Desk In"});
    desk->DeliverFromForeignThread(Hex("c007"));
    QTRY_COMPARE(mRegistry->VirtualPort("DAW")->WriteCount(), 2);
    QCOMPARE(mRegistry->VirtualPort("DAW")->WrittenBytes(), Hex("c107c107"));
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
    QCOMPARE(mConfiguration->ResolveInputAlias("Mixer In"), QString("Mixer In"));
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
    const QString path = WriteMap(kConsoleMap);
    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    cLogCapture log;
    mConfiguration->LoadFile(path);
    const QStringList ports = mConfiguration->GetVirtualPortNames();
    const QStringList matchers = MatcherNames();
    mConfiguration->LoadFile(path);
    QVERIFY2(log.Lines().isEmpty(), qPrintable(log.Lines().join("")));
    QCOMPARE(mConfiguration->GetVirtualPortNames(), ports);
    QCOMPARE(MatcherNames(), matchers);
    QCOMPARE(Matchers().size(), 2);
    QCOMPARE(mRegistry->VirtualPortsMade(), 4);
    QStringList named = mRegistry->GetNamedPortNames();
    named.sort();
    QCOMPARE(named, ports);
    for (int id = 0; id < mConfiguration->GetRules().size(); ++id)
        QCOMPARE(mConfiguration->GetRules().at(id).GetId(), id);
    // The binding is lost with the reload, as the window sets it again after each load.
    QCOMPARE(mConfiguration->ResolveInputAlias("Mixer In"), QString("Desk In"));
    mConfiguration->SetMixerInputPortName("Desk In");
    desk->DeliverFromForeignThread(Hex("b00708"));
    QTRY_COMPARE(mRegistry->VirtualPort("Quillon MIDI DAW")->Writes(), QList<QByteArray>{Hex("e00008")});
}

void tst_MIDITranslatorConfiguration::duplicateVirtualPortIsReportedAndStillCleared()
{
    cLogCapture log;
    mConfiguration->LoadFile(WriteMap(R"({"virtual_ports": ["DAW", 4, "DAW", "Other"]})"));
    QCOMPARE(log.Messages(), QStringList{"Virtual MIDI Input Output \"DAW\" already created"});
    QCOMPARE(mConfiguration->GetVirtualPortNames(), (QStringList{"DAW", "DAW", "Other"}));
    mConfiguration->Clear();
    QVERIFY(mRegistry->GetNamedPortNames().isEmpty());
    QVERIFY(mConfiguration->GetVirtualPortNames().isEmpty());
    QVERIFY(mConfiguration->GetFileName().isEmpty());
    QCOMPARE(log.Lines().size(), 1);
}

void tst_MIDITranslatorConfiguration::malformedFilesAreReported_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("kind"); // 0: written, 1: missing, 2: a folder
    QTest::addColumn<QString>("message");

    QTest::newRow("missing file") << QByteArray() << 1 << "Could not open file: %1";
    QTest::newRow("a folder") << QByteArray() << 2 << "Could not open file: %1";
    QTest::newRow("truncated document") << QByteArray(kConsoleMap).left(300) << 0 << "Json Parse Error: %2 for file %1";
    QTest::newRow("not JSON") << QByteArray("virtual_ports: DAW") << 0 << "Json Parse Error: %2 for file %1";
    QTest::newRow("empty file") << QByteArray() << 0 << "Json Parse Error: %2 for file %1";
    QTest::newRow("trailing garbage") << QByteArray("{\"rules\": []} }") << 0 << "Json Parse Error: %2 for file %1";
}

void tst_MIDITranslatorConfiguration::malformedFilesAreReported()
{
    QFETCH(QByteArray, content);
    QFETCH(int, kind);
    QFETCH(QString, message);

    QString path;
    if (kind == 0)
        path = WriteMap(content, "broken.json");
    else if (kind == 1)
        path = mDir->filePath("absent.json");
    else
        path = mDir->path() + "/";
    QJsonParseError error;
    QJsonDocument::fromJson(content, &error);

    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    cLogCapture log;
    mConfiguration->LoadFile(path);
    QCOMPARE(log.Messages(), QStringList{message.arg(path, error.errorString())});
    QVERIFY(log.Files().value(0).endsWith("MIDITranslatorConfiguration.cpp"));
    QCOMPARE(mConfiguration->GetFileName(), path);
    QVERIFY(mConfiguration->GetRules().isEmpty());
    QVERIFY(mConfiguration->GetVariables().isEmpty());
    QVERIFY(mConfiguration->GetVirtualPortNames().isEmpty());
    QVERIFY(Matchers().isEmpty());
    QVERIFY(mRegistry->GetNamedPortNames().isEmpty());
}

void tst_MIDITranslatorConfiguration::wrongTypesEverywhereLoadWhatIsUsable()
{
    const QByteArray map = R"({
      "virtual_ports": ["DAW", 1, null, {"name": "X"}, ["Y"]],
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
        {"name": "bad incoming", "incoming": "B0 07 v", "outgoing": {"midi": "B0 07 v", "ports": ["DAW"]}},
        {"name": "good", "incoming": {"midi": "B*n 07 v", "ports": ["Mixer In"]}, "outgoing": {"midi": "B*n 08 v", "ports": ["DAW", "Mixer Out"]}}
      ],
      "unknown": {"anything": true}
    })";
    mRegistry->PlugOutput("Desk Out");
    cLogCapture log;
    mConfiguration->LoadFile(WriteMap(map));
    QCOMPARE(log.Messages(), (QStringList{"Invalid \"variable_name\": ch", "No \"incoming\" object for rule \"bad incoming\""}));
    QCOMPARE(mConfiguration->GetVirtualPortNames(), QStringList{"DAW"});
    QCOMPARE(mConfiguration->ResolveInputAlias("Mixer In"), QString("Mixer In"));
    QCOMPARE(mConfiguration->ResolveOutputAlias("Mixer Out"), QString("Desk Out"));
    QCOMPARE(mConfiguration->GetVariables().size(), 1);
    QCOMPARE(mConfiguration->GetRules().size(), 1);
    QCOMPARE(MatcherNames(), QStringList{"Mixer In"});
    mConfiguration->MIDIMatchTriggered(0, {0xb1, 0x07, 0x12});
    QCOMPARE(mRegistry->VirtualPort("DAW")->Writes(), QList<QByteArray>{Hex("b10812")});
    QCOMPARE(mRegistry->SystemOutput("Desk Out")->Writes(), QList<QByteArray>{Hex("b10812")});
}

void tst_MIDITranslatorConfiguration::aGoodLoadAfterABrokenOneWorks()
{
    cLogCapture log;
    mConfiguration->LoadFile(mDir->filePath("absent.json"));
    mConfiguration->LoadFile(WriteMap("{\"rules\": [", "broken.json"));
    mConfiguration->LoadFile(WriteMap("[1, 2, 3]", "array.json"));
    mConfiguration->LoadFile(WriteMap(R"({"virtual_ports": "DAW", "port_aliases": {}, "variables": 3, "rules": null})", "types.json"));
    QCOMPARE(log.Lines().size(), 2);
    QVERIFY(mRegistry->GetNamedPortNames().isEmpty());

    cFakeMIDIPort* desk = mRegistry->PlugInput("Desk In");
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    QCOMPARE(log.Lines().size(), 2);
    desk->DeliverFromForeignThread(Hex("b00712"));
    QTRY_COMPARE(mRegistry->VirtualPort("Quillon MIDI DAW")->Writes(), QList<QByteArray>{Hex("e00012")});
}

void tst_MIDITranslatorConfiguration::theTcpLinkSurvivesAReload()
{
    cFakeMIDIPort link;
    mConfiguration->SetTCPInputOutput(&link);
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    QCOMPARE(mRegistry->GetInput("Corvane Internal TCP MIDI"), static_cast<cMIDIInput*>(&link));
    mConfiguration->SetMixerOutputPortName("Corvane Internal TCP MIDI");
    mConfiguration->MIDIMatchTriggered(1, {0xe0, 0x00, 0x01});
    QCOMPARE(link.Writes(), QList<QByteArray>{Hex("b00701")});
    mConfiguration->SetTCPInputOutput(nullptr);
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

void tst_MIDITranslatorConfiguration::unknownGlobalVariableIsReported()
{
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    cLogCapture log;
    QCOMPARE(mConfiguration->GetGlobalVariable("N"), uint8_t(0));
    QCOMPARE(mConfiguration->GetGlobalVariable("x"), uint8_t(0));
    QCOMPARE(log.Messages(), (QStringList{"Unknown Global Variable: \"N\"", "Unknown Global Variable: \"x\""}));
    QVERIFY(log.Files().value(0).endsWith("MIDITranslatorConfiguration.cpp"));
}

void tst_MIDITranslatorConfiguration::unknownVariableNameChangesNothing()
{
    mConfiguration->LoadFile(WriteMap(kConsoleMap));
    const QList<cMIDIInputMatcher*> before = Matchers();
    cLogCapture log;
    mConfiguration->SetVariableValue("MIDI Channel", 2);
    mConfiguration->SetVariableValue("N", 2);
    QVERIFY(log.Lines().isEmpty());
    QCOMPARE(Matchers(), before);
    QCOMPARE(mConfiguration->GetGlobalVariable("n"), uint8_t(0));
}

void tst_MIDITranslatorConfiguration::defaultRegistryIsThePlatformOne()
{
    cMIDITranslatorConfiguration configuration;
    QVERIFY(configuration.GetSystemMIDIConfiguration() != nullptr);
    QVERIFY(qobject_cast<cFakeSystemMIDIConfiguration*>(configuration.GetSystemMIDIConfiguration()) == nullptr);
    cLogCapture log;
    configuration.LoadFile(WriteMap(R"({"virtual_ports": ["Quillon MIDI DAW"]})"));
    QCOMPARE(log.Messages(),
             QStringList{"No virtual MIDI back-end is built: virtual port \"Quillon MIDI DAW\" cannot reach a DAW"});
    QVERIFY(configuration.GetSystemMIDIConfiguration()->GetInput("Quillon MIDI DAW") != nullptr);
}

QTEST_GUILESS_MAIN(tst_MIDITranslatorConfiguration)
#include "tst_MIDITranslatorConfiguration.moc"
