#include "Common/MIDI/MIDIMatch/MIDIMatchManager.h"
#include "tests/support/LogCapture.h"
#include "tests/support/MatchTriggerText.h"
#include "tests/support/ReferenceMatchManager.h"

#include <QtTest>

#include <cstdlib>
#include <random>

namespace
{
// Records every report as "id@byte:hex", byte being the stream index of the last matched byte.
class cRecordingListener : public cMIDIMatchTriggerListener
{
public:
    void MIDIMatchTriggered(int Id, const std::vector<uint8_t>& Message) override
    {
        const QByteArray bytes(reinterpret_cast<const char*>(Message.data()), static_cast<int>(Message.size()));
        mReports << QStringLiteral("%1@%2:%3").arg(Id).arg(mPosition).arg(QString::fromLatin1(bytes.toHex()));
    }

    QStringList mReports;
    qint64 mPosition = 0;
};

// Registers "id=pattern" entries in order.
template <typename tManager>
void Register(tManager& Manager, const QStringList& Patterns)
{
    for (const QString& entry : Patterns)
    {
        const QStringList parts = entry.split(QLatin1Char('='));
        Manager.AddTrigger(MakeTrigger(parts.value(0).toInt(), parts.value(1)));
    }
}

template <typename tManager>
void Feed(tManager& Manager, cRecordingListener& Listener, const QByteArray& Bytes)
{
    for (const char byte : Bytes)
    {
        Manager.ProcessByte(static_cast<uint8_t>(byte));
        ++Listener.mPosition;
    }
}

template <typename tManager>
QStringList Run(const QStringList& Patterns, const QByteArray& Stream)
{
    cRecordingListener listener;
    tManager manager(&listener);
    Register(manager, Patterns);
    Feed(manager, listener, Stream);
    return listener.mReports;
}

// The fast tree and the reference, given the same patterns and bytes.
struct sBothManagers
{
    cRecordingListener fastListener;
    cRecordingListener referenceListener;
    cMIDIMatchManager fast{&fastListener};
    cReferenceMatchManager reference{&referenceListener};

    void Add(const sMIDIMatchTrigger& Trigger)
    {
        fast.AddTrigger(Trigger);
        reference.AddTrigger(Trigger);
    }
    void Register(const QStringList& Patterns)
    {
        ::Register(fast, Patterns);
        ::Register(reference, Patterns);
    }
    void Feed(const QByteArray& Bytes)
    {
        ::Feed(fast, fastListener, Bytes);
        ::Feed(reference, referenceListener, Bytes);
    }
};

class cRandom
{
public:
    explicit cRandom(uint32_t Seed) : mEngine(Seed) {}
    uint32_t Below(uint32_t Limit) { return std::uniform_int_distribution<uint32_t>(0, Limit - 1)(mEngine); }
    bool Chance(uint32_t Percent) { return Below(100) < Percent; }

private:
    std::mt19937 mEngine;
};

struct sRandomCase
{
    std::vector<sMIDIMatchTrigger> triggers;
    std::vector<uint8_t> stream;
};

// Patterns over a few bytes, with wildcards, shared prefixes, prefixes of each other and reused
// identifiers; a stream made mostly of those patterns' bytes so that matches overlap often.
sRandomCase MakeRandomCase(uint32_t Seed)
{
    cRandom random(Seed);
    sRandomCase result;
    std::vector<uint8_t> alphabet;
    const uint32_t alphabetSize = 2 + random.Below(5);
    for (uint32_t i = 0; i < alphabetSize; ++i)
        alphabet.push_back(static_cast<uint8_t>(random.Below(256)));

    const uint32_t patternCount = 1 + random.Below(12);
    for (uint32_t i = 0; i < patternCount; ++i)
    {
        sMIDIMatchTrigger trigger;
        trigger.id = static_cast<int32_t>(i);
        if (i > 0 && random.Chance(15))
            trigger.id = static_cast<int32_t>(random.Below(i));
        if (i > 0 && random.Chance(40))
        {
            // Start from a prefix of an earlier pattern, possibly all of it.
            const auto& earlier = result.triggers[random.Below(i)].nibbles;
            const std::size_t bytes = random.Below(static_cast<uint32_t>(earlier.size() / 2) + 1);
            trigger.nibbles.assign(earlier.begin(), earlier.begin() + static_cast<std::ptrdiff_t>(2 * bytes));
        }
        const uint32_t extra = random.Chance(5) ? 0 : random.Below(4);
        for (uint32_t b = 0; b < extra || trigger.nibbles.empty(); ++b)
        {
            const uint8_t byte = alphabet[random.Below(alphabetSize)];
            for (const uint8_t value : {static_cast<uint8_t>(byte >> 4), static_cast<uint8_t>(byte & 0x0F)})
            {
                sMatchNibble nibble;
                if (random.Chance(25))
                    nibble.wildcard = true;
                else
                    nibble.value = value;
                trigger.nibbles.push_back(nibble);
            }
            if (random.Chance(3))
                break;
        }
        if (random.Chance(3))
            trigger.nibbles.clear();
        else if (random.Chance(3))
            trigger.nibbles.pop_back(); // odd: never fires, but shapes the tree
        result.triggers.push_back(trigger);
    }

    const uint32_t length = random.Below(400);
    while (result.stream.size() < length)
    {
        const uint32_t roll = random.Below(100);
        if (roll < 60)
        {
            // A pattern's bytes (or their start), wildcards filled with any nibble.
            const auto& nibbles = result.triggers[random.Below(patternCount)].nibbles;
            std::size_t count = nibbles.size() / 2;
            if (count > 0 && random.Chance(20))
                count = random.Below(static_cast<uint32_t>(count));
            for (std::size_t b = 0; b < count; ++b)
            {
                uint8_t byte = 0;
                for (std::size_t n = 2 * b; n < 2 * b + 2; ++n)
                    byte = static_cast<uint8_t>((byte << 4) | (nibbles[n].wildcard ? random.Below(16) : nibbles[n].value));
                result.stream.push_back(byte);
            }
        }
        else if (roll < 90)
        {
            result.stream.push_back(alphabet[random.Below(alphabetSize)]);
        }
        else
        {
            result.stream.push_back(static_cast<uint8_t>(random.Below(256)));
        }
    }
    return result;
}

QString Describe(const sRandomCase& Case)
{
    QStringList patterns;
    for (const sMIDIMatchTrigger& trigger : Case.triggers)
        patterns << QString::number(trigger.id) + QLatin1Char('=') + QString(TriggerText(trigger)).remove(QLatin1Char(' '));
    const QByteArray stream(reinterpret_cast<const char*>(Case.stream.data()), static_cast<int>(Case.stream.size()));
    return patterns.join(QLatin1Char(' ')) + QStringLiteral(" | ") + QString::fromLatin1(stream.toHex());
}
} // namespace

