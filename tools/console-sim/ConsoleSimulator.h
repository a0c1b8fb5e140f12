#pragma once
// A stand-in for a mixing console on the network: answers discovery queries with its name, accepts
// the MIDI link over TCP, prints each MIDI message it receives as a hex line on standard output and
// sends the hex lines it is given, with fault modes for tests. Owned by main; main thread only.

#include "tools/console-sim/ConsoleFamily.h"
#include "Common/MidiMessageSplitter.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class QSocketNotifier;
class QTcpServer;
class QTcpSocket;
class QTimer;
class QUdpSocket;

// One line of a script: bytes to send, or a pause.
struct sScriptStep
{
    QByteArray Bytes;
    int SleepMs = 0;
};

struct sConsoleSimSettings
{
    QHostAddress Address = QHostAddress(QHostAddress::LocalHost);
    quint16 TcpPort = 51325;
    quint16 DiscoveryPort = 51320;
    bool Discovery = true;
    QStringList FindTexts = {QStringLiteral("NY Find")};
    QString Name = QStringLiteral("Quillon Console Sim");
    // A zero byte and these bytes follow the name in every answer.
    bool AnswerJunk = false;
    QByteArray Junk;
    QList<sScriptStep> Script;
    // Negative: off.
    qint64 CloseAfter = -1;
    qint64 ResetAfter = -1;
    int TrickleMs = -1;
    qint64 FloodBytes = -1; // 0: until the peer goes
    qint64 GarbageBytes = -1;
    quint32 Seed = 1;
    bool Once = false;
    bool Verbose = false;
    bool ReadStandardInput = true;
    // With a family: readable commands besides hex, and received messages explained.
    cConsoleFamily Family;
};

class cConsoleSimulator : public QObject
{
    Q_OBJECT

public:
    explicit cConsoleSimulator(const sConsoleSimSettings& Settings, QObject* Parent = nullptr);
    ~cConsoleSimulator() override;

    // Opens the sockets and reports the ports in use on standard error. False when one cannot be
    // opened (the reason is written too).
    bool Start();

    // Sends the bytes to the connected link, or keeps them until one connects.
    void Send(const QByteArray& Bytes);

private slots:
    void NewConnection();
    void ClientReadyRead();
    void ClientDisconnected();
    void DiscoveryReadyRead();
    void StandardInputReadable();
    void Pump();
    void TrickleTick();
    void RunScript();

private:
    void SendStandardInputLine(const QString& Line);
    void TopUpFlood();
    void TopUpGarbage();
    // Takes Count bytes written to the link off the front of the queue.
    void Sent(qint64 Count);
    void EndConnection(bool Reset);
    void PrintMessage(const QByteArray& Message);
    quint32 NextRandom();

    sConsoleSimSettings mSettings;
    QTcpServer* mServer;
    QUdpSocket* mDiscovery;
    QTcpSocket* mClient = nullptr;
    QTimer* mTrickleTimer;
    QSocketNotifier* mStandardInput = nullptr;
    std::unique_ptr<cMidiMessageSplitter> mSplitter;
    QByteArray mOutgoing;
    // Lines of standard input given while no link is connected.
    QByteArray mWaiting;
    QByteArray mStandardInputLine;
    int mStandardInputLineNumber = 0;
    qint64 mSent = 0;
    qint64 mFloodLeft = -1;
    // Random bytes still to make for this connection, and how many of them wait at the queue's front.
    qint64 mGarbageLeft = 0;
    qint64 mGarbageQueued = 0;
    int mScriptIndex = 0;
    // Tells a script pause of an earlier connection from one of the current connection.
    int mConnectionNumber = 0;
    bool mEnding = false;
    quint32 mRandom;
};

// Parses one line of hex ("b0 07 64", "B00764", "# comment" after the bytes). Empty Bytes and true
// for a blank or comment line; false when the line holds anything but pairs of hex digits.
bool ParseHexLine(const QString& Line, QByteArray& Bytes);
// A line of standard input or of a script: one of the family's commands ("fader 1 100") or hex.
// False with Error set when it is neither.
bool ParseConsoleLine(const cConsoleFamily& Family, const QString& Line, QByteArray& Bytes, QString& Error);
