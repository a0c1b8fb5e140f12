#include "tests/support/JackServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
// JACK (jackd2) keeps the servers of a machine in a registry of eight slots in shared memory. A
// server that ends uncleanly (killed, or crashing on its way out after a client died) keeps its slot,
// and once all eight are taken no further server starts ("Too many servers already active"): a test
// run that starts a private server per test would then fail for what earlier runs left behind.
// Frees the slots of servers whose process is gone; running servers keep theirs. Does nothing when
// the registry is missing or not laid out as this JACK lays it out.
void FreeStaleJackServerSlots()
{
    // The registry's header: magic "JACK" (stored little-endian as "KCAJ"), protocol, type, the
    // size of the whole registry, the length of the header with its server slots, the length of
    // one memory segment entry. Then eight slots of 264 bytes: a pid and the server's name.
    constexpr std::uint32_t kMagic = 0x4A41434B;
    constexpr int kSlots = 8, kSlotBytes = 264, kHeaderBytes = 24;
    const int fd = open("/dev/shm/jack-shm-registry", O_RDWR);
    if (fd < 0)
        return;
    struct stat info{};
    const bool sized = fstat(fd, &info) == 0 && info.st_size >= kHeaderBytes + kSlots * kSlotBytes;
    void* data = sized ? mmap(nullptr, size_t(info.st_size), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0) : MAP_FAILED;
    close(fd);
    if (data == MAP_FAILED)
        return;
    auto* bytes = static_cast<unsigned char*>(data);
    std::uint32_t header[6];
    std::memcpy(header, bytes, sizeof(header));
    const bool known = header[0] == kMagic && header[3] == info.st_size && header[4] == std::uint32_t(kHeaderBytes + kSlots * kSlotBytes);
    for (int slot = 0; known && slot < kSlots; ++slot)
    {
        unsigned char* entry = bytes + kHeaderBytes + slot * kSlotBytes;
        std::int32_t pid = 0;
        std::memcpy(&pid, entry, sizeof(pid));
        if (pid > 0 && kill(pid, 0) != 0 && errno != EPERM)
            std::memset(entry, 0, kSlotBytes);
    }
    munmap(data, size_t(info.st_size));
}
} // namespace

cJackServer::cJackServer()
{
    static int made = 0;
    mName = QStringLiteral("quillon-%1-%2").arg(QCoreApplication::applicationPid()).arg(++made);
    mLogPath = QDir::temp().filePath(mName + QStringLiteral(".jackd.log"));
}

cJackServer::~cJackServer()
{
    Stop();
}

bool cJackServer::Start(int PeriodFrames, int SampleRate, int TimeoutMs)
{
    Stop();
    mError.clear();
    FreeStaleJackServerSlots();
    mPeriodFrames = PeriodFrames;
    mSampleRate = SampleRate;
    // Clients find the server through this; set before the server starts, so it inherits it too.
    qputenv("JACK_DEFAULT_SERVER", mName.toLocal8Bit());
    // setpriv makes the server end with this process, even when a crashed or killed test never
    // reaches Stop; it then runs jackd in its own place, so the pid is the server's.
    mProcess.setProgram(QStringLiteral("setpriv"));
    // On a loaded two-core test machine without real-time rights clients run late; the long client
    // timeout keeps them from being thrown out. (Synchronous mode would lose nothing in a late
    // period, but a client that ends uncleanly then stalls every request to the server.)
    mProcess.setArguments({QStringLiteral("--pdeathsig"), QStringLiteral("TERM"), QStringLiteral("--"),
                           QStringLiteral("jackd"), QStringLiteral("--no-realtime"), QStringLiteral("--name"), mName,
                           QStringLiteral("--timeout"), QStringLiteral("10000"), QStringLiteral("-d"),
                           QStringLiteral("dummy"), QStringLiteral("-r"), QString::number(SampleRate),
                           QStringLiteral("-p"), QString::number(PeriodFrames)});
    // The dummy driver reports every late period; the log keeps it out of the test's output.
    mProcess.setProcessChannelMode(QProcess::MergedChannels);
    mProcess.setStandardOutputFile(mLogPath);
    mProcess.start();
    if (!mProcess.waitForStarted(5000))
    {
        mError = QStringLiteral("jackd could not be run (%1); scripts/setup installs jackd2").arg(mProcess.errorString());
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < TimeoutMs)
    {
        if (mProcess.state() != QProcess::Running)
        {
            mError = QStringLiteral("jackd ended with %1: %2").arg(mProcess.exitCode()).arg(Log().right(600).trimmed());
            Stop();
            return false;
        }
        // The server answers a client: jack_wait sees it running.
        bool ok = false;
        const QString state = Run(QStringLiteral("jack_wait"), {QStringLiteral("-c"), QStringLiteral("-s"), mName}, &ok, 5000);
        if (ok && state.split(QLatin1Char('\n')).contains(QStringLiteral("running")))
            return true;
        QThread::msleep(50);
    }
    mError = QStringLiteral("jackd did not answer within %1 ms: %2").arg(TimeoutMs).arg(Log().right(600).trimmed());
    Stop();
    return false;
}

void cJackServer::Stop()
{
    if (mProcess.state() != QProcess::NotRunning)
    {
        // A server killed outright keeps its slot in JACK's registry of servers; it may wait for a
        // stuck client as long as the client timeout before it ends on its own.
        mProcess.terminate();
        if (!mProcess.waitForFinished(12000))
        {
            mProcess.kill();
            mProcess.waitForFinished(5000);
        }
    }
    QFile::remove(mLogPath);
}

QString cJackServer::Run(const QString& Program, const QStringList& Arguments, bool* Ok, int TimeoutMs) const
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("JACK_DEFAULT_SERVER"), mName);
    tool.setProcessEnvironment(environment);
    tool.start(Program, Arguments);
    bool ran = tool.waitForStarted(5000);
    if (ran && !tool.waitForFinished(TimeoutMs))
    {
        tool.kill();
        tool.waitForFinished(5000);
        ran = false;
    }
    if (Ok)
        *Ok = ran && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
    return QString::fromLocal8Bit(tool.readAllStandardOutput());
}

QString cJackServer::Log() const
{
    QFile log(mLogPath);
    return log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
}
