#pragma once
// A small DAW for the demo and the bridge benchmark: JACK MIDI ports connected to the bridge's
// virtual ports on one side, the console on the other (the console simulator driven through its
// standard input and output, or, for the benchmark, a console socket of its own opened in the
// console's network namespace). Every message is timed on one clock, so the latency of each hop
// through the bridge can be told. Main thread, but for the JACK input callback, which only stamps,
// copies and queues.

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

#include <memory>
#include <vector>

class RtMidiIn;
class RtMidiOut;

// One message seen at one end, with the moment it was seen (nanoseconds on the session clock).
struct sSeen
{
    QByteArray Bytes;
    qint64 At = 0;
};

class cDawStandIn : public QObject
{
    Q_OBJECT

public:
    cDawStandIn();
    ~cDawStandIn() override;

    // Opens the JACK ports and connects them to the bridge's port pair of that name, waiting up to
    // TimeoutMs for it to appear. False (with Why) when it does not.
    bool ConnectDaw(const QString& BridgePort, int TimeoutMs, QString& Why);
    // Starts the console simulator (the whole command, a wrapper such as "ip netns exec" included)
    // and waits for its ready line.
    bool StartSimulator(const QStringList& Command, QString& Why);
    // Becomes the console itself: listens on Address:Port inside the network namespace, and waits
    // for the bridge to connect.
    bool ListenAsConsole(const QString& Namespace, const QString& Address, quint16 Port, int TimeoutMs, QString& Why);

    // The scripted session of the demo; prints the trace, true when every message arrived.
    bool RunDemoSession(int PauseMs);
    // The benchmark: latency both ways, highest rate without loss, a burst; prints the figures.
    bool RunBenchmark(int Messages, const QString& AppNamespace, const QString& ConsoleAddress);

    qint64 Now() const { return mClock.nsecsElapsed(); }
    void StopSimulator();

private:
    void SendToDaw(const QByteArray& Bytes); // as the DAW sends: to the bridge
    void SendFromConsole(const QString& Line); // as the console sends
    void ConsoleBytes(const QByteArray& Bytes, qint64 At);
    // Waits until Count messages arrived at the DAW (Daw true) or the console since Start.
    bool WaitFor(bool Daw, int Count, int TimeoutMs);
    void Drain();
    QList<sSeen> TakeDaw();
    QList<sSeen> TakeConsole();
    static void DawCallback(double TimeStamp, std::vector<unsigned char>* Message, void* Self);

    QElapsedTimer mClock;
    std::unique_ptr<RtMidiIn> mIn;
    std::unique_ptr<RtMidiOut> mOut;
    QMutex mDawMutex;
    QList<sSeen> mDawSeen;
    QList<sSeen> mConsoleSeen;
    QProcess mSimulator;
    QString mSimulatorErrors;
    QByteArray mSimulatorLine;
    QTcpServer mServer;
    QTcpSocket* mConsoleSocket = nullptr;
    qint64 mConsolePendingAt = 0;
    QString mServerNamespace;
};
