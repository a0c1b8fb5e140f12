#pragma once
// Connects one named input port to one match tree: follows the port as the registry announces it,
// reads every chunk, restores running status and feeds the bytes to the tree. Owned (as a child) by
// the translator configuration; everything here runs on the GUI thread, input arrives queued.

#include "Common/MIDI/MIDIInput.h"
#include "Common/MIDI/MIDIMatch/MIDIMatchTrigger.h"
#include "Common/MIDI/RunningStatusExpander.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <vector>

class cMIDIMatchManager;
class cMIDITrafficObserver;
class cMIDIMatchTriggerListener;
class cSystemMIDIConfiguration;

class cMIDIInputMatcher : public QObject
{
    Q_OBJECT

public:
    // Binds at once when the registry already has the port, else waits for its announcement.
    cMIDIInputMatcher(const QString& Name, cSystemMIDIConfiguration* Registry, cMIDIMatchTriggerListener* Listener,
                      QObject* Parent);
    ~cMIDIInputMatcher() override;

    void AddTrigger(const sMIDIMatchTrigger& Trigger);
    // Rebinds to Input (null: unbound). Patterns, partial matches and running status are kept; they
    // are dropped when the input says its stream restarts.
    void SetInput(cMIDIInput* Input);

    // Stops taking and matching bytes at once, also in the middle of a chunk, for an owner that has
    // to let go of the matcher while one of its rules is firing; the owner deletes it later.
    void Retire();

    // Shown every chunk read, before it is matched; null for none.
    void SetTrafficObserver(cMIDITrafficObserver* Observer) { mTrafficObserver = Observer; }

    QString GetName() const { return mName; }
    cMIDIInput* GetInput() const { return mInput.data(); }

signals:
    // Relayed from the bound input's MIDIReadReady, after the chunk has been matched.
    void MIDIInputReadSignal();

private slots:
    void InputAdded(QString Name);
    void InputRemoved(QString Name);
    void MIDIReadReady();
    void StreamRestarted();

private:
    void Unbind();
    // Passes one byte of the expanded stream on to the match tree, holding back real-time bytes
    // that arrive inside a message until the message is complete.
    void Feed(uint8_t Byte);
    void ReleaseHeldRealTime();

    QString mName;
    cSystemMIDIConfiguration* mRegistry;
    cMIDIMatchManager* mMatchManager;
    // Guarded: a port object may be destroyed without an announcement (a virtual port deleted by
    // the registry), and a read announced before that may still be queued for us.
    QPointer<cMIDIInput> mInput;
    cRunningStatusExpander mExpander;
    bool mRetired = false;
    cMIDITrafficObserver* mTrafficObserver = nullptr;

    // Data bytes still to come in the message being fed: 0 between messages, -1 inside an exclusive
    // message (which ends with its 0xF7 or any other status byte).
    int mMessageRemaining = 0;
    // Real-time bytes met inside the current message, in arrival order.
    std::vector<uint8_t> mHeldRealTime;

    // Kept between reads so a steady stream does not allocate.
    QByteArray mReadBuffer;
    std::vector<uint8_t> mBytes;
    std::vector<uint8_t> mExpanded;
};
