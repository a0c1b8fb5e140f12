#pragma once
// One loaded map file put to work: its virtual ports, aliases, variables and rules, one input
// matcher per port that rules read, and the writing of each fired rule's bytes. Owns the port
// registry. Created without parent and deleted by the preferences window; GUI thread only.

#include "Common/MIDI/MIDIMatch/MIDIMatchTriggerListener.h"
#include "MIDITranslator/MIDITranslatorRule.h"
#include "MIDITranslator/MIDITranslatorVariable.h"
#include "MIDITranslator/MIDITranslatorVariableSource.h"

#include <QByteArray>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QString>
#include <QElapsedTimer>
#include <QStringList>

#include <cstdint>
#include <utility>
#include <vector>

class cMIDIInputMatcher;
class cMIDIInputOutput;
class cMIDIOutput;
class cMIDITranslatorRuleOptions;
class cMIDITrafficObserver;
class cSystemMIDIConfiguration;
class QTimer;

class cMIDITranslatorConfiguration : public QObject, public cMIDIMatchTriggerListener, public cMIDITranslatorVariableSource
{
    Q_OBJECT

public:
    // With the platform's registry.
    cMIDITranslatorConfiguration();
    // With a registry made by the caller (a test back-end); owned from here on either way. Null
    // falls back to the platform's registry.
    explicit cMIDITranslatorConfiguration(cSystemMIDIConfiguration* Registry);
    ~cMIDITranslatorConfiguration() override;

    // Replaces everything with the content of the map file; failures are logged, what could be
    // read is used.
    void LoadFile(const QString& Path);
    void Clear();

    QString ResolveInputAlias(const QString& Name) const;
    QString ResolveOutputAlias(const QString& Name) const;

    uint8_t GetGlobalVariable(const QString& VariableName) const override;
    const QList<cMIDITranslatorVariable>& GetVariables() const override;
    // Changes the first variable of that one-letter name and rebuilds every match pattern.
    void SetVariableValue(const QString& VariableName, uint8_t Value);

    cSystemMIDIConfiguration* GetSystemMIDIConfiguration() const { return mRegistry; }

    // Bind the map file's "Mixer In" / "Mixer Out" aliases to a real port, if the file declared them.
    void SetMixerInputPortName(const QString& PortName);
    void SetMixerOutputPortName(const QString& PortName);
    // The name under which the TCP link is registered: "Corvane Internal TCP MIDI".
    static QString TCPPortName();
    // Registers the TCP link under "Corvane Internal TCP MIDI"; null takes it out again.
    void SetTCPInputOutput(cMIDIInputOutput* Port);
    // Whether the console can be reached now: its link is connected, or its MIDI ports are open.
    // Told by whoever owns the link (the console session).
    // Rules with "needs_console" fire only while it can; when it becomes reachable the state kept
    // per control starts afresh and the "console_connects" announcements are sent.
    void SetConsoleReachable(bool Reachable);
    bool IsConsoleReachable() const { return mConsoleReachable; }

    void MIDIMatchTriggered(int Id, const std::vector<uint8_t>& Message) override;

    QString GetFileName() const { return mFileName; }
    QStringList GetVirtualPortNames() const { return mVirtualPortNames; }
    const QList<cMIDITranslatorRule>& GetRules() const { return mRules; }
    // The map file's object of the rule with this identifier (keys the rule reader does not know
    // included); empty for an identifier that no rule has.
    QJsonObject GetRuleObject(int Id) const { return mRuleObjects.value(Id); }

    // Shown every chunk that the matchers read and every firing's write; null for none. The
    // observer must outlive the setting.
    void SetTrafficObserver(cMIDITrafficObserver* Observer);

signals:
    // The console's input was read (relayed from the matcher behind "Mixer In").
    void MixerMIDIInputRead();
    // Bytes were written to the console's output ("Mixer Out").
    void MixerMIDIOutputWrite();

private:
    // Where a rule's bytes go: one entry per outgoing port name, null when the registry has none.
    struct sOutputRoute
    {
        cMIDIOutput* output = nullptr;
        bool mixerOut = false; // the rule named "Mixer Out" itself
        QString port;          // the resolved name, for the traffic observer
    };

