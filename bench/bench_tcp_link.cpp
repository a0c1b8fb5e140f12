// Bytes per second from a sender on loopback into the console link's Read, beside a plain
// QTcpSocket reading the same stream in the same run. The sender is a blocking socket on its own
// thread; the reader runs the Qt event loop on the main thread as the application does.

#include "network/TCPMIDIInptOutput.h"
#include "tests/support/ConsoleTraffic.h"

#include <QCoreApplication>
#include <QTcpSocket>

#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace
{
constexpr std::size_t kStreamBytes = 4 * 1024 * 1024;

const std::vector<uint8_t>& Stream()
{
    static const std::vector<uint8_t> stream = MakeConsoleTraffic(kStreamBytes, 11);
    return stream;
}

// A console on loopback that sends the whole stream each time it is asked to.
class cSender
{
public:
    cSender()
    {
        mListener = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = 0;
        ::bind(mListener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(mListener, 1);
        socklen_t length = sizeof address;
        ::getsockname(mListener, reinterpret_cast<sockaddr*>(&address), &length);
        mPort = ntohs(address.sin_port);
        mThread = std::thread([this] { Run(); });
    }

    ~cSender()
    {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mStop = true;
        }
        mWake.notify_all();
        ::shutdown(mListener, SHUT_RDWR);
        mThread.join();
        ::close(mListener);
    }

    quint16 Port() const { return mPort; }

    void SendStream()
    {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            ++mRequests;
        }
        mWake.notify_all();
    }

private:
    void Run()
    {
        const int connection = ::accept(mListener, nullptr, nullptr);
        if (connection < 0)
            return;
        int served = 0;
        for (;;)
        {
            std::unique_lock<std::mutex> lock(mMutex);
            mWake.wait(lock, [&] { return mStop || mRequests > served; });
            if (mStop)
                break;
            ++served;
            lock.unlock();
            const std::vector<uint8_t>& stream = Stream();
            std::size_t sent = 0;
            while (sent < stream.size())
            {
                const ssize_t count = ::send(connection, stream.data() + sent, stream.size() - sent, MSG_NOSIGNAL);
                if (count <= 0)
                    break;
                sent += std::size_t(count);
            }
        }
        ::close(connection);
    }

    int mListener = -1;
    quint16 mPort = 0;
    std::thread mThread;
    std::mutex mMutex;
    std::condition_variable mWake;
    int mRequests = 0;
    bool mStop = false;
};

void WaitFor(const std::size_t& Received, std::size_t Target)
{
    while (Received < Target)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void BM_LinkIntoRead(benchmark::State& State)
{
    cSender sender;
    cTCPMIDIInptOutput link(nullptr, sender.Port());
    std::size_t received = 0;
    quint64 checksum = 0;
    QObject::connect(&link, &cMIDIInput::MIDIReadReady, [&] {
        QByteArray bytes;
        link.Read(bytes);
        received += std::size_t(bytes.size());
        if (!bytes.isEmpty())
            checksum += quint8(bytes.back());
    });
    link.ConnectToHost(QHostAddress(QHostAddress::LocalHost));
    while (!link.IsConnected())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    for (auto _ : State)
    {
        const std::size_t target = received + kStreamBytes;
        sender.SendStream();
        WaitFor(received, target);
    }
    benchmark::DoNotOptimize(checksum);
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(kStreamBytes));
    link.Disconnect();
}
BENCHMARK(BM_LinkIntoRead)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PlainSocketReadAll(benchmark::State& State)
{
    cSender sender;
    QTcpSocket socket;
    std::size_t received = 0;
    quint64 checksum = 0;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] {
        const QByteArray bytes = socket.readAll();
        received += std::size_t(bytes.size());
        if (!bytes.isEmpty())
            checksum += quint8(bytes.back());
    });
    socket.connectToHost(QHostAddress(QHostAddress::LocalHost), sender.Port());
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (!socket.waitForConnected(10000))
    {
        State.SkipWithError("no loopback connection");
        return;
    }

    for (auto _ : State)
    {
        const std::size_t target = received + kStreamBytes;
        sender.SendStream();
        WaitFor(received, target);
    }
    benchmark::DoNotOptimize(checksum);
    State.SetBytesProcessed(int64_t(State.iterations()) * int64_t(kStreamBytes));
    socket.disconnectFromHost();
}
BENCHMARK(BM_PlainSocketReadAll)->Unit(benchmark::kMillisecond)->UseRealTime();
} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Stream();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
