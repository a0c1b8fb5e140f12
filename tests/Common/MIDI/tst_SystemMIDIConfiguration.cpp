#include "Common/MIDI/SystemMIDIConfiguration.h"
#include "Common/MIDI/SystemMIDIConfigurationFactory.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/LogCapture.h"

#include <QPointer>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

// The registry's own behaviour, seen through the in-memory back-end (the base class is abstract).
class tst_SystemMIDIConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void createsAVirtualPortOnceAndReportsTheDuplicate();
    void deletingAVirtualPortDestroysItSilently();
    void deletingAnUnknownVirtualPortDoesNothing();
    void addingTwiceReplacesThePortAndAnnouncesTwice();
    void removingAnnouncesInputThenOutput();
    void removingAnUnknownNameAnnouncesNothing();
    void outputOfAPairIsItsOutputPart();
    void virtualPortWinsOverRegisteredPortOfTheSameName();
    void unknownNamesResolveToNull();
    void namedPortNamesListVirtualThenRegistered();
    void destroyingTheRegistryKeepsRegisteredPorts();
    void portGenerationFollowsEveryChange();
    void factoryRegistryHasNoDevicesAndSaysWhyPortsAreDeaf();
};

void tst_SystemMIDIConfiguration::createsAVirtualPortOnceAndReportsTheDuplicate()
{
    cFakeSystemMIDIConfiguration registry;
    QSignalSpy added(&registry, &cSystemMIDIConfiguration::InputAddedSignal);
    cLogCapture log;
    registry.CreateVirtualInputOutput("Quillon MIDI DAW");
    cMIDIInput* first = registry.GetInput("Quillon MIDI DAW");
    QVERIFY(first != nullptr);
    registry.CreateVirtualInputOutput("Quillon MIDI DAW");

    QCOMPARE(log.Messages(), QStringList{"Virtual MIDI Input Output \"Quillon MIDI DAW\" already created"});
    QVERIFY(log.Files().value(0).endsWith("SystemMIDIConfiguration.cpp"));
    QCOMPARE(registry.GetInput("Quillon MIDI DAW"), first);
    QCOMPARE(registry.VirtualPortsMade(), 1);
    QCOMPARE(registry.GetNamedPortNames(), QStringList{"Quillon MIDI DAW"});
    QCOMPARE(added.count(), 0);
}

void tst_SystemMIDIConfiguration::deletingAVirtualPortDestroysItSilently()
{
    cFakeSystemMIDIConfiguration registry;
    registry.CreateVirtualInputOutput("DAW A");
    QPointer<cFakeMIDIPort> port = registry.VirtualPort("DAW A");
    QVERIFY(port);
    QSignalSpy removed(&registry, &cSystemMIDIConfiguration::InputRemovedSignal);
    QSignalSpy outputRemoved(&registry, &cSystemMIDIConfiguration::OutputRemovedSignal);

    registry.DeleteVirtualInputOutput("DAW A");
    QVERIFY(port.isNull());
    QCOMPARE(registry.GetInput("DAW A"), nullptr);
    QCOMPARE(registry.GetOutput("DAW A"), nullptr);
    QCOMPARE(removed.count() + outputRemoved.count(), 0);

    // A later port of the same name is a new object.
    registry.CreateVirtualInputOutput("DAW A");
    QVERIFY(registry.GetInput("DAW A") != nullptr);
    QCOMPARE(registry.VirtualPortsMade(), 2);
}

void tst_SystemMIDIConfiguration::deletingAnUnknownVirtualPortDoesNothing()
{
    cFakeSystemMIDIConfiguration registry;
    registry.CreateVirtualInputOutput("DAW A");
    cLogCapture log;
    registry.DeleteVirtualInputOutput("daw a");
    QVERIFY(registry.GetInput("DAW A") != nullptr);
    QVERIFY(log.Lines().isEmpty());
}

