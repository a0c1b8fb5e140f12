// Loads arbitrary bytes as a translator map file and as a mixer/DAW map, then pushes a few bytes
// through every input port that the loaded rules read, on the in-memory port back-end. Input
// layout: the whole input is the file; its first bytes are also the MIDI pushed through the ports.

#include "MIDITranslator/MIDIInputMatcher.h"
#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "MIDITranslator/MixerDawMap.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace
{
// Larger maps add nothing the fuzzer can find in its time and slow every run down.
constexpr std::size_t kMaxInput = 16 * 1024;
constexpr int kMaxMidi = 48;

QTemporaryDir& Directory()
{
    static QTemporaryDir directory;
    return directory;
}

// A short console stream with running status, a clock inside a message and an exclusive message,
// so that rules of a plausible map fire whatever the fuzzer's own bytes do.
// Deepest nesting of arrays and objects, strings skipped.
int NestingDepth(const uint8_t* Data, std::size_t Size)
{
    int depth = 0;
    int deepest = 0;
    bool inString = false;
    for (std::size_t i = 0; i < Size; ++i)
    {
        const uint8_t c = Data[i];
        if (inString)
        {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        }
        else if (c == '"')
            inString = true;
        else if (c == '[' || c == '{')
            deepest = std::max(deepest, ++depth);
        else if (c == ']' || c == '}')
            --depth;
    }
    return deepest;
}

// Map files are four levels deep; far deeper documents only exercise Qt's parser, and would push
// its frames past the allocation stacks that the leak suppression needs.
constexpr int kMaxNesting = 48;

const QByteArray& FixedTraffic()
{
    static const QByteArray traffic = QByteArray::fromHex("b00740417f903c7f3e00f8c005e00040f0431001f7b0f80701");
    return traffic;
}
} // namespace

// Qt 5.15's JSON parser itself leaks when an object repeats a key whose value is an array or an
// object ({"a": [1], "a": [2]}); nothing of ours is involved. Only that leak is let through, which
// needs whole allocation stacks (Qt is built without frame pointers), deep enough to reach the
// parser's entry from any nesting that NestingDepth lets through.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0:malloc_context_size=255";
}

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:QJsonDocument::fromJson\n";
}

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Every rejected map logs a line; the fuzzer's own report goes to standard error.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        return 0;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size)
{
    if (Size > kMaxInput || NestingDepth(Data, Size) > kMaxNesting || !Directory().isValid())
        return 0;
    const QByteArray content(reinterpret_cast<const char*>(Data), static_cast<int>(Size));
    const QString path = Directory().filePath("map.json");
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return 0;
        file.write(content);
    }

    auto* registry = new cFakeSystemMIDIConfiguration;
    registry->SetRecordWrites(false);
    registry->PlugInput("Desk In");
    registry->PlugOutput("Desk Out");
    {
        cMIDITranslatorConfiguration configuration(registry);
        configuration.LoadFile(path);
        configuration.SetMixerInputPortName("Desk In");
        configuration.SetMixerOutputPortName("Desk Out");

        QByteArray midi = content.left(kMaxMidi);
        midi += FixedTraffic();
        for (cMIDIInputMatcher* matcher : configuration.findChildren<cMIDIInputMatcher*>())
            if (auto* port = dynamic_cast<cFakeMIDIPort*>(matcher->GetInput()))
                port->Deliver(midi);

        // A changed variable rebuilds every tree; the same bytes must go through the new ones.
        for (const cMIDITranslatorVariable& variable : QList<cMIDITranslatorVariable>(configuration.GetVariables()))
            configuration.SetVariableValue(variable.GetVariableName(), static_cast<uint8_t>(Size));
        for (cMIDIInputMatcher* matcher : configuration.findChildren<cMIDIInputMatcher*>())
            if (auto* port = dynamic_cast<cFakeMIDIPort*>(matcher->GetInput()))
                port->Deliver(midi);

        // Loading the same file again starts from empty.
        configuration.LoadFile(path);
    }

    cMixerDawMap map;
    map.Load(path);
    for (const QString& mixer : map.GetMixerNames())
        for (const QString& daw : map.GetDAWNames(mixer))
            map.GetMapFileName(mixer, daw);
    return 0;
}
