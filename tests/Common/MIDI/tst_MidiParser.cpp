// The parser's reports for each kind of message, and a property over console traffic: real-time
// bytes anywhere and stray end-of-exclusive bytes outside an exclusive message change nothing.
// Parsing edge cases beyond these (running status against the status written out, buffer bounds,
// every message checked) are the invariants of fuzz/fuzz_midi_stream.

#include "Common/MIDI/MidiParser.h"
#include "tests/support/ConsoleTraffic.h"
#include "tests/support/LogCapture.h"

#include <QSet>
#include <QtTest>

#include <random>

namespace
{
QString Hex(const uint8_t* Bytes, int Count)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(Bytes), Count).toHex(' '));
}

// Writes down every handler call with its arguments and the status byte that the handler sees.
// Handlers named in Refused answer false, the others take their message.
class cRecordingParser : public cMidiParser
{
public:
    QStringList Events;
    QSet<QString> Refused;

    cRecordingParser(bool Omni = false, int Channel = 0)
    {
        mOmni = Omni;
        mChannel = uint8_t(Channel);
    }
    template <typename tBytes>
    void Feed(const tBytes& Bytes)
    {
        for (const auto byte : Bytes)
            ParseByte(uint8_t(byte));
    }
    bool InSysEx() const { return mInSysEx; }

protected:
    bool Take(const QString& Name, const QString& Args = QString())
    {
        Events << QString("%1%2 @%3").arg(Name, Args.isEmpty() ? QString() : " " + Args).arg(mBuffer[0], 2, 16, QChar('0'));
        return !Refused.contains(Name);
    }
    static QString Args(uint8_t A) { return Hex(&A, 1); }
    static QString Args(uint8_t A, uint8_t B) { return Args(A) + ' ' + Args(B); }
    bool ActiveSensing() override { return Take("ActiveSensing"); }
    bool SysEx() override
    {
        Events << QString("SysEx n=%1 [%2]").arg(mCount).arg(Hex(mSysExBuffer, qMin(int(mCount), 4)));
        return !Refused.contains("SysEx");
    }
    bool NoteOff(uint8_t K, uint8_t V) override { return Take("NoteOff", Args(K, V)); }
    bool NoteOn(uint8_t K, uint8_t V) override { return Take("NoteOn", Args(K, V)); }
    bool PolyPressure(uint8_t K, uint8_t P) override { return Take("PolyPressure", Args(K, P)); }
    bool ControlChange(uint8_t C, uint8_t V) override { return Take("ControlChange", Args(C, V)); }
    bool ProgramChange(uint8_t P) override { return Take("ProgramChange", Args(P)); }
    bool ChannelPressure(uint8_t P) override { return Take("ChannelPressure", Args(P)); }
    bool PitchBend(uint8_t L, uint8_t M) override { return Take("PitchBend", Args(L, M)); }
    bool MTCQuarterFrame(uint8_t V) override { return Take("MTCQuarterFrame", Args(V)); }
    bool SongPosition(uint8_t L, uint8_t M) override { return Take("SongPosition", Args(L, M)); }
    bool SongSelect(uint8_t S) override { return Take("SongSelect", Args(S)); }
    bool TuneRequest() override { return Take("TuneRequest"); }
    void Unhandled() override { Events << QString("Unhandled [%1]").arg(Hex(mBuffer, qMin(int(mCount), 4))); }
    void UnhandledControlChange() override { Events << QString("UnhandledControlChange [%1]").arg(Hex(mBuffer, mCount)); }
};

QByteArray SysExOfLength(int Length)
{
    QByteArray message(Length, '\x11');
    message[0] = '\xF0';
    message[Length - 1] = '\xF7';
    return message;
}
} // namespace

class tst_MidiParser : public QObject
{
    Q_OBJECT

private slots:
    void reportsEveryKindOfMessage_data();
    void reportsEveryKindOfMessage();
    void realTimeAndStrayEndBytesChangeNothing();
};

