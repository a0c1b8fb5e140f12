#pragma once
// One console session, the whole of Quillon below its front ends (the window and the bridge): the
// mixer/DAW map, the translator configuration with its port registry, the console link and finder,
// the choice of console (found by name, at an address, or through MIDI ports), the MIDI channel,
// reconnection with a growing pause and re-discovery by name, and bringing the console back to the
// last values sent after each connection. Reports what happens as signals; owns no widget and no
// setting (the front ends read and write the store through cSessionSettings). Owned by its front
// end; GUI thread only.

#include "MIDITranslator/MIDITrafficObserver.h"
#include "MIDITranslator/MixerDawMap.h"
#include "network/TCPMIDIInptOutput.h"
#include "network/Unit.h"
#include "network/UnitFinder.h"
#include "session/ResyncMemory.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVector>

class cMIDITranslatorConfiguration;
class cMultiUnitFinder;
class cSystemMIDIConfiguration;
class QTimer;

// What the session builds its collaborators with. The programs use the defaults: the platform's
// registry, discovery by broadcast, the console's own ports, the "Maps" folder next to the
// executable. Tests hand in an in-memory registry and keep discovery and the link on loopback.
struct sSessionEnvironment
{
    // Taken over by the session's translator configuration; null makes the platform's registry.
    cSystemMIDIConfiguration* Registry = nullptr;
    QHostAddress DiscoveryDestination = QHostAddress(QHostAddress::Broadcast);
    quint16 DiscoveryPort = cUnitFinder::kDiscoveryPort;
    int DiscoveryPollMs = cUnitFinder::kPollMs;
    quint16 ConsolePort = cTCPMIDIInptOutput::kConsolePort;
    // Ends in a separator; empty means the "Maps" folder next to the executable.
    QString MapsDirectory;
    // A try that has not connected by then is given up.
    int ConnectTimeoutMs = 5000;
    // First pause before connecting again, doubled after each failed try up to the longest.
    int FirstRetryMs = 1000;
    int LongestRetryMs = 30000;
};

class cConsoleSession : public QObject, private cMIDITrafficObserver
{
    Q_OBJECT

public:
    explicit cConsoleSession(const sSessionEnvironment& Environment = sSessionEnvironment(), QObject* Parent = nullptr);
    ~cConsoleSession() override;

    // Drops the link, closes the DAW's virtual ports and frees the engine; nothing is signalled
    // afterwards. The destructor calls it too.
    void Stop();

    // ---- Map, channel --------------------------------------------------------------------------
    const cMixerDawMap& GetMap() const { return mMap; }
    // The families of the map, sorted case-sensitively.
    QStringList GetFamilies() const;
    QString GetMapsDirectory() const;
    // Loads the map file of the family and protocol; the values remembered for the console are
    // forgotten (a new map means other controls).
    void LoadMap(const QString& Family, const QString& DAW);
    void LoadMapFile(const QString& Path);
    // Sets every "MIDI Channel" variable of the loaded map (a map may have any number of them).
    void SetChannel(quint8 Channel);

    // ---- Discovery ------------------------------------------------------------------------------
    // Looks for the consoles of this family only (its query text from the map).
    void DiscoverFamily(const QString& Family);
    // Looks for the consoles that answer this query text only.
    void Discover(const QString& FindString);
    int GetPollMs() const { return mEnvironment.DiscoveryPollMs; }
    QList<sUnit> GetUnits() const;

    // ---- The console ------------------------------------------------------------------------------
    // Through system MIDI ports: "Mixer In"/"Mixer Out" follow the chosen ports by name.
    void UseMIDIPorts();
    void SetConsoleInput(const QString& Name);
    void SetConsoleOutput(const QString& Name);
    // Over the network: "Mixer In"/"Mixer Out" follow the link.
    void UseNetwork();
    // Registers the link and keeps it connected until Disconnect: every lost or failed connection
    // is tried again after a pause (FirstRetryMs, doubled up to LongestRetryMs). With a name, the
    // console is followed by discovery wherever it answers from; Address is its last known one.
    // The first try is made after FirstTryDelayMs (0: at once).
    void Connect(const QHostAddress& Address, const QString& Name = QString(), int FirstTryDelayMs = 0);
    // Unregisters and drops the link, and stops trying.
    void Disconnect();
    bool IsConnectionWanted() const { return mWanted; }
    bool IsConnected() const;
    // The name a connection follows (empty for an address).
    QString GetFollowedName() const { return mFollowName; }
    QString GetStateText() const;
    int GetConnectionCount() const { return mConnections; }
    bool IsConsoleReachable() const { return mReachable; }

