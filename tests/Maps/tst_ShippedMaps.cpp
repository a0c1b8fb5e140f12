// The shipped maps, message by message, both ways, through the real configuration and the fake
// registry, with the console reachable. The expected bytes come from the console implementations in
// docs/consoles and from the Mackie Control and HUI conventions, not from the map files. A fader of
// a console without touch sensing sends its touch with the first move; the release comes after a
// quiet time (the end-to-end test waits for it).

#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "MIDITranslator/MixerDawMap.h"
#include "tests/support/ConsoleTraffic.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/LogCapture.h"

#include <QtTest>

#include <cstddef>

namespace
{
const QString kTcp = QStringLiteral("Corvane Internal TCP MIDI");
// "console" stands for the console's side (the TCP link behind "Mixer In"/"Mixer Out").
const char kConsole[] = "console";
const char kMackie[] = "Quillon MIDI Mackie";
const char kMackieXT[] = "Quillon MIDI Mackie XT";
const char kHui[] = "Quillon MIDI HUI";
const char kHui2[] = "Quillon MIDI HUI 2";
// Two channels (1 and 10) for every row; "n" in the hex stands for the channel's nibble.
const int kChannels[] = {0, 9};

struct sRow
{
    const char* Name;
    const char* From;
    const char* In;
    const char* To; // null: nothing anywhere
    const char* Out;
};

QByteArray Bytes(const char* Hex, int Channel)
{
    QString text = QString::fromLatin1(Hex);
    text.replace(QLatin1Char('n'), QString::number(Channel, 16));
    return QByteArray::fromHex(text.toLatin1());
}

QString MapsDirectory()
{
    return QStringLiteral(QUILLON_MAPS_DIR "/");
}

// One loaded map with the console on a fake TCP link, as the window sets it up.
struct sLoadedMap
{
    explicit sLoadedMap(const QString& File, int Channel)
        : registry(new cFakeSystemMIDIConfiguration), configuration(registry)
    {
        configuration.SetTCPInputOutput(&console);
        configuration.LoadFile(MapsDirectory() + File);
        configuration.SetMixerInputPortName(kTcp);
        configuration.SetMixerOutputPortName(kTcp);
        for (const cMIDITranslatorVariable& variable : QList<cMIDITranslatorVariable>(configuration.GetVariables()))
            if (variable.GetName() == QLatin1String("MIDI Channel"))
                configuration.SetVariableValue(variable.GetVariableName(), uint8_t(Channel));
        configuration.SetConsoleReachable(true);
        Take(); // the surface's announcement
    }
    cFakeMIDIPort* Port(const QString& Name) { return Name == QLatin1String(kConsole) ? &console : registry->VirtualPort(Name); }
    // Every port and what it received since the last call.
    QMap<QString, QByteArray> Take()
    {
        QMap<QString, QByteArray> written;
        QStringList names = configuration.GetVirtualPortNames();
        names << QString::fromLatin1(kConsole);
        for (const QString& name : names)
        {
            const QByteArray bytes = Port(name)->WrittenBytes();
            written[name] = bytes.mid(mSeen.value(name));
            mSeen[name] = bytes.size();
        }
        return written;
    }

    cFakeSystemMIDIConfiguration* registry; // owned by the configuration
    cMIDITranslatorConfiguration configuration;
    cFakeMIDIPort console;
    QMap<QString, int> mSeen;
};
} // namespace

