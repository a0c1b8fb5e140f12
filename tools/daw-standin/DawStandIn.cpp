#include "tools/daw-standin/DawStandIn.h"

#include "Common/MidiDescriber.h"
#include "Common/MidiMessageSplitter.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <RtMidi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace
{
void Say(const QString& Line)
{
    std::printf("%s\n", Line.toLocal8Bit().constData());
    std::fflush(stdout);
}

QString Hex(const QByteArray& Bytes)
{
    return QString::fromLatin1(Bytes.toHex(' '));
}

QString Ms(qint64 Nanoseconds)
{
    return QStringLiteral("%1 ms").arg(Nanoseconds / 1e6, 0, 'f', 3);
}

// Runs Work with this thread inside the named network namespace, then goes back. Sockets made
// meanwhile stay in that namespace for their whole life.
template <typename tWork> bool InNamespace(const QString& Namespace, QString& Why, tWork Work)
{
    if (Namespace.isEmpty())
    {
        Work();
        return true;
    }
    const int home = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    const QByteArray path = QByteArray("/var/run/netns/") + Namespace.toLocal8Bit();
    const int target = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (home < 0 || target < 0 || ::setns(target, CLONE_NEWNET) != 0)
    {
        Why = QStringLiteral("cannot enter network namespace %1: %2").arg(Namespace, QString::fromLocal8Bit(std::strerror(errno)));
        if (home >= 0)
            ::close(home);
        if (target >= 0)
            ::close(target);
        return false;
    }
    Work();
    const bool back = ::setns(home, CLONE_NEWNET) == 0;
    ::close(home);
    ::close(target);
    if (!back)
        Why = QStringLiteral("cannot return to the own network namespace");
    return back;
}

struct sPercentiles
{
    qint64 p50 = 0, p99 = 0, max = 0;
};

sPercentiles Percentiles(std::vector<qint64> Values)
{
    sPercentiles result;
    if (Values.empty())
        return result;
    std::sort(Values.begin(), Values.end());
    auto at = [&](double Fraction) { return Values[std::min(Values.size() - 1, size_t(Fraction * double(Values.size())))]; };
    result.p50 = at(0.50);
    result.p99 = at(0.99);
    result.max = Values.back();
    return result;
}

QString Figures(const char* What, const std::vector<qint64>& Values)
{
    const sPercentiles p = Percentiles(Values);
    return QStringLiteral("%1: p50 %2, p99 %3, max %4 (%5 messages)")
        .arg(QLatin1String(What), Ms(p.p50), Ms(p.p99), Ms(p.max))
        .arg(Values.size());
}
} // namespace

cDawStandIn::cDawStandIn()
{
    mClock.start();
}

cDawStandIn::~cDawStandIn()
{
    StopSimulator();
    try
    {
        if (mIn)
            mIn->closePort();
        if (mOut)
            mOut->closePort();
    }
    catch (const RtMidiError&)
    {
    }
}

void cDawStandIn::DawCallback(double, std::vector<unsigned char>* Message, void* Self)
{
    auto* self = static_cast<cDawStandIn*>(Self);
    const qint64 at = self->Now();
    QMutexLocker lock(&self->mDawMutex);
    self->mDawSeen.append({QByteArray(reinterpret_cast<const char*>(Message->data()), int(Message->size())), at});
}

