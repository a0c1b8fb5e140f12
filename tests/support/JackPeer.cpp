#include "tests/support/JackPeer.h"

#include <jack/midiport.h>

#include <QStringList>

cJackPeer::cJackPeer(const QString& Name, const QByteArray& OnConnect) : mName(Name), mOnConnect(OnConnect)
{
    mClient = jack_client_open(Name.toUtf8().constData(), jack_options_t(JackNoStartServer | JackUseExactName), nullptr);
    if (mClient == nullptr)
        return;
    mIn = jack_port_register(mClient, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    mOut = jack_port_register(mClient, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    jack_set_process_callback(mClient, &Process, this);
    jack_set_port_connect_callback(mClient, &PortConnected, this);
    if (mIn == nullptr || mOut == nullptr || jack_activate(mClient) != 0)
    {
        jack_client_close(mClient);
        mClient = nullptr;
    }
}

cJackPeer::~cJackPeer()
{
    if (mClient != nullptr)
    {
        jack_deactivate(mClient);
        jack_client_close(mClient);
    }
    jack_ringbuffer_free(mToSend);
    jack_ringbuffer_free(mArrived);
}

namespace
{
// Puts a message in a ring, its length first, when it fits. Allocates nothing: also JACK's thread.
void Put(jack_ringbuffer_t* Ring, const void* Data, size_t Size)
{
    const quint16 length = quint16(Size);
    if (Ring == nullptr || jack_ringbuffer_write_space(Ring) < Size + 2)
        return;
    jack_ringbuffer_write(Ring, reinterpret_cast<const char*>(&length), 2);
    jack_ringbuffer_write(Ring, static_cast<const char*>(Data), Size);
}
} // namespace

void cJackPeer::Send(const QByteArray& Message)
{
    Put(mToSend, Message.constData(), size_t(Message.size()));
}

QList<QByteArray> cJackPeer::Received()
{
    quint16 length = 0;
    while (mArrived != nullptr && jack_ringbuffer_read_space(mArrived) >= 2)
    {
        jack_ringbuffer_read(mArrived, reinterpret_cast<char*>(&length), 2);
        QByteArray message(length, '\0');
        jack_ringbuffer_read(mArrived, message.data(), length);
        mReceived << message;
    }
    return mReceived;
}

void cJackPeer::ClearReceived()
{
    Received();
    mReceived.clear();
}

bool cJackPeer::Connect(const QString& From, const QString& To, bool Connected)
{
    if (mClient == nullptr)
        return false;
    const QByteArray from = From.toUtf8(), to = To.toUtf8();
    return (Connected ? jack_connect(mClient, from.constData(), to.constData())
                      : jack_disconnect(mClient, from.constData(), to.constData())) == 0;
}

namespace
{
// The names of a list JACK made, which is then freed.
QStringList Names(const char** List)
{
    QStringList names;
    for (const char** name = List; name != nullptr && *name != nullptr; ++name)
        names << QString::fromUtf8(*name);
    jack_free(List);
    return names;
}
} // namespace

QStringList cJackPeer::Connections(const QString& Port) const
{
    jack_port_t* port = mClient ? jack_port_by_name(mClient, Port.toUtf8().constData()) : nullptr;
    return Names(port ? jack_port_get_all_connections(mClient, port) : nullptr);
}

QStringList cJackPeer::Ports() const
{
    return Names(mClient ? jack_get_ports(mClient, nullptr, nullptr, 0) : nullptr);
}

int cJackPeer::Process(jack_nframes_t Frames, void* Self)
{
    auto* peer = static_cast<cJackPeer*>(Self);
    void* in = jack_port_get_buffer(peer->mIn, Frames);
    const uint32_t events = jack_midi_get_event_count(in);
    for (uint32_t i = 0; i < events; ++i)
    {
        jack_midi_event_t event;
        if (jack_midi_event_get(&event, in, i) == 0)
            Put(peer->mArrived, event.buffer, event.size);
    }
    void* out = jack_port_get_buffer(peer->mOut, Frames);
    jack_midi_clear_buffer(out);
    const int connects = peer->mConnects.load();
    for (; peer->mConnectsAnswered < connects; ++peer->mConnectsAnswered)
        jack_midi_event_write(out, 0, reinterpret_cast<const jack_midi_data_t*>(peer->mOnConnect.constData()), size_t(peer->mOnConnect.size()));
    quint16 length = 0;
    while (jack_ringbuffer_read_space(peer->mToSend) >= 2 && jack_ringbuffer_peek(peer->mToSend, reinterpret_cast<char*>(&length), 2) == 2 &&
           length <= jack_midi_max_event_size(out))
    {
        jack_midi_data_t* data = jack_midi_event_reserve(out, 0, length);
        if (data == nullptr)
            break;
        jack_ringbuffer_read_advance(peer->mToSend, 2);
        jack_ringbuffer_read(peer->mToSend, reinterpret_cast<char*>(data), length);
    }
    return 0;
}

void cJackPeer::PortConnected(jack_port_id_t A, jack_port_id_t B, int Connected, void* Self)
{
    auto* peer = static_cast<cJackPeer*>(Self);
    if (!Connected || peer->mOnConnect.isEmpty())
        return;
    jack_port_t* out = peer->mOut;
    if (jack_port_by_id(peer->mClient, A) == out || jack_port_by_id(peer->mClient, B) == out)
        peer->mConnects.fetch_add(1);
}