// clang-format off
namespace
{
const sRow kNyMackie[] = {
    {"fader 1 at 64: touch, move", kConsole, "bn 10 40", kMackie, "90 68 7f e0 58 40"},
    {"fader 1 at 99 is the DAW's 0 dB", kConsole, "bn 10 63", kMackie, "90 68 7f e0 08 64"},
    {"fader 1 at the top is full scale", kConsole, "bn 10 7f", kMackie, "90 68 7f e0 7f 7f"},
    {"fader 8 at the bottom", kConsole, "bn 17 00", kMackie, "90 6f 7f e7 00 00"},
    {"fader 9 is strip 1 of the extender", kConsole, "bn 18 20", kMackieXT, "90 68 7f e0 2c 20"},
    {"fader 16", kConsole, "bn 1f 01", kMackieXT, "90 6f 7f e7 01 01"},
    {"faders 1 and 2 in running status", kConsole, "bn 10 10 11 20", kMackie, "90 68 7f e0 16 10 90 69 7f e1 2c 20"},
    {"fader 1 moved twice: one touch", kConsole, "bn 10 10 10 11", kMackie, "90 68 7f e0 16 10 e0 17 11"},
    {"main fader to the master fader", kConsole, "bn 07 64", kMackie, "90 70 7f e8 08 65"},
    {"mute 1 on toggles", kConsole, "bn 20 7f", kMackie, "90 10 7f 90 10 00"},
    {"mute 1 off toggles", kConsole, "bn 20 00", kMackie, "90 10 7f 90 10 00"},
    {"mute 12 on the extender", kConsole, "bn 2b 7f", kMackieXT, "90 13 7f 90 13 00"},
    {"solo 3", kConsole, "bn 42 7f", kMackie, "90 0a 7f 90 0a 00"},
    {"solo 16", kConsole, "bn 4f 00", kMackieXT, "90 0f 7f 90 0f 00"},
    {"rewind pressed", kConsole, "bn 50 7f", kMackie, "90 5b 7f"},
    {"play pressed", kConsole, "bn 53 7f", kMackie, "90 5e 7f"},
    {"play released", kConsole, "bn 53 00", kMackie, "90 5e 00"},
    {"record pressed", kConsole, "bn 54 7f", kMackie, "90 5f 7f"},
    {"pan 1: the first position only starts", kConsole, "bn 30 40", nullptr, ""},
    {"pan 1 turned right by 3", kConsole, "bn 30 40 30 43", kMackie, "b0 10 03"},
    {"pan 9 turned left by 1", kConsole, "bn 38 40 38 3f", kMackieXT, "b0 10 41"},
    {"select 2 toggles", kConsole, "bn 61 7f", kMackie, "90 19 7f 90 19 00"},
    {"record arm 10 on the extender", kConsole, "9n 09 7f", kMackieXT, "90 01 7f 90 01 00"},
    {"bank right pressed", kConsole, "bn 56 7f", kMackie, "90 2f 7f"},
    {"channel left released", kConsole, "bn 57 00", kMackie, "90 30 00"},
    {"main mute is not mapped", kConsole, "bn 08 7f", nullptr, ""},
    {"DAW fader 1 at half", kMackie, "e0 00 40", kConsole, "bn 10 3f"},
    {"DAW fader 1 at 0 dB", kMackie, "e0 08 64", kConsole, "bn 10 63"},
    {"DAW fader 1 at the top", kMackie, "e0 7f 7f", kConsole, "bn 10 7f"},
    {"DAW fader 8 at zero", kMackie, "e7 00 00", kConsole, "bn 17 00"},
    {"DAW extender fader 1 to fader 9", kMackieXT, "e0 00 20", kConsole, "bn 18 20"},
    {"DAW master fader", kMackie, "e8 12 34", kConsole, "bn 07 34"},
    {"DAW mute 1 lamp on", kMackie, "90 10 7f", kConsole, "bn 20 7f"},
    {"DAW mute 1 lamp blinking", kMackie, "90 10 01", kConsole, "bn 20 01"},
    {"DAW extender mute 8 lamp off", kMackieXT, "90 17 00", kConsole, "bn 2f 00"},
    {"DAW solo 1 lamp", kMackie, "90 08 7f", kConsole, "bn 40 7f"},
    {"DAW play lamp", kMackie, "90 5e 7f", kConsole, "bn 53 7f"},
    {"DAW select 1 lamp", kMackie, "90 18 7f", kConsole, "bn 60 7f"},
    {"DAW record arm 3 lamp", kMackie, "90 02 7f", kConsole, "9n 02 7f"},
    {"V-Pot ring full left to pan 1", kMackie, "b0 30 11", kConsole, "bn 30 00"},
    {"device query answered", kMackie, "f0 00 00 66 14 00 f7", kMackie, "f0 00 00 66 14 01 51 4c 4e 30 30 30 31 00 00 00 00 f7"},
    {"extender device query answered", kMackieXT, "f0 00 00 66 15 00 f7", kMackieXT, "f0 00 00 66 15 01 51 4c 4e 30 30 30 32 00 00 00 00 f7"},
    {"another model's query is not answered", kMackie, "f0 00 00 66 15 00 f7", nullptr, ""},
    {"meter dropped", kMackie, "d0 15", nullptr, ""},
    {"LCD text dropped", kMackie, "f0 00 00 66 14 12 00 48 69 f7", nullptr, ""},
};

const sRow kNyHui[] = {
    {"fader 1 at 64: touch, move", kConsole, "bn 10 40", kHui, "b0 0f 00 b0 2f 40 b0 00 40 b0 20 58"},
    {"fader 11 on the second unit", kConsole, "bn 1a 7f", kHui2, "b0 0f 02 b0 2f 40 b0 02 7f b0 22 7f"},
    {"select 1", kConsole, "bn 60 7f", kHui, "b0 0f 00 b0 2f 41 b0 0f 00 b0 2f 01"},
    {"bank left pressed", kConsole, "bn 55 7f", kHui, "b0 0f 0a b0 2f 41"},
    {"pan 2 turned left by 2", kConsole, "bn 31 40 31 3e", kHui, "b0 41 02"},
    {"V-Pot ring centre to pan 1", kHui, "b0 10 06", kConsole, "bn 30 40"},
    {"DAW lamps after one zone select", kHui, "b0 0c 02 b0 2c 42 2c 43 2c 41 2c 47", kConsole, "bn 22 7f bn 42 7f bn 62 7f 9n 02 7f"},
    {"main fader is not mapped", kConsole, "bn 07 64", nullptr, ""},
    {"mute 1 press and release", kConsole, "bn 20 7f", kHui, "b0 0f 00 b0 2f 42 b0 0f 00 b0 2f 02"},
    {"solo 2", kConsole, "bn 41 00", kHui, "b0 0f 01 b0 2f 43 b0 0f 01 b0 2f 03"},
    {"play pressed", kConsole, "bn 53 7f", kHui, "b0 0f 0e b0 2f 44"},
    {"play released", kConsole, "bn 53 00", kHui, "b0 0f 0e b0 2f 04"},
    {"stop pressed", kConsole, "bn 52 7f", kHui, "b0 0f 0e b0 2f 43"},
    {"DAW fader 1", kHui, "b0 00 40 b0 20 00", kConsole, "bn 10 3f"},
    {"DAW fader 4 in running status", kHui, "b0 03 7f 23 7f", kConsole, "bn 13 7f"},
    {"DAW second unit fader 8 to fader 16", kHui2, "b0 07 01 b0 27 00", kConsole, "bn 1f 01"},
    {"DAW mute 1 lamp on", kHui, "b0 0c 00 b0 2c 42", kConsole, "bn 20 7f"},
    {"DAW mute 1 lamp off", kHui, "b0 0c 00 b0 2c 02", kConsole, "bn 20 00"},
    {"DAW solo 6 lamp on", kHui, "b0 0c 05 b0 2c 43", kConsole, "bn 45 7f"},
    {"DAW second unit solo 6 lamp off", kHui2, "b0 0c 05 b0 2c 03", kConsole, "bn 4d 00"},
    {"DAW play lamp", kHui, "b0 0c 0e b0 2c 44", kConsole, "bn 53 7f"},
    {"ping answered", kHui, "90 00 00", kHui, "90 00 7f"},
    {"second unit ping answered", kHui2, "90 00 00", kHui2, "90 00 7f"},
};

const sRow kKrtMackie[] = {
    {"fader 1 at half", kConsole, "bn 63 01 bn 62 00 bn 06 40 bn 26 00", kMackie, "e0 00 40"},
    {"fader 8 at the top", kConsole, "bn 63 01 bn 62 07 bn 06 7f bn 26 7f", kMackie, "e7 7f 7f"},
    {"fader 1 in running status", kConsole, "bn 63 01 62 00 06 40 26 00", kMackie, "e0 00 40"},
    {"main fader, full resolution", kConsole, "bn 63 01 bn 62 08 bn 06 12 bn 26 34", kMackie, "e8 34 12"},
    {"fader 1 touched", kConsole, "bn 63 04 bn 62 00 bn 06 00 bn 26 01", kMackie, "90 68 7f"},
    {"fader 1 released", kConsole, "bn 63 04 bn 62 00 bn 06 00 bn 26 00", kMackie, "90 68 00"},
    {"main fader touched", kConsole, "bn 63 04 bn 62 08 bn 06 00 bn 26 01", kMackie, "90 70 7f"},
    {"mute 3 on toggles", kConsole, "bn 63 02 bn 62 02 bn 06 00 bn 26 01", kMackie, "90 12 7f 90 12 00"},
    {"solo 8 off toggles", kConsole, "bn 63 03 bn 62 07 bn 06 00 bn 26 00", kMackie, "90 0f 7f 90 0f 00"},
    {"play pressed", kConsole, "bn 63 10 bn 62 03 bn 06 00 bn 26 01", kMackie, "90 5e 7f"},
    {"play released", kConsole, "bn 63 10 bn 62 03 bn 06 00 bn 26 00", kMackie, "90 5e 00"},
    {"pan 1 turned left by 2", kConsole, "bn 63 05 bn 62 00 bn 06 40 bn 26 00 bn 63 05 bn 62 00 bn 06 3e bn 26 00", kMackie, "b0 10 42"},
    {"select 4", kConsole, "bn 63 06 bn 62 03 bn 06 00 bn 26 01", kMackie, "90 1b 7f 90 1b 00"},
    {"channel right pressed", kConsole, "bn 63 10 bn 62 08 bn 06 00 bn 26 01", kMackie, "90 31 7f"},
    {"DAW record arm 1 lamp", kMackie, "90 00 7f", kConsole, "bn 63 07 bn 62 00 bn 06 00 bn 26 7f"},
    {"V-Pot ring right to pan 1", kMackie, "b0 30 0b", kConsole, "bn 63 05 bn 62 00 bn 06 7f bn 26 7f"},
    {"another model's query is not answered", kMackie, "f0 00 00 66 10 00 f7", nullptr, ""},
    {"DAW fader 1", kMackie, "e0 00 40", kConsole, "bn 63 01 bn 62 00 bn 06 40 bn 26 00"},
    {"DAW master fader", kMackie, "e8 7f 7f", kConsole, "bn 63 01 bn 62 08 bn 06 7f bn 26 7f"},
    {"DAW mute 3 lamp on", kMackie, "90 12 7f", kConsole, "bn 63 02 bn 62 02 bn 06 00 bn 26 7f"},
    {"DAW solo 8 lamp off", kMackie, "90 0f 00", kConsole, "bn 63 03 bn 62 07 bn 06 00 bn 26 00"},
    {"DAW record lamp blinking", kMackie, "90 5f 01", kConsole, "bn 63 10 bn 62 04 bn 06 00 bn 26 01"},
    {"device query answered", kMackie, "f0 00 00 66 14 00 f7", kMackie, "f0 00 00 66 14 01 51 4c 4e 30 30 30 31 00 00 00 00 f7"},
    {"meter dropped", kMackie, "d0 35", nullptr, ""},
};

const sRow kKrtHui[] = {
    {"fader 1 at half", kConsole, "bn 63 01 bn 62 00 bn 06 40 bn 26 00", kHui, "b0 00 40 b0 20 00"},
    {"fader 5", kConsole, "bn 63 01 bn 62 04 bn 06 12 bn 26 34", kHui, "b0 04 12 b0 24 34"},
    {"main fader is not mapped", kConsole, "bn 63 01 bn 62 08 bn 06 12 bn 26 34", nullptr, ""},
    {"fader 2 touched", kConsole, "bn 63 04 bn 62 01 bn 06 00 bn 26 01", kHui, "b0 0f 01 b0 2f 40"},
    {"fader 2 released", kConsole, "bn 63 04 bn 62 01 bn 06 00 bn 26 00", kHui, "b0 0f 01 b0 2f 00"},
    {"mute 1 press and release", kConsole, "bn 63 02 bn 62 00 bn 06 00 bn 26 01", kHui, "b0 0f 00 b0 2f 42 b0 0f 00 b0 2f 02"},
    {"play pressed", kConsole, "bn 63 10 bn 62 03 bn 06 00 bn 26 01", kHui, "b0 0f 0e b0 2f 44"},
    {"play released", kConsole, "bn 63 10 bn 62 03 bn 06 00 bn 26 00", kHui, "b0 0f 0e b0 2f 04"},
    {"DAW fader 1", kHui, "b0 00 40 b0 20 00", kConsole, "bn 63 01 bn 62 00 bn 06 40 bn 26 00"},
    {"DAW mute 3 lamp on", kHui, "b0 0c 02 b0 2c 42", kConsole, "bn 63 02 bn 62 02 bn 06 00 bn 26 01"},
    {"DAW mute 3 lamp off", kHui, "b0 0c 02 b0 2c 02", kConsole, "bn 63 02 bn 62 02 bn 06 00 bn 26 00"},
    {"DAW record lamp on", kHui, "b0 0c 0e b0 2c 45", kConsole, "bn 63 10 bn 62 04 bn 06 00 bn 26 01"},
    {"DAW record arm 3 lamp on", kHui, "b0 0c 02 b0 2c 47", kConsole, "bn 63 07 bn 62 02 bn 06 00 bn 26 01"},
    {"bank right pressed", kConsole, "bn 63 10 bn 62 06 bn 06 00 bn 26 01", kHui, "b0 0f 0a b0 2f 43"},
    {"ping answered", kHui, "90 00 00", kHui, "90 00 7f"},
};

const sRow kOskelMackie[] = {
    {"fader 1 at half: touch, move", kConsole, "f0 7d 0n 01 00 40 00 f7", kMackie, "90 68 7f e0 00 40"},
    {"fader 8, full resolution", kConsole, "f0 7d 0n 01 07 12 34 f7", kMackie, "90 6f 7f e7 34 12"},
    {"main fader", kConsole, "f0 7d 0n 01 08 7f 7f f7", kMackie, "90 70 7f e8 7f 7f"},
    {"select 1", kConsole, "f0 7d 0n 07 00 01 f7", kMackie, "90 18 7f 90 18 00"},
    {"mute 2 on toggles", kConsole, "f0 7d 0n 02 01 01 f7", kMackie, "90 11 7f 90 11 00"},
    {"solo 1 off toggles", kConsole, "f0 7d 0n 03 00 00 f7", kMackie, "90 08 7f 90 08 00"},
    {"rewind pressed", kConsole, "f0 7d 0n 04 00 01 f7", kMackie, "90 5b 7f"},
    {"rewind released", kConsole, "f0 7d 0n 04 00 00 f7", kMackie, "90 5b 00"},
    {"pan 1 turned right by 3", kConsole, "f0 7d 0n 06 00 40 00 f7 f0 7d 0n 06 00 44 00 f7", kMackie, "b0 10 03"},
    {"DAW fader 1", kMackie, "e0 00 40", kConsole, "f0 7d 0n 01 00 40 00 f7"},
    {"DAW master fader", kMackie, "e8 34 12", kConsole, "f0 7d 0n 01 08 12 34 f7"},
    {"DAW mute 2 lamp on", kMackie, "90 11 7f", kConsole, "f0 7d 0n 02 01 7f f7"},
    {"DAW solo 1 lamp off", kMackie, "90 08 00", kConsole, "f0 7d 0n 03 00 00 f7"},
    {"DAW stop lamp", kMackie, "90 5d 7f", kConsole, "f0 7d 0n 04 02 7f f7"},
    {"DAW meter strip 4 full", kMackie, "d0 3c", kConsole, "f0 7d 0n 05 03 0c f7"},
    {"DAW meter strip 8 clip", kMackie, "d0 7e", kConsole, "f0 7d 0n 05 07 0e f7"},
    {"DAW meter repeated: sent once", kMackie, "d0 3c d0 3c d0 3c", kConsole, "f0 7d 0n 05 03 0c f7"},
    {"device query answered", kMackie, "f0 00 00 66 14 00 f7", kMackie, "f0 00 00 66 14 01 51 4c 4e 30 30 30 31 00 00 00 00 f7"},
};

const sRow kOskelHui[] = {
    {"fader 1: touch, move", kConsole, "f0 7d 0n 01 00 40 00 f7", kHui, "b0 0f 00 b0 2f 40 b0 00 40 b0 20 00"},
    {"record arm 8", kConsole, "f0 7d 0n 08 07 01 f7", kHui, "b0 0f 07 b0 2f 47 b0 0f 07 b0 2f 07"},
    {"main fader is not mapped", kConsole, "f0 7d 0n 01 08 7f 7f f7", nullptr, ""},
    {"mute 2 press and release", kConsole, "f0 7d 0n 02 01 01 f7", kHui, "b0 0f 01 b0 2f 42 b0 0f 01 b0 2f 02"},
    {"record pressed", kConsole, "f0 7d 0n 04 04 01 f7", kHui, "b0 0f 0e b0 2f 45"},
    {"DAW fader 1", kHui, "b0 00 40 b0 20 00", kConsole, "f0 7d 0n 01 00 40 00 f7"},
    {"DAW mute 2 lamp on", kHui, "b0 0c 01 b0 2c 42", kConsole, "f0 7d 0n 02 01 01 f7"},
    {"DAW solo 2 lamp off", kHui, "b0 0c 01 b0 2c 03", kConsole, "f0 7d 0n 03 01 00 f7"},
    {"DAW left meter 3", kHui, "a0 02 0a", kConsole, "f0 7d 0n 05 02 0a f7"},
    {"DAW right meter dropped", kHui, "a0 02 1a", nullptr, ""},
    {"DAW left meter repeated: sent once", kHui, "a0 02 0a a0 02 0a", kConsole, "f0 7d 0n 05 02 0a f7"},
    {"ping answered", kHui, "90 00 00", kHui, "90 00 7f"},
};
// clang-format on

struct sMap
{
    const char* File;
    const sRow* Rows;
    std::size_t Count;
};
template <std::size_t N> sMap Map(const char* File, const sRow (&Rows)[N])
{
    return {File, Rows, N};
}
const sMap kMaps[] = {Map("ny16_mackie.json", kNyMackie),   Map("ny16_hui.json", kNyHui),
                      Map("krt8_mackie.json", kKrtMackie),  Map("krt8_hui.json", kKrtHui),
                      Map("oskel8_mackie.json", kOskelMackie), Map("oskel8_hui.json", kOskelHui)};
} // namespace

