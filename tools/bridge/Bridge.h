#pragma once
// The headless bridge at work: loads the chosen map, offers its virtual ports to the DAW, reaches the
// console over the network (connecting again whenever the link drops, finding a console given by
// name again by discovery) or through MIDI ports, brings the console back to the DAW's state after
// every (re)connection, and reports what it does as lines of text. Owned by the program's main (or
// a test); GUI thread only.

#include "MIDITranslator/MIDITrafficObserver.h"
#include "network/Unit.h"
#include "tools/bridge/BridgeOptions.h"
#include "tools/bridge/ResyncMemory.h"

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class cMIDITranslatorConfiguration;
class cMidiMessageSplitter;
class cMultiUnitFinder;
class cSystemMIDIConfiguration;
class cTCPMIDIInptOutput;
class QTimer;

// Where the network side goes; only tests change it from the defaults, to stay on loopback.
struct sBridgeNetwork
{
    quint16 ConsolePort = 51325;
    QHostAddress DiscoveryDestination = QHostAddress(QHostAddress::Broadcast);
    quint16 DiscoveryPort = 51320;
    int DiscoveryPollMs = 1000;
    int ConnectTimeoutMs = 5000;
    // First pause before connecting again, doubled after each failed try up to the longest.
    int FirstRetryMs = 1000;
    int LongestRetryMs = 30000;
};

class cBridge : public QObject, private cMIDITrafficObserver
{
    Q_OBJECT

public:
    using tPrinter = std::function<void(const QString& Line)>;

    // Registry: the port registry to use, owned from here on (null: the platform's). Printer gets
    // every line the bridge reports.
    cBridge(const sBridgeSetup& Setup, tPrinter Printer, cSystemMIDIConfiguration* Registry = nullptr,
            const sBridgeNetwork& Network = sBridgeNetwork(), QObject* Parent = nullptr);
    ~cBridge() override;

    // Loads the map and starts reaching the console. False (reported) when the map gives nothing to
    // translate with.
    bool Start();
    // Closes the link and the virtual ports; nothing is reported after it. Called by the destructor
    // too.
    void Stop();

    cMIDITranslatorConfiguration* GetConfiguration() const { return mConfiguration; }
    const cResyncMemory& GetResyncMemory() const { return mResync; }
    // The state text of the console link, as last reported.
    QString GetStateText() const { return mStateText; }
    int GetConnectionCount() const { return mConnections; }

signals:
    // The console link reached "Connected" (after the resync was sent).
    void Connected();

private:
    void MIDIRead(const QString& Port, const QByteArray& Bytes) override;
    void MIDIWritten(int RuleId, const QString& Port, bool MixerOut, const QByteArray& Bytes) override;

    void Print(const QString& Line);
    void PrintMessages(const QString& Direction, const QString& Port, const QByteArray& Bytes, bool Whole);
    QString PortLabel(const QString& Port) const;
    void TryConnect();
    void ScheduleRetry();
    void LinkStateChanged(const QString& State);
    void UnitFound(const sUnit& Unit);
    void SendResync(const QString& Output);
    void ConsoleOutputAdded(const QString& Name);

    sBridgeSetup mSetup;
    sBridgeNetwork mNetwork;
    tPrinter mPrinter;
    cMIDITranslatorConfiguration* mConfiguration;
    bool mPlatformRegistry; // the registry is the platform's own (not a test's)
    cTCPMIDIInptOutput* mLink = nullptr;
    cMultiUnitFinder* mFinder = nullptr;
    QTimer* mRetryTimer = nullptr;
    QTimer* mConnectTimer = nullptr;
    cResyncMemory mResync;
    QElapsedTimer mClock;

    QString mStateText;
    QHostAddress mLastKnownAddress;
    QHostAddress mTrying;
    int mRetryMs = 0;
    int mTry = 0;
    int mConnections = 0;
    bool mAttempting = false;   // a connection was asked for and has not ended yet
    bool mInConnectCall = false; // inside ConnectToHost, which reports "Not Connected" first
    bool mStopped = false;
    bool mStarted = false;
    // One splitter per input port, so messages split across reads are shown whole.
    QHash<QString, std::shared_ptr<cMidiMessageSplitter>> mSplitters;
};
