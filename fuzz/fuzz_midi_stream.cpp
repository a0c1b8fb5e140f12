// Feeds arbitrary bytes to the MIDI parser and to the running-status expander and aborts on any
// broken invariant (among them: clock and stray end-of-exclusive bytes change nothing parsed). Input layout:
//   byte 0      seeds the chunk sizes with which the expander is fed a second time
//   byte 1      when its top bit is set, a run of 16378 + (low 4 bits) data bytes is put after the
//               first 0xF0 of the stream, so exclusive messages around the buffer's bound are reached
//   the rest    the stream

#include "Common/MIDI/MidiParser.h"
#include "Common/MIDI/RunningStatusExpander.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#define CHECK(condition)                                                                   \
    do                                                                                     \
    {                                                                                      \
        if (!(condition))                                                                  \
        {                                                                                  \
            std::fprintf(stderr, "invariant broken: %s (line %d)\n", #condition, __LINE__); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

namespace
{
using tBytes = std::vector<uint8_t>;

// Checks every message that the parser reports and writes it down, so that two streams can be
// compared by what the parser made of them.
class cCheckingParser : public cMidiParser
{
public:
    tBytes Log;

    void Feed(const tBytes& Stream)
    {
        for (const uint8_t byte : Stream)
        {
            ParseByte(byte);
            CHECK(mCount <= kBufferSize);
        }
    }

protected:
    // Alternate between taking and refusing, so both paths run.
    bool Answer() { return (++mCalls & 1) != 0; }

    void Note(uint8_t Kind, const uint8_t* Bytes, int Count)
    {
        Log.push_back(Kind);
        Log.insert(Log.end(), Bytes, Bytes + Count);
    }

    bool Channel(uint8_t Kind, uint8_t Length)
    {
        CHECK((mBuffer[0] & 0xF0) == Kind);
        CHECK(mCount == Length);
        for (int i = 1; i < mCount; ++i)
            CHECK(mBuffer[i] < 0x80);
        Note(Kind, mBuffer, mCount);
        return Answer();
    }

    bool Common(uint8_t Status, uint8_t Length)
    {
        CHECK(mBuffer[0] == Status);
        CHECK(mCount == Length);
        Note(Status, mBuffer, mCount);
        return Answer();
    }

    bool ActiveSensing() override
    {
        Note(0xFE, nullptr, 0);
        return Answer();
    }
    bool SysEx() override
    {
        CHECK(mCount >= 2 && mCount <= kSysExBufferSize);
        CHECK(mSysExBuffer[0] == 0xF0);
        CHECK(mSysExBuffer[mCount - 1] == 0xF7);
        for (int i = 1; i < mCount - 1; ++i)
            CHECK(mSysExBuffer[i] < 0x80);
        Note(0xF0, mSysExBuffer, mCount);
        return Answer();
    }
    bool SysCommon() override
    {
        CHECK(mBuffer[0] >= 0xF1 && mBuffer[0] <= 0xF6 && mBuffer[0] != 0xF4 && mBuffer[0] != 0xF5);
        return cMidiParser::SysCommon();
    }
    bool NoteOff(uint8_t, uint8_t) override { return Channel(0x80, 3); }
    bool NoteOn(uint8_t, uint8_t) override { return Channel(0x90, 3); }
    bool PolyPressure(uint8_t, uint8_t) override { return Channel(0xA0, 3); }
    bool ControlChange(uint8_t, uint8_t) override { return Channel(0xB0, 3); }
    bool ProgramChange(uint8_t) override { return Channel(0xC0, 2); }
    bool ChannelPressure(uint8_t) override { return Channel(0xD0, 2); }
    bool PitchBend(uint8_t, uint8_t) override { return Channel(0xE0, 3); }
    bool MTCQuarterFrame(uint8_t) override { return Common(0xF1, 2); }
    bool SongPosition(uint8_t, uint8_t) override { return Common(0xF2, 3); }
    bool SongSelect(uint8_t) override { return Common(0xF3, 2); }
    bool TuneRequest() override { return Common(0xF6, 1); }
    void Unhandled() override
    {
        CHECK(mCount >= 1 && mCount <= kSysExBufferSize);
        CHECK(mBuffer[0] >= 0x80);
        Note(0x01, mBuffer, mCount);
    }
    void UnhandledControlChange() override
    {
        CHECK((mBuffer[0] & 0xF0) == 0xB0 && mCount == 3);
        Note(0x02, mBuffer, mCount);
    }

public:
    bool InSysEx() const { return mInSysEx; }

private:
    unsigned mCalls = 0;
};

// A second formulation of running-status expansion: the k-th data byte (from 0) after a channel
// status byte starts a message of its own, and needs the status again, when k is a positive
// multiple of the message's data length.
tBytes ModelExpand(const tBytes& In)
{
    tBytes out;
    uint8_t segment = 0; // last byte from 0x80 to 0xF7
    std::size_t dataSinceStatus = 0;
    for (const uint8_t byte : In)
    {
        if (byte >= 0x80 && byte < 0xF8)
        {
            segment = byte;
            dataSinceStatus = 0;
        }
        else if (byte < 0x80 && segment >= 0x80 && segment < 0xF0)
        {
            const std::size_t length = (segment >> 4) == 0xC || (segment >> 4) == 0xD ? 1 : 2;
            if (dataSinceStatus > 0 && dataSinceStatus % length == 0)
                out.push_back(segment);
            ++dataSinceStatus;
        }
        out.push_back(byte);
    }
    return out;
}

// Taking away the inserted bytes must give the input back: every byte that is not the input's
// next byte must be a channel status byte placed just before a data byte.
void CheckOnlyStatusBytesAdded(const tBytes& In, const tBytes& Out)
{
    CHECK(Out.size() <= 2 * In.size());
    std::size_t i = 0;
    for (std::size_t j = 0; j < Out.size(); ++j)
    {
        if (i < In.size() && Out[j] == In[i])
        {
            ++i;
            continue;
        }
        CHECK(Out[j] >= 0x80 && Out[j] < 0xF0);
        CHECK(i < In.size() && In[i] < 0x80);
    }
    CHECK(i == In.size());
}

tBytes BuildStream(const uint8_t* Data, std::size_t Size)
{
    tBytes stream(Data + 2, Data + Size);
    if (Data[1] & 0x80)
    {
        std::size_t at = 0;
        while (at < stream.size() && stream[at] != 0xF0)
            ++at;
        if (at < stream.size())
            stream.insert(stream.begin() + at + 1, 16378 + (Data[1] & 0x0F), 0x11);
    }
    return stream;
}
} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Undefined system common bytes are logged on standard output; the fuzzer reports on standard
    // error, so the flood of log lines is thrown away rather than slowing every run.
    if (!std::freopen("/dev/null", "w", stdout))
        std::fprintf(stderr, "could not silence standard output\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, std::size_t Size)
{
    if (Size < 2)
        return 0;
    const tBytes stream = BuildStream(Data, Size);

    cRunningStatusExpander oneShot;
    tBytes expanded;
    oneShot.Expand(stream, expanded);
    CheckOnlyStatusBytesAdded(stream, expanded);
    CHECK(expanded == ModelExpand(stream));

    // Read sizes from 0 to 64 bytes, as a port's reads would split the stream.
    cRunningStatusExpander chunked;
    tBytes joined;
    tBytes chunk;
    tBytes out;
    uint32_t random = Data[0] * 2654435761u + 1;
    for (std::size_t at = 0; at < stream.size();)
    {
        random ^= random << 13;
        random ^= random >> 17;
        random ^= random << 5;
        const std::size_t length = std::min<std::size_t>(random % 65, stream.size() - at);
        chunk.assign(stream.begin() + at, stream.begin() + at + length);
        chunked.Expand(chunk, out);
        joined.insert(joined.end(), out.begin(), out.end());
        at += length;
    }
    CHECK(joined == expanded);

    // Once expanded, a stream has nothing left to expand.
    cRunningStatusExpander again;
    tBytes twice;
    again.Expand(expanded, twice);
    CHECK(twice == expanded);

    // The inserted status bytes repeat what running status already meant, so the parser makes
    // the same messages of both streams.
    cCheckingParser original;
    original.Feed(stream);
    cCheckingParser restored;
    restored.Feed(expanded);
    CHECK(original.Log == restored.Log);

    // Clock bytes anywhere, and end-of-exclusive bytes outside an exclusive message, change nothing
    // the parser makes of the stream.
    cCheckingParser plain;
    tBytes noisy;
    for (const uint8_t byte : stream)
    {
        random ^= random << 13;
        random ^= random >> 17;
        random ^= random << 5;
        if (random % 8 == 0)
            noisy.push_back(0xF8);
        else if (random % 8 == 1 && !plain.InSysEx())
            noisy.push_back(0xF7);
        noisy.push_back(byte);
        plain.ParseByte(byte);
    }
    cCheckingParser withNoise;
    withNoise.Feed(noisy);
    CHECK(withNoise.Log == plain.Log);
    return 0;
}