class tst_ShippedMaps : public QObject
{
    Q_OBJECT

private slots:
    void mixerMapListsEveryFamilyAndProtocol();
    void translatesEveryMessageBothWays_data();
    void translatesEveryMessageBothWays();
    void aFaderMoveAndTheDawsEchoSettleInOneRound_data();
    void aFaderMoveAndTheDawsEchoSettleInOneRound();
    void aStreamWholeOrInPiecesTranslatesTheSame_data();
    void aStreamWholeOrInPiecesTranslatesTheSame();
};

// Every row of every map on both channels; rows are named "<map file>, ch <n>, <message>".
void tst_ShippedMaps::translatesEveryMessageBothWays_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("from");
    QTest::addColumn<QByteArray>("in");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QByteArray>("out");
    for (const sMap& map : kMaps)
        for (const int channel : kChannels)
            for (const sRow* row = map.Rows; row != map.Rows + map.Count; ++row)
            {
                QTest::addRow("%s, ch %d, %s", map.File, channel + 1, row->Name)
                    << map.File << channel << row->From << Bytes(row->In, channel) << QString::fromLatin1(row->To ? row->To : "")
                    << Bytes(row->Out, channel);
                // The console on another channel is not heard.
                if (QLatin1String(row->From) == QLatin1String(kConsole) && QByteArray(row->In).contains('n'))
                    QTest::addRow("%s, ch %d, %s, sent on another channel", map.File, channel + 1, row->Name)
                        << map.File << channel << row->From << Bytes(row->In, channel ^ 1) << QString() << QByteArray();
            }
}

