#pragma once
// A private JACK server for tests, benchmarks and demos: jackd with the dummy driver (no sound card,
// no real-time rights needed) under a server name of its own that holds this process's pid, so
// servers of tests running side by side never meet. Start sets JACK_DEFAULT_SERVER in this process,
// so every JACK client made afterwards here (RtMidi's, and JACK's own tools run as children) talks
// to it. Stopped by its pid only. Used on one thread.

#include "tests/support/RealComponent.h"

#include <QProcess>
#include <QString>
#include <QStringList>

class cJackServer
{
public:
    // The server name: "quillon-<pid>-<n>", n counting the servers this process made.
    cJackServer();
    ~cJackServer();

    // Starts the server with PeriodFrames frames per period at SampleRate and waits until it answers
    // (at most TimeoutMs). On failure the server is stopped and Error says why.
    bool Start(int PeriodFrames = 256, int SampleRate = 48000, int TimeoutMs = 15000);
    // Ends the server (SIGTERM, then SIGKILL after a grace time) and removes its log.
    void Stop();

    QString Error() const { return mError; }
    int PeriodFrames() const { return mPeriodFrames; }
    int SampleRate() const { return mSampleRate; }

    // Runs one of JACK's command-line clients (jack_lsp, jack_connect, ...) against this server
    // until it ends (at most TimeoutMs) and returns what it printed on standard output. Ok, when
    // given, tells whether it ran and exited with 0.
    QString Run(const QString& Program, const QStringList& Arguments, bool* Ok = nullptr, int TimeoutMs = 10000) const;
    // What the server logged so far, late clients and missed periods ("XRun") among it.
    QString Log() const;

private:
    QString mName;
    QString mLogPath;
    QString mError;
    int mPeriodFrames = 0;
    int mSampleRate = 0;
    QProcess mProcess;
};

// Starts Server in a test function (or initTestCase), failing in CI and skipping elsewhere when it
// does not start.
#define QUILLON_START_JACK(Server, ...)                                                                  \
    QUILLON_REQUIRE((Server).Start(__VA_ARGS__), QStringLiteral("JACK server did not start: ") + (Server).Error())
