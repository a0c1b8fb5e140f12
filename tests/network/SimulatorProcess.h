#pragma once
// Test helper: runs the console simulator (tools/console-sim) as a child process, directly or
// through a wrapper such as "ip netns exec NAME", and collects what it prints. Test thread only.

#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QtTest>

class cSimulatorProcess
{
public:
    // The build compiles the simulator's path in (empty when the tools are not built).
    static QString ProgramPath()
    {
#ifdef QUILLON_CONSOLE_SIM
        return QStringLiteral(QUILLON_CONSOLE_SIM);
#else
        return QString();
#endif
    }

    static bool Available() { return QFileInfo(ProgramPath()).isExecutable(); }

    ~cSimulatorProcess() { Kill(); }

    // Starts the simulator with Arguments, behind Wrapper when given, and waits for its ready line.
    bool Start(const QStringList& Arguments, const QStringList& Wrapper = QStringList())
    {
        QStringList command = Wrapper + QStringList{ProgramPath()} + Arguments;
        mProcess.setProgram(command.takeFirst());
        mProcess.setArguments(command);
        QObject::connect(&mProcess, &QProcess::readyReadStandardOutput, &mProcess, [this] { Collect(); });
        QObject::connect(&mProcess, &QProcess::readyReadStandardError, &mProcess, [this] { Collect(); });
        mProcess.start();
        static const QRegularExpression ready(
            QStringLiteral("console-sim: ready tcp=([^ ]+):(\\d+) udp=(?:off|([^ ]+):(\\d+))"));
        QRegularExpressionMatch match;
        const bool started = QTest::qWaitFor(
            [&] { return (match = ready.match(mErrors)).hasMatch() || mProcess.state() == QProcess::NotRunning; }, 15000);
        Collect();
        TcpPort = quint16(match.captured(2).toUInt());
        UdpPort = quint16(match.captured(4).toUInt());
        return started && match.hasMatch();
    }

    // Hard end, as when the console loses power: the kernel closes its sockets.
    void Kill()
    {
        if (mProcess.state() != QProcess::NotRunning)
        {
            mProcess.kill();
            mProcess.waitForFinished(10000);
        }
        Collect();
    }

    void Write(const QByteArray& Bytes) { mProcess.write(Bytes); }
    QStringList OutputLines() const { return mOutput.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
    QString Errors() const { return mErrors; }

    quint16 TcpPort = 0;
    quint16 UdpPort = 0;

private:
    void Collect()
    {
        mOutput += QString::fromLatin1(mProcess.readAllStandardOutput());
        mErrors += QString::fromLatin1(mProcess.readAllStandardError());
    }

    QProcess mProcess;
    QString mOutput;
    QString mErrors;
};
