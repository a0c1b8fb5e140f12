// Builds a few nibble patterns and a stream from the input, runs the match tree and checks every
// report against the patterns and against the plain reference matcher.
//
// Input: one byte with the number of patterns; per pattern one header byte (identifier in bits 0-2,
// so identifiers repeat; nibble count in bits 3-7, odd counts included) and one byte per nibble
// (bit 7: wildcard; otherwise the low nibble is the value, or 16 + it when bits 4-6 are all set, a
// value the tree must refuse); the rest is the stream.

#include "Common/MIDI/MIDIMatch/MIDIMatchManager.h"
#include "tests/support/ReferenceMatchManager.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace
{
struct sReport
{
    int id;
    std::vector<uint8_t> message;
    bool operator==(const sReport& Other) const { return id == Other.id && message == Other.message; }
};

class cCollectingListener : public cMIDIMatchTriggerListener
{
public:
    void MIDIMatchTriggered(int Id, const std::vector<uint8_t>& Message) override
    {
        mReports.push_back(sReport{Id, Message});
    }
    std::vector<sReport> mReports;
};

void Fail(const char* What)
{
    std::fprintf(stderr, "fuzz_match_tree: %s\n", What);
    std::abort();
}

bool Agrees(const sMIDIMatchTrigger& Trigger, const std::vector<uint8_t>& Message)
{
    if (Trigger.nibbles.size() != 2 * Message.size())
        return false;
    for (std::size_t i = 0; i < Trigger.nibbles.size(); ++i)
    {
        const uint8_t byte = Message[i / 2];
        const uint8_t nibble = (i % 2 == 0) ? static_cast<uint8_t>(byte >> 4) : static_cast<uint8_t>(byte & 0x0F);
        if (!Trigger.nibbles[i].wildcard && Trigger.nibbles[i].value != nibble)
            return false;
    }
    return true;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Reused identifiers and refused patterns are logged on standard output on nearly every run;
    // libFuzzer reports on standard error, so the log lines are dropped.
    if (std::freopen("/dev/null", "w", stdout) == nullptr)
        std::fprintf(stderr, "fuzz_match_tree: could not silence the log\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size)
{
    std::size_t at = 0;
    auto next = [&]() -> uint8_t { return at < Size ? Data[at++] : 0; };

    std::vector<sMIDIMatchTrigger> triggers;
    const unsigned count = next() % 13;
    for (unsigned i = 0; i < count && at < Size; ++i)
    {
        const uint8_t header = next();
        sMIDIMatchTrigger trigger;
        trigger.id = header & 0x07;
        const unsigned nibbles = (header >> 3) % 13;
        for (unsigned n = 0; n < nibbles; ++n)
        {
            const uint8_t code = next();
            sMatchNibble nibble;
            nibble.wildcard = (code & 0x80) != 0;
            // A wildcard's value should be 0 but must not matter.
            nibble.value = static_cast<uint8_t>(code & 0x0F);
            if (!nibble.wildcard && (code & 0x70) == 0x70)
                nibble.value = static_cast<uint8_t>(nibble.value + 16);
            trigger.nibbles.push_back(nibble);
        }
        triggers.push_back(std::move(trigger));
    }
    const uint8_t* stream = Data + at;
    const std::size_t streamSize = Size - at;

    cCollectingListener fastListener;
    cCollectingListener referenceListener;
    {
        cMIDIMatchManager fast(&fastListener);
        cReferenceMatchManager reference(&referenceListener);
        for (const sMIDIMatchTrigger& trigger : triggers)
        {
            fast.AddTrigger(trigger);
            reference.AddTrigger(trigger);
        }
        for (std::size_t i = 0; i < streamSize; ++i)
        {
            fast.ProcessByte(stream[i]);
            reference.ProcessByte(stream[i]);
        }
    }

    for (const sReport& report : fastListener.mReports)
    {
        if (report.message.empty())
            Fail("empty message reported");
        bool known = false;
        for (const sMIDIMatchTrigger& trigger : triggers)
        {
            if (trigger.id == report.id && Agrees(trigger, report.message))
            {
                known = true;
                break;
            }
        }
        if (!known)
            Fail("report matches no registered pattern with its identifier");
    }
    if (!(fastListener.mReports == referenceListener.mReports))
        Fail("reports differ from the reference matcher");
    return 0;
}
