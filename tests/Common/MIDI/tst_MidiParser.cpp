#include "Common/MIDI/MidiParser.h"
#include "tests/support/ConsoleTraffic.h"
#include "tests/support/LogCapture.h"

#include <QSet>
#include <QtTest>

#include <cstdlib>
#include <new>

// Counts heap allocations while armed, to show that parsing allocates nothing.
static bool gCountAllocations = false;
static int gAllocations = 0;

void* operator new(std::size_t Size)
{
    if (gCountAllocations)
        ++gAllocations;
    if (void* p = std::malloc(Size ? Size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* Pointer) noexcept
{
    std::free(Pointer);
}

void operator delete(void* Pointer, std::size_t) noexcept
{
    std::free(Pointer);
}

namespace
{
QString Hex(const uint8_t* Bytes, int Count)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(Bytes), Count).toHex(' '));
}

QString Hex(const QByteArray& Bytes)
{
    return QString::fromLatin1(Bytes.toHex(' '));
}

// Writes down every handler call with its arguments and the status byte that the handler sees.
// Handlers named in Refused answer false, the others take their message.
class cRecordingParser : public cMidiParser
{
public:
    QStringList Events;
    QSet<QString> Refused;
    int MaxCount = 0;

    void Configure(bool Omni, int Channel)
    {
        mOmni = Omni;
        mChannel = static_cast<uint8_t>(Channel);
    }

    void Feed(const QByteArray& Bytes)
    {
        for (const char byte : Bytes)
        {
            ParseByte(static_cast<uint8_t>(byte));
            MaxCount = qMax(MaxCount, int(mCount));
        }
    }

    // Everything that decides how the next byte is treated.
    QString State() const
    {
        return QString("len=%1 sysex=%2 common=%3 [%4]")
            .arg(mSysCommonLength)
            .arg(mInSysEx)
            .arg(mInSysCommon)
            .arg(Hex(mBuffer, mCount));
    }

protected:
    bool Take(const QString& Name, const QString& Args = QString())
    {
        Events << QString("%1%2 @%3").arg(Name, Args.isEmpty() ? QString() : " " + Args).arg(mBuffer[0], 2, 16, QChar('0'));
        return !Refused.contains(Name);
    }
    static QString Args(uint8_t A) { return Hex(&A, 1); }
    static QString Args(uint8_t A, uint8_t B)
    {
        const uint8_t both[] = {A, B};
        return Hex(both, 2);
    }

    bool ActiveSensing() override { return Take("ActiveSensing"); }
    bool SysEx() override
    {
        Events << QString("SysEx [%1] n=%2").arg(Hex(mSysExBuffer, mCount)).arg(mCount);
        return !Refused.contains("SysEx");
    }
    bool SysCommon() override
    {
        Events << QString("SysCommon [%1]").arg(Hex(mBuffer, mCount));
        return cMidiParser::SysCommon();
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
    void Unhandled() override { Events << QString("Unhandled [%1]").arg(Hex(mBuffer, mCount)); }
    void UnhandledControlChange() override { Events << QString("UnhandledControlChange [%1]").arg(Hex(mBuffer, mCount)); }
};

// Overrides only the fallbacks, so every message shows what the base handlers answer.
class cFallbackOnlyParser : public cMidiParser
{
public:
    int Unhandleds = 0;
    int UnhandledControlChanges = 0;

protected:
    void Unhandled() override { ++Unhandleds; }
    void UnhandledControlChange() override { ++UnhandledControlChanges; }
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
    void reportsCompleteMessages_data();
    void reportsCompleteMessages();
    void boundsExclusiveMessages_data();
    void boundsExclusiveMessages();
    void strayEndByteChangesNoState_data();
    void strayEndByteChangesNoState();
    void logsUndefinedSystemCommonBytes();
    void baseHandlersTakeNothing();
    void parsesWithoutAllocating();
};

void tst_MidiParser::reportsCompleteMessages_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<bool>("omni");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QStringList>("refused");
    QTest::addColumn<QStringList>("expected");

    auto row = [](const char* Name, const char* InputHex, QStringList Expected, bool Omni = false, int Channel = 0,
                  QStringList Refused = {}) {
        QTest::newRow(Name) << QByteArray::fromHex(InputHex) << Omni << Channel << Refused << Expected;
    };