void tst_SystemMIDIConfiguration::addingTwiceReplacesThePortAndAnnouncesTwice()
{
    cFakeSystemMIDIConfiguration registry;
    cFakeMIDIPort first;
    cFakeMIDIPort second;
    QSignalSpy inputs(&registry, &cSystemMIDIConfiguration::InputAddedSignal);
    QSignalSpy outputs(&registry, &cSystemMIDIConfiguration::OutputAddedSignal);

    registry.AddInputOutput("Corvane Internal TCP MIDI", &first);
    registry.AddInputOutput("Corvane Internal TCP MIDI", &second);

    QCOMPARE(inputs.count(), 2);
    QCOMPARE(outputs.count(), 2);
    QCOMPARE(inputs.at(1).at(0).toString(), QString("Corvane Internal TCP MIDI"));
    QCOMPARE(registry.GetInput("Corvane Internal TCP MIDI"), static_cast<cMIDIInput*>(&second));
    QCOMPARE(registry.GetNamedPortNames(), QStringList{"Corvane Internal TCP MIDI"});
}

void tst_SystemMIDIConfiguration::removingAnnouncesInputThenOutput()
{
    cFakeSystemMIDIConfiguration registry;
    cFakeMIDIPort link;
    registry.AddInputOutput("Link", &link);
    QStringList order;
    connect(&registry, &cSystemMIDIConfiguration::InputRemovedSignal, this, [&](QString Name) { order << "input " + Name; });
    connect(&registry, &cSystemMIDIConfiguration::OutputRemovedSignal, this, [&](QString Name) { order << "output " + Name; });

    registry.RemoveInputOutput("Link");
    QCOMPARE(order, (QStringList{"input Link", "output Link"}));
    QCOMPARE(registry.GetInput("Link"), nullptr);
    // Removing does not delete: the owner still has a working port.
    link.Write(QByteArray("\x90\x3c\x7f", 3));
    QCOMPARE(link.WriteCount(), 1);
}

void tst_SystemMIDIConfiguration::removingAnUnknownNameAnnouncesNothing()
{
    cFakeSystemMIDIConfiguration registry;
    cFakeMIDIPort link;
    registry.AddInputOutput("Link", &link);
    QSignalSpy inputs(&registry, &cSystemMIDIConfiguration::InputRemovedSignal);
    QSignalSpy outputs(&registry, &cSystemMIDIConfiguration::OutputRemovedSignal);
    registry.RemoveInputOutput("Link ");
    registry.RemoveInputOutput("link");
    QCOMPARE(inputs.count() + outputs.count(), 0);
    QVERIFY(registry.GetInput("Link") != nullptr);
}

void tst_SystemMIDIConfiguration::outputOfAPairIsItsOutputPart()
{
    cFakeSystemMIDIConfiguration registry;
    cFakeMIDIPort link;
    registry.AddInputOutput("Link", &link);
    cMIDIInput* input = registry.GetInput("Link");
    cMIDIOutput* output = registry.GetOutput("Link");
    QCOMPARE(input, static_cast<cMIDIInput*>(&link));
    QCOMPARE(output, static_cast<cMIDIOutput*>(&link));
    // The output part is the second base: a different address from the input part.
    QVERIFY(static_cast<const void*>(input) != static_cast<const void*>(output));
    output->Write(QByteArray("\xb0\x07\x40", 3));
    QCOMPARE(link.Writes(), QList<QByteArray>{QByteArray("\xb0\x07\x40", 3)});
}

void tst_SystemMIDIConfiguration::virtualPortWinsOverRegisteredPortOfTheSameName()
{
    cFakeSystemMIDIConfiguration registry;
    cFakeMIDIPort registered;
    registry.AddInputOutput("Shared", &registered);
    registry.CreateVirtualInputOutput("Shared");
    cFakeMIDIPort* virtualPort = registry.VirtualPort("Shared");
    QCOMPARE(registry.GetInput("Shared"), static_cast<cMIDIInput*>(virtualPort));
    QCOMPARE(registry.GetOutput("Shared"), static_cast<cMIDIOutput*>(virtualPort));

    registry.DeleteVirtualInputOutput("Shared");
    QCOMPARE(registry.GetInput("Shared"), static_cast<cMIDIInput*>(&registered));
}

