#pragma once
// Test helper: the console link behind the engine, as the window sets it up in TCP/IP mode: an
// in-memory registry, a translator configuration whose "Mixer In" and "Mixer Out" are the link, a
// small map, and the DAW's virtual port. Keeps the state texts the link shows. Test thread only.

#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "network/TCPMIDIInptOutput.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/TestFile.h"

#include <QStringList>
#include <QTemporaryDir>

// Console and DAW both ways; the scene rule's four fixed bytes make a match by random bytes all
// but impossible, so after garbage it shows exactly what was meant.
constexpr char kLinkEngineMap[] = R"({"virtual_ports": ["DAW"], "port_aliases": [{"type": "input", "name": "Desk In", "alias": "Mixer In"},
  {"type": "output", "name": "Desk Out", "alias": "Mixer Out"}], "rules": [
  {"name": "fader", "incoming": {"midi": "B0 07 v", "ports": ["Mixer In"]}, "outgoing": {"midi": "E0 00 v", "ports": ["DAW"]}},
  {"name": "scene", "incoming": {"midi": "F0 7D 51 55 v F7", "ports": ["Mixer In"]}, "outgoing": {"midi": "C0 v", "ports": ["DAW"]}},
  {"name": "DAW fader", "incoming": {"midi": "E1 00 v", "ports": ["DAW"]}, "outgoing": {"midi": "B1 07 v", "ports": ["Mixer Out"]}}]})";

struct sLinkEngine
{
    explicit sLinkEngine(quint16 ConsolePort) : Link(nullptr, ConsolePort)
    {
        QObject::connect(&Link, &cTCPMIDIInptOutput::StateStringChanged, &Link,
                         [this](const QString& State) { States.append(State); });
        Configuration.LoadFile(WriteTestFile(Dir.filePath("console.json"), kLinkEngineMap));
        Configuration.SetTCPInputOutput(&Link);
        Configuration.SetMixerInputPortName(cMIDITranslatorConfiguration::TCPPortName());
        Configuration.SetMixerOutputPortName(cMIDITranslatorConfiguration::TCPPortName());
    }
    cFakeMIDIPort* Daw() const { return Registry->VirtualPort("DAW"); }

    QTemporaryDir Dir;
    QStringList States;
    cTCPMIDIInptOutput Link;
    cFakeSystemMIDIConfiguration* Registry = new cFakeSystemMIDIConfiguration; // owned by the configuration
    cMIDITranslatorConfiguration Configuration{Registry};
};
