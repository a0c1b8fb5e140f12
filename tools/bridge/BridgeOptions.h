#pragma once
// The bridge's command line and the setup it leads to: what is given is checked, what is not is
// taken from the settings the window saved (same store, same keys, per console family), and where
// the settings say nothing the bridge chooses as the window would. No state; GUI thread (it reads
// the settings store).

#include <QHostAddress>
#include <QString>
#include <QStringList>

class cMixerDawMap;

// What the command line says; empty texts and negative numbers stand for "not given".
struct sBridgeOptions
{
    QString Mixer;
    QString Daw;
    int Channel = -1; // 0..15 for channels 1..16
    QString Console;  // address as typed
    QString ConsoleName;
    QString MidiIn;
    QString MidiOut;
    bool MidiInGiven = false;
    bool MidiOutGiven = false;
    QString MapsDirectory;
    int DiscoverSeconds = -1;
    bool Monitor = false;
    bool NoResync = false;
    bool LockConsole = false;
    bool NoAutoconnect = false;
};

// How the console is reached.
enum class eConsoleMode
{
    Address, // TCP to a fixed address
    Name,    // TCP to the console of that name, found by discovery (last known address as fallback)
    MidiPorts,
};

// Everything the bridge runs with, once the command line and the settings are put together.
struct sBridgeSetup
{
    QString Family;
    QString FindString; // the family's discovery query text
    QString Daw;
    QString MapFile; // full path
    int Channel = -1; // 0..15; -1: leave the map's own default
    eConsoleMode Mode = eConsoleMode::Address;
    QHostAddress Address; // Address mode; in Name mode the last known address (may be null)
    QString ConsoleName;
    QString MidiIn;
    QString MidiOut;
    bool Monitor = false;
    bool Resync = true;
    // Nothing the DAW sends reaches the console but what the map marks safe.
    bool LockConsole = false;
};

enum class eBridgeAction
{
    Run,
    Help,
    Version,
    List,
    Discover,
    Error,
};

class cBridgeOptions
{
public:
    // Reads the arguments (the program's name first). On Error, Message says what is wrong.
    static eBridgeAction Parse(const QStringList& Arguments, sBridgeOptions& Options, QString& Message);
    static QString HelpText();
    static QString VersionText();

    // Puts the setup together from the options, the settings store and the loaded family map.
    // Returns false with Message on an error (an unknown family or protocol, a bad address, no
    // console at all); Notes tells where each choice came from, one line each.
    static bool Resolve(const sBridgeOptions& Options, const cMixerDawMap& Map, sBridgeSetup& Setup, QString& Message,
                        QStringList& Notes);

    // True for a dotted IPv4 address of four decimal parts (leading zeros read in decimal).
    static bool ParseAddress(const QString& Text, QHostAddress& Address);
    // The maps folder the options name, with a separator at its end.
    static QString MapsDirectory(const sBridgeOptions& Options);
};