void tst_ShippedMaps::translatesEveryMessageBothWays()
{
    QFETCH(QString, file);
    QFETCH(int, channel);
    QFETCH(QString, from);
    QFETCH(QByteArray, in);
    QFETCH(QString, to);
    QFETCH(QByteArray, out);

    cLogCapture log;
    sLoadedMap map(file, channel);
    QVERIFY2(log.Lines().isEmpty(), qPrintable(log.Lines().join(QString())));
    QVERIFY(map.Port(from));
    map.Port(from)->Deliver(in);

    QMap<QString, QByteArray> expected;
    const QMap<QString, QByteArray> written = map.Take();
    for (const QString& name : written.keys())
        expected[name] = name == to ? out : QByteArray();
    QVERIFY2(to.isEmpty() || written.contains(to), qPrintable(to));
    QCOMPARE(written, expected);
}

void tst_ShippedMaps::mixerMapListsEveryFamilyAndProtocol()
{
    cLogCapture log;
    cMixerDawMap mixers;
    mixers.Load(MapsDirectory() + QStringLiteral("mixer_map.json"));
    QVERIFY2(log.Lines().isEmpty(), qPrintable(log.Lines().join(QString())));

    // The window picks a family's discovery text by the first of these substrings in its name.
    const QList<QPair<QString, QString>> findTexts = {{"Ny", "NY Find"}, {"KRT", "KRT Find"}, {"Oskel", "PVX Find"}};
    QMap<QString, QString> found;
    for (const QString& family : mixers.GetMixerNames())
    {
        for (const auto& test : findTexts)
            if (family.contains(test.first))
            {
                found[family] = test.second;
                break;
            }
        QCOMPARE(mixers.GetDAWNames(family), QStringList({"Mackie Control", "HUI"}));
        for (const QString& protocol : mixers.GetDAWNames(family))
            QVERIFY(QFile::exists(MapsDirectory() + mixers.GetMapFileName(family, protocol)));
    }
    // "Ny" is what older settings stored for "Ny-16".
    const QMap<QString, QString> expected = {{"Ny-16", "NY Find"}, {"KRT-8", "KRT Find"}, {"Oskel 8", "PVX Find"}};
    QCOMPARE(found, expected);
}

