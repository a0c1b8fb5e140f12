// The match tree against the reference tree of tests/support on random pattern sets and streams
// (patterns added before and amid the bytes), plus the few cases random input does not reach.

#include "Common/MIDI/MIDIMatch/MIDIMatchManager.h"
#include "tests/support/LogCapture.h"
#include "tests/support/ReferenceMatchManager.h"

#include <QtTest>

#include <cstdlib>
#include <functional>
#include <random>

namespace
{
// Records every report as "id@byte:hex", byte being the stream index of the last matched byte.
class cRecordingListener : public cMIDIMatchTriggerListener
{
public:
    void MIDIMatchTriggered(int Id, const std::vector<uint8_t>& Message) override
    {
        const QByteArray bytes(reinterpret_cast<const char*>(Message.data()), int(Message.size()));
        mReports << QStringLiteral("%1@%2:%3").arg(Id).arg(mPosition).arg(QString::fromLatin1(bytes.toHex()));
        if (mFeedBack)
            mFeedBack();
    }
    QStringList mReports;
    qint64 mPosition = 0;
    std::function<void()> mFeedBack; // runs inside each report
};

// Reports of a manager given the first AddLaterFrom triggers, then the rest before byte AddAt.
template <typename tManager>
QStringList Run(const std::vector<sMIDIMatchTrigger>& Triggers, std::size_t AddLaterFrom, const std::vector<uint8_t>& Stream,
                std::size_t AddAt, bool FeedBack = false)
{
    cRecordingListener listener;
    tManager manager(&listener);
    if (FeedBack)
        listener.mFeedBack = [&manager] {
            manager.ProcessByte(0xB0);
            manager.ProcessByte(0x07);
        };
    for (std::size_t i = 0; i < AddLaterFrom; ++i)
        manager.AddTrigger(Triggers[i]);
    for (std::size_t at = 0; at <= Stream.size(); ++at)
    {
        if (at == AddAt)
            for (std::size_t i = AddLaterFrom; i < Triggers.size(); ++i)
                manager.AddTrigger(Triggers[i]);
        if (at < Stream.size())
            manager.ProcessByte(Stream[at]);
        listener.mPosition = qint64(at + 1);
    }
    return listener.mReports;
}

// "id=pattern" entries, a pattern one character per nibble: a hex digit, '?' for any, or 'G' for
// the value 16 that no nibble has.
std::vector<sMIDIMatchTrigger> Triggers(const QStringList& Patterns)
{
    std::vector<sMIDIMatchTrigger> triggers;
    for (const QString& entry : Patterns)
    {
        triggers.push_back({entry.section('=', 0, 0).toInt(), {}});
        for (const QChar c : entry.section('=', 1))
            triggers.back().nibbles.push_back({uint8_t(c == '?' ? 0 : c == 'G' ? 16 : QString(c).toUInt(nullptr, 16)), c == '?'});
    }
    return triggers;
}

// Patterns over a few bytes, with wildcards, prefixes of each other, reused identifiers, odd lengths
// and out-of-range nibbles; a stream made mostly of those patterns' bytes, so that matches overlap.
void MakeRandomCase(std::mt19937& Engine, std::vector<sMIDIMatchTrigger>& Result, std::vector<uint8_t>& Stream)
{
    const auto below = [&](std::size_t Limit) { return std::size_t(Engine() % Limit); };
    std::vector<uint8_t> alphabet(2 + below(5));
    for (uint8_t& byte : alphabet)
        byte = uint8_t(below(256));
    const std::size_t patternCount = 1 + below(12);
    for (std::size_t i = 0; i < patternCount; ++i)
    {
        sMIDIMatchTrigger trigger;
        trigger.id = int32_t(i > 0 && below(100) < 15 ? below(i) : i);
        if (i > 0 && below(100) < 40) // a prefix of an earlier pattern, possibly all of it
        {
            const auto& earlier = Result[below(i)].nibbles;
            trigger.nibbles.assign(earlier.begin(), earlier.begin() + std::ptrdiff_t(2 * below(earlier.size() / 2 + 1)));
        }
        for (std::size_t b = 0, extra = below(100) < 5 ? 0 : below(4); b < extra || trigger.nibbles.empty(); ++b)
        {
            const uint8_t byte = alphabet[below(alphabet.size())];
            for (const int shift : {4, 0})
            {
                sMatchNibble nibble;
                nibble.wildcard = below(100) < 25;
                nibble.value = nibble.wildcard ? 0 : below(100) < 2 ? 16 : (byte >> shift) & 0x0F;
                trigger.nibbles.push_back(nibble);
            }
        }
        if (below(100) < 3)
            trigger.nibbles.clear();
        else if (below(100) < 3)
            trigger.nibbles.pop_back(); // odd: never fires, but shapes the tree
        Result.push_back(trigger);
    }
    for (const std::size_t length = below(400); Stream.size() < length;)
    {
        const std::size_t roll = below(100);
        const auto& nibbles = Result[below(patternCount)].nibbles;
        // A pattern's bytes (or their start), wildcards filled with any nibble; else a byte.
        const std::size_t count = roll >= 60 ? 0 : below(100) < 20 ? below(nibbles.size() / 2 + 1) : nibbles.size() / 2;
        for (std::size_t n = 0; n < 2 * count; n += 2)
        {
            const auto nibble = [&](const sMatchNibble& N) { return N.wildcard ? below(16) : (N.value & 0x0F); };
            Stream.push_back(uint8_t(nibble(nibbles[n]) << 4 | nibble(nibbles[n + 1])));
        }
        if (roll >= 60)
            Stream.push_back(roll < 90 ? alphabet[below(alphabet.size())] : uint8_t(below(256)));
    }
}
} // namespace

