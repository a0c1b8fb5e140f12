#include "tools/bridge/BridgeOptions.h"

#include "MIDITranslator/MixerDawMap.h"
#include "session/Identity.h"
#include "session/SessionSettings.h"

#include <QCommandLineParser>
#include <QDir>

namespace
{
QList<QCommandLineOption> BridgeCommandLineOptions()
{
    return {
        {{"m", "mixer"}, "Console family, as the window lists it (default: the saved one).", "family"},
        {{"d", "daw"}, "DAW protocol of the family (default: the saved one).", "protocol"},
        {{"c", "channel"}, "MIDI channel, 1 to 16 (default: the family's saved one).", "channel"},
        {"console", "Reach the console over the network at this IPv4 address.", "address"},
        {"console-name", "Reach the console of this name, found by discovery.", "name"},
        {"midi-in", "Read the console from this MIDI input port.", "port"},
        {"midi-out", "Write to the console through this MIDI output port.", "port"},
        {"maps", "Folder holding mixer_map.json and the map files (default: Maps next to the program).",
         "folder"},
        {"list", "List the console families, their DAW protocols and the MIDI ports, then exit."},
        {"discover", "Look for consoles for this many seconds, print each one found, then exit.", "seconds"},
        {"monitor", "Print every MIDI message in and out, in hex and in words."},
        {"no-resync", "Do not send the console the last values again after a (re)connection."},
        {"lock-console", "Keep the DAW from moving the console: only lamps and displays the map marks safe reach it "
                         "(also when the window locked this family's console)."},
        {"no-autoconnect", "Under JACK, do not connect the DAW's ports again where they were connected before."},
        {{"h", "help"}, "Show this help."},
        {{"v", "version"}, "Show the version."},
    };
}

} // namespace

QString cBridgeOptions::HelpText()
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Runs Quillon without a window: the DAW sees its virtual MIDI ports, the console is reached over the\n"
        "network or through MIDI ports, and the chosen map translates between them both ways.\n"
        "\n"
        "Choices not given here come from the settings the Quillon window saved (per console family), so\n"
        "a setup made in the window runs headless as it is. Over the network the bridge connects again\n"
        "whenever the link drops (after 1 s, doubling up to 30 s), finds a console given by name again by\n"
        "discovery, and sends the console the last value of every control after each connection.\n"
        "Stops cleanly on SIGINT and SIGTERM. Exit code 2 for bad options, 1 when it cannot start.");
    parser.addOptions(BridgeCommandLineOptions());
    return parser.helpText();
}

QString cBridgeOptions::VersionText()
{
    return QStringLiteral("quillon-bridge %1").arg(cIdentity::Version());
}

eBridgeAction cBridgeOptions::Parse(const QStringList& Arguments, sBridgeOptions& Options, QString& Message)
{
    Options = sBridgeOptions();
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(BridgeCommandLineOptions());
    if (!parser.parse(Arguments))
    {
        Message = parser.errorText();
        return eBridgeAction::Error;
    }
    if (!parser.positionalArguments().isEmpty())
    {
        Message = QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first());
        return eBridgeAction::Error;
    }
    if (parser.isSet("help"))
        return eBridgeAction::Help;
    if (parser.isSet("version"))
        return eBridgeAction::Version;

    Options.Mixer = parser.value("mixer");
    Options.Daw = parser.value("daw");
    if (parser.isSet("mixer") && Options.Mixer.isEmpty())
    {
        Message = QStringLiteral("--mixer wants a console family name");
        return eBridgeAction::Error;
    }
    if (parser.isSet("daw") && Options.Daw.isEmpty())
    {
        Message = QStringLiteral("--daw wants a DAW protocol name");
        return eBridgeAction::Error;
    }
    if (parser.isSet("channel"))
    {
        bool ok = false;
        const int channel = parser.value("channel").trimmed().toInt(&ok);
        if (!ok || channel < 1 || channel > 16)
        {
            Message = QStringLiteral("--channel wants a MIDI channel from 1 to 16, not \"%1\"").arg(parser.value("channel"));
            return eBridgeAction::Error;
        }
        Options.Channel = channel - 1;
    }
    Options.Console = parser.value("console");
    Options.ConsoleName = parser.value("console-name");
    Options.MidiInGiven = parser.isSet("midi-in");
    Options.MidiOutGiven = parser.isSet("midi-out");
    Options.MidiIn = parser.value("midi-in");
    Options.MidiOut = parser.value("midi-out");
    if (parser.isSet("console"))
    {
        QHostAddress address;
        if (!ParseAddress(Options.Console, address))
        {
            Message = QStringLiteral("--console wants an IPv4 address such as 192.168.1.20, not \"%1\"").arg(Options.Console);
            return eBridgeAction::Error;
        }
    }
    if (parser.isSet("console-name") && Options.ConsoleName.isEmpty())
    {
        Message = QStringLiteral("--console-name wants the console's name");
        return eBridgeAction::Error;
    }
    const int ways = (parser.isSet("console") ? 1 : 0) + (parser.isSet("console-name") ? 1 : 0) +
                     ((Options.MidiInGiven || Options.MidiOutGiven) ? 1 : 0);
    if (ways > 1)
    {
        Message = QStringLiteral("give one way to the console: --console, --console-name, or --midi-in/--midi-out");
        return eBridgeAction::Error;
    }
    Options.MapsDirectory = parser.value("maps");
    Options.Monitor = parser.isSet("monitor");
    Options.NoResync = parser.isSet("no-resync");
    Options.LockConsole = parser.isSet("lock-console");
    Options.NoAutoconnect = parser.isSet("no-autoconnect");

    if (parser.isSet("discover"))
    {
        bool ok = false;
        const int seconds = parser.value("discover").trimmed().toInt(&ok);
        if (!ok || seconds < 1 || seconds > 3600)
        {
            Message = QStringLiteral("--discover wants a number of seconds from 1 to 3600, not \"%1\"").arg(parser.value("discover"));
            return eBridgeAction::Error;
        }
        Options.DiscoverSeconds = seconds;
    }
    if (parser.isSet("list") && parser.isSet("discover"))
    {
        Message = QStringLiteral("--list and --discover cannot go together");
        return eBridgeAction::Error;
    }
    if (parser.isSet("list"))
        return eBridgeAction::List;
    if (parser.isSet("discover"))
        return eBridgeAction::Discover;
    return eBridgeAction::Run;
}

