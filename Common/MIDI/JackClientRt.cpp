#include "Common/MIDI/JackClientRt.h"

#include <jack/jack.h>
#include <jack/midiport.h>

cJackClientRt::cJackClientRt(const QString& Name, QString* Why)
{
    jack_status_t status{};
    mClient = jack_client_open(Name.toUtf8().constData(), JackNoStartServer, &status);
    if (mClient == nullptr && Why != nullptr)
        *Why = (status & JackServerFailed) ? QStringLiteral("no JACK server is running")
                                           : QStringLiteral("JACK refused the client (status 0x%1)").arg(int(status), 0, 16);
}

cJackClientRt::~cJackClientRt()
{
    if (mClient != nullptr)
        jack_client_close(mClient);
}

QStringList cJackClientRt::MidiPorts(bool Sources) const
{
    QStringList names;
    if (mClient == nullptr)
        return names;
    const char** ports = jack_get_ports(mClient, nullptr, JACK_DEFAULT_MIDI_TYPE, Sources ? JackPortIsOutput : JackPortIsInput);
    for (const char** port = ports; port != nullptr && *port != nullptr; ++port)
        names << QString::fromUtf8(*port);
    jack_free(ports);
    return names;
}

cJackClientRt::sTiming cJackClientRt::Timing() const
{
    sTiming timing;
    if (mClient == nullptr)
        return timing;
    timing.PeriodFrames = jack_get_buffer_size(mClient);
    timing.SampleRate = jack_get_sample_rate(mClient);
    timing.MidiBufferBytes = jack_port_type_get_buffer_size(mClient, JACK_DEFAULT_MIDI_TYPE);
    return timing;
}

cJackClientRt::sTiming cJackClientRt::ServerTiming()
{
    return cJackClientRt(QStringLiteral("Quillon timing")).Timing();
}
