#include "MIDITranslator/MIDIInputMatcher.h"
#include "Common/MIDI/MIDIMatch/MIDIMatchTriggerListener.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"

#include <QSignalSpy>
#include <QtTest>

namespace
{
// Every match as "<id>:<hex bytes>", in the order the tree reported them.
class cRecordingListener : public cMIDIMatchTriggerListener
{
public:
    void MIDIMatchTriggered(int Id, const std::vector<uint8_t>& Message) override
    {
        QByteArray bytes(reinterpret_cast<const char*>(Message.data()), static_cast<int>(Message.size()));
        mMatches << QString("%1:%2").arg(Id).arg(QString::fromLatin1(bytes.toHex()));
    }
    QStringList mMatches;
};

QByteArray Hex(const char* Text)
{
    return QByteArray::fromHex(Text);
}

// "b0 07 ??" -> the nibble pattern, '?' a wildcard nibble.
sMIDIMatchTrigger Trigger(int Id, const QString& Pattern)
{
    sMIDIMatchTrigger trigger;
    trigger.id = Id;
    const QString compact = QString(Pattern).remove(' ');
    for (const QChar c : compact)
    {
        sMatchNibble nibble;
        if (c == '?')
            nibble.wildcard = true;
        else
            nibble.value = static_cast<uint8_t>(QString(c).toUInt(nullptr, 16));
        trigger.nibbles.push_back(nibble);
    }
    return trigger;
}
} // namespace

class tst_MIDIInputMatcher : public QObject
{
    Q_OBJECT

private slots:
    void bindsAtOnceWhenThePortExists();
    void bindsWhenThePortIsPluggedInLater();
    void rebindsAfterUnplugAndReplugKeepingItsPatterns();
    void stopsTakingBytesWhenThePortIsRemoved();
    void restoresRunningStatusBeforeMatching();
    void matchesAMessageSplitAcrossReads();
    void realTimeBytesInsideAMessageFollowIt_data();
    void realTimeBytesInsideAMessageFollowIt();
    void ignoresAnnouncementsForOtherNames_data();
    void ignoresAnnouncementsForOtherNames();
    void relaysOneReadSignalPerChunkAfterMatching();
    void survivesAPortDestroyedWithoutAnnouncement();
    void setInputRebindsByHand();
};

void tst_MIDIInputMatcher::bindsAtOnceWhenThePortExists()
{
    cFakeSystemMIDIConfiguration registry;
    cFakeMIDIPort* port = registry.PlugInput("Desk In");
    cRecordingListener listener;
    cMIDIInputMatcher matcher("Desk In", &registry, &listener, nullptr);
    QCOMPARE(matcher.GetInput(), static_cast<cMIDIInput*>(port));
    matcher.AddTrigger(Trigger(4, "b0 07 ??"));

    QSignalSpy reads(&matcher, &cMIDIInputMatcher::MIDIInputReadSignal);
    port->DeliverFromForeignThread(QByteArray::fromHex("b00740"));
    QTRY_COMPARE(reads.count(), 1);
    QCOMPARE(listener.mMatches, QStringList{"4:b00740"});
}

void tst_MIDIInputMatcher::bindsWhenThePortIsPluggedInLater()
{
    cFakeSystemMIDIConfiguration registry;
    cRecordingListener listener;
    cMIDIInputMatcher matcher("Desk In", &registry, &listener, nullptr);
    matcher.AddTrigger(Trigger(0, "90 3c ??"));
    QCOMPARE(matcher.GetInput(), nullptr);

    cFakeMIDIPort* port = registry.PlugInput("Desk In");
    QCOMPARE(matcher.GetInput(), static_cast<cMIDIInput*>(port));
    QSignalSpy reads(&matcher, &cMIDIInputMatcher::MIDIInputReadSignal);
    port->DeliverFromForeignThread(QByteArray::fromHex("903c64"));
    QTRY_COMPARE(reads.count(), 1);
    QCOMPARE(listener.mMatches, QStringList{"0:903c64"});
}

void tst_MIDIInputMatcher::rebindsAfterUnplugAndReplugKeepingItsPatterns()
{
    cFakeSystemMIDIConfiguration registry;
    registry.PlugInput("Desk In");
    cRecordingListener listener;
    cMIDIInputMatcher matcher("Desk In", &registry, &listener, nullptr);
    matcher.AddTrigger(Trigger(2, "b0 07 ??"));

    registry.UnplugInput("Desk In");
    QCOMPARE(matcher.GetInput(), nullptr);
    cFakeMIDIPort* again = registry.PlugInput("Desk In");
    QCOMPARE(matcher.GetInput(), static_cast<cMIDIInput*>(again));

    QSignalSpy reads(&matcher, &cMIDIInputMatcher::MIDIInputReadSignal);
    again->DeliverFromForeignThread(QByteArray::fromHex("b0077f"));
    QTRY_COMPARE(reads.count(), 1);
    QCOMPARE(listener.mMatches, QStringList{"2:b0077f"});
}

