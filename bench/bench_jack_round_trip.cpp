// The round trip of a 3-byte message from a JACK client through one of Quillon's virtual ports
// (the process callback, the ring, the GUI thread woken, Read, Write, the split into messages)
// and back to the client, beside the same round trip through a plain RtMidi echo (two plain ports
// that answer inside their callback). Both run interleaved against one private JACK server with a
// short period, so they see the same load; JACK moves MIDI once a period, which sets the floor.

#include "Common/MIDI/SystemMIDIConfiguration.h"
#include "Common/MIDI/SystemMIDIConfigurationFactory.h"
#include "Common/MIDI/VirtualMIDIPortCloser.h"
#include "tests/support/JackServer.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>

#include <RtMidi.h>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace
{
using tClock = std::chrono::steady_clock;

constexpr int kPeriodFrames = 64;
constexpr int kSampleRate = 48000;

cJackServer* gJack = nullptr;

// One side of the client: a port that sends, a port that receives, and the time of the last arrival.
class cClientSide
{
public:
    // To: the port it sends to, From: the one it receives from, each listed as "<client>:<name>".
    cClientSide(const std::string& To, const std::string& From) : mOut(RtMidi::UNIX_JACK, "Bench"), mIn(RtMidi::UNIX_JACK, "Bench")
    {
        mIn.setCallback(&Arrived, this);
        mTo = To;
        mFrom = From;
    }

    bool Connect()
    {
        return Open(mOut, mTo) && Open(mIn, mFrom);
    }

    // Sends one note and waits for what comes back, running the GUI thread's event loop meanwhile
    // when EventLoop is set: the round trip in microseconds, or -1 when nothing came back in time.
    double RoundTrip(unsigned char Value, bool EventLoop)
    {
        const unsigned char note[3] = {0x90, 0x3C, Value};
        std::unique_lock<std::mutex> lock(mMutex);
        const int before = mArrivals;
        mWakeEventLoop = EventLoop;
        lock.unlock();
        const tClock::time_point sent = tClock::now();
        const tClock::time_point deadline = sent + std::chrono::milliseconds(500);
        mOut.sendMessage(note, 3);
        lock.lock();
        while (mArrivals == before)
        {
            if (tClock::now() >= deadline)
                return -1;
            if (EventLoop)
            {
                lock.unlock();
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
                lock.lock();
            }
            else
                mArrived.wait_until(lock, deadline);
        }
        return std::chrono::duration<double, std::micro>(mArrival - sent).count();
    }

private:
    template <class tPort> bool Open(tPort& Port, const std::string& Name)
    {
        for (unsigned int i = 0; i < Port.getPortCount(); ++i)
        {
            const std::string name = Port.getPortName(i);
            if (name.size() > Name.size() && name.compare(name.size() - Name.size(), Name.size(), Name) == 0 &&
                name[name.size() - Name.size() - 1] == ':')
            {
                Port.openPort(i, "bench");
                return Port.isPortOpen();
            }
        }
        return false;
    }

    static void Arrived(double, std::vector<unsigned char>*, void* Side)
    {
        auto* self = static_cast<cClientSide*>(Side);
        const tClock::time_point now = tClock::now();
        {
            std::lock_guard<std::mutex> lock(self->mMutex);
            self->mArrival = now;
            ++self->mArrivals;
        }
        self->mArrived.notify_one();
        if (self->mWakeEventLoop)
            self->mDispatcher->wakeUp();
    }

    std::string mTo;
    std::string mFrom;
    RtMidiOut mOut;
    RtMidiIn mIn;
    std::mutex mMutex;
    std::condition_variable mArrived;
    tClock::time_point mArrival;
    int mArrivals = 0;
    bool mWakeEventLoop = false;
    QAbstractEventDispatcher* mDispatcher = QAbstractEventDispatcher::instance();
};

// Two plain RtMidi ports that send back whatever arrives, from inside the input callback.
class cPlainEcho
{
public:
    cPlainEcho() : mIn(RtMidi::UNIX_JACK, "Plain echo"), mOut(RtMidi::UNIX_JACK, "Plain echo")
    {
        mIn.setCallback(&Echo, this);
        mIn.openVirtualPort("Plain echo");
        mOut.openVirtualPort("Plain echo");
    }

private:
    static void Echo(double, std::vector<unsigned char>* Message, void* Echo)
    {
        static_cast<cPlainEcho*>(Echo)->mOut.sendMessage(Message);
    }

    RtMidiIn mIn;
    RtMidiOut mOut;
};

double Percentile(std::vector<double> Samples, double Fraction)
{
    std::sort(Samples.begin(), Samples.end());
    return Samples[std::min(Samples.size() - 1, static_cast<std::size_t>(Fraction * Samples.size()))];
}

void BM_RoundTripVirtualPortVsPlain(benchmark::State& State)
{
    cPlainEcho plain;
    std::unique_ptr<cSystemMIDIConfiguration> registry(CreateSystemMIDIConfiguration());
    registry->CreateVirtualInputOutput("Quillon MIDI Bench");
    cMIDIInput* input = registry->GetInput("Quillon MIDI Bench");
    cMIDIOutput* output = registry->GetOutput("Quillon MIDI Bench");
    // What the engine does with a virtual port: read on the GUI thread when told, then write.
    QByteArray bytes;
    QObject::connect(input, &cMIDIInput::MIDIReadReady, [&] {
        input->Read(bytes);
        if (!bytes.isEmpty())
            output->Write(bytes);
    });

    // Quillon's client joins JACK's cycle on the next turn of the event loop; only then may others
    // connect to its ports.
    const tClock::time_point joined = tClock::now() + std::chrono::milliseconds(300);
    while (tClock::now() < joined)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    cClientSide toPlain("Plain echo", "Plain echo");
    cClientSide toQuillon("Quillon MIDI Bench from DAW", "Quillon MIDI Bench to DAW");
    if (!toPlain.Connect() || !toQuillon.Connect())
    {
        State.SkipWithError("could not connect to the ports");
        return;
    }
    // Connections take effect with a later period of the server.
    const tClock::time_point settle = tClock::now() + std::chrono::milliseconds(300);
    while (tClock::now() < settle)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    std::vector<double> plainTimes;
    std::vector<double> quillonTimes;
    unsigned char value = 0;
    int lost = 0;
    for (auto _ : State)
    {
        value = static_cast<unsigned char>((value + 1) & 0x7F);
        const double viaPlain = toPlain.RoundTrip(value, false);
        const double viaQuillon = toQuillon.RoundTrip(value, true);
        // A message that JACK dropped in a period that ran late is counted, not timed.
        if (viaPlain < 0 || viaQuillon < 0)
        {
            ++lost;
            State.SetIterationTime(1e-3);
            continue;
        }
        plainTimes.push_back(viaPlain);
        quillonTimes.push_back(viaQuillon);
        State.SetIterationTime((viaPlain + viaQuillon) / 1e6);
    }
    State.counters["lost"] = lost;
    if (plainTimes.empty())
        return;
    State.counters["plain_p50_us"] = Percentile(plainTimes, 0.50);
    State.counters["plain_p99_us"] = Percentile(plainTimes, 0.99);
    State.counters["quillon_p50_us"] = Percentile(quillonTimes, 0.50);
    State.counters["quillon_p99_us"] = Percentile(quillonTimes, 0.99);
    State.counters["added_p50_us"] = Percentile(quillonTimes, 0.50) - Percentile(plainTimes, 0.50);
    State.counters["period_frames"] = gJack->PeriodFrames();
    State.counters["period_us"] = 1e6 * gJack->PeriodFrames() / gJack->SampleRate();
}
BENCHMARK(BM_RoundTripVirtualPortVsPlain)->Iterations(2000)->UseManualTime()->Unit(benchmark::kMicrosecond);
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    cJackServer jack;
    if (!jack.Start(kPeriodFrames, kSampleRate))
    {
        std::fprintf(stderr, "JACK server did not start: %s\n", qPrintable(jack.Error()));
        return 1;
    }
    gJack = &jack;
    qputenv("QUILLON_MIDI_API", "jack");
    benchmark::RunSpecifiedBenchmarks();
    CloseAllVirtualMIDIPorts();
    benchmark::Shutdown();
    return 0;
}
