#pragma once
// A JACK client that is never activated: it lists the server's MIDI ports and reads the period and
// the size of a MIDI port buffer, without joining the process cycle. An activated client (every
// RtMidi object is one) is woken once per period even when nothing moves; this one costs nothing
// between calls. Built only where JACK's development files are found (QUILLON_HAVE_JACK).

#include <QString>
#include <QStringList>

typedef struct _jack_client jack_client_t;

class cJackClientRt
{
public:
    // What the server moves per period.
    struct sTiming
    {
        // Frames per period and frames per second; 0 when the server was not reached.
        quint32 PeriodFrames = 0;
        quint32 SampleRate = 0;
        // Bytes of one MIDI port buffer, which holds every event of one period with its header.
        quint64 MidiBufferBytes = 0;
    };

    // Opens the client under Name without starting a server; Why gets the reason when it fails.
    cJackClientRt(const QString& Name, QString* Why = nullptr);
    ~cJackClientRt();
    cJackClientRt(const cJackClientRt&) = delete;
    cJackClientRt& operator=(const cJackClientRt&) = delete;

    bool IsOpen() const { return mClient != nullptr; }
    // Full names ("client:port") of the MIDI ports that send (Sources) or receive; empty when closed.
    QStringList MidiPorts(bool Sources) const;
    sTiming Timing() const;

    // The timing of the running server, read through a short-lived client of its own.
    static sTiming ServerTiming();

private:
    jack_client_t* mClient = nullptr;
};