void tst_MIDIInputMatcher::stopsTakingBytesWhenThePortIsRemoved()
{
    cFakeSystemMIDIConfiguration registry;
    cFakeMIDIPort link;
    registry.AddInputOutput("Link", &link);
    cRecordingListener listener;
    cMIDIInputMatcher matcher("Link", &registry, &listener, nullptr);
    matcher.AddTrigger(Trigger(1, "f8"));

    registry.RemoveInputOutput("Link");
    QCOMPARE(matcher.GetInput(), nullptr);
    // Nobody listens to the port any more, so it drops what arrives.
    link.DeliverFromForeignThread(QByteArray::fromHex("f8"));
    QCoreApplication::processEvents();
    QCOMPARE(link.DroppedChunkCount(), 1);
    QVERIFY(listener.mMatches.isEmpty());
}

void tst_MIDIInputMatcher::restoresRunningStatusBeforeMatching()
{
    cFakeSystemMIDIConfiguration registry;
    cFakeMIDIPort* port = registry.PlugInput("Desk In");
    cRecordingListener listener;
    cMIDIInputMatcher matcher("Desk In", &registry, &listener, nullptr);
    matcher.AddTrigger(Trigger(7, "90 3e ??"));

    QSignalSpy reads(&matcher, &cMIDIInputMatcher::MIDIInputReadSignal);
    port->DeliverFromForeignThread(QByteArray::fromHex("903c7f3e7f"));
    QTRY_COMPARE(reads.count(), 1);
    QCOMPARE(listener.mMatches, QStringList{"7:903e7f"});

    // Running status that continues in the next read is restored too.
    port->DeliverFromForeignThread(QByteArray::fromHex("3e01"));
    QTRY_COMPARE(reads.count(), 2);
    QCOMPARE(listener.mMatches, (QStringList{"7:903e7f", "7:903e01"}));
}

void tst_MIDIInputMatcher::matchesAMessageSplitAcrossReads()
{
    cFakeSystemMIDIConfiguration registry;
    cFakeMIDIPort* port = registry.PlugInput("Desk In");
    cRecordingListener listener;
    cMIDIInputMatcher matcher("Desk In", &registry, &listener, nullptr);
    matcher.AddTrigger(Trigger(3, "f0 00 20 ?? f7"));

    QSignalSpy reads(&matcher, &cMIDIInputMatcher::MIDIInputReadSignal);
    port->DeliverFromForeignThread(QByteArray::fromHex("f000"));
    QTRY_COMPARE(reads.count(), 1);
    QVERIFY(listener.mMatches.isEmpty());
    port->DeliverFromForeignThread(QByteArray::fromHex("2005f7"));
    QTRY_COMPARE(reads.count(), 2);
    QCOMPARE(listener.mMatches, QStringList{"3:f0002005f7"});
}

void tst_MIDIInputMatcher::realTimeBytesInsideAMessageFollowIt_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QStringList>("matches");

    // Patterns: 0 = b0 07 ??, 1 = f8 (clock), 2 = f0 00 20 ?? f7, 3 = 90 3e ??, 4 = fe (active sensing).
    QTest::newRow("clock inside a fader message")
        << QList<QByteArray>{Hex("b007f840")} << QStringList{"0:b00740", "1:f8"};
    QTest::newRow("clock and active sensing inside one message, kept in order")
        << QList<QByteArray>{Hex("b0f807fe40")} << QStringList{"0:b00740", "1:f8", "4:fe"};
    QTest::newRow("clock between messages stays in place")
        << QList<QByteArray>{Hex("f8b00740f8")} << QStringList{"1:f8", "0:b00740", "1:f8"};
    QTest::newRow("clock inside running status")
        << QList<QByteArray>{Hex("903c7f3ef87f")} << QStringList{"3:903e7f", "1:f8"};
    QTest::newRow("clock at the seam of two reads")
        << QList<QByteArray>{Hex("b007"), Hex("f840")} << QStringList{"0:b00740", "1:f8"};
    QTest::newRow("clock inside an exclusive message")
        << QList<QByteArray>{Hex("f000f82005"), Hex("f7")} << QStringList{"2:f0002005f7", "1:f8"};
    QTest::newRow("message cut short by a status byte releases the clock first")
        << QList<QByteArray>{Hex("c0f8903e01")} << QStringList{"1:f8", "3:903e01"};
    QTest::newRow("clock inside song position is held too")
        << QList<QByteArray>{Hex("f210f820b00701")} << QStringList{"1:f8", "0:b00701"};
}

void tst_MIDIInputMatcher::realTimeBytesInsideAMessageFollowIt()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QStringList, matches);

    cFakeSystemMIDIConfiguration registry;
    cFakeMIDIPort* port = registry.PlugInput("Desk In");
    cRecordingListener listener;
    cMIDIInputMatcher matcher("Desk In", &registry, &listener, nullptr);
    matcher.AddTrigger(Trigger(0, "b0 07 ??"));
    matcher.AddTrigger(Trigger(1, "f8"));
    matcher.AddTrigger(Trigger(2, "f0 00 20 ?? f7"));
    matcher.AddTrigger(Trigger(3, "90 3e ??"));
    matcher.AddTrigger(Trigger(4, "fe"));

    QSignalSpy relayed(&matcher, &cMIDIInputMatcher::MIDIInputReadSignal);
    for (int i = 0; i < reads.size(); ++i)
    {
        // One read per chunk, so the seam between reads is really exercised.
        port->DeliverFromForeignThread(reads.at(i));
        QTRY_COMPARE(relayed.count(), i + 1);
    }
    QCOMPARE(listener.mMatches, matches);
}