    row("note on, then running status", "90407f4100", {"NoteOn 40 7f @90", "NoteOn 41 00 @90"});
    row("every channel message kind", "8040008f0000a04010b00764c005d020e00040",
        {"NoteOff 40 00 @80", "Unhandled [8f 00 00]", "PolyPressure 40 10 @a0", "ControlChange 07 64 @b0",
         "ProgramChange 05 @c0", "ChannelPressure 20 @d0", "PitchBend 00 40 @e0"});
    row("one-byte messages in running status", "c00506d0101112",
        {"ProgramChange 05 @c0", "ProgramChange 06 @c0", "ChannelPressure 10 @d0", "ChannelPressure 11 @d0",
         "ChannelPressure 12 @d0"});
    row("every real-time byte inside a note", "9040f8f9fafbfcfdff7f", {"NoteOn 40 7f @90"});
    row("active sensing inside a note", "9040fe7f", {"ActiveSensing @90", "NoteOn 40 7f @90"});
    row("active sensing before any status", "fe", {"ActiveSensing @00"});
    row("exclusive message", "f00102f7", {"SysEx [f0 01 02 f7] n=4"});
    row("real-time bytes inside an exclusive message are not stored", "f001f802fef7",
        {"ActiveSensing @f0", "SysEx [f0 01 02 f7] n=4"});
    row("data after an exclusive message is dropped", "f001f70304", {"SysEx [f0 01 f7] n=3"});
    row("exclusive message cut by a note, a stray end byte, running status", "f001907f40f74100",
        {"NoteOn 7f 40 @90", "NoteOn 41 00 @90"});
    row("exclusive message cut by a song position", "f001f21020", {"SysCommon [f2 10 20]", "SongPosition 10 20 @f2"});
    row("exclusive message cut by a new exclusive message", "f001f002f7", {"SysEx [f0 02 f7] n=3"});
    row("song position, trailing data dropped", "f210203040", {"SysCommon [f2 10 20]", "SongPosition 10 20 @f2"});
    row("quarter frame and song select", "f123f305", {"SysCommon [f1 23]", "MTCQuarterFrame 23 @f1", "SysCommon [f3 05]",
                                                     "SongSelect 05 @f3"});
    row("tune request ends running status", "90407ff64100", {"NoteOn 40 7f @90", "SysCommon [f6]", "TuneRequest @f6"});
    row("undefined system common byte ends running status", "90407ff44100", {"NoteOn 40 7f @90", "Unhandled [f4]"});
    row("real-time inside a song position", "f210f820", {"SysCommon [f2 10 20]", "SongPosition 10 20 @f2"});
    row("partial note cut by a note off", "904080410000", {"NoteOff 41 00 @80"});
    row("partial song position cut by a note", "f210904000", {"NoteOn 40 00 @90"});
    row("data before the first status", "01027f90407f", {"NoteOn 40 7f @90"});
    row("status byte alone", "90", {});

    row("omni off, other channel control change", "b20764", {"UnhandledControlChange [b2 07 64]"});
    row("omni off, other channel in running status", "92407f4100", {"Unhandled [92 40 7f]", "Unhandled [92 41 00]"});
    row("omni on, any channel reaches the handlers", "92407fb20764", {"NoteOn 40 7f @92", "ControlChange 07 64 @b2"}, true);
    row("omni off, channel 2 selected", "92407f90407f", {"NoteOn 40 7f @92", "Unhandled [90 40 7f]"}, false, 2);

    row("refused note goes to Unhandled", "90407f", {"NoteOn 40 7f @90", "Unhandled [90 40 7f]"}, false, 0, {"NoteOn"});
    row("refused control change goes to its own fallback", "b00764",
        {"ControlChange 07 64 @b0", "UnhandledControlChange [b0 07 64]"}, false, 0, {"ControlChange"});
    row("refused exclusive message goes to Unhandled", "f00102f7", {"SysEx [f0 01 02 f7] n=4", "Unhandled [f0 01 02 f7]"},
        false, 0, {"SysEx"});
    row("refused song position goes to Unhandled", "f21020",
        {"SysCommon [f2 10 20]", "SongPosition 10 20 @f2", "Unhandled [f2 10 20]"}, false, 0, {"SongPosition"});
}

void tst_MidiParser::reportsCompleteMessages()
{
    QFETCH(QByteArray, input);
    QFETCH(bool, omni);
    QFETCH(int, channel);
    QFETCH(QStringList, refused);
    QFETCH(QStringList, expected);

    cLogCapture capture;
    cRecordingParser parser;
    parser.Configure(omni, channel);
    parser.Refused = QSet<QString>(refused.begin(), refused.end());
    parser.Feed(input);
    QCOMPARE(parser.Events, expected);
}

