#include "Common/MIDI/MIDIClientJack.h"

#include "Common/LogError.h"
#include "Common/MIDI/MIDIConnectionMemory.h"
#include "Common/MIDI/MIDIInput.h"
#include "Common/MIDI/Virtual/VirtualMIDIInputOutputJack.h"
#include "Common/MIDI/VirtualMIDIPortCloser.h"

#include <QElapsedTimer>
#include <QList>
#include <QSocketNotifier>
#include <QThread>

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstring>

namespace
{
cMIDIClientJack* gClient = nullptr;
quint64 gOpened = 0;

// Connections settle for this long before they are looked at: a program that quits takes its
// connections away a moment before its ports, and that must not read as the user removing them.
constexpr int kSettleMs = 150;
constexpr int kDropReportMs = 1000;

QString Text(const char* Name)
{
    return QString::fromUtf8(Name);
}

// Takes a list JACK made and frees it.
QStringList TakeList(const char** Names)
{
    QStringList list;
    for (const char** name = Names; name != nullptr && *name != nullptr; ++name)
        list << Text(*name);
    jack_free(Names);
    return list;
}
} // namespace

cMIDIClientJack* cMIDIClientJack::Instance(QString* Why)
{
    if (gClient != nullptr)
        return gClient;
    jack_status_t status{};
    // A second Quillon on the same server (the bridge beside the window) gets "Quillon-01" from JACK.
    jack_client_t* client = jack_client_open(kClientName, JackNoStartServer, &status);
    if (client == nullptr)
    {
        if (Why != nullptr)
            *Why = (status & JackServerFailed) ? QStringLiteral("no JACK server is running")
                                               : QStringLiteral("JACK refused the client (status 0x%1)").arg(int(status), 0, 16);
        return nullptr;
    }
    gClient = new cMIDIClientJack(client);
    // The window and the bridge close every port of the process through this when they end.
    SetVirtualMIDIPortCloser(&cMIDIClientJack::Close);
    return gClient;
}

cMIDIClientJack* cMIDIClientJack::Existing()
{
    return gClient;
}

cMIDIClientJack* cMIDIClientJack::Existing(quint64 Serial)
{
    return (gClient != nullptr && gClient->mSerial == Serial) ? gClient : nullptr;
}

void cMIDIClientJack::Close()
{
    delete gClient;
    gClient = nullptr;
}

cMIDIClientJack::cMIDIClientJack(jack_client_t* Client)
    : mClient(Client), mSerial(++gOpened), mName(QString::fromUtf8(jack_get_client_name(Client)))
{
    mEventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (mEventFd < 0)
        LOG_ERROR("JACK client: no eventfd (%s); what arrives is not read", strerror(errno));
    else
    {
        mNotifier = new QSocketNotifier(mEventFd, QSocketNotifier::Read, this);
        connect(mNotifier, &QSocketNotifier::activated, this, &cMIDIClientJack::Woken);
    }
    jack_set_process_callback(mClient, &Process, this);
    jack_set_port_registration_callback(mClient, &PortRegistered, this);
    jack_set_port_connect_callback(mClient, &PortConnected, this);
    jack_on_info_shutdown(mClient, &ServerGone, this);

    mSettle.setSingleShot(true);
    mSettle.setInterval(kSettleMs);
    connect(&mSettle, &QTimer::timeout, this, [this] {
        FollowConnections();
        emit GraphChanged();
    });
    mDropReport.setInterval(kDropReportMs);
    connect(&mDropReport, &QTimer::timeout, this, &cMIDIClientJack::ReportDrops);
    mDropReport.start();
    // The ports that the caller makes in this turn of the event loop are registered before the
    // client joins the process cycle.
    QTimer::singleShot(0, this, &cMIDIClientJack::Activate);
}