bool cDawStandIn::ConnectDaw(const QString& BridgePort, int TimeoutMs, QString& Why)
{
    try
    {
        mIn = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "DAW stand-in", 100000);
        mOut = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "DAW stand-in");
        mIn->ignoreTypes(false, true, true);
        mIn->setCallback(&cDawStandIn::DawCallback, this);
        // The bridge's port pair: a port of that name in whatever client the MIDI system gave it,
        // or Quillon's JACK ports "<name> to DAW" and "<name> from DAW".
        auto find = [&](RtMidi& Midi, const char* Side) {
            for (unsigned int i = 0; i < Midi.getPortCount(); ++i)
            {
                const QString name = QString::fromStdString(Midi.getPortName(i));
                if (name == BridgePort || name.endsWith(QLatin1Char(':') + BridgePort) || name.endsWith(QLatin1Char(':') + BridgePort + QLatin1String(Side)))
                    return int(i);
            }
            return -1;
        };
        // JACK lists a client's ports as soon as they are registered but refuses connections to them
        // until the client has joined the process cycle, and RtMidi does not tell a refused
        // connection: the stand-in asks JACK's own lister and connects again until both hold.
        auto connected = [](const std::string& Port) {
            QProcess lister;
            lister.start(QStringLiteral("jack_lsp"), {QStringLiteral("-c"), QString::fromStdString(Port)});
            if (!lister.waitForFinished(5000))
                return false;
            const QList<QByteArray> lines = lister.readAllStandardOutput().split('\n');
            return std::any_of(lines.cbegin(), lines.cend(), [](const QByteArray& Line) { return Line.startsWith(' '); });
        };
        QElapsedTimer waited;
        waited.start();
        for (;;)
        {
            const int in = find(*mIn, " to DAW");
            const int out = find(*mOut, " from DAW");
            if (in >= 0 && out >= 0)
            {
                const std::string inName = mIn->getPortName(unsigned(in));
                const std::string outName = mOut->getPortName(unsigned(out));
                mIn->openPort(unsigned(in), "from bridge");
                mOut->openPort(unsigned(out), "to bridge");
                if (connected(inName) && connected(outName))
                    break;
                mIn->closePort();
                mOut->closePort();
            }
            if (waited.elapsed() > TimeoutMs)
            {
                Why = QStringLiteral("the bridge's MIDI port \"%1\" could not be connected within %2 s").arg(BridgePort).arg(TimeoutMs / 1000);
                return false;
            }
            QThread::msleep(100);
        }
    }
    catch (const RtMidiError& Error)
    {
        Why = QStringLiteral("JACK MIDI: %1").arg(QString::fromStdString(Error.getMessage()));
        return false;
    }
    return true;
}