class tst_MIDIMatchManager : public QObject
{
    Q_OBJECT

private slots:
    void reportsMatchesInFiringOrder_data();
    void reportsMatchesInFiringOrder();
    void logsReusedIdentifierOnceAndKeepsBoth();
    void neverFiresFaultyPatterns_data();
    void neverFiresFaultyPatterns();
    void runsWithoutListener();
    void dropsBytesFedFromInsideReport();
    void takesPatternsAddedAfterBytes();
    void agreesWithReferenceOnRandomStreams();
};

void tst_MIDIMatchManager::reportsMatchesInFiringOrder_data()
{
    QTest::addColumn<QStringList>("patterns");
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("wildcard channel fires before exact channel")
        << QStringList{"1=B007??", "2=B?07??"} << QByteArray::fromHex("b00740")
        << QStringList{"2@2:b00740", "1@2:b00740"};
    QTest::newRow("wildcard first even when registered last")
        << QStringList{"2=B?07??", "1=B007??"} << QByteArray::fromHex("b00740")
        << QStringList{"2@2:b00740", "1@2:b00740"};
    QTest::newRow("same pattern twice fires in registration order")
        << QStringList{"4=B007??", "3=B007??"} << QByteArray::fromHex("b0077f")
        << QStringList{"4@2:b0077f", "3@2:b0077f"};
    QTest::newRow("overlapping matches of one trigger: second and fourth byte")
        << QStringList{"1=??07"} << QByteArray::fromHex("07070707") << QStringList{"1@1:0707", "1@3:0707"};
    QTest::newRow("one byte pattern fires for consecutive bytes")
        << QStringList{"1=F8"} << QByteArray::fromHex("f8f8f8") << QStringList{"1@0:f8", "1@1:f8", "1@2:f8"};
    QTest::newRow("clock byte inside a control change")
        << QStringList{"1=F8", "2=B007??"} << QByteArray::fromHex("b0f8077f") << QStringList{"1@1:f8"};
    QTest::newRow("reused identifier: both patterns fire")
        << QStringList{"5=B0", "5=B?"} << QByteArray::fromHex("b0b1")
        << QStringList{"5@0:b0", "5@0:b0", "5@1:b1"};
    QTest::newRow("empty pattern never fires")
        << QStringList{"1=", "2=90"} << QByteArray::fromHex("9000900090") << QStringList{"2@0:90", "2@2:90", "2@4:90"};
    QTest::newRow("prefix pattern fires at its last byte, longer one later")
        << QStringList{"1=F043", "2=F04310??"} << QByteArray::fromHex("f043103ef7")
        << QStringList{"1@1:f043", "2@3:f043103e"};
    QTest::newRow("long exclusive pattern, message spans the kept history")
        << QStringList{"1=F0" + QString("??").repeated(18) + "F7"}
        << QByteArray::fromHex("f8f0000102030405060708090a0b0c0d0e0f1011f7f0f7")
        << QStringList{"1@20:f0000102030405060708090a0b0c0d0e0f1011f7"};
    QTest::newRow("a report hides an overlapping match of the same trigger")
        << QStringList{"1=B?07??"} << QByteArray::fromHex("b007b00740") << QStringList{"1@2:b007b0"};
    QTest::newRow("a report does not hide a match of another trigger")
        << QStringList{"1=B0??", "2=07??"} << QByteArray::fromHex("b00740") << QStringList{"1@1:b007", "2@2:0740"};
    QTest::newRow("no patterns") << QStringList{} << QByteArray::fromHex("b0077f") << QStringList{};
}

