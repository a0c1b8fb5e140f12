#pragma once
// The headless bridge at work: a console session run from the resolved setup (the map, the channel,
// the console by address, by name or through MIDI ports), reporting what the session does as lines
// of text, with an optional monitor of every message. Owned by the program's main (or a test); GUI
// thread only.

#include "MIDITranslator/MIDITrafficObserver.h"
#include "session/ConsoleSession.h"
#include "tools/bridge/BridgeOptions.h"

#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class cMIDITranslatorConfiguration;
class cMidiMessageSplitter;

class cBridge : public QObject, private cMIDITrafficObserver
{
    Q_OBJECT

public:
    using tPrinter = std::function<void(const QString& Line)>;

    // Printer gets every line the bridge reports. Environment: what the session is built with
    // (tests hand in a registry and loopback ports).
    cBridge(const sBridgeSetup& Setup, tPrinter Printer, const sSessionEnvironment& Environment = sSessionEnvironment(),
            QObject* Parent = nullptr);
    ~cBridge() override;

    // Loads the map and starts reaching the console. False (reported) when the map gives nothing to
    // translate with.
    bool Start();
    // Closes the link and the virtual ports; nothing is reported after it. Called by the destructor
    // too.
    void Stop();

    cConsoleSession* GetSession() const { return mSession; }
    // The state text of the console link, as last reported.
    QString GetStateText() const { return mStateText; }

signals:
    // The console link reached "Connected" (after the resync was sent).
    void Connected();

private:
    void MIDIRead(const QString& Port, const QByteArray& Bytes) override;
    void MIDIWritten(int RuleId, const QString& Port, bool MixerOut, const QByteArray& Bytes) override;
    void MIDIHeld(int RuleId, const QString& Port, const QByteArray& Bytes) override;

    void Print(const QString& Line);
    void PrintMessages(const QString& Direction, const QString& Port, const QByteArray& Bytes, bool Whole);
    QString PortLabel(const QString& Port) const;
    void ReportSession();

    sBridgeSetup mSetup;
    tPrinter mPrinter;
    cConsoleSession* mSession;
    QElapsedTimer mClock;
    QString mStateText;
    bool mStopped = false;
    bool mStarted = false;
    // One splitter per input port, so messages split across reads are shown whole.
    QHash<QString, std::shared_ptr<cMidiMessageSplitter>> mSplitters;
};