void tst_MidiParser::reportsEveryKindOfMessage_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("channel"); // -1: omni
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<QStringList>("expected");

    auto row = [](const char* Name, const QByteArray& Input, QStringList Expected, int Channel = 0, QStringList Refused = {}) {
        QTest::newRow(Name) << (Input.startsWith('\xF0') ? Input : QByteArray::fromHex(Input)) << Channel << Refused << Expected;
    };
    row("every channel message kind, running status", "8040008f0000a04010b00764c00506d020e00040",
        {"NoteOff 40 00 @80", "Unhandled [8f 00 00]", "PolyPressure 40 10 @a0", "ControlChange 07 64 @b0", "ProgramChange 05 @c0",
         "ProgramChange 06 @c0", "ChannelPressure 20 @d0", "PitchBend 00 40 @e0"});
    row("system common and real-time", "f123f210203040f305f6fef4",
        {"MTCQuarterFrame 23 @f1", "SongPosition 10 20 @f2", "SongSelect 05 @f3", "TuneRequest @f6", "ActiveSensing @f6",
         "Unhandled [f4]"});
    row("exclusive, cut by a note, then running status", "f00102f7f001907f404100", {"SysEx n=4 [f0 01 02 f7]", "NoteOn 7f 40 @90", "NoteOn 41 00 @90"});
    row("largest exclusive delivered whole", SysExOfLength(16384), {"SysEx n=16384 [f0 11 11 11]"});
    row("longer exclusive abandoned", SysExOfLength(16385) + QByteArray::fromHex("90407f"), {"NoteOn 40 7f @90"});
    row("other channel, omni off", "92407fb20764", {"Unhandled [92 40 7f]", "UnhandledControlChange [b2 07 64]"});
    row("channel 3 selected", "92407f90407f", {"NoteOn 40 7f @92", "Unhandled [90 40 7f]"}, 2);
    row("omni", "92407fb20764", {"NoteOn 40 7f @92", "ControlChange 07 64 @b2"}, -1);
    row("refused messages go to the fallbacks", "90407fb00764f00102f7f21020",
        {"NoteOn 40 7f @90", "Unhandled [90 40 7f]", "ControlChange 07 64 @b0", "UnhandledControlChange [b0 07 64]",
         "SysEx n=4 [f0 01 02 f7]", "Unhandled [f0 01 02 f7]", "SongPosition 10 20 @f2", "Unhandled [f2 10 20]"},
        0, {"NoteOn", "ControlChange", "SysEx", "SongPosition"});
}

void tst_MidiParser::reportsEveryKindOfMessage()
{
    QFETCH(QByteArray, input);
    QFETCH(int, channel);
    QFETCH(QStringList, refused);
    QFETCH(QStringList, expected);

    cLogCapture capture;
    cRecordingParser parser(channel < 0, qMax(channel, 0));
    parser.Refused = QSet<QString>(refused.begin(), refused.end());
    parser.Feed(input);
    QCOMPARE(parser.Events, expected);
    if (input.contains('\xF4'))
        QCOMPARE(capture.Messages(), QStringList{"Unrecognised Sys Common Byte"});
}

void tst_MidiParser::realTimeAndStrayEndBytesChangeNothing()
{
    const std::vector<uint8_t> traffic = MakeConsoleTraffic(1 << 15, 3);
    std::mt19937 random(11);
    cRecordingParser plain;
    std::vector<uint8_t> noisy;
    for (const uint8_t byte : traffic)
    {
        const uint32_t roll = random() % 16;
        if (roll == 0)
            noisy.push_back(0xF8);
        else if (roll == 1 && !plain.InSysEx())
            noisy.push_back(0xF7);
        noisy.push_back(byte);
        plain.ParseByte(byte);
    }
    cRecordingParser withNoise;
    withNoise.Feed(noisy);
    QVERIFY(plain.Events.size() > 1000);
    QCOMPARE(withNoise.Events, plain.Events);
}

QTEST_GUILESS_MAIN(tst_MidiParser)
#include "tst_MidiParser.moc"
