// quillon-daw-standin: a small DAW for the demo and the bridge benchmark (see DawStandIn.h).
//   --port NAME            the bridge's virtual port pair to connect to
//   --demo PAUSE_MS        run the demo's scripted session; the console simulator's command
//                          follows "--"
//   --bench N              run the benchmark with N messages each way; the stand-in is the console
//                          itself, in --console-netns at --console-address:51325, and measures a raw
//                          TCP round trip from --app-netns too
// Exit code 0 only when every expected message arrived.

#include "tools/daw-standin/DawStandIn.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList arguments = app.arguments().mid(1);
    QStringList simulator;
    const int dashes = arguments.indexOf(QStringLiteral("--"));
    if (dashes >= 0)
    {
        simulator = arguments.mid(dashes + 1);
        arguments = arguments.mid(0, dashes);
    }
    auto value = [&](const char* Option, const QString& Default = QString()) {
        const int at = arguments.indexOf(QLatin1String(Option));
        return (at >= 0 && at + 1 < arguments.size()) ? arguments.at(at + 1) : Default;
    };
    const QString port = value("--port", QStringLiteral("Quillon MIDI Mackie"));

    cDawStandIn standIn;
    QString why;
    if (!standIn.ConnectDaw(port, 20000, why))
    {
        std::fprintf(stderr, "daw-standin: %s\n", qPrintable(why));
        return 1;
    }
    if (arguments.contains(QStringLiteral("--bench")))
    {
        if (!standIn.ListenAsConsole(value("--console-netns"), value("--console-address"), 51325, 30000, why))
        {
            std::fprintf(stderr, "daw-standin: %s\n", qPrintable(why));
            return 1;
        }
        return standIn.RunBenchmark(value("--bench").toInt(), value("--app-netns"), value("--console-address")) ? 0 : 1;
    }
    if (simulator.isEmpty())
    {
        std::fprintf(stderr, "daw-standin: give the console simulator's command after \"--\"\n");
        return 2;
    }
    if (!standIn.StartSimulator(simulator, why))
    {
        std::fprintf(stderr, "daw-standin: %s\n", qPrintable(why));
        return 1;
    }
    const bool ok = standIn.RunDemoSession(value("--demo", QStringLiteral("300")).toInt());
    standIn.StopSimulator();
    return ok ? 0 : 1;
}