bool cDawStandIn::StartSimulator(const QStringList& Command, QString& Why)
{
    connect(&mSimulator, &QProcess::readyReadStandardOutput, this, [this] {
        const qint64 at = Now();
        mSimulatorLine += mSimulator.readAllStandardOutput();
        int end;
        while ((end = mSimulatorLine.indexOf('\n')) >= 0)
        {
            const QByteArray line = mSimulatorLine.left(end);
            mSimulatorLine.remove(0, end + 1);
            // "b0 10 64  # fader 1 = 100": the hex before the explanation.
            const QByteArray bytes = QByteArray::fromHex(line.split('#').first().trimmed());
            if (!bytes.isEmpty())
                mConsoleSeen.append({bytes, at});
        }
    });
    connect(&mSimulator, &QProcess::readyReadStandardError, this, [this] { mSimulatorErrors += QString::fromLocal8Bit(mSimulator.readAllStandardError()); });
    mSimulator.start(Command.first(), Command.mid(1));
    if (!mSimulator.waitForStarted(10000))
    {
        Why = QStringLiteral("the console simulator did not start: %1").arg(mSimulator.errorString());
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    // Ready, and linked to the bridge: until then the simulator would only queue what it is told.
    while (!mSimulatorErrors.contains(QLatin1String("console-sim: connected")))
    {
        if (waited.elapsed() > 60000 || mSimulator.state() != QProcess::Running)
        {
            Why = QStringLiteral("the console simulator was not linked to: %1").arg(mSimulatorErrors.trimmed());
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    }
    return true;
}

void cDawStandIn::StopSimulator()
{
    if (mSimulator.state() != QProcess::NotRunning)
    {
        mSimulator.terminate();
        if (!mSimulator.waitForFinished(3000))
        {
            mSimulator.kill();
            mSimulator.waitForFinished(3000);
        }
    }
}

bool cDawStandIn::ListenAsConsole(const QString& Namespace, const QString& Address, quint16 Port, int TimeoutMs, QString& Why)
{
    mServerNamespace = Namespace;
    bool listening = false;
    if (!InNamespace(Namespace, Why, [&] { listening = mServer.listen(QHostAddress(Address), Port); }))
        return false;
    if (!listening)
    {
        Why = QStringLiteral("cannot listen on %1:%2: %3").arg(Address).arg(Port).arg(mServer.errorString());
        return false;
    }
    if (!mServer.waitForNewConnection(TimeoutMs))
    {
        Why = QStringLiteral("the bridge did not connect within %1 s").arg(TimeoutMs / 1000);
        return false;
    }
    mConsoleSocket = mServer.nextPendingConnection();
    mConsoleSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto splitter = std::make_shared<cMidiMessageSplitter>([this](const QByteArray& Message) { mConsoleSeen.append({Message, mConsolePendingAt}); },
                                                           [](const QString& Problem) { Say(QStringLiteral("console: ") + Problem); });
    connect(mConsoleSocket, &QTcpSocket::readyRead, this, [this, splitter] {
        mConsolePendingAt = Now();
        splitter->Feed(mConsoleSocket->readAll());
    });
    return true;
}

void cDawStandIn::SendToDaw(const QByteArray& Bytes)
{
    mOut->sendMessage(reinterpret_cast<const unsigned char*>(Bytes.constData()), size_t(Bytes.size()));
}

void cDawStandIn::SendFromConsole(const QString& Line)
{
    if (mConsoleSocket != nullptr)
        mConsoleSocket->write(QByteArray::fromHex(Line.toLatin1()));
    else
        mSimulator.write(Line.toLatin1() + '\n');
}

QList<sSeen> cDawStandIn::TakeDaw()
{
    QMutexLocker lock(&mDawMutex);
    QList<sSeen> seen;
    seen.swap(mDawSeen);
    return seen;
}

QList<sSeen> cDawStandIn::TakeConsole()
{
    QList<sSeen> seen;
    seen.swap(mConsoleSeen);
    return seen;
}

bool cDawStandIn::WaitFor(bool Daw, int Count, int TimeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    for (;;)
    {
        int have;
        if (Daw)
        {
            QMutexLocker lock(&mDawMutex);
            have = mDawSeen.size();
        }
        else
        {
            have = mConsoleSeen.size();
        }
        if (have >= Count)
            return true;
        if (waited.elapsed() > TimeoutMs)
            return false;
        // The DAW's messages come from the JACK thread without an event: look often.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
        if (Daw)
            QThread::usleep(20);
    }
}

void cDawStandIn::Drain()
{
    // Late arrivals of an earlier phase must not count in the next one: wait for 300 ms of quiet.
    QElapsedTimer quiet;
    quiet.start();
    while (quiet.elapsed() < 300)
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
        if (!TakeDaw().isEmpty() || !TakeConsole().isEmpty())
            quiet.restart();
    }
}

bool cDawStandIn::RunDemoSession(int PauseMs)
{
    struct sStep
    {
        bool fromConsole;
        QString what;
        QString send; // a simulator command, or hex the DAW sends
        QStringList expected; // a leading '+': comes after the gesture's quiet time, not timed
    };
    // Ny-16 on channel 1 with the Mackie Control map: strips 1 to 8 are the first Mackie unit. The
    // faders go through the map's table (99 is the DAW's 0 dB, 12808); the touch is released once a
    // fader has been still for a moment.
    const QList<sStep> steps = {
        {true, "console: fader 1 up to 100", "fader 1 100", {"90687f", "e00865", "+906800"}},
        {true, "console: mute 2 pressed", "mute 2 on", {"90117f", "901100"}},
        {true, "console: fader 3 down to 0", "fader 3 0", {"906a7f", "e20000", "+906a00"}},
        {false, "DAW: fader 1 automation moves to 80", "e06e50", {"b01050"}},
        {false, "DAW: mute lamp of strip 1 on", "90107f", {"b0207f"}},
        {false, "DAW: solo lamp of strip 2 on", "90097f", {"b0417f"}},
        {false, "DAW: fader 4 to 64", "e35840", {"b01340"}},
    };
    int missing = 0;
    int arrived = 0;
    std::vector<qint64> latencies[2];
    for (const sStep& step : steps)
    {
        TakeDaw();
        TakeConsole();
        Say(QStringLiteral("%1").arg(step.what));
        const qint64 sent = Now();
        QByteArray sentBytes;
        if (step.fromConsole)
        {
            SendFromConsole(step.send);
        }
        else
        {
            sentBytes = QByteArray::fromHex(step.send.toLatin1());
            SendToDaw(sentBytes);
            Say(QStringLiteral("    DAW sent      %1").arg(cMidiDescriber::Line(sentBytes)));
        }
        // The surface announces itself whenever the console (re)connects; that is no step's answer.
        QList<sSeen> seen;
        QElapsedTimer waited;
        waited.start();
        while (seen.size() < step.expected.size() && waited.elapsed() < 3000)
        {
            WaitFor(!step.fromConsole, 1, 50);
            for (const sSeen& each : step.fromConsole ? TakeDaw() : TakeConsole())
                if (!(each.Bytes.startsWith(QByteArray::fromHex("f000006614")) && each.Bytes.size() > 5 && each.Bytes.at(5) == 0x01))
                    seen << each;
        }
        int index = 0;
        for (const QString& hex : step.expected)
        {
            const QByteArray expected = QByteArray::fromHex(hex.toLatin1());
            const bool there = index < seen.size() && seen.at(index).Bytes == expected;
            if (there)
            {
                ++arrived;
                const qint64 latency = seen.at(index).At - sent;
                if (!hex.startsWith(QLatin1Char('+')))
                    latencies[step.fromConsole ? 0 : 1].push_back(latency);
                Say(QStringLiteral("    %1 got %2   after %3").arg(step.fromConsole ? "DAW    " : "console").arg(cMidiDescriber::Line(expected), -52).arg(Ms(latency)));
            }
            else
            {
                ++missing;
                Say(QStringLiteral("    MISSING at the %1: %2 (got %3)").arg(step.fromConsole ? "DAW" : "console", cMidiDescriber::Line(expected),
                                                                         index < seen.size() ? Hex(seen.at(index).Bytes) : QStringLiteral("nothing")));
            }
            ++index;
        }
        QThread::msleep(unsigned(PauseMs));
    }
    Say(QString());
    Say(QStringLiteral("%1 of %2 expected messages arrived.").arg(arrived).arg(arrived + missing));
    if (!latencies[0].empty())
        Say(Figures("console to DAW latency", latencies[0]));
    if (!latencies[1].empty())
        Say(Figures("DAW to console latency", latencies[1]));
    return missing == 0;
}

bool cDawStandIn::RunBenchmark(int Messages, const QString& AppNamespace, const QString& ConsoleAddress)
{
    QString why;
    bool ok = true;

    // Latency, one message at a time: a console fader move (the touch with the first move of the
    // gesture, then the move; the move itself timed) and a DAW fader move (one control change at the
    // console).
    std::vector<qint64> toDaw, toConsole;
    int lost = 0;
    for (int i = 0; i < Messages; ++i)
    {
        TakeDaw();
        const int value = i % 128;
        const qint64 sent = Now();
        SendFromConsole(QStringLiteral("b010%1").arg(value, 2, 16, QLatin1Char('0')));
        QElapsedTimer waited;
        waited.start();
        qint64 at = -1;
        while (at < 0 && waited.elapsed() < 2000)
        {
            WaitFor(true, 1, 50);
            for (const sSeen& seen : TakeDaw())
                if (quint8(seen.Bytes.at(0)) == 0xE0)
                    at = seen.At;
        }
        if (at < 0)
            ++lost;
        else
            toDaw.push_back(at - sent);
    }
    for (int i = 0; i < Messages; ++i)
    {
        TakeConsole();
        const int value = i % 128;
        const qint64 sent = Now();
        SendToDaw(QByteArray::fromHex(QStringLiteral("e000%1").arg(value, 2, 16, QLatin1Char('0')).toLatin1()));
        if (!WaitFor(false, 1, 2000))
        {
            ++lost;
            continue;
        }
        toConsole.push_back(TakeConsole().first().At - sent);
    }
    Say(Figures("bridge, console to DAW", toDaw));
    Say(Figures("bridge, DAW to console", toConsole));
    if (lost > 0)
    {
        Say(QStringLiteral("lost in the latency runs: %1").arg(lost));
        ok = false;
    }

    // A raw TCP round trip over the same veth, from a socket in the bridge's namespace to an echo
    // in the console's.
    {
        QTcpServer echo;
        bool listening = false;
        if (!InNamespace(mServerNamespace, why, [&] { listening = echo.listen(QHostAddress(ConsoleAddress), 0); }) || !listening)
        {
            Say(QStringLiteral("raw TCP: no echo server: %1").arg(why));
        }
        else
        {
            QTcpSocket client;
            InNamespace(AppNamespace, why, [&] { client.connectToHost(QHostAddress(ConsoleAddress), echo.serverPort()); });
            client.setSocketOption(QAbstractSocket::LowDelayOption, 1);
            QTcpSocket* server = (client.waitForConnected(5000) && echo.waitForNewConnection(5000)) ? echo.nextPendingConnection() : nullptr;
            if (server != nullptr)
            {
                server->setSocketOption(QAbstractSocket::LowDelayOption, 1);
                connect(server, &QTcpSocket::readyRead, server, [server] { server->write(server->readAll()); });
                std::vector<qint64> rtt;
                for (int i = 0; i < Messages; ++i)
                {
                    const qint64 sent = Now();
                    client.write(QByteArray::fromHex("b01040"));
                    QByteArray back;
                    while (back.size() < 3)
                    {
                        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
                        back += client.readAll();
                    }
                    rtt.push_back(Now() - sent);
                }
                Say(Figures("raw TCP round trip over the veth", rtt));
            }
        }
    }

    // A raw JACK MIDI round trip: a port of this process connected back to another of its own,
    // through the same server and RtMidi, without the bridge.
    try
    {
        RtMidiIn loopIn(RtMidi::UNIX_JACK, "DAW stand-in loop", 100000);
        RtMidiOut loopOut(RtMidi::UNIX_JACK, "DAW stand-in loop");
        loopIn.ignoreTypes(false, true, true);
        struct sLoop
        {
            QMutex mutex;
            qint64 at = -1;
            long count = 0;
            QElapsedTimer* clock;
        } loop;
        loop.clock = &mClock;
        loopIn.setCallback(
            [](double, std::vector<unsigned char>*, void* Loop) {
                auto* self = static_cast<sLoop*>(Loop);
                const qint64 at = self->clock->nsecsElapsed();
                QMutexLocker lock(&self->mutex);
                self->at = at;
                ++self->count;
            },
            &loop);
        loopIn.openVirtualPort("loop in");
        int target = -1;
        for (unsigned int i = 0; i < loopOut.getPortCount() && target < 0; ++i)
            if (QString::fromStdString(loopOut.getPortName(i)).endsWith(QLatin1String(":loop in")))
                target = int(i);
        if (target < 0)
            throw RtMidiError("no loop port", RtMidiError::INVALID_DEVICE);
        loopOut.openPort(unsigned(target), "loop out");
        QThread::msleep(200);
        std::vector<qint64> rtt;
        const unsigned char message[3] = {0xB0, 0x10, 0x40};
        for (int i = 0; i < Messages; ++i)
        {
            {
                QMutexLocker lock(&loop.mutex);
                loop.at = -1;
            }
            const qint64 sent = Now();
            loopOut.sendMessage(message, 3);
            QElapsedTimer waited;
            waited.start();
            qint64 at = -1;
            while (at < 0 && waited.elapsed() < 2000)
            {
                QThread::usleep(20);
                QMutexLocker lock(&loop.mutex);
                at = loop.at;
            }
            if (at >= 0)
                rtt.push_back(at - sent);
        }
        Say(Figures("raw JACK MIDI, one hop through the server (RtMidi out to RtMidi in)", rtt));

        // The same ports given a burst as one program writes it: RtMidi moves what is queued into
        // the next period's buffer and drops what does not fit there.
        const long burst = 100000;
        {
            QMutexLocker lock(&loop.mutex);
            loop.count = 0;
        }
        for (long i = 0; i < burst; ++i)
            loopOut.sendMessage(message, 3);
        QElapsedTimer waited;
        waited.start();
        long arrived = 0;
        for (long before = -1; waited.elapsed() < 60000 && arrived != before;)
        {
            before = arrived;
            QThread::msleep(500);
            QMutexLocker lock(&loop.mutex);
            arrived = loop.count;
        }
        Say(QStringLiteral("raw JACK MIDI, burst of %1 messages written at once (RtMidi out to RtMidi in): %2 arrived%3")
                .arg(burst).arg(arrived).arg(arrived == burst ? "" : "  LOSS"));
    }
    catch (const RtMidiError& Error)
    {
        Say(QStringLiteral("raw JACK MIDI: %1").arg(QString::fromStdString(Error.getMessage())));
    }

    // Highest sustained rate without loss, console to DAW: two seconds at each rate.
    for (const int rate : {1000, 5000, 10000, 20000, 50000})
    {
        Drain();
        const int total = rate * 2;
        int sent = 0;
        QElapsedTimer clock;
        clock.start();
        while (sent < total)
        {
            const int due = int(std::min<qint64>(total, clock.nsecsElapsed() * rate / 1000000000));
            QByteArray chunk;
            for (; sent < due; ++sent)
                chunk += QByteArray::fromHex(QStringLiteral("b010%1").arg(sent % 128, 2, 16, QLatin1Char('0')).toLatin1());
            if (!chunk.isEmpty())
                mConsoleSocket->write(chunk);
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            QThread::usleep(200);
        }
        // Every move, with one touch and one release around them all.
        WaitFor(true, total + 2, 5000);
        int moves = 0;
        for (const sSeen& seen : TakeDaw())
            if (quint8(seen.Bytes.at(0)) == 0xE0)
                ++moves;
        Say(QStringLiteral("console to DAW at %1 messages/s: %2 of %3 arrived%4").arg(rate).arg(moves).arg(total).arg(moves == total ? "" : "  LOSS"));
    }
    for (const int rate : {1000, 5000, 10000, 20000})
    {
        Drain();
        const int total = rate * 2;
        int sent = 0;
        QElapsedTimer clock;
        clock.start();
        while (sent < total)
        {
            const int due = int(std::min<qint64>(total, clock.nsecsElapsed() * rate / 1000000000));
            for (; sent < due; ++sent)
                SendToDaw(QByteArray::fromHex(QStringLiteral("e000%1").arg(sent % 128, 2, 16, QLatin1Char('0')).toLatin1()));
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            QThread::usleep(200);
        }
        WaitFor(false, total, 5000);
        const int got = TakeConsole().size();
        Say(QStringLiteral("DAW to console at %1 messages/s: %2 of %3 arrived%4").arg(rate).arg(got).arg(total).arg(got == total ? "" : "  LOSS"));
    }

    // A burst: 100,000 console messages at once, then wait for the DAW to have them all.
    {
        Drain();
        const int total = 100000;
        QByteArray burst;
        for (int i = 0; i < total; ++i)
            burst += QByteArray::fromHex(QStringLiteral("b010%1").arg(i % 128, 2, 16, QLatin1Char('0')).toLatin1());
        const qint64 start = Now();
        mConsoleSocket->write(burst);
        WaitFor(true, total + 2, 60000);
        int moves = 0;
        qint64 last = start;
        for (const sSeen& seen : TakeDaw())
            if (quint8(seen.Bytes.at(0)) == 0xE0)
                ++moves, last = seen.At;
        Say(QStringLiteral("burst of %1 console messages: %2 arrived at the DAW, drained in %3%4")
                .arg(total).arg(moves).arg(Ms(last - start)).arg(moves == total ? "" : "  LOSS"));
    }
    return ok;
}