cMIDIClientJack::~cMIDIClientJack()
{
    // Connections made a moment ago are remembered before Quillon's ports go.
    if (mSettle.isActive() || mGraphChanged.load())
        FollowConnections();
    for (auto it = mPairs.begin(); it != mPairs.end(); ++it)
        if (it->object != nullptr)
            it->object->PortClosed();
    // Deactivated first: no callback runs once the ports and rings go.
    if (!mGone)
        jack_deactivate(mClient);
    jack_client_close(mClient);
    for (sSlot& slot : mSlots)
        if (slot.ring != nullptr)
            jack_ringbuffer_free(slot.ring);
    delete mNotifier;
    if (mEventFd >= 0)
        close(mEventFd);
}

void cMIDIClientJack::Activate()
{
    if (mActive || mGone)
        return;
    if (jack_activate(mClient) != 0)
    {
        LOG_ERROR("JACK client \"%s\" could not be activated: its ports carry nothing", mName.toLocal8Bit().constData());
        return;
    }
    mActive = true;
    // What came and went before is told now: JACK tells only active clients.
    FollowConnections();
    emit GraphChanged();
}

int cMIDIClientJack::OpenPort(const QString& ShortName, bool Input, QString* Why)
{
    if (mGone)
    {
        *Why = QStringLiteral("the JACK server has stopped");
        return -1;
    }
    int index = -1;
    for (int i = 0; i < kMaxPorts && index < 0; ++i)
        if (mSlots[i].port.load() == nullptr && mSlots[i].name.isEmpty())
            index = i;
    if (index < 0)
    {
        *Why = QStringLiteral("Quillon holds %1 JACK ports already").arg(kMaxPorts);
        return -1;
    }
    jack_port_t* port = jack_port_register(mClient, ShortName.toUtf8().constData(), JACK_DEFAULT_MIDI_TYPE,
                                           Input ? JackPortIsInput : JackPortIsOutput, 0);
    if (port == nullptr)
    {
        *Why = QStringLiteral("JACK refused the port \"%1\"").arg(ShortName);
        return -1;
    }
    sSlot& slot = mSlots[index];
    slot.input = Input;
    slot.name = ShortName;
    slot.ring = jack_ringbuffer_create(Input ? kInputRingBytes : kOutputRingBytes);
    // Kept in memory, so the process callback never waits for a page.
    jack_ringbuffer_mlock(slot.ring);
    slot.dropped = 0;
    slot.wantsRoom = false;
    // Published last: the process callback takes the slot from here on.
    slot.port.store(port);
    return index;
}

void cMIDIClientJack::ClosePort(int Slot)
{
    if (Slot < 0 || Slot >= kMaxPorts)
        return;
    sSlot& slot = mSlots[Slot];
    jack_port_t* port = slot.port.exchange(nullptr);
    WaitForCycle();
    if (port != nullptr && !mGone)
        jack_port_unregister(mClient, port);
    FreeSlot(slot);
}

void cMIDIClientJack::FreeSlot(sSlot& Slot)
{
    if (Slot.ring != nullptr)
        jack_ringbuffer_free(Slot.ring);
    Slot.ring = nullptr;
    Slot.name.clear();
    Slot.pair.clear();
    Slot.reader = nullptr;
    Slot.backlog.clear();
    Slot.backlogRead = 0;
    Slot.known.clear();
    Slot.follow.clear();
}

void cMIDIClientJack::WaitForCycle()
{
    if (!mActive || mGone)
        return;
    const quint32 cycle = mCycle.load();
    if ((cycle & 1) == 0)
        return;
    // A cycle takes a period at most; a server that stopped calling is not waited for long.
    QElapsedTimer waited;
    waited.start();
    while (mCycle.load() == cycle && waited.elapsed() < 500)
        QThread::usleep(200);
}

bool cMIDIClientJack::AttachPair(const QString& Name, cVirtualMIDIInputOutputJack* Object, int* In, int* Out, QString* Why)
{
    auto it = mPairs.find(Name);
    if (it == mPairs.end())
    {
        sPair pair;
        pair.in = OpenPort(PairInputName(Name), true, Why);
        if (pair.in >= 0)
            pair.out = OpenPort(PairOutputName(Name), false, Why);
        if (pair.out < 0)
        {
            ClosePort(pair.in);
            return false;
        }
        mSlots[pair.in].pair = Name;
        mSlots[pair.out].pair = Name;
        it = mPairs.insert(Name, pair);
    }
    it->object = Object;
    mSlots[it->in].reader = Object;
    // Connected where the user connected it before; a map loaded again may be of another family or
    // protocol, which remembers other connections.
    FollowConnections();
    *In = it->in;
    *Out = it->out;
    return true;
}