void tst_ShippedMaps::aFaderMoveAndTheDawsEchoSettleInOneRound_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("move");
    QTest::addColumn<QString>("daw");
    QTest::addColumn<QByteArray>("echo");
    // The DAW echoes the position it was given, without touch.
    QTest::newRow("Ny-16, Mackie Control") << "ny16_mackie.json" << Bytes("b0 12 5a", 0) << kMackie << Bytes("e2 7c 5a", 0);
    QTest::newRow("Ny-16, HUI") << "ny16_hui.json" << Bytes("b0 12 5a", 0) << kHui << Bytes("b0 02 5a b0 22 7c", 0);
    QTest::newRow("KRT-8, Mackie Control") << "krt8_mackie.json" << Bytes("b0 63 01 b0 62 02 b0 06 5a b0 26 11", 0)
                                           << kMackie << Bytes("e2 11 5a", 0);
    QTest::newRow("KRT-8, HUI") << "krt8_hui.json" << Bytes("b0 63 01 b0 62 02 b0 06 5a b0 26 11", 0) << kHui
                                << Bytes("b0 02 5a b0 22 11", 0);
    QTest::newRow("Oskel 8, Mackie Control") << "oskel8_mackie.json" << Bytes("f0 7d 00 01 02 5a 11 f7", 0) << kMackie
                                             << Bytes("e2 11 5a", 0);
    QTest::newRow("Oskel 8, HUI") << "oskel8_hui.json" << Bytes("f0 7d 00 01 02 5a 11 f7", 0) << kHui
                                  << Bytes("b0 02 5a b0 22 11", 0);
}

