#pragma once
// Quillon's one JACK client, "Quillon" (JACK names a second Quillon's "Quillon-01"): every JACK
// port Quillon owns (both sides of each port pair offered to the DAW, the ports that reach the
// console) belongs to it, and one process callback serves them all. One per process, opened on
// first need, activated on the next turn of the event loop (so the ports made meanwhile are
// registered before it), closed by Close when the program ends. The GUI thread makes and uses it;
// the process callback runs on JACK's real-time thread and only moves events between the ports'
// buffers and preallocated single-producer single-consumer rings, counting what a full ring
// refuses, and wakes the GUI thread through an eventfd. JACK's notification thread only raises
// flags and wakes the GUI thread the same way.
//
// It also keeps the DAW's connections across restarts: for every offered port it remembers the
// ports the user connected it to (cMIDIConnectionMemory), connects them again when the port is
// made and whenever such a port appears, and forgets a connection the user removes.

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <jack/ringbuffer.h>
#include <jack/types.h>

#include <atomic>
#include <cstdint>

class cMIDIInput;
class cVirtualMIDIInputOutputJack;
class QSocketNotifier;

class cMIDIClientJack : public QObject
{
    Q_OBJECT

public:
    static constexpr const char* kClientName = "Quillon";
    // Ports one client can own at once; every port pair offered takes two.
    static constexpr int kMaxPorts = 128;
    // Bytes each input ring holds (several periods of a busy port) and each output ring holds
    // (several full period buffers); what does not fit an output ring waits in a backlog on the
    // GUI thread, up to kMaxBacklogBytes per port.
    static constexpr int kInputRingBytes = 64 * 1024;
    static constexpr int kOutputRingBytes = 256 * 1024;
    static constexpr int kMaxBacklogBytes = 16 * 1024 * 1024;

    // The client, opened without starting a server; null when it cannot be opened, with the reason
    // in Why. A failed open is tried again at the next call.
    static cMIDIClientJack* Instance(QString* Why = nullptr);
    // The client when it is open, else null; opens nothing.
    static cMIDIClientJack* Existing();
    // The client that Serial names, when it is still the open one: port objects keep the serial of
    // the client their slots belong to, and send nothing once it was closed.
    static cMIDIClientJack* Existing(quint64 Serial);
    quint64 Serial() const { return mSerial; }
    // Deactivates and closes the client: every port goes, the offered pairs' objects are told
    // they send nothing any more.
    static void Close();

    // Registers a port of the client under ShortName (receiving when Input); returns its slot, or
    // -1 with the reason in Why.
    int OpenPort(const QString& ShortName, bool Input, QString* Why);
    // Unregisters the port once the process callback is done with it.
    void ClosePort(int Slot);
    // Input slots: the port told (MIDIReadReady, on the GUI thread) when bytes arrived; while it
    // has no reader, or none is set, arriving bytes are dropped.
    void SetReader(int Slot, cMIDIInput* Reader);
    // Input slots: replaces Data with every byte received so far.
    void Take(int Slot, QByteArray& Data);
    // Output slots: queues one complete message for the next periods.
    void Send(int Slot, const uint8_t* Bytes, int Count);

    // The pair offered to the DAW as Name (the ports "<Name> from DAW" and "<Name> to DAW"), made
    // on first use and kept, with the DAW's connections, until Close; Object receives what the DAW
    // sends from now on. False, with Why, when the pair cannot be made (tried again next time).
    bool AttachPair(const QString& Name, cVirtualMIDIInputOutputJack* Object, int* In, int* Out, QString* Why);
    // Takes Object off the pair if it is still the one attached: what the DAW sends is dropped
    // until the next AttachPair. Safe after Close.
    static void DetachPair(const QString& Name, cVirtualMIDIInputOutputJack* Object);
    // The JACK port names of the pair offered as Name: the one the DAW sends to, and the one it
    // receives from.
    static QString PairInputName(const QString& Name) { return Name + QStringLiteral(" from DAW"); }
    static QString PairOutputName(const QString& Name) { return Name + QStringLiteral(" to DAW"); }

    // Keeps the slot connected to the port Peer (full name; the console's): connected as soon as
    // the client is active, and again whenever Peer comes back.
    void Follow(int Slot, const QString& Peer);

    // "Quillon:<short name>" (or the name JACK gave a second Quillon's client).
    QString FullName(int Slot) const;
    // Full names of the MIDI ports of other clients that send (Sources) or receive.
    QStringList OtherMidiPorts(bool Sources) const;
    bool PortExists(const QString& FullName) const;
    // Connects two ports by full name, sending side first; false (not logged) when JACK refuses.
    bool Connect(const QString& From, const QString& To);
    bool IsActive() const { return mActive; }

signals:
    // Ports of the server came or went, or connections changed (settled; GUI thread).
    void GraphChanged();
    // A program connected to a side of the offered pair Pair.
    void OfferedPortConnected(QString Pair);

private:
    struct sSlot
    {
        std::atomic<jack_port_t*> port{nullptr};
        bool input = false;
        jack_ringbuffer_t* ring = nullptr;
        // Written by the process callback (inputs: a full ring; outputs: a message larger than a
        // whole period's buffer) or the GUI thread (outputs: a full backlog); reported from the GUI.
        std::atomic<quint32> dropped{0};
        // Outputs: messages wait in the backlog, so the process callback wakes the GUI thread
        // when it made room.
        std::atomic<bool> wantsRoom{false};
        // GUI thread only.
        QString name;
        QString pair;
        cMIDIInput* reader = nullptr;
        QByteArray backlog; // records of a 2-byte length and the message
        int backlogRead = 0;
        QStringList known; // connections as last seen
        QString follow;    // the console port it is kept connected to
    };

    explicit cMIDIClientJack(jack_client_t* Client);
    ~cMIDIClientJack() override;

    static int Process(uint32_t Frames, void* Self);
    static void PortRegistered(uint32_t Port, int Registered, void* Self);
    static void PortConnected(uint32_t From, uint32_t To, int Connected, void* Self);
    static void ServerGone(jack_status_t Code, const char* Reason, void* Self);
    // From the process or the notification thread: wakes the GUI thread once until it runs.
    void Wake();

    void Activate();
    void Woken();
    void FlushBacklog(sSlot& Slot);
    bool WriteRecord(sSlot& Slot, const char* Record, int Count);
    void ReportDrops();
    // Remembers, forgets and makes again the offered ports' connections.
    void FollowConnections();
    // Waits (briefly) until a process cycle that began before the call has ended.
    void WaitForCycle();
    void FreeSlot(sSlot& Slot);
    QStringList Connections(const sSlot& Slot) const;

    struct sPair
    {
        int in = -1;
        int out = -1;
        cVirtualMIDIInputOutputJack* object = nullptr;
    };

    jack_client_t* mClient;
    quint64 mSerial;
    QString mName;
    QHash<QString, sPair> mPairs;
    sSlot mSlots[kMaxPorts];
    int mEventFd = -1;
    QSocketNotifier* mNotifier = nullptr;
    std::atomic<bool> mWakePending{false};
    std::atomic<bool> mGraphChanged{false};
    std::atomic<bool> mServerGone{false};
    // Odd while a process cycle runs; counts cycle starts and ends.
    std::atomic<quint32> mCycle{0};
    bool mActive = false;
    bool mGone = false;
    QTimer mSettle;
    QTimer mDropReport;
};