void cMIDIClientJack::DetachPair(const QString& Name, cVirtualMIDIInputOutputJack* Object)
{
    if (gClient == nullptr)
        return;
    auto it = gClient->mPairs.find(Name);
    if (it == gClient->mPairs.end() || it->object != Object)
        return;
    it->object = nullptr;
    gClient->mSlots[it->in].reader = nullptr;
}

void cMIDIClientJack::SetReader(int Slot, cMIDIInput* Reader)
{
    if (Slot >= 0 && Slot < kMaxPorts)
        mSlots[Slot].reader = Reader;
}

void cMIDIClientJack::Take(int Slot, QByteArray& Data)
{
    Data.clear();
    if (Slot < 0 || Slot >= kMaxPorts || mSlots[Slot].ring == nullptr || !mSlots[Slot].input)
        return;
    jack_ringbuffer_t* ring = mSlots[Slot].ring;
    const size_t count = jack_ringbuffer_read_space(ring);
    Data.resize(int(count));
    jack_ringbuffer_read(ring, Data.data(), count);
}

bool cMIDIClientJack::WriteRecord(sSlot& Slot, const char* Record, int Count)
{
    if (jack_ringbuffer_write_space(Slot.ring) < size_t(Count))
        return false;
    jack_ringbuffer_write(Slot.ring, Record, size_t(Count));
    return true;
}

void cMIDIClientJack::Send(int Slot, const uint8_t* Bytes, int Count)
{
    if (Slot < 0 || Slot >= kMaxPorts || Count <= 0 || Count > 0xFFFF || mGone)
        return;
    sSlot& slot = mSlots[Slot];
    if (slot.ring == nullptr || slot.input)
        return;
    // One record: the length, then the message. Written whole or not at all, so the process
    // callback never sees half of one (it also checks that the whole record is there).
    const quint16 length = quint16(Count);
    if (slot.backlogRead == slot.backlog.size() && jack_ringbuffer_write_space(slot.ring) >= size_t(Count) + 2)
    {
        jack_ringbuffer_write(slot.ring, reinterpret_cast<const char*>(&length), 2);
        jack_ringbuffer_write(slot.ring, reinterpret_cast<const char*>(Bytes), size_t(Count));
        return;
    }
    if (slot.backlog.size() - slot.backlogRead + Count + 2 > kMaxBacklogBytes)
    {
        slot.dropped.fetch_add(1);
        return;
    }
    slot.backlog.append(reinterpret_cast<const char*>(&length), 2);
    slot.backlog.append(reinterpret_cast<const char*>(Bytes), Count);
    slot.wantsRoom.store(true);
    FlushBacklog(slot);
}

void cMIDIClientJack::FlushBacklog(sSlot& Slot)
{
    while (Slot.backlogRead < Slot.backlog.size())
    {
        quint16 length = 0;
        std::memcpy(&length, Slot.backlog.constData() + Slot.backlogRead, 2);
        if (!WriteRecord(Slot, Slot.backlog.constData() + Slot.backlogRead, length + 2))
            return;
        Slot.backlogRead += length + 2;
    }
    Slot.backlog.clear();
    Slot.backlogRead = 0;
    Slot.wantsRoom.store(false);
}

void cMIDIClientJack::Follow(int Slot, const QString& Peer)
{
    if (Slot < 0 || Slot >= kMaxPorts)
        return;
    mSlots[Slot].follow = Peer;
    FollowConnections();
}

QString cMIDIClientJack::FullName(int Slot) const
{
    if (Slot < 0 || Slot >= kMaxPorts)
        return QString();
    return mName + QLatin1Char(':') + mSlots[Slot].name;
}

