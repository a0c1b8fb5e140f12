// quillon-mapcheck: checks translator map files the way Quillon loads them, and shows what a map
// does with given bytes. See --help.

#include "tools/mapcheck/MapChecker.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QRegularExpression>

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
    "Exit code: 0 when all is well, 1 on any rejection (and with --strict on any warning), 2 on bad\n"
    "arguments or a --translate port that the map does not read.\n"
    "\n"
    "The map file format is described in docs/map-format.md.";

QString Hex(const QByteArray& Bytes)
{
    return Bytes.isEmpty() ? QStringLiteral("(nothing)") : QString::fromLatin1(Bytes.toHex(' '));
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
