// The same console bytes given to the engine in one read and in arbitrary pieces, as the network
// link hands them over, must make the same outgoing messages. Input: byte 0 is the number of cut
// points (modulo 16), then two bytes per cut point (a position in the stream, modulo its length),
// then the stream. Two configurations load the same map; one gets the stream whole, the other in
// the pieces between the cut points; every output port must have received the same bytes in the
// same writes.

#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{
// Rules of the kinds console maps hold: controllers with running status and a channel variable,
// notes, two-byte messages, exclusive messages with a captured value, real-time bytes, patterns
// that share a prefix, and a rule that writes back to the console.
const char kMap[] = R"({
  "virtual_ports": ["DAW"],
  "port_aliases": [
    {"type": "input", "name": "Desk In", "alias": "Mixer In"},
    {"type": "output", "name": "Desk Out", "alias": "Mixer Out"}
  ],
  "variables": [
    {"name": "MIDI Channel", "variable_name": "n", "default": 1,
     "values": [{"value": 0, "name": "1"}, {"value": 1, "name": "2"}]}
  ],
  "rules": [
    {"name": "fader", "incoming": {"midi": "B*n 07 v", "ports": ["Mixer In"]},
     "outgoing": {"midi": "E0 00 v", "ports": ["DAW"]}},
    {"name": "any controller", "incoming": {"midi": "B0 k v", "ports": ["Mixer In"]},
     "outgoing": {"midi": "B1 k v", "ports": ["DAW"]}},
    {"name": "mute", "incoming": {"midi": "9*n k 7F", "ports": ["Mixer In"]},
     "outgoing": {"midi": "90 k 7F", "ports": ["DAW", "Mixer Out"]}},
    {"name": "program", "incoming": {"midi": "C0 v", "ports": ["Mixer In"]},
     "outgoing": {"midi": "C1 v", "ports": ["DAW"]}},
    {"name": "bend", "incoming": {"midi": "E0 k v", "ports": ["Mixer In"]},
     "outgoing": {"midi": "B0 k v", "ports": ["DAW"]}},
    {"name": "scene", "incoming": {"midi": "F0 43 10 v F7", "ports": ["Mixer In"]},
     "outgoing": {"midi": "B0 10 v", "ports": ["DAW"]}},
    {"name": "scene prefix", "incoming": {"midi": "F0 43 k", "ports": ["Mixer In"]},
     "outgoing": {"midi": "B0 11 k", "ports": ["DAW"]}},
    {"name": "clock", "incoming": {"midi": "F8", "ports": ["Mixer In"]},
     "outgoing": {"midi": "F8", "ports": ["DAW"]}},
    {"name": "song position", "incoming": {"midi": "F2 k v", "ports": ["Mixer In"]},
     "outgoing": {"midi": "F2 k v", "ports": ["DAW"]}}
  ]
})";

void Check(bool Condition, const char* What)
{
    if (!Condition)
    {
        std::fprintf(stderr, "fuzz_reassembly: %s\n", What);
        std::abort();
    }
}

QString MapPath()
{
    static QTemporaryDir directory;
    static const QString path = []
    {
        const QString file = directory.filePath("console.json");
        QFile out(file);
        Check(directory.isValid() && out.open(QIODevice::WriteOnly), "cannot write the map");
        out.write(kMap);
        return file;
    }();
    return path;
}

// One engine as the window sets it up: the map loaded, the console's ports bound.
struct sEngine
{
    sEngine() : registry(new cFakeSystemMIDIConfiguration), configuration(registry)
    {
        input = registry->PlugInput("Desk In");
        output = registry->PlugOutput("Desk Out");
        configuration.LoadFile(MapPath());
    }
    cFakeSystemMIDIConfiguration* registry;
    cMIDITranslatorConfiguration configuration;
    cFakeMIDIPort* input;
    cFakeMIDIPort* output;
};
} // namespace

// Made once: loading a map for every run would cost more than the run. Each run starts both from
// the same state by a tune request first, a status byte without data that ends whatever message,
// running status or partial match the previous run left (no rule reads it).
sEngine* gWhole = nullptr;
sEngine* gPieces = nullptr;
const QByteArray kRestart = QByteArray::fromHex("f6");

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size)
{
    if (Size < 1)
        return 0;
    const std::size_t cutCount = Data[0] % 16;
    const std::size_t headerSize = 1 + 2 * cutCount;
    if (Size < headerSize)
        return 0;
    const QByteArray stream(reinterpret_cast<const char*>(Data + headerSize), int(Size - headerSize));
    std::vector<int> cuts;
    for (std::size_t i = 0; i < cutCount && !stream.isEmpty(); ++i)
        cuts.push_back(int((Data[1 + 2 * i] << 8 | Data[2 + 2 * i]) % (stream.size() + 1)));
    cuts.push_back(0);
    cuts.push_back(stream.size());
    std::sort(cuts.begin(), cuts.end());

    cFakeMIDIPort* wholeDaw = gWhole->registry->VirtualPort("DAW");
    cFakeMIDIPort* piecesDaw = gPieces->registry->VirtualPort("DAW");
    Check(wholeDaw && piecesDaw, "the map's virtual port is missing");
    gWhole->input->Deliver(kRestart);
    gPieces->input->Deliver(kRestart);

    gWhole->input->Deliver(stream);
    for (std::size_t i = 0; i + 1 < cuts.size(); ++i)
        gPieces->input->Deliver(stream.mid(cuts[i], cuts[i + 1] - cuts[i]));

    Check(wholeDaw->Writes() == piecesDaw->Writes(), "the DAW got other messages from the pieces");
    Check(gWhole->output->Writes() == gPieces->output->Writes(), "the console got other messages from the pieces");
    // Every run gives back what it took: libFuzzer looks for leaks after any run that does not.
    for (cFakeMIDIPort* port : {wholeDaw, piecesDaw, gWhole->output, gPieces->output})
        port->ClearWrites();
    return 0;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    static QCoreApplication application(*argc, *argv);
    gWhole = new sEngine;
    gPieces = new sEngine;
    return 0;
}