void tst_MIDIInputMatcher::ignoresAnnouncementsForOtherNames_data()
{
    QTest::addColumn<QString>("plugged");
    QTest::newRow("other case") << "desk in";
    QTest::newRow("trailing blank") << "Desk In ";
    QTest::newRow("prefix") << "Desk";
}

void tst_MIDIInputMatcher::ignoresAnnouncementsForOtherNames()
{
    QFETCH(QString, plugged);
    cFakeSystemMIDIConfiguration registry;
    cRecordingListener listener;
    cMIDIInputMatcher matcher("Desk In", &registry, &listener, nullptr);
    registry.PlugInput(plugged);
    QCOMPARE(matcher.GetInput(), nullptr);

    // And the removal of another name leaves a bound matcher bound.
    cFakeMIDIPort* port = registry.PlugInput("Desk In");
    registry.UnplugInput(plugged);
    QCOMPARE(matcher.GetInput(), static_cast<cMIDIInput*>(port));
}

void tst_MIDIInputMatcher::relaysOneReadSignalPerChunkAfterMatching()
{
    cFakeSystemMIDIConfiguration registry;
    cFakeMIDIPort* port = registry.PlugInput("Desk In");
    cRecordingListener listener;
    cMIDIInputMatcher matcher("Desk In", &registry, &listener, nullptr);
    matcher.AddTrigger(Trigger(0, "b0 07 ??"));

    QList<int> matchesSeenAtRelay;
    connect(&matcher, &cMIDIInputMatcher::MIDIInputReadSignal, this,
            [&] { matchesSeenAtRelay << listener.mMatches.size(); });
    // Two chunks before the GUI thread runs: the first read takes both, the second finds nothing,
    // and each announcement is still relayed once, after its read.
    port->DeliverFromForeignThread(QList<QByteArray>{QByteArray::fromHex("b00701"), QByteArray::fromHex("b00702")});
    QTRY_COMPARE(matchesSeenAtRelay.size(), 2);
    QCOMPARE(matchesSeenAtRelay, (QList<int>{2, 2}));
    QCOMPARE(listener.mMatches, (QStringList{"0:b00701", "0:b00702"}));
}

void tst_MIDIInputMatcher::survivesAPortDestroyedWithoutAnnouncement()
{
    cFakeSystemMIDIConfiguration registry;
    registry.CreateVirtualInputOutput("DAW");
    cRecordingListener listener;
    cMIDIInputMatcher matcher("DAW", &registry, &listener, nullptr);
    matcher.AddTrigger(Trigger(0, "90 ?? ??"));

    // A read is announced and queued, then the port goes away before the GUI thread gets to it.
    registry.VirtualPort("DAW")->DeliverFromForeignThread(QByteArray::fromHex("903c7f"));
    registry.DeleteVirtualInputOutput("DAW");
    QCoreApplication::processEvents();
    QCOMPARE(matcher.GetInput(), nullptr);
    QVERIFY(listener.mMatches.isEmpty());

    // A new port of the name binds it again only when announced; virtual ports are not announced,
    // so the matcher stays unbound until it is rebuilt.
    registry.CreateVirtualInputOutput("DAW");
    QCOMPARE(matcher.GetInput(), nullptr);
}

void tst_MIDIInputMatcher::setInputRebindsByHand()
{
    cFakeSystemMIDIConfiguration registry;
    cRecordingListener listener;
    cMIDIInputMatcher matcher("Desk In", &registry, &listener, nullptr);
    matcher.AddTrigger(Trigger(0, "c0 ??"));
    cFakeMIDIPort first;
    cFakeMIDIPort second;
    matcher.SetInput(&first);
    matcher.SetInput(&second);

    QSignalSpy reads(&matcher, &cMIDIInputMatcher::MIDIInputReadSignal);
    first.DeliverFromForeignThread(QByteArray::fromHex("c001"));
    second.DeliverFromForeignThread(QByteArray::fromHex("c002"));
    QTRY_COMPARE(reads.count(), 1);
    QCOMPARE(listener.mMatches, QStringList{"0:c002"});
    QCOMPARE(first.DroppedChunkCount(), 1);

    matcher.SetInput(nullptr);
    second.DeliverFromForeignThread(QByteArray::fromHex("c003"));
    QCoreApplication::processEvents();
    QCOMPARE(listener.mMatches.size(), 1);
}

QTEST_GUILESS_MAIN(tst_MIDIInputMatcher)
#include "tst_MIDIInputMatcher.moc"