void tst_MIDIMatchManager::reportsMatchesInFiringOrder()
{
    QFETCH(QStringList, patterns);
    QFETCH(QByteArray, stream);
    QFETCH(QStringList, expected);

    QCOMPARE(Run<cMIDIMatchManager>(patterns, stream), expected);
    // The reference must agree, or the randomised comparison below proves nothing.
    QCOMPARE(Run<cReferenceMatchManager>(patterns, stream), expected);
}

void tst_MIDIMatchManager::logsReusedIdentifierOnceAndKeepsBoth()
{
    cLogCapture capture;
    cRecordingListener listener;
    cMIDIMatchManager manager(&listener);
    Register(manager, {"7=B007??", "8=9???7F"});
    QCOMPARE(capture.Messages(), QStringList{});
    Register(manager, {"7=B107??"});
    QCOMPARE(capture.Messages(), QStringList{"Identifier 7 is alread in use"});
    QCOMPARE(capture.Files(), QStringList{"Common/MIDI/MIDIMatch/MIDIMatchManager.cpp"});

    Feed(manager, listener, QByteArray::fromHex("b00740b10741"));
    QCOMPARE(listener.mReports, (QStringList{"7@2:b00740", "7@5:b10741"}));
}

void tst_MIDIMatchManager::neverFiresFaultyPatterns_data()
{
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<int>("outOfRangeAt"); // nibble set to 16, or -1
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<QString>("message");

    // Alone, 1=B007?? fires before 2=0??? on b0 07 40. Each faulty pattern below gives the node
    // reached by b0 a wildcard child that goes on, so the match of 1 follows that path itself and
    // leaves b0 07 to a copy that joins the list after the match of 2 begun at 07.
    QTest::newRow("odd number of nibbles")
        << "B0??0" << -1 << QStringList{"2@2:0740", "1@2:b00740"}
        << "Pattern of identifier 9 has an odd number of nibbles (5); it never fires";
    QTest::newRow("one nibble") << "B" << -1 << QStringList{"1@2:b00740", "2@2:0740"}
                                << "Pattern of identifier 9 has an odd number of nibbles (1); it never fires";
    QTest::newRow("exact value above 15")
        << "B0?0" << 3 << QStringList{"2@2:0740", "1@2:b00740"}
        << "Pattern of identifier 9 has a nibble value out of range (16); it never fires";
}

void tst_MIDIMatchManager::neverFiresFaultyPatterns()
{
    QFETCH(QString, pattern);
    QFETCH(int, outOfRangeAt);
    QFETCH(QStringList, expected);
    QFETCH(QString, message);

    sMIDIMatchTrigger faulty = MakeTrigger(9, pattern);
    if (outOfRangeAt >= 0)
        faulty.nibbles[static_cast<std::size_t>(outOfRangeAt)].value = 16;

    cLogCapture capture;
    sBothManagers both;
    for (const sMIDIMatchTrigger& trigger : {MakeTrigger(1, "B007??"), MakeTrigger(2, "0???"), faulty})
        both.Add(trigger);
    QCOMPARE(capture.Messages().value(0), message);
    both.Feed(QByteArray::fromHex("b00740b0"));
    QCOMPARE(both.fastListener.mReports, expected);
    QCOMPARE(both.referenceListener.mReports, expected);
}

