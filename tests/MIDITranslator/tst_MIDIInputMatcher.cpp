#include "MIDITranslator/MIDIInputMatcher.h"
#include "Common/MIDI/MIDIMatch/MIDIMatchTriggerListener.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"
#include "tests/support/MatchTriggerText.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

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
} // namespace

// Every test starts with "Desk In" plugged in before its matcher is made, so the matcher binds at
// once; the patterns: 0 = b0 07 ??, 1 = f8 (clock), 2 = f0 00 20 ?? f7, 3 = 90 3e ??, 4 = fe.
class tst_MIDIInputMatcher : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void matchesTheStreamAsItWasSent_data();
    void matchesTheStreamAsItWasSent();
    void relaysOneReadSignalPerChunkAfterMatching();
    void followsThePortOfItsExactNameOnly();
    void survivesAPortDestroyedWithoutAnnouncement();

private:
    std::unique_ptr<cFakeSystemMIDIConfiguration> mRegistry;
    cFakeMIDIPort* mDesk = nullptr;
    std::unique_ptr<cRecordingListener> mListener;
    std::unique_ptr<cMIDIInputMatcher> mMatcher;
};

void tst_MIDIInputMatcher::init()
{
    mRegistry = std::make_unique<cFakeSystemMIDIConfiguration>();
    mDesk = mRegistry->PlugInput("Desk In");
    mListener = std::make_unique<cRecordingListener>();
    mMatcher = std::make_unique<cMIDIInputMatcher>("Desk In", mRegistry.get(), mListener.get(), nullptr);
    const QStringList patterns{"b0 07 ??", "f8", "f0 00 20 ?? f7", "90 3e ??", "fe"};
    for (int id = 0; id < patterns.size(); ++id)
        mMatcher->AddTrigger(MakeTrigger(id, patterns.at(id)));
}

void tst_MIDIInputMatcher::cleanup()
{
    mMatcher.reset();
    mListener.reset();
    mRegistry.reset();
}

void tst_MIDIInputMatcher::matchesTheStreamAsItWasSent_data()
{
    QTest::addColumn<QList<QByteArray>>("reads");
    QTest::addColumn<QStringList>("matches");

    QTest::newRow("running status restored")
        << QList<QByteArray>{Hex("903c7f3e7f")} << QStringList{"3:903e7f"};
    QTest::newRow("running status continued in the next read")
        << QList<QByteArray>{Hex("903c7f"), Hex("3e01")} << QStringList{"3:903e01"};
    QTest::newRow("exclusive message split across reads")
        << QList<QByteArray>{Hex("f000"), Hex("2005f7")} << QStringList{"2:f0002005f7"};
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
    QTest::newRow("fader cut short by the next fader is dropped")
        << QList<QByteArray>{Hex("b007b00710")} << QStringList{"0:b00710"};
    QTest::newRow("fader cut short at the seam of two reads is dropped")
        << QList<QByteArray>{Hex("b007"), Hex("b00710")} << QStringList{"0:b00710"};
    QTest::newRow("clock after a song select passes at once")
        << QList<QByteArray>{Hex("f305f8")} << QStringList{"1:f8"};
    QTest::newRow("clock inside song position is held too")
        << QList<QByteArray>{Hex("f210f820b00701")} << QStringList{"1:f8", "0:b00701"};
}

void tst_MIDIInputMatcher::matchesTheStreamAsItWasSent()
{
    QFETCH(QList<QByteArray>, reads);
    QFETCH(QStringList, matches);

    QSignalSpy relayed(mMatcher.get(), &cMIDIInputMatcher::MIDIInputReadSignal);
    for (int i = 0; i < reads.size(); ++i)
    {
        // One read per chunk, so the seam between reads is really exercised.
        mDesk->DeliverFromForeignThread(reads.at(i));
        QTRY_COMPARE(relayed.count(), i + 1);
    }
    QCOMPARE(mListener->mMatches, matches);
}