    QJsonDocument ReadJsonFile(const QString& Path);
    void LoadVirtualPorts(const QJsonArray& Ports);
    void LoadPortAliases(const QJsonArray& Aliases);
    void LoadVariables(const QJsonArray& Variables);
    void LoadRules(const QJsonArray& Rules);
    void CreateInputMatchers();
    void DeleteInputMatchers();
    void RebuildRoutes();
    void ForgetRoutes() { mRoutesValid = false; }
    // Writes one firing's bytes to the rule's outgoing ports.
    void WriteRuleOutput(int Id, const QByteArray& Bytes);
    void FireWithOptions(int Id, const cMIDITranslatorRuleOptions& Options, const std::vector<uint8_t>& Message);
    void LoadAnnouncements(const QJsonArray& Announcements);
    // Sends the announcements of that kind; with Port, only to that (resolved) port.
    void Announce(bool DawConnects, const QString& Port);
    void DawConnected(const QString& Port);
    // Ends every gesture that has been quiet long enough, or every one.
    void QuietTimeout(bool EndAll);
    // Makes the quiet timer fire by Deadline (on mClock) at the latest.
    void ScheduleQuiet(qint64 Deadline);
    void ResetControls();

    cSystemMIDIConfiguration* mRegistry;
    QList<QString> mVirtualPortNames;
    QHash<QString, QString> mInputAliases;
    QHash<QString, QString> mOutputAliases;
    QHash<QString, cMIDIInputMatcher*> mInputMatchers;
    QList<cMIDITranslatorRule> mRules;
    QList<QJsonObject> mRuleObjects; // one per rule, by identifier
    QList<cMIDITranslatorVariable> mVariables;
    QJsonDocument mDocument;
    QString mFileName;
    cMIDITrafficObserver* mTrafficObserver = nullptr;
    bool mConsoleReachable = false;

    // Output lookups of every rule, valid while the aliases and the registry's ports stay as they
    // were when they were made (the registry counts its changes).
    std::vector<std::vector<sOutputRoute>> mRoutes;
    quint64 mRoutesGeneration = 0;
    bool mRoutesValid = false;
    // Rules firing right now (a slot of MixerMIDIOutputWrite may load another file meanwhile).
    int mFiringDepth = 0;
    // Counts the clearings of the rule list, so a firing notices that its rule went away.
    quint64 mRulesEpoch = 0;
    // What the optional rule keys keep, per control (the rule and its matched bytes with the value
    // left open) and per remembered slot; emptied on a new console connection and on loading.
    struct sControlState
    {
        int state = 0; // "steps": the last absolute value, or the running sum
        bool hasState = false;
        QByteArray lastSent; // "only_when_changed"
        bool sent = false;
        bool gestureActive = false;
        qint64 quietDeadline = 0;
        quint64 lastMove = 0; // orders gestures whose deadlines fall in the same millisecond
        int ruleId = 0;
        std::vector<uint8_t> lastMatched; // for the gesture's end
    };
    struct sAnnouncement
    {
        bool dawConnects = false; // else when the console becomes reachable
        bool needsConsole = false;
        QStringList ports;
        cMIDITranslatorRule message; // its outgoing template only
    };
    static constexpr int kMostControls = 65536;
    QHash<QByteArray, sControlState> mControls;
    bool mControlsOverflowLogged = false;
    // Remembered values by slot number (-1: none yet); each rule's slots as numbers, found once at
    // load so that a firing looks nothing up by name: {remember, when_remembered}, -1 for none.
    std::vector<int> mRemembered;
    std::vector<std::pair<int, int>> mRuleSlots;
    QList<sAnnouncement> mAnnouncements;
    QTimer* mQuietTimer = nullptr;
    qint64 mQuietDeadline = -1; // when the quiet timer fires, -1 when it does not run
    quint64 mMoves = 0;
    QElapsedTimer mClock;
    QByteArray mControlKey;
    std::vector<uint8_t> mWithValue;
    // Kept between firings so steady traffic does not allocate.
    std::vector<uint8_t> mOutgoing;
    QByteArray mOutgoingBytes;
};
