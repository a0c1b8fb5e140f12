// quillon-mapcheck: checks translator map files the way Quillon loads them, and shows what a map
// does with given bytes. See --help.

#include "Common/MIDI/MIDIInput.h"
#include "Common/MIDI/SystemMIDIConfiguration.h"
#include "Common/MIDI/SystemMIDIConfigurationFactory.h"
#include "Common/MidiMessageSplitter.h"
#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "network/TCPMIDIInptOutput.h"
#include "tools/mapcheck/MapChecker.h"
#include "tools/mapcheck/RuleLearner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QRegularExpression>
#include <QTimer>

#include <memory>

#include <cstdio>

namespace
{
const char kDescription[] =
    "Loads each map file through Quillon's own map loader, without MIDI devices, and reports:\n"
    "  rejected: objects the loader refuses (a variable or rule it drops, a file that is not JSON),\n"
    "  warning:  what the loader passes over in silence (an unknown key such as \"rulez\", an alias\n"
    "            of an unknown type, a value entry of the wrong type, a rule that reads or writes no\n"
    "            port or a port nobody names, an empty incoming \"midi\", the letter O for a zero...),\n"
    "each as FILE:LINE:COLUMN: KIND: JSON-PATH: message. The loader's own \"ERROR:\" lines appear\n"
    "as the program would write them. Then a summary: virtual ports, aliases, variables, and the\n"
    "ports each rule reads and writes. Given mixer_map.json (a file with \"mixers\"), it checks the\n"
    "families and protocols it lists and that each map file it names exists beside it.\n"
    "\n"
    "--translate PORT HEX sends the bytes HEX (\"b0 10 40\") as if they arrived on PORT (a name as\n"
    "rules write it: \"Mixer In\", a virtual port) and prints what every output port receives.\n"
    "\"Mixer In\" and \"Mixer Out\" are bound to the TCP link, \"Corvane Internal TCP MIDI\".\n"
    "\n"
    "--learn CONSOLE listens to a live console for --seconds (default 10) while you move one of its\n"
    "controls, and proposes the map rule for it, with the DAW side of the given map's rule for the\n"
    "same kind of control, as JSON ready to paste, checked like any map. CONSOLE is an IPv4 address\n"
    "(MIDI over TCP, port 51325, or ADDRESS:PORT) or the name of a MIDI input port.\n"
    "\n"
    "Exit code: 0 when all is well, 1 on any rejection (and with --strict on any warning), 2 on bad\n"
    "arguments or a --translate port that the map does not read.\n"
    "\n"
    "The map file format is described in docs/map-format.md.";

QString Hex(const QByteArray& Bytes)
{
    return Bytes.isEmpty() ? QStringLiteral("(nothing)") : QString::fromLatin1(Bytes.toHex(' '));
}

// Listens to the console for Seconds and proposes the rule for what it sent. 0 with a rule that
// passes the check, 1 without one or with a rejection, 2 when the console cannot be listened to.
int Learn(QCoreApplication& App, const QString& Console, int Seconds, const cMIDITranslatorConfiguration& Map)
{
    QList<QByteArray> messages;
    cMidiMessageSplitter splitter([&](const QByteArray& Message) { messages << Message; }, [](const QString&) {});
    std::unique_ptr<cTCPMIDIInptOutput> link;
    std::unique_ptr<cSystemMIDIConfiguration> registry;
    cMIDIInput* input = nullptr;
    QHostAddress address;
    // ADDRESS or ADDRESS:PORT.
    const QStringList parts = Console.split(QLatin1Char(':'));
    bool portOk = true;
    const int port = parts.size() == 2 ? parts.at(1).toInt(&portOk) : cTCPMIDIInptOutput::kConsolePort;
    if (parts.size() <= 2 && portOk && port > 0 && port < 65536 && address.setAddress(parts.first()) &&
        address.protocol() == QAbstractSocket::IPv4Protocol)
    {
        link.reset(new cTCPMIDIInptOutput(nullptr, quint16(port)));
        QObject::connect(link.get(), &cTCPMIDIInptOutput::StateStringChanged,
                         [](const QString& State) { std::printf("console: %s\n", qPrintable(State)); std::fflush(stdout); });
        link->ConnectToHost(address);
        input = link.get();
    }
    else
    {
        registry.reset(CreateSystemMIDIConfiguration());
        input = registry->GetInput(Console);
        if (input == nullptr)
        {
            std::fprintf(stderr, "quillon-mapcheck: --learn: \"%s\" is no IPv4 address and no MIDI input port (there are: %s)\n",
                         qPrintable(Console), qPrintable(registry->GetInputNames().join(QStringLiteral(", "))));
            return 2;
        }
    }
    QObject::connect(input, &cMIDIInput::MIDIReadReady, [&] {
        QByteArray bytes;
        input->Read(bytes);
        splitter.Feed(bytes);
    });
    std::printf("move one control of the console now (%d s)...\n", Seconds);
    std::fflush(stdout);
    QTimer::singleShot(Seconds * 1000, &App, &QCoreApplication::quit);
    App.exec();
    QObject::disconnect(input, nullptr, nullptr, nullptr);
    splitter.Flush();
    std::printf("%d messages from the console\n", int(messages.size()));

    const sLearnProposal proposal = cRuleLearner::Propose(messages, Map);
    if (!proposal.Rules.isEmpty())
        std::printf("%s\n", qPrintable(proposal.Json()));
    for (const QString& note : proposal.Notes)
        std::printf("note: %s\n", qPrintable(note));
    for (const QString& finding : proposal.Findings)
        std::printf("%s\n", qPrintable(finding));
    if (!proposal.Rules.isEmpty())
        std::printf("proposal: %d rejected, %d warnings\n", proposal.Rejections, proposal.Warnings);
    return proposal.Rules.isEmpty() || proposal.Rejections > 0 ? 1 : 0;
}

bool ParseHex(const QString& Text, QByteArray& Bytes)
{
    QString digits = Text;
    digits.remove(QRegularExpression(QStringLiteral("\\s")));
    static const QRegularExpression hex(QStringLiteral("^([0-9A-Fa-f]{2})+$"));
    if (!hex.match(digits).hasMatch())
        return false;
    Bytes = QByteArray::fromHex(digits.toLatin1());
    return true;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillon-mapcheck"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.addHelpOption();
    parser.addOptions({
        {QStringLiteral("strict"), QStringLiteral("Exit with 1 on warnings too.")},
        {QStringLiteral("quiet"), QStringLiteral("Print findings only, no summary.")},
        {QStringLiteral("channel"), QStringLiteral("Set the \"MIDI Channel\" variables to this channel (1-16) before translating."),
         QStringLiteral("channel")},
        {QStringLiteral("translate"),
         QStringLiteral("After loading, send HEX as if it arrived on PORT and print what each output port gets. "
                        "Give the port and the bytes as two arguments: --translate PORT HEX."),
         QStringLiteral("port")},
        {QStringLiteral("learn"), QStringLiteral("Listen to a live console (IPv4 address or MIDI input port) and propose the rule for the control moved."),
         QStringLiteral("console")},
        {QStringLiteral("seconds"), QStringLiteral("How long --learn listens (default 10)."), QStringLiteral("seconds")},
    });
    parser.addPositionalArgument(QStringLiteral("files"), QStringLiteral("Map files to check."), QStringLiteral("FILE..."));
    parser.process(app);

    QStringList files = parser.positionalArguments();
    QString translatePort;
    QByteArray translateBytes;
    if (parser.isSet(QStringLiteral("translate")))
    {
        translatePort = parser.value(QStringLiteral("translate"));
        // The bytes are the argument right after the port.
        const QStringList arguments = app.arguments();
        QString hex;
        for (int i = 1; i < arguments.size(); ++i)
        {
            if (arguments.at(i) == QLatin1String("--translate") && i + 2 < arguments.size())
                hex = arguments.at(i + 2);
            else if (arguments.at(i).startsWith(QLatin1String("--translate=")) && i + 1 < arguments.size())
                hex = arguments.at(i + 1);
        }
        if (hex.isEmpty() || !files.contains(hex) || !ParseHex(hex, translateBytes))
        {
            std::fprintf(stderr, "quillon-mapcheck: --translate wants a port and hex bytes, as in --translate \"Mixer In\" \"b0 10 40\"\n");
            return 2;
        }
        files.removeOne(hex);
    }
    int channel = 0;
    if (parser.isSet(QStringLiteral("channel")))
    {
        bool ok = false;
        channel = parser.value(QStringLiteral("channel")).toInt(&ok);
        if (!ok || channel < 1 || channel > 16)
        {
            std::fprintf(stderr, "quillon-mapcheck: --channel wants 1 to 16, not \"%s\"\n",
                         qPrintable(parser.value(QStringLiteral("channel"))));
            return 2;
        }
    }
    if (files.isEmpty())
    {
        std::fprintf(stderr, "quillon-mapcheck: no map file given (see --help)\n");
        return 2;
    }

    if (parser.isSet(QStringLiteral("learn")))
    {
        bool ok = true;
        const int seconds = parser.isSet(QStringLiteral("seconds")) ? parser.value(QStringLiteral("seconds")).toInt(&ok) : 10;
        if (!ok || seconds < 1 || files.size() != 1)
        {
            std::fprintf(stderr, "quillon-mapcheck: --learn wants one map file and --seconds of 1 or more\n");
            return 2;
        }
        cMapChecker checker;
        checker.Check(files.first());
        if (checker.Configuration() == nullptr || checker.RejectionCount() > 0)
        {
            for (const QString& line : checker.FindingLines())
                std::printf("%s\n", qPrintable(line));
            std::fprintf(stderr, "quillon-mapcheck: --learn: the map %s must load without rejections first\n", qPrintable(files.first()));
            return 1;
        }
        if (channel > 0)
            checker.SetChannel(channel - 1);
        return Learn(app, parser.value(QStringLiteral("learn")), seconds, *checker.Configuration());
    }

    int status = 0;
    for (const QString& file : files)
    {
        cMapChecker checker;
        checker.Check(file);
        for (const QString& line : checker.FindingLines())
            std::printf("%s\n", qPrintable(line));
        if (!parser.isSet(QStringLiteral("quiet")))
            std::printf("%s", qPrintable(checker.Summary()));
        std::printf("%s: %d rejected, %d warnings\n", qPrintable(file), checker.RejectionCount(), checker.WarningCount());
        if (checker.RejectionCount() > 0 || (parser.isSet(QStringLiteral("strict")) && checker.WarningCount() > 0))
            status = qMax(status, 1);
        if (channel > 0 && !checker.SetChannel(channel - 1))
            std::printf("%s: has no \"MIDI Channel\" variable\n", qPrintable(file));
        if (!translatePort.isEmpty())
        {
            QList<QPair<QString, QByteArray>> outputs;
            if (!checker.Translate(translatePort, translateBytes, outputs))
            {
                std::fprintf(stderr, "quillon-mapcheck: %s: no input port \"%s\"\n", qPrintable(file), qPrintable(translatePort));
                return 2;
            }
            std::printf("%s: %s on \"%s\":\n", qPrintable(file), qPrintable(Hex(translateBytes)), qPrintable(translatePort));
            for (const auto& output : outputs)
                std::printf("  %s: %s\n", qPrintable(output.first), qPrintable(Hex(output.second)));
        }
        std::fflush(stdout);
    }
    return status;
}
