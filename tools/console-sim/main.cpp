// quillon-console-sim: a console on the network for tests, demos and map authors who have no
// hardware. See --help.

#include "tools/console-sim/ConsoleSimulator.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QTextStream>

#include <cstdio>

namespace
{
// Every argument error ends the simulator with this code.
constexpr int kArgumentError = 2;

int ArgumentError(const QString& Text)
{
    std::fprintf(stderr, "console-sim: %s\n", qPrintable(Text));
    return kArgumentError;
}

const char kDescription[] =
    "Answers Quillon's discovery queries like a mixing console and speaks MIDI over TCP.\n"
    "\n"
    "Every MIDI message received over the link is printed on standard output as one line of hex\n"
    "bytes (\"b0 07 64\"; running status is written out in full, real-time bytes get lines of their\n"
    "own). Lines of hex read from standard input are sent to the link (\"90 3c 7f\" or \"903c7f\",\n"
    "text after '#' is a comment); they wait while no link is connected. Status and errors go to\n"
    "standard error, starting with \"console-sim: \"; the line \"console-sim: ready tcp=ADDRESS:PORT\n"
    "udp=ADDRESS:PORT ...\" tells that the simulator listens and which ports it got (an IPv6\n"
    "address in brackets). A query is answered only when it is exactly one of the find texts, with\n"
    "nothing after it. Argument errors exit with code 2.\n"
    "\n"
    "By default it listens on 127.0.0.1 only. To be found by Quillon's broadcast it has to listen\n"
    "on every interface (--address 0.0.0.0), which answers queries from the whole local network:\n"
    "do that only on a network of your own.\n"
    "\n"
    "A script file holds hex lines like standard input, plus \"sleep MS\" lines; it runs from the\n"
    "start each time a link connects. One link at a time: a new connection replaces the old one.\n"
    "\n"
    "With --family the simulator is a console of that family (docs/consoles): lines may also be\n"
    "commands, \"fader STRIP VALUE\", \"pan STRIP VALUE\", \"mute|solo|select|arm|touch STRIP on|off\",\n"
    "\"key rewind|forward|stop|play|record|bank-left|bank-right|channel-left|channel-right down|up\"\n"
    "(STRIP 1 to the strip count, or \"main\"), sent\n"
    "as that family's MIDI on --channel, and received messages are explained after a '#'.";

bool ParseCount(const QCommandLineParser& Parser, const QString& Option, qint64& Value)
{
    if (!Parser.isSet(Option))
        return true;
    bool ok = false;
    Value = Parser.value(Option).toLongLong(&ok);
    if (!ok || Value < 0)
    {
        std::fprintf(stderr, "console-sim: --%s wants a number of 0 or more, not \"%s\"\n", qPrintable(Option),
                     qPrintable(Parser.value(Option)));
        return false;
    }
    return true;
}

bool ParsePort(const QCommandLineParser& Parser, const QString& Option, quint16& Port)
{
    qint64 value = Port;
    if (!ParseCount(Parser, Option, value))
        return false;
    if (value > 65535)
    {
        std::fprintf(stderr, "console-sim: --%s wants a port from 0 to 65535\n", qPrintable(Option));
        return false;
    }
    Port = quint16(value);
    return true;
}

bool LoadScript(const QString& Path, const cConsoleFamily& Family, QList<sScriptStep>& Script)
{
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
    {
        std::fprintf(stderr, "console-sim: cannot read the script %s: %s\n", qPrintable(Path),
                     qPrintable(file.errorString()));
        return false;
    }
    QTextStream in(&file);
    int number = 0;
    while (!in.atEnd())
    {
        const QString line = in.readLine();
        ++number;
        const QString trimmed = line.trimmed();
        if (trimmed.startsWith(QLatin1String("sleep"), Qt::CaseInsensitive))
        {
            bool ok = false;
            const int ms = trimmed.mid(5).section(QLatin1Char('#'), 0, 0).trimmed().toInt(&ok);
            if (!ok || ms < 0)
            {
                std::fprintf(stderr, "console-sim: %s:%d: \"sleep\" wants milliseconds: %s\n", qPrintable(Path),
                             number, qPrintable(trimmed));
                return false;
            }
            sScriptStep step;
            step.SleepMs = ms;
            Script.append(step);
            continue;
        }
        sScriptStep step;
        QString error;
        if (!ParseConsoleLine(Family, line, step.Bytes, error))
        {
            std::fprintf(stderr, "console-sim: %s:%d: %s: %s\n", qPrintable(Path), number, qPrintable(error),
                         qPrintable(trimmed));
            return false;
        }
        if (!step.Bytes.isEmpty())
            Script.append(step);
    }
    return true;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillon-console-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUILLON_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help = parser.addHelpOption();
    // Not addVersionOption(): its -v is taken by --verbose.
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Print the version and exit."));
    parser.addOption(version);
    parser.addOptions({
        {{QStringLiteral("a"), QStringLiteral("address")},
         QStringLiteral("Address to listen on for the link and for queries (default 127.0.0.1)."),
         QStringLiteral("address")},
        {{QStringLiteral("p"), QStringLiteral("port")},
         QStringLiteral("TCP port of the MIDI link (default 51325; 0 picks a free port)."), QStringLiteral("port")},
        {QStringLiteral("discovery-port"),
         QStringLiteral("UDP port on which queries are answered (default 51320; 0 picks a free port)."),
         QStringLiteral("port")},
        {QStringLiteral("no-discovery"), QStringLiteral("Do not answer discovery queries.")},
        {{QStringLiteral("f"), QStringLiteral("find")},
         QStringLiteral("Query text to answer; repeat for several families (default \"NY Find\")."),
         QStringLiteral("text")},
        {QStringLiteral("family"),
         QStringLiteral("Speak the MIDI of a console family: ny (Ny-16), krt (KRT-8) or oskel (Oskel 8). Answers "
                        "that family's query text (unless --find is given), takes commands such as \"fader 1 100\" "
                        "besides hex and explains what it receives."),
         QStringLiteral("family")},
        {QStringLiteral("channel"), QStringLiteral("The family's MIDI channel, 1 to 16 (default 1)."),
         QStringLiteral("channel")},
        {{QStringLiteral("n"), QStringLiteral("name")},
         QStringLiteral("Name sent in answers (default \"Quillon Console Sim\")."), QStringLiteral("name")},
        {QStringLiteral("junk"),
         QStringLiteral("Put a zero byte and this text after the name in every answer."), QStringLiteral("text")},
        {{QStringLiteral("s"), QStringLiteral("script")},
         QStringLiteral("Send the hex lines of this file each time a link connects."), QStringLiteral("file")},
        {QStringLiteral("close-after"),
         QStringLiteral("Close the connection in an orderly way once this many bytes are sent."),
         QStringLiteral("bytes")},
        {QStringLiteral("reset-after"),
         QStringLiteral("Reset the connection (TCP RST) once this many bytes are sent."), QStringLiteral("bytes")},
        {QStringLiteral("trickle"),
         QStringLiteral("Send one byte at a time, this many milliseconds apart."), QStringLiteral("ms")},
        {QStringLiteral("flood"),
         QStringLiteral("On each connection send this many bytes of console-like traffic as fast as the "
                        "link takes them (0: without end)."),
         QStringLiteral("bytes")},
        {QStringLiteral("garbage"),
         QStringLiteral("On each connection first send this many random bytes, valid MIDI or not."),
         QStringLiteral("bytes")},
        {QStringLiteral("seed"), QStringLiteral("Seed of --flood and --garbage (default 1)."),
         QStringLiteral("number")},
        {QStringLiteral("once"), QStringLiteral("Exit when the first connection ends.")},
        {{QStringLiteral("v"), QStringLiteral("verbose")},
         QStringLiteral("Report every discovery query on standard error.")},
    });
    // parse() rather than process(): an unknown option or a missing value is an argument error
    // like any other, with our prefix and exit code.
    if (!parser.parse(QCoreApplication::arguments()))
        return ArgumentError(parser.errorText());
    if (parser.isSet(help))
        parser.showHelp(0);
    if (parser.isSet(version))
    {
        std::printf("%s %s\n", qPrintable(QCoreApplication::applicationName()),
                    qPrintable(QCoreApplication::applicationVersion()));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return ArgumentError(QStringLiteral("unexpected argument \"%1\" (every option starts with -)")
                                 .arg(parser.positionalArguments().first()));
    if (parser.isSet(QStringLiteral("close-after")) && parser.isSet(QStringLiteral("reset-after")))
        return ArgumentError(QStringLiteral("--close-after and --reset-after exclude each other: a link ends once"));
    if (parser.isSet(QStringLiteral("find")) && parser.isSet(QStringLiteral("no-discovery")))
        return ArgumentError(QStringLiteral("--find and --no-discovery exclude each other"));
    if (parser.values(QStringLiteral("find")).contains(QString()))
        return ArgumentError(QStringLiteral("--find wants a non-empty query text"));

    sConsoleSimSettings settings;
    if (parser.isSet(QStringLiteral("address")))
    {
        const QString text = parser.value(QStringLiteral("address"));
        if (!settings.Address.setAddress(text))
        {
            return ArgumentError(QStringLiteral("not an IP address: \"%1\"").arg(text));
        }
    }
    qint64 seed = settings.Seed;
    qint64 trickle = settings.TrickleMs;
    if (!ParsePort(parser, QStringLiteral("port"), settings.TcpPort) ||
        !ParsePort(parser, QStringLiteral("discovery-port"), settings.DiscoveryPort) ||
        !ParseCount(parser, QStringLiteral("close-after"), settings.CloseAfter) ||
        !ParseCount(parser, QStringLiteral("reset-after"), settings.ResetAfter) ||
        !ParseCount(parser, QStringLiteral("trickle"), trickle) ||
        !ParseCount(parser, QStringLiteral("flood"), settings.FloodBytes) ||
        !ParseCount(parser, QStringLiteral("garbage"), settings.GarbageBytes) ||
        !ParseCount(parser, QStringLiteral("seed"), seed))
        return kArgumentError;
    if (trickle > 60000)
        return ArgumentError(QStringLiteral("--trickle is at most 60000 ms"));
    settings.TrickleMs = int(trickle);
    settings.Seed = quint32(seed);
    settings.Discovery = !parser.isSet(QStringLiteral("no-discovery"));
    if (parser.isSet(QStringLiteral("family")) && !settings.Family.SetFamily(parser.value(QStringLiteral("family"))))
    {
        std::fprintf(stderr, "console-sim: --family wants one of %s, not \"%s\"\n",
                     qPrintable(cConsoleFamily::FamilyNames().join(QStringLiteral(", "))),
                     qPrintable(parser.value(QStringLiteral("family"))));
        return kArgumentError;
    }
    if (parser.isSet(QStringLiteral("channel")))
    {
        bool ok = false;
        const int channel = parser.value(QStringLiteral("channel")).toInt(&ok);
        if (!ok || channel < 1 || channel > 16)
        {
            std::fprintf(stderr, "console-sim: --channel wants 1 to 16, not \"%s\"\n",
                         qPrintable(parser.value(QStringLiteral("channel"))));
            return kArgumentError;
        }
        settings.Family.SetChannel(channel - 1);
    }
    if (settings.Family.Kind() != cConsoleFamily::eKind::None)
        settings.FindTexts = QStringList{settings.Family.FindText()};
    if (parser.isSet(QStringLiteral("find")))
        settings.FindTexts = parser.values(QStringLiteral("find"));
    if (parser.isSet(QStringLiteral("name")))
        settings.Name = parser.value(QStringLiteral("name"));
    if (parser.isSet(QStringLiteral("junk")))
    {
        settings.AnswerJunk = true;
        settings.Junk = parser.value(QStringLiteral("junk")).toLatin1();
    }
    if (parser.isSet(QStringLiteral("script")) && !LoadScript(parser.value(QStringLiteral("script")), settings.Family, settings.Script))
        return kArgumentError;
    settings.Once = parser.isSet(QStringLiteral("once"));
    settings.Verbose = parser.isSet(QStringLiteral("verbose"));

    cConsoleSimulator simulator(settings);
    if (!simulator.Start())
        return 1;
    return app.exec();
}