void tst_SystemMIDIConfiguration::unknownNamesResolveToNull()
{
    cFakeSystemMIDIConfiguration registry;
    registry.CreateVirtualInputOutput("DAW");
    QCOMPARE(registry.GetInput("daw"), nullptr);
    QCOMPARE(registry.GetOutput("DAW "), nullptr);
    QCOMPARE(registry.GetInput(QString()), nullptr);
}

void tst_SystemMIDIConfiguration::namedPortNamesListVirtualThenRegistered()
{
    cFakeSystemMIDIConfiguration registry;
    cFakeMIDIPort link;
    registry.AddInputOutput("Link", &link);
    registry.CreateVirtualInputOutput("DAW 1");
    registry.CreateVirtualInputOutput("DAW 2");
    const QStringList names = registry.GetNamedPortNames();
    QCOMPARE(names.size(), 3);
    QCOMPARE(names.last(), QString("Link"));
    QVERIFY(names.mid(0, 2).contains("DAW 1"));
    QVERIFY(names.mid(0, 2).contains("DAW 2"));
}

void tst_SystemMIDIConfiguration::destroyingTheRegistryKeepsRegisteredPorts()
{
    cFakeMIDIPort link;
    QPointer<cFakeMIDIPort> virtualPort;
    {
        cFakeSystemMIDIConfiguration registry;
        registry.AddInputOutput("Link", &link);
        registry.CreateVirtualInputOutput("DAW");
        virtualPort = registry.VirtualPort("DAW");
    }
    QVERIFY(virtualPort.isNull());
    link.Write(QByteArray(1, '\xf8'));
    QCOMPARE(link.WriteCount(), 1);
}

void tst_SystemMIDIConfiguration::portGenerationFollowsEveryChange()
{
    cFakeSystemMIDIConfiguration registry;
    cFakeMIDIPort link;
    quint64 last = registry.GetPortGeneration();
    auto changed = [&] {
        const quint64 now = registry.GetPortGeneration();
        const bool result = now != last;
        last = now;
        return result;
    };
    registry.CreateVirtualInputOutput("DAW");
    QVERIFY(changed());
    registry.CreateVirtualInputOutput("DAW");
    QVERIFY(!changed());
    registry.AddInputOutput("Link", &link);
    QVERIFY(changed());
    registry.RemoveInputOutput("Link");
    QVERIFY(changed());
    registry.PlugOutput("Desk Out");
    QVERIFY(changed());
    registry.UnplugOutput("Desk Out");
    QVERIFY(changed());
    registry.DeleteVirtualInputOutput("DAW");
    QVERIFY(changed());
    registry.DeleteVirtualInputOutput("DAW");
    QVERIFY(!changed());
}

void tst_SystemMIDIConfiguration::factoryRegistryHasNoDevicesAndSaysWhyPortsAreDeaf()
{
    std::unique_ptr<cSystemMIDIConfiguration> registry(CreateSystemMIDIConfiguration());
    QVERIFY(registry != nullptr);
    QCOMPARE(registry->GetInputCount(), 0);
    QCOMPARE(registry->GetOutputCount(), 0);
    QVERIFY(registry->GetInputNames().isEmpty());
    QVERIFY(registry->GetOutputNames().isEmpty());
    QCOMPARE(registry->GetInputName(0), QString());

    cLogCapture log;
    registry->CreateVirtualInputOutput("Quillon MIDI DAW");
    QCOMPARE(log.Messages(),
             QStringList{"No virtual MIDI back-end is built: virtual port \"Quillon MIDI DAW\" cannot reach a DAW"});
    cMIDIInput* input = registry->GetInput("Quillon MIDI DAW");
    QVERIFY(input != nullptr);
    QByteArray data("stale");
    input->Read(data);
    QVERIFY(data.isEmpty());
    registry->GetOutput("Quillon MIDI DAW")->Write(QByteArray("\x90\x3c\x7f", 3));
}

QTEST_GUILESS_MAIN(tst_SystemMIDIConfiguration)
#include "tst_SystemMIDIConfiguration.moc"
