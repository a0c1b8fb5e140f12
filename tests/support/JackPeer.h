#pragma once
// Another JACK program for the tests (a DAW, a console): a client of its own, on libjack directly,
// with one receiving port "in" and one sending port "out". What arrives is kept message by message;
// what is sent goes out in the next period. It may send one message each time a port connects to
// its sending port, as a DAW's control surface sends its device query. Used on the test's thread;
// JACK's threads pass everything through rings.

#include <QByteArray>
#include <QList>
#include <QString>

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <atomic>

class cJackPeer
{
public:
    // Opens and activates the client Name on the server of JACK_DEFAULT_SERVER; OnConnect, when
    // given, is sent every time the sending port is connected.
    explicit cJackPeer(const QString& Name, const QByteArray& OnConnect = QByteArray());
    ~cJackPeer();
    cJackPeer(const cJackPeer&) = delete;
    cJackPeer& operator=(const cJackPeer&) = delete;

    QString In() const { return mName + QStringLiteral(":in"); }
    QString Out() const { return mName + QStringLiteral(":out"); }

    void Send(const QByteArray& Message);
    // Every message received so far, each as one array.
    QList<QByteArray> Received();
    void ClearReceived();
    // Connects (or disconnects) two ports of the server by full name, sending side first.
    bool Connect(const QString& From, const QString& To, bool Connected = true);
    // Full names of the ports connected to Port, and of every port of the server.
    QStringList Connections(const QString& Port) const;
    QStringList Ports() const;

private:
    static int Process(jack_nframes_t Frames, void* Self);
    static void PortConnected(jack_port_id_t A, jack_port_id_t B, int Connected, void* Self);

    QString mName;
    QByteArray mOnConnect;
    jack_client_t* mClient = nullptr;
    jack_port_t* mIn = nullptr;
    jack_port_t* mOut = nullptr;
    jack_ringbuffer_t* mToSend = jack_ringbuffer_create(1 << 20);
    jack_ringbuffer_t* mArrived = jack_ringbuffer_create(1 << 22);
    std::atomic<int> mConnects{0};
    int mConnectsAnswered = 0; // process thread only
    QList<QByteArray> mReceived;
};