void tst_MIDIMatchManager::runsWithoutListener()
{
    cMIDIMatchManager manager(nullptr);
    manager.AddTrigger(MakeTrigger(1, "B007??"));
    for (const char byte : QByteArray::fromHex("b007b00740"))
        manager.ProcessByte(static_cast<uint8_t>(byte));
}

void tst_MIDIMatchManager::dropsBytesFedFromInsideReport()
{
    class cFeedingListener : public cRecordingListener
    {
    public:
        void MIDIMatchTriggered(int Id, const std::vector<uint8_t>& Message) override
        {
            cRecordingListener::MIDIMatchTriggered(Id, Message);
            mManager->ProcessByte(0xB0);
            mManager->ProcessByte(0x07);
        }
        cMIDIMatchManager* mManager = nullptr;
    };

    cLogCapture capture;
    cFeedingListener listener;
    cMIDIMatchManager manager(&listener);
    listener.mManager = &manager;
    Register(manager, {"1=B007??", "2=B?07??", "3=07??"});
    Feed(manager, listener, QByteArray::fromHex("b00740b10741"));
    QCOMPARE(listener.mReports, (QStringList{"2@2:b00740", "1@2:b00740", "3@2:0740", "2@5:b10741", "3@5:0741"}));
    QCOMPARE(capture.Messages().size(), 10);
    QCOMPARE(capture.Messages().value(0), QString("Byte 0xB0 fed to the match tree from inside one of its reports; it is dropped"));
}

void tst_MIDIMatchManager::takesPatternsAddedAfterBytes()
{
    // Registration normally ends before the first byte; a later one must still behave.
    sBothManagers both;
    const QList<QPair<QStringList, QByteArray>> steps{
        {{"1=B0"}, QByteArray::fromHex("b007b0")},
        {{"2=B007????", "3=07??"}, QByteArray::fromHex("0740b00701")},
        // 5 extends the path of a match already in progress (it began at byte 5) and is longer
        // than every earlier pattern, so the kept history has to grow without losing that match.
        {{"5=B007????????", "4=B00701020304050607"}, QByteArray::fromHex("020304b0070102030405060708")},
    };
    for (const auto& step : steps)
    {
        both.Register(step.first);
        both.Feed(step.second);
    }
    const QStringList& reports = both.fastListener.mReports;
    QCOMPARE(reports, both.referenceListener.mReports);
    // A match that began before its pattern existed does not count: b0 07 40 b0 at byte 2 is missed.
    QVERIFY(!reports.contains("2@5:b00740b0"));
    QVERIFY(reports.contains("2@8:b0070102"));
    QVERIFY(reports.contains("5@10:b00701020304"));
    QVERIFY(reports.contains("4@19:b00701020304050607"));
}

void tst_MIDIMatchManager::agreesWithReferenceOnRandomStreams()
{
    std::vector<uint32_t> seeds;
    for (uint32_t seed = 1; seed <= 3000; ++seed)
        seeds.push_back(seed);
    // QUILLON_MATCH_SEED replays one failing case.
    if (const char* extra = std::getenv("QUILLON_MATCH_SEED"))
        seeds.push_back(static_cast<uint32_t>(std::strtoul(extra, nullptr, 10)));

    for (const uint32_t seed : seeds)
    {
        const sRandomCase testCase = MakeRandomCase(seed);
        sBothManagers both;
        for (const sMIDIMatchTrigger& trigger : testCase.triggers)
            both.Add(trigger);
        both.Feed(QByteArray(reinterpret_cast<const char*>(testCase.stream.data()), static_cast<int>(testCase.stream.size())));

        const QStringList& fast = both.fastListener.mReports;
        const QStringList& reference = both.referenceListener.mReports;
        if (fast != reference)
        {
            int first = 0;
            while (first < fast.size() && first < reference.size() && fast[first] == reference[first])
                ++first;
            QFAIL(qPrintable(QStringLiteral("seed %1 (QUILLON_MATCH_SEED=%1): report %2 differs: %3 vs reference %4\n%5")
                                 .arg(seed)
                                 .arg(first)
                                 .arg(fast.value(first, "none"))
                                 .arg(reference.value(first, "none"))
                                 .arg(Describe(testCase))));
        }
    }
}

QTEST_GUILESS_MAIN(tst_MIDIMatchManager)
#include "tst_MIDIMatchManager.moc"