void tst_ShippedMaps::aFaderMoveAndTheDawsEchoSettleInOneRound()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, move);
    QFETCH(QString, daw);
    QFETCH(QByteArray, echo);

    sLoadedMap map(file, 0);
    map.console.Deliver(move);
    QMap<QString, QByteArray> written = map.Take();
    QVERIFY2(written.value(daw).contains(echo), qPrintable(written.value(daw).toHex(' ')));
    QVERIFY(written.value(kConsole).isEmpty());

    // The echo sets the console's fader where it already is, and nothing goes back to the DAW.
    map.Port(daw)->Deliver(echo);
    written = map.Take();
    QCOMPARE(written.value(kConsole).toHex(' '), move.toHex(' '));
    for (const QString& name : written.keys())
        if (name != QLatin1String(kConsole))
            QCOMPARE(written.value(name), QByteArray());
}

void tst_ShippedMaps::aStreamWholeOrInPiecesTranslatesTheSame_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("from");
    QTest::addColumn<uint>("seed");
    QTest::newRow("Ny-16, Mackie Control, from the console") << "ny16_mackie.json" << kConsole << 7u;
    QTest::newRow("Ny-16, Mackie Control, from the DAW") << "ny16_mackie.json" << kMackie << 8u;
    QTest::newRow("Ny-16, HUI, from the console") << "ny16_hui.json" << kConsole << 9u;
}

