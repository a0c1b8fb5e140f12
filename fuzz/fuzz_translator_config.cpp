// Loads arbitrary bytes as a translator map file and as a mixer/DAW map, then pushes a few bytes
// through every input port that the loaded rules read, on the in-memory port back-end. Input
// layout: the whole input is the file; its first bytes are also the MIDI pushed through the ports.

#include "MIDITranslator/MIDIInputMatcher.h"
#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "MIDITranslator/MixerDawMap.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSet>
#include <QTemporaryDir>

#include <sanitizer/lsan_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

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

// Map files are four levels deep; far deeper documents only exercise Qt's parser.
constexpr int kMaxNesting = 48;

const QByteArray& FixedTraffic()
{
    static const QByteArray traffic = QByteArray::fromHex("b00740417f903c7f3e00f8c005e00040f0431001f7b0f80701");
    return traffic;
}
} // namespace

// Qt 5.15's JSON parser itself leaks when an object repeats a key whose value is an array or an
// object ({"a": [1], "a": [2]}); nothing of ours is involved. Telling that leak apart from ours by
// its allocation stack needs ASan's slow unwinder on every allocation (Qt is built without frame
// pointers), which cost two thirds of the harness's speed. Instead, an input in which some object
// repeats a key runs with leak detection off: it is still checked for everything else, and every
// other input is checked for leaks in full, with no suppression at all.
namespace
{
// The key Raw (a JSON string with its quotes) as Qt decodes it; false when Qt refuses it, where
// Qt's parser stops too.
bool DecodeKey(const QByteArray& Raw, QString& Key)
{
    // Without escapes a key is its bytes; text that is not UTF-8 stops Qt's parser anyway.
    if (!Raw.contains('\\'))
    {
        Key = QString::fromUtf8(Raw.mid(1, Raw.size() - 2));
        return true;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson('[' + Raw + ']', &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return false;
    Key = document.array().at(0).toString();
    return true;
}

// Whether some object of Text repeats a key, up to the first key Qt refuses. Errors elsewhere may
// make it say yes where Qt stops first; that only turns leak detection off for one more input.
bool RepeatsAKey(const QByteArray& Text)
{
    std::vector<QSet<QString>> objects;
    std::vector<char> open;
    bool expectKey = false;
    for (int i = 0; i < Text.size(); ++i)
    {
        const char c = Text.at(i);
        if (c == '"')
        {
            int end = i + 1;
            while (end < Text.size() && Text.at(end) != '"')
                end += Text.at(end) == '\\' ? 2 : 1;
            if (!open.empty() && open.back() == '{' && expectKey)
            {
                QString key;
                if (!DecodeKey(Text.mid(i, end - i + 1), key))
                    return false;
                if (objects.back().contains(key))
                    return true;
                objects.back().insert(key);
                expectKey = false;
            }
            i = end;
        }
        else if (c == '{')
        {
            open.push_back(c);
            objects.emplace_back();
            expectKey = true;
        }
        else if (c == '[')
        {
            open.push_back(c);
        }
        else if ((c == '}' || c == ']') && !open.empty())
        {
            if (open.back() == '{')
                objects.pop_back();
            open.pop_back();
            expectKey = false;
        }
        else if (c == ',' && !open.empty() && open.back() == '{')
        {
            expectKey = true;
        }
    }
    return false;
}

// Leak detection off for the life of one input that trips Qt's leak.
class cQtJsonLeakAllowance
{
public:
    explicit cQtJsonLeakAllowance(bool Allow) : mAllow(Allow)
    {
        if (mAllow)
            __lsan_disable();
    }
    ~cQtJsonLeakAllowance()
    {
        if (mAllow)
            __lsan_enable();
    }

private:
    bool mAllow;
};
} // namespace

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
    const cQtJsonLeakAllowance allowance(RepeatsAKey(content));
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
        // Rules that need the console, and the state kept per control, both ways: the bytes go
        // through with the console away, then with it there (a new connection starts afresh).
        for (const bool reachable : {false, true})
        {
            configuration.SetConsoleReachable(reachable);
            for (cMIDIInputMatcher* matcher : configuration.findChildren<cMIDIInputMatcher*>())
                if (auto* port = dynamic_cast<cFakeMIDIPort*>(matcher->GetInput()))
                    port->Deliver(midi);
        }

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