QStringList cMIDIClientJack::OtherMidiPorts(bool Sources) const
{
    if (mGone)
        return QStringList();
    QStringList ports = TakeList(jack_get_ports(mClient, nullptr, JACK_DEFAULT_MIDI_TYPE, Sources ? JackPortIsOutput : JackPortIsInput));
    const QString own = mName + QLatin1Char(':');
    for (int i = ports.size() - 1; i >= 0; --i)
        if (ports.at(i).startsWith(own))
            ports.removeAt(i);
    return ports;
}

bool cMIDIClientJack::PortExists(const QString& FullName) const
{
    return !mGone && jack_port_by_name(mClient, FullName.toUtf8().constData()) != nullptr;
}

bool cMIDIClientJack::Connect(const QString& From, const QString& To)
{
    if (mGone || !mActive)
        return false;
    const int result = jack_connect(mClient, From.toUtf8().constData(), To.toUtf8().constData());
    return result == 0 || result == EEXIST;
}

QStringList cMIDIClientJack::Connections(const sSlot& Slot) const
{
    jack_port_t* port = Slot.port.load();
    if (port == nullptr || mGone)
        return QStringList();
    return TakeList(jack_port_get_all_connections(mClient, port));
}

void cMIDIClientJack::FollowConnections()
{
    if (!mActive || mGone)
        return;
    const bool remembering = cMIDIConnectionMemory::IsEnabled();
    QStringList connectedPairs;
    // Sending ports first: a DAW that asks something as soon as its sending port is connected
    // finds the way back made already.
    QList<sSlot*> order;
    for (sSlot& slot : mSlots)
        slot.input ? order.append(&slot) : order.prepend(&slot);
    for (sSlot* each : qAsConst(order))
    {
        sSlot& slot = *each;
        if (!slot.follow.isEmpty() && slot.port.load() != nullptr && PortExists(slot.follow) && !Connections(slot).contains(slot.follow))
            slot.input ? Connect(slot.follow, FullName(int(&slot - mSlots))) : Connect(FullName(int(&slot - mSlots)), slot.follow);
        if (slot.pair.isEmpty() || slot.port.load() == nullptr)
            continue;
        const QStringList now = Connections(slot);
        for (const QString& peer : now)
        {
            if (slot.known.contains(peer))
                continue;
            if (remembering)
                cMIDIConnectionMemory::Remember(slot.name, peer);
            if (!connectedPairs.contains(slot.pair))
                connectedPairs << slot.pair;
        }
        // A connection gone while its peer port is still there was removed by the user; one whose
        // peer went with its program is kept for when the program comes back.
        for (const QString& peer : qAsConst(slot.known))
            if (remembering && !now.contains(peer) && PortExists(peer))
                cMIDIConnectionMemory::Forget(slot.name, peer);
        slot.known = now;
        if (!remembering)
            continue;
        const QString own = FullName(int(&slot - mSlots));
        for (const QString& peer : cMIDIConnectionMemory::Peers(slot.name))
            if (!now.contains(peer) && PortExists(peer))
                slot.input ? Connect(peer, own) : Connect(own, peer);
    }
    for (const QString& pair : qAsConst(connectedPairs))
        emit OfferedPortConnected(pair);
}

void cMIDIClientJack::ReportDrops()
{
    for (sSlot& slot : mSlots)
    {
        if (slot.name.isEmpty())
            continue;
        const quint32 dropped = slot.dropped.exchange(0);
        if (dropped == 0)
            continue;
        if (slot.input)
            LOG_ERROR("JACK port \"%s\": %u incoming messages dropped, Quillon did not read them fast enough",
                      slot.name.toLocal8Bit().constData(), dropped);
        else
            LOG_ERROR("JACK port \"%s\": %u outgoing messages dropped (more than %d MB waiting, or a message larger than a period's buffer)",
                      slot.name.toLocal8Bit().constData(), dropped, kMaxBacklogBytes / (1024 * 1024));
    }
}

void cMIDIClientJack::Wake()
{
    if (mEventFd < 0 || mWakePending.exchange(true))
        return;
    const uint64_t one = 1;
    // Non-blocking; a full counter still wakes the reader.
    [[maybe_unused]] const ssize_t written = write(mEventFd, &one, sizeof(one));
}

