// The registry's own behaviour (lookup order, announcements, pickable names, the port generation),
// seen through the in-memory back-end, as the base class is abstract.

#include "Common/MIDI/SystemMIDIConfiguration.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/LogCapture.h"

#include <QPointer>
#include <QtTest>

#include <memory>

class tst_SystemMIDIConfiguration : public QObject
{
    Q_OBJECT

private slots:
    void looksUpAndAnnouncesPorts();
};

void tst_SystemMIDIConfiguration::looksUpAndAnnouncesPorts()
{
    auto registry = std::make_unique<cFakeSystemMIDIConfiguration>();
    QStringList announced;
    connect(registry.get(), &cSystemMIDIConfiguration::InputAddedSignal, this, [&](QString Name) { announced << "in+ " + Name; });
    connect(registry.get(), &cSystemMIDIConfiguration::OutputRemovedSignal, this, [&](QString Name) { announced << "out- " + Name; });
    cLogCapture log;
    quint64 generation = registry->GetPortGeneration();
    const auto changed = [&] {
        const quint64 before = generation;
        generation = registry->GetPortGeneration();
        return generation != before;
    };

    // A name is looked up among the virtual ports, then the registered ones, then the devices; exactly.
    cFakeMIDIPort registered;
    cFakeMIDIPort* device = registry->PlugInput("Shared");
    registry->PlugOutput("Desk Out");
    registry->AddInputOutput("Shared", &registered);
    QVERIFY(changed());
    registry->CreateVirtualInputOutput("Shared");
    registry->CreateVirtualInputOutput("Shared");
    QCOMPARE(log.Messages(), QStringList{"Virtual MIDI Input Output \"Shared\" already created"});
    QPointer<cFakeMIDIPort> virtualPort = registry->VirtualPort("Shared");
    QCOMPARE(registry->GetOutput("Shared"), static_cast<cMIDIOutput*>(virtualPort.data()));
    QVERIFY(changed());
    registry->DeleteVirtualInputOutput("shared");
    QVERIFY(!changed() && virtualPort);
    registry->DeleteVirtualInputOutput("Shared");
    QVERIFY(changed() && virtualPort.isNull());
    QCOMPARE(registry->GetInput("Shared"), static_cast<cMIDIInput*>(&registered));
    registry->RemoveInputOutput("Shared");
    QCOMPARE(registry->GetInput("Shared"), static_cast<cMIDIInput*>(device));
    QCOMPARE(registry->GetInput("shared"), nullptr);

    // Pickable names leave out Quillon's own ports.
    registry->PlugInput("Quillon MIDI Mackie");
    registry->CreateVirtualInputOutput("DAW");
    QCOMPARE(registry->GetInputNames(), QStringList{"Shared"});
    QCOMPARE(registry->GetOutputNames(), QStringList{"Desk Out"});
    registry->UnplugOutput("Desk Out");
    QVERIFY(changed());
    QCOMPARE(announced, (QStringList{"in+ Shared", "in+ Shared", "out- Shared", "in+ Quillon MIDI Mackie", "out- Desk Out"}));

    // Destroying the registry takes its virtual ports along and leaves registered ones alone.
    registry->AddInputOutput("Link", &registered);
    virtualPort = registry->VirtualPort("DAW");
    registry.reset();
    QVERIFY(virtualPort.isNull());
}

QTEST_GUILESS_MAIN(tst_SystemMIDIConfiguration)
#include "tst_SystemMIDIConfiguration.moc"