class tst_MIDIMatchManager : public QObject
{
    Q_OBJECT

private slots:
    void agreesWithReferenceOnRandomStreams();
    void reportsMatchesInFiringOrder_data();
    void reportsMatchesInFiringOrder();
};

void tst_MIDIMatchManager::agreesWithReferenceOnRandomStreams()
{
    // QUILLON_MATCH_SEED replays one failing case alone.
    const char* only = std::getenv("QUILLON_MATCH_SEED");
    const uint32_t first = only ? uint32_t(std::strtoul(only, nullptr, 10)) : 1;
    for (uint64_t seed = first; seed <= (only ? first : 3000u); ++seed)
    {
        std::mt19937 engine{uint32_t(seed)};
        std::vector<sMIDIMatchTrigger> triggers;
        std::vector<uint8_t> stream;
        MakeRandomCase(engine, triggers, stream);
        // One case in four adds its later patterns in the middle of the stream.
        const std::size_t later = engine() % 4 == 0 ? engine() % triggers.size() : triggers.size();
        const std::size_t addAt = stream.empty() ? 0 : engine() % stream.size();
        const QStringList fast = Run<cMIDIMatchManager>(triggers, later, stream, addAt);
        const QStringList reference = Run<cReferenceMatchManager>(triggers, later, stream, addAt);
        QVERIFY2(fast == reference, qPrintable(QStringLiteral("seed %1 (QUILLON_MATCH_SEED=%1)\n  tree      %2\n  reference %3")
                                                   .arg(seed).arg(fast.join(' '), reference.join(' '))));
    }
}

void tst_MIDIMatchManager::reportsMatchesInFiringOrder_data()
{
    QTest::addColumn<QStringList>("patterns"); // "id=pattern"; G is a nibble of value 16
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<bool>("feedBack"); // each report feeds b0 07 to the tree
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QStringList>("logged"); // each distinct message

    QTest::newRow("wildcard channel fires before exact channel")
        << QStringList{"1=B007??", "2=B?07??"} << QByteArray("b00740") << false << QStringList{"2@2:b00740", "1@2:b00740"} << QStringList();
    QTest::newRow("prefix pattern fires at its last byte, longer one later")
        << QStringList{"1=F043", "2=F04310??"} << QByteArray("f043103ef7") << false << QStringList{"1@1:f043", "2@3:f043103e"}
        << QStringList();
    QTest::newRow("long exclusive pattern, message spans the kept history")
        << QStringList{"1=F0" + QString("??").repeated(18) + "F7"} << QByteArray("f8f0000102030405060708090a0b0c0d0e0f1011f7f0f7")
        << false << QStringList{"1@20:f0000102030405060708090a0b0c0d0e0f1011f7"} << QStringList();
    QTest::newRow("a report hides an overlapping match of the same trigger")
        << QStringList{"1=B?07??"} << QByteArray("b007b00740") << false << QStringList{"1@2:b007b0"} << QStringList();
    QTest::newRow("patterns that never fire are logged, a reused identifier keeps both")
        << QStringList{"7=B007??", "7=B107??", "9=B0??0", "8=B0?G"} << QByteArray("b00740b10741") << false
        << QStringList{"7@2:b00740", "7@5:b10741"}
        << QStringList{"Identifier 7 is alread in use", "Pattern of identifier 9 has an odd number of nibbles (5); it never fires",
                       "Pattern of identifier 8 has a nibble value out of range (16); it never fires"};
    QTest::newRow("bytes fed from inside a report are dropped")
        << QStringList{"1=B007??", "2=B?07??", "3=07??"} << QByteArray("b00740b10741") << true
        << QStringList{"2@2:b00740", "1@2:b00740", "3@2:0740", "2@5:b10741", "3@5:0741"}
        << QStringList{"Byte 0xB0 fed to the match tree from inside one of its reports; it is dropped",
                       "Byte 0x07 fed to the match tree from inside one of its reports; it is dropped"};
}

void tst_MIDIMatchManager::reportsMatchesInFiringOrder()
{
    QFETCH(QStringList, patterns);
    QFETCH(QByteArray, stream);
    QFETCH(bool, feedBack);
    QFETCH(QStringList, expected);
    QFETCH(QStringList, logged);
    const QByteArray hex = QByteArray::fromHex(stream);
    const std::vector<uint8_t> bytes(hex.begin(), hex.end());
    {
        cLogCapture capture;
        QCOMPARE(Run<cMIDIMatchManager>(Triggers(patterns), patterns.size(), bytes, 0, feedBack), expected);
        QStringList messages = capture.Messages();
        messages.removeDuplicates();
        QCOMPARE(messages, logged);
    }
    // The reference must agree, or the randomised comparison proves nothing.
    if (!feedBack)
        QCOMPARE(Run<cReferenceMatchManager>(Triggers(patterns), patterns.size(), bytes, 0), expected);
}

QTEST_GUILESS_MAIN(tst_MIDIMatchManager)
#include "tst_MIDIMatchManager.moc"