void tst_MidiParser::boundsExclusiveMessages_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QByteArray>("delivered");
    QTest::addColumn<QStringList>("after");

    const QByteArray note = QByteArray::fromHex("90407f");
    const QByteArray largest = SysExOfLength(16384);
    QTest::newRow("16384 bytes, delivered whole") << largest << largest << QStringList();
    QTest::newRow("16385 bytes, abandoned") << SysExOfLength(16385) << QByteArray() << QStringList();
    QTest::newRow("far too long, then a note") << SysExOfLength(40000) + note << QByteArray()
                                               << QStringList{"NoteOn 40 7f @90"};
    QByteArray withClocks = largest;
    for (int i = 1000; i < withClocks.size(); i += 1000)
        withClocks.insert(i, '\xF8');
    QTest::newRow("16384 bytes with clocks inside, delivered") << withClocks << largest << QStringList();
}

void tst_MidiParser::boundsExclusiveMessages()
{
    QFETCH(QByteArray, input);
    QFETCH(QByteArray, delivered);
    QFETCH(QStringList, after);

    cRecordingParser parser;
    parser.Feed(input);
    QStringList expected;
    if (!delivered.isEmpty())
        expected << QString("SysEx [%1] n=%2").arg(Hex(delivered)).arg(delivered.size());
    QCOMPARE(parser.Events, expected + after);
    QVERIFY2(parser.MaxCount <= cMidiParser::kBufferSize, qPrintable(QString::number(parser.MaxCount)));
}

void tst_MidiParser::strayEndByteChangesNoState_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<QStringList>("expected");

    auto row = [](const char* Name, const char* BeforeHex, const char* AfterHex, QStringList Expected) {
        QTest::newRow(Name) << QByteArray::fromHex(BeforeHex) << QByteArray::fromHex(AfterHex) << Expected;
    };
    row("before any status", "", "90407f", {"NoteOn 40 7f @90"});
    row("between the data bytes of a note", "9040", "7f", {"NoteOn 40 7f @90"});
    row("between two notes in running status", "90407f", "4100", {"NoteOn 40 7f @90", "NoteOn 41 00 @90"});
    row("inside a song position", "f210", "20", {"SysCommon [f2 10 20]", "SongPosition 10 20 @f2"});
    row("after a song position", "f21020", "30", {"SysCommon [f2 10 20]", "SongPosition 10 20 @f2"});
    row("second end byte of an exclusive message", "f001f7", "02", {"SysEx [f0 01 f7] n=3"});
    row("after an undefined system common byte", "f4", "0102", {"Unhandled [f4]"});
    QTest::newRow("end byte of an abandoned exclusive message")
        << SysExOfLength(16385).chopped(1) << QByteArray::fromHex("0190407f") << QStringList{"NoteOn 40 7f @90"};
}

void tst_MidiParser::strayEndByteChangesNoState()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(QStringList, expected);

    cLogCapture capture;
    cRecordingParser parser;
    parser.Feed(before);
    const QString state = parser.State();
    const QStringList events = parser.Events;
    parser.Feed(QByteArray(3, '\xF7'));
    QCOMPARE(parser.State(), state);
    QCOMPARE(parser.Events, events);

    parser.Feed(after);
    QCOMPARE(parser.Events, expected);
}

void tst_MidiParser::logsUndefinedSystemCommonBytes()
{
    cLogCapture capture;
    cRecordingParser parser;
    parser.Feed(QByteArray::fromHex("f4f5f6"));
    QCOMPARE(parser.Events, (QStringList{"Unhandled [f4]", "Unhandled [f5]", "SysCommon [f6]", "TuneRequest @f6"}));
    QCOMPARE(capture.Messages(), (QStringList{"Unrecognised Sys Common Byte", "Unrecognised Sys Common Byte"}));
    QCOMPARE(capture.Files(), (QStringList{"Common/MIDI/MidiParser.cpp", "Common/MIDI/MidiParser.cpp"}));
}

void tst_MidiParser::baseHandlersTakeNothing()
{
    cLogCapture capture;
    cFallbackOnlyParser parser;
    for (const uint8_t byte : QByteArray::fromHex("8040009040a0b00764c005d020e00040f00102f7f123f21020f305f6f4fe"))
        parser.ParseByte(byte);
    QCOMPARE(parser.Unhandleds, 10);
    QCOMPARE(parser.UnhandledControlChanges, 1);
}

void tst_MidiParser::parsesWithoutAllocating()
{
    const std::vector<uint8_t> traffic = MakeConsoleTraffic(1 << 16);
    cFallbackOnlyParser parser;
    gAllocations = 0;
    gCountAllocations = true;
    for (const uint8_t byte : traffic)
        parser.ParseByte(byte);
    gCountAllocations = false;
    QCOMPARE(gAllocations, 0);
    QVERIFY(parser.Unhandleds + parser.UnhandledControlChanges > 1000);
}

QTEST_GUILESS_MAIN(tst_MidiParser)
#include "tst_MidiParser.moc"