void tst_MIDIInputMatcher::relaysOneReadSignalPerChunkAfterMatching()
{
    QList<int> matchesSeenAtRelay;
    connect(mMatcher.get(), &cMIDIInputMatcher::MIDIInputReadSignal, this,
            [&] { matchesSeenAtRelay << mListener->mMatches.size(); });
    // Two chunks before the GUI thread runs: the first read takes both, the second finds nothing,
    // and each announcement is still relayed once, after its read.
    mDesk->DeliverFromForeignThread(QList<QByteArray>{Hex("b00701"), Hex("b00702")});
    QTRY_COMPARE(matchesSeenAtRelay.size(), 2);
    QCOMPARE(matchesSeenAtRelay, (QList<int>{2, 2}));
    QCOMPARE(mListener->mMatches, (QStringList{"0:b00701", "0:b00702"}));
}

void tst_MIDIInputMatcher::followsThePortOfItsExactNameOnly()
{
    // Made before its port exists; announcements of other names neither bind nor unbind it.
    cMIDIInputMatcher matcher("Link", mRegistry.get(), mListener.get(), nullptr);
    matcher.AddTrigger(MakeTrigger(7, "c0 ??"));
    QSignalSpy relayed(&matcher, &cMIDIInputMatcher::MIDIInputReadSignal);
    for (const char* other : {"link", "Link ", "Lin"})
        mRegistry->PlugInput(other);
    QCOMPARE(matcher.GetInput(), nullptr);

    cFakeMIDIPort first;
    cFakeMIDIPort second;
    mRegistry->AddInputOutput("Link", &first);
    mRegistry->UnplugInput("link");
    first.DeliverFromForeignThread(Hex("c001"));
    QTRY_COMPARE(relayed.count(), 1);

    // Replaced under its name: the old port is let go, also its relay.
    mRegistry->AddInputOutput("Link", &second);
    first.DeliverFromForeignThread(Hex("c002"));
    second.DeliverFromForeignThread(Hex("c003"));
    QTRY_COMPARE(relayed.count(), 2);
    QCOMPARE(first.DroppedChunkCount(), 1);

    // Removed, then back: nothing is taken meanwhile, and the patterns are still there.
    mRegistry->RemoveInputOutput("Link");
    QCOMPARE(matcher.GetInput(), nullptr);
    second.DeliverFromForeignThread(Hex("c004"));
    QCOMPARE(second.DroppedChunkCount(), 1);
    mRegistry->AddInputOutput("Link", &second);
    second.DeliverFromForeignThread(Hex("c005"));
    QTRY_COMPARE(relayed.count(), 3);
    QCOMPARE(mListener->mMatches, (QStringList{"7:c001", "7:c003", "7:c005"}));

    // A device pulled out and plugged in again is a new port object, followed as well.
    QSignalSpy deskRelayed(mMatcher.get(), &cMIDIInputMatcher::MIDIInputReadSignal);
    mRegistry->UnplugInput("Desk In");
    QCOMPARE(mMatcher->GetInput(), nullptr);
    mRegistry->PlugInput("Desk In")->DeliverFromForeignThread(Hex("b00701"));
    QTRY_COMPARE(deskRelayed.count(), 1);
    QCOMPARE(mListener->mMatches.last(), QString("0:b00701"));
}

void tst_MIDIInputMatcher::survivesAPortDestroyedWithoutAnnouncement()
{
    mRegistry->CreateVirtualInputOutput("DAW");
    cMIDIInputMatcher matcher("DAW", mRegistry.get(), mListener.get(), nullptr);
    matcher.AddTrigger(MakeTrigger(0, "90 ?? ??"));

    // A read is announced and queued, then the port goes away before the GUI thread gets to it.
    mRegistry->VirtualPort("DAW")->DeliverFromForeignThread(Hex("903c7f"));
    mRegistry->DeleteVirtualInputOutput("DAW");
    QCoreApplication::processEvents();
    QCOMPARE(matcher.GetInput(), nullptr);
    QVERIFY(mListener->mMatches.isEmpty());
}

QTEST_GUILESS_MAIN(tst_MIDIInputMatcher)
#include "tst_MIDIInputMatcher.moc"