    // Whether the console gets the last values again after each connection (on by default).
    void SetResync(bool Resync) { mResyncOn = Resync; }
    const cResyncMemory& GetResyncMemory() const { return mResync; }
    // ---- The console lock ---------------------------------------------------------------------------
    // Locked, nothing the DAW sends reaches the console except rules the map marks safe (lamps,
    // displays; never a fader or a mute), and nothing is sent again after a connection. Unlocking
    // sends nothing by itself: the next change from the DAW does.
    void SetConsoleLocked(bool Locked);
    bool IsConsoleLocked() const { return mLocked; }
    // Writes to the console held back since the session started.
    quint64 GetHeldCount() const { return mHeld; }
    // Whether a port name is the console's side (the link, or the chosen console MIDI ports).
    bool IsConsolePort(const QString& Port) const;

    // A front end's view of the traffic (the bridge's monitor); null for none.
    void SetTrafficObserver(cMIDITrafficObserver* Observer) { mObserver = Observer; }

    cMIDITranslatorConfiguration* GetConfiguration() const { return mConfiguration; }
    cSystemMIDIConfiguration* GetRegistry() const;
    cTCPMIDIInptOutput* GetLink() const { return mLink; }

signals:
    // The link's state text ("Not Connected", "Connecting...", "Connected", ...), as it comes.
    void StateTextChanged(QString State);
    // The link reached "Connected" (after the last values were sent).
    void Connected();
    // Try number Try starts for Address; LastKnown when the followed console did not answer
    // discovery and its last address is tried.
    void TryStarted(int Try, QHostAddress Address, bool LastKnown);
    // Try number Try found no address for the followed console.
    void ConsoleNotFound(int Try);
    void ConnectTimedOut(QHostAddress Address, int Ms);
    // The next try comes in Ms milliseconds.
    void RetryScheduled(int Ms);
    // The followed console answered discovery.
    void ConsoleAnswered(sUnit Unit);
    // The last values were written to the console's output port.
    void ResyncSent(QString Port, QList<QByteArray> Messages);
    // Once per batch of consoles found or lost.
    void UnitsChanged();
    // The console became reachable (link connected, ports present) or not.
    void ConsoleReachableChanged(bool Reachable);
    void ConsoleLockChanged(bool Locked);

private:
    void MIDIRead(const QString& Port, const QByteArray& Bytes) override;
    void MIDIWritten(int RuleId, const QString& Port, bool MixerOut, const QByteArray& Bytes) override;
    bool MayWrite(int RuleId, const QString& Port, bool MixerOut, const QByteArray& Bytes) override;

    void TryConnect();
    void ScheduleRetry();
    void LinkStateChanged(const QString& State);
    void UnitFound(const sUnit& Unit);
    void UpdateReachable();
    void SendResync();
    void DropAttempt();

    sSessionEnvironment mEnvironment;
    cMixerDawMap mMap;
    cMIDITranslatorConfiguration* mConfiguration;
    cTCPMIDIInptOutput* mLink;
    cMultiUnitFinder* mFinder;
    QTimer* mRetryTimer;
    QTimer* mConnectTimer;
    cResyncMemory mResync;
    cMIDITrafficObserver* mObserver = nullptr;
    // Per rule identifier: may reach the locked console.
    QVector<bool> mSafe;
    bool mLocked = false;
    quint64 mHeld = 0;

    bool mNetwork = false;
    QString mInputName;
    QString mOutputName;

    bool mWanted = false;
    QHostAddress mLastKnownAddress;
    QString mFollowName;
    QHostAddress mTrying;
    int mRetryMs;
    int mTry = 0;
    int mConnections = 0;
    bool mAttempting = false;    // a connection was asked for and has not ended yet
    bool mInConnectCall = false; // inside ConnectToHost, which reports "Not Connected" first
    bool mReachable = false;
    bool mResyncOn = true;
    bool mStopped = false;
};
