#include "tests/support/JackServer.h"

#include "tests/support/JackRegistry.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

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
            mError = QStringLiteral("jackd ended with %1: %2").arg(mProcess.exitCode()).arg(LogTail());
            Stop();
            return false;
        }
        if (Answers())
            return true;
        QThread::msleep(50);
    }
    mError = QStringLiteral("jackd did not answer within %1 ms: %2").arg(TimeoutMs).arg(LogTail());
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

bool cJackServer::Answers() const
{
    bool ok = false;
    const QString state = Run(QStringLiteral("jack_wait"), {QStringLiteral("-c"), QStringLiteral("-s"), mName}, &ok, 5000);
    return ok && state.split(QLatin1Char('\n')).contains(QStringLiteral("running"));
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

QStringList cJackServer::Ports() const
{
    // A server busy with a burst may turn a new client away for a moment; jack_lsp then prints
    // nothing and fails, which must not read as "no ports".
    QString listed;
    bool ok = false;
    for (int attempt = 0; attempt < 5 && !ok; ++attempt)
    {
        if (attempt > 0)
            QThread::msleep(200);
        listed = Run(QStringLiteral("jack_lsp"), {}, &ok);
    }
    QStringList ports;
    for (const QString& line : listed.split(QLatin1Char('\n')))
        if (!line.trimmed().isEmpty() && !line.startsWith(QLatin1Char(' ')) && !line.startsWith(QLatin1Char('\t')))
            ports << line.trimmed();
    return ports;
}

QString cJackServer::Log() const
{
    QFile log(mLogPath);
    return log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString();
}

QString cJackServer::LogTail() const
{
    QFile log(mLogPath);
    if (!log.open(QIODevice::ReadOnly))
        return QStringLiteral("(no log)");
    const QByteArray all = log.readAll();
    return QString::fromLocal8Bit(all.right(600)).trimmed();
}