void cMIDIClientJack::Woken()
{
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = read(mEventFd, &count, sizeof(count));
    // Cleared before looking, so what arrives from here on wakes again.
    mWakePending.store(false);
    if (mServerGone.load() && !mGone)
    {
        mGone = true;
        mActive = false;
        LOG_ERROR("The JACK server stopped: Quillon's JACK ports are gone until Quillon is started again");
        emit GraphChanged();
        return;
    }
    for (sSlot& slot : mSlots)
    {
        if (slot.ring == nullptr)
            continue;
        if (!slot.input)
        {
            if (slot.backlogRead < slot.backlog.size())
                FlushBacklog(slot);
            continue;
        }
        if (jack_ringbuffer_read_space(slot.ring) == 0)
            continue;
        if (slot.reader != nullptr && slot.reader->HasReader())
            emit slot.reader->MIDIReadReady();
        else
            jack_ringbuffer_read_advance(slot.ring, jack_ringbuffer_read_space(slot.ring));
    }
    if (mGraphChanged.exchange(false))
        mSettle.start();
}

// ---- JACK's threads: no lock, no allocation, no log, no signal, no wait below this line. ----

int cMIDIClientJack::Process(uint32_t Frames, void* Self)
{
    auto* client = static_cast<cMIDIClientJack*>(Self);
    client->mCycle.fetch_add(1);
    bool wake = false;
    for (sSlot& slot : client->mSlots)
    {
        jack_port_t* port = slot.port.load();
        if (port == nullptr)
            continue;
        void* buffer = jack_port_get_buffer(port, Frames);
        if (buffer == nullptr)
            continue;
        if (slot.input)
        {
            const uint32_t events = jack_midi_get_event_count(buffer);
            for (uint32_t i = 0; i < events; ++i)
            {
                jack_midi_event_t event;
                if (jack_midi_event_get(&event, buffer, i) != 0 || event.size == 0)
                    continue;
                if (jack_ringbuffer_write_space(slot.ring) < event.size)
                {
                    slot.dropped.fetch_add(1);
                    continue;
                }
                jack_ringbuffer_write(slot.ring, reinterpret_cast<const char*>(event.buffer), event.size);
                wake = true;
            }
            continue;
        }
        jack_midi_clear_buffer(buffer);
        bool wrote = false;
        // As many waiting messages as this period's buffer has room for; the rest wait in order.
        for (;;)
        {
            quint16 length = 0;
            const size_t waiting = jack_ringbuffer_read_space(slot.ring);
            if (waiting < 2 || jack_ringbuffer_peek(slot.ring, reinterpret_cast<char*>(&length), 2) != 2 || waiting < size_t(length) + 2)
                break;
            if (length > jack_midi_max_event_size(buffer))
            {
                if (wrote)
                    break;
                // Larger than an empty buffer: it never fits.
                jack_ringbuffer_read_advance(slot.ring, size_t(length) + 2);
                slot.dropped.fetch_add(1);
                continue;
            }
            jack_midi_data_t* data = jack_midi_event_reserve(buffer, 0, length);
            if (data == nullptr)
                break;
            jack_ringbuffer_read_advance(slot.ring, 2);
            jack_ringbuffer_read(slot.ring, reinterpret_cast<char*>(data), length);
            wrote = true;
        }
        if (wrote && slot.wantsRoom.load())
            wake = true;
    }
    if (wake)
        client->Wake();
    client->mCycle.fetch_add(1);
    return 0;
}

void cMIDIClientJack::PortRegistered(uint32_t, int, void* Self)
{
    auto* client = static_cast<cMIDIClientJack*>(Self);
    client->mGraphChanged.store(true);
    client->Wake();
}

void cMIDIClientJack::PortConnected(uint32_t, uint32_t, int, void* Self)
{
    auto* client = static_cast<cMIDIClientJack*>(Self);
    client->mGraphChanged.store(true);
    client->Wake();
}

void cMIDIClientJack::ServerGone(jack_status_t, const char*, void* Self)
{
    auto* client = static_cast<cMIDIClientJack*>(Self);
    client->mServerGone.store(true);
    client->Wake();
}