// Console-like traffic (running status, clocks inside messages, exclusive messages) in one read,
// and cut at arbitrary places into many: every port gets the same bytes. All on this thread, so no
// gesture's quiet time ends in between.
void tst_ShippedMaps::aStreamWholeOrInPiecesTranslatesTheSame()
{
    QFETCH(QString, file);
    QFETCH(QString, from);
    QFETCH(uint, seed);
    const std::vector<uint8_t> traffic = MakeConsoleTraffic(32 * 1024, seed);
    const QByteArray stream(reinterpret_cast<const char*>(traffic.data()), static_cast<int>(traffic.size()));

    sLoadedMap whole(file, 0);
    whole.Port(from)->Deliver(stream);
    const QMap<QString, QByteArray> expected = whole.Take();
    int written = 0;
    for (const QByteArray& bytes : expected)
        written += bytes.size();
    QVERIFY(written > 100);

    sLoadedMap pieces(file, 0);
    for (int at = 0; at < stream.size();)
    {
        seed = seed * 1103515245u + 12345u;
        const int length = 1 + static_cast<int>((seed >> 16) % 97);
        pieces.Port(from)->Deliver(stream.mid(at, length));
        at += length;
    }
    QCOMPARE(pieces.Take(), expected);
}

QTEST_GUILESS_MAIN(tst_ShippedMaps)
#include "tst_ShippedMaps.moc"