bool cBridgeOptions::ParseAddress(const QString& Text, QHostAddress& Address)
{
    // As the window reads what is typed into it: every group in decimal, leading zeros too.
    const QHostAddress parsed = cSessionSettings::ParseAddress(Text);
    if (parsed.isNull())
        return false;
    Address = parsed;
    return true;
}

QString cBridgeOptions::MapsDirectory(const sBridgeOptions& Options)
{
    if (Options.MapsDirectory.isEmpty())
        return cMixerDawMap::GetMapsDirectory();
    return QDir::toNativeSeparators(QDir(Options.MapsDirectory).absolutePath() + QLatin1Char('/'));
}

bool cBridgeOptions::Resolve(const sBridgeOptions& Options, const cMixerDawMap& Map, sBridgeSetup& Setup,
                             QString& Message, QStringList& Notes)
{
    Setup = sBridgeSetup();
    Setup.Monitor = Options.Monitor;
    Setup.Resync = !Options.NoResync;

    // Family: given, else saved ("Ny" being the old name of "Ny-16"), else the first in sorted order.
    QStringList families = Map.GetMixerNames();
    families.sort(Qt::CaseSensitive);
    if (families.isEmpty())
    {
        Message = QStringLiteral("no console family is known: mixer_map.json is missing or empty in %1")
                      .arg(MapsDirectory(Options));
        return false;
    }
    if (!Options.Mixer.isEmpty())
    {
        if (!families.contains(Options.Mixer))
        {
            Message = QStringLiteral("unknown console family \"%1\"; known: %2").arg(Options.Mixer, families.join(", "));
            return false;
        }
        Setup.Family = Options.Mixer;
        Notes << QStringLiteral("console family %1 (given)").arg(Setup.Family);
    }
    else
    {
        const QString saved = cSessionSettings::Family();
        if (families.contains(saved))
        {
            Setup.Family = saved;
            Notes << QStringLiteral("console family %1 (saved)").arg(Setup.Family);
        }
        else
        {
            Setup.Family = families.first();
            Notes << (saved.isEmpty() ? QStringLiteral("console family %1 (first listed)").arg(Setup.Family)
                                      : QStringLiteral("console family %1 (first listed; the saved \"%2\" is not known)")
                                            .arg(Setup.Family, saved));
        }
    }
    Setup.FindString = Map.GetFindString(Setup.Family);
    const QString family = Setup.Family;
    Setup.LockConsole = Options.LockConsole || cSessionSettings::ConsoleLocked(family);
    if (Setup.LockConsole)
        Notes << QStringLiteral("console locked against the DAW (%1)").arg(Options.LockConsole ? "given" : "saved");

    // DAW protocol: given, else the saved one when the family offers it, else the family's first.
    const QStringList daws = Map.GetDAWNames(family);
    if (daws.isEmpty())
    {
        Message = QStringLiteral("console family \"%1\" offers no DAW protocol").arg(family);
        return false;
    }
    if (!Options.Daw.isEmpty())
    {
        if (!daws.contains(Options.Daw))
        {
            Message = QStringLiteral("console family \"%1\" has no DAW protocol \"%2\"; it offers: %3")
                          .arg(family, Options.Daw, daws.join(", "));
            return false;
        }
        Setup.Daw = Options.Daw;
        Notes << QStringLiteral("DAW protocol %1 (given)").arg(Setup.Daw);
    }
    else
    {
        const QString saved = cSessionSettings::DAW();
        Setup.Daw = daws.contains(saved) ? saved : daws.first();
        Notes << QStringLiteral("DAW protocol %1 (%2)").arg(Setup.Daw, daws.contains(saved) ? "saved" : "first listed");
    }
    Setup.MapFile = MapsDirectory(Options) + Map.GetMapFileName(family, Setup.Daw);

    // Channel: given, else the family's saved one, else the window's default (the entry "2").
    if (Options.Channel >= 0)
    {
        Setup.Channel = Options.Channel;
        Notes << QStringLiteral("MIDI channel %1 (given)").arg(Setup.Channel + 1);
    }
    else
    {
        // As the window shows and applies it: a saved channel out of range gives the default.
        Setup.Channel = cSessionSettings::Channel(family);
        Notes << QStringLiteral("MIDI channel %1 (%2)").arg(Setup.Channel + 1).arg(cSessionSettings::HasChannel(family) ? "saved" : "default");
    }

    // The console: given, else as the family's saved connection mode says.
    auto useName = [&](const QString& Name, const QString& LastAddress, const char* Source) {
        Setup.Mode = eConsoleMode::Name;
        Setup.ConsoleName = Name;
        QHostAddress address;
        if (ParseAddress(LastAddress, address))
            Setup.Address = address;
        Notes << QStringLiteral("console \"%1\" found by discovery (%2)").arg(Name, QLatin1String(Source));
    };
    if (!Options.Console.isEmpty())
    {
        Setup.Mode = eConsoleMode::Address;
        ParseAddress(Options.Console, Setup.Address);
        Notes << QStringLiteral("console at %1 (given)").arg(Setup.Address.toString());
    }
    else if (!Options.ConsoleName.isEmpty())
    {
        useName(Options.ConsoleName, QString(), "given");
    }
    else if (Options.MidiInGiven || Options.MidiOutGiven)
    {
        Setup.Mode = eConsoleMode::MidiPorts;
        Setup.MidiIn = Options.MidiInGiven ? Options.MidiIn : cSessionSettings::InputPort(family);
        Setup.MidiOut = Options.MidiOutGiven ? Options.MidiOut : cSessionSettings::OutputPort(family);
        Notes << QStringLiteral("console MIDI ports in \"%1\" (%2), out \"%3\" (%4)")
                     .arg(Setup.MidiIn, Options.MidiInGiven ? "given" : "saved", Setup.MidiOut,
                          Options.MidiOutGiven ? "given" : "saved");
    }
    else
    {
        if (cSessionSettings::IsNetworkMode(cSessionSettings::Mode(family)))
        {
            const QString name = cSessionSettings::UnitName(family);
            const QString address = cSessionSettings::UnitAddressText(family);
            if (!name.isEmpty() && name != cSessionSettings::CustomUnitName())
            {
                useName(name, address, "saved");
            }
            else if (ParseAddress(address, Setup.Address))
            {
                Setup.Mode = eConsoleMode::Address;
                Notes << QStringLiteral("console at %1 (saved)").arg(Setup.Address.toString());
            }
            else
            {
                Message = QStringLiteral("the saved console address \"%1\" of family \"%2\" is no IPv4 address; give --console")
                              .arg(address, family);
                return false;
            }
        }
        else
        {
            Setup.Mode = eConsoleMode::MidiPorts;
            Setup.MidiIn = cSessionSettings::InputPort(family);
            Setup.MidiOut = cSessionSettings::OutputPort(family);
            if (Setup.MidiIn.isEmpty() && Setup.MidiOut.isEmpty())
            {
                Message = QStringLiteral("no console given and none saved for family \"%1\": give --console ADDRESS, "
                                         "--console-name NAME or --midi-in/--midi-out PORT (or set one up in the window)")
                              .arg(family);
                return false;
            }
            Notes << QStringLiteral("console MIDI ports in \"%1\", out \"%2\" (saved)").arg(Setup.MidiIn, Setup.MidiOut);
        }
    }
    return true;
}
