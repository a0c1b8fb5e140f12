#include "Common/MIDI/MIDIInputWin.h"
#include "Common/MIDI/MIDIOutputWin.h"
#include "tests/Common/MIDI/Win/Announcements.h"
#include "tests/support/LogCapture.h"
#include "tests/support/winapi/WinApiSimulation.h"

#include <QtTest>

#include <memory>

// System MIDI ports on WinMM, run through the Windows API simulation: input arriving on WinMM's
// thread, the exclusive buffer's round trips, every failure's log line, and output as one buffer
// that the driver is done with before Write returns.
class tst_MIDIPortsWin : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void takesEachShortMessageWithItsOwnLength_data();
    void takesEachShortMessageWithItsOwnLength();
    void queuesTheExclusiveBufferAgainAfterEachMessage_data();
    void queuesTheExclusiveBufferAgainAfterEachMessage();
    void dropsBytesWhileNobodyListens();
    void logsEachInputFailureAndUndoesOnlyWhatWasDone_data();
    void logsEachInputFailureAndUndoesOnlyWhatWasDone();
    void writesEachCallAsOneBufferTheDriverHasFinished_data();
    void writesEachCallAsOneBufferTheDriverHasFinished();
    void logsOutputFailuresWithoutSending_data();
    void logsOutputFailuresWithoutSending();

private:
    std::unique_ptr<cAnnouncements> mHeard;
};

namespace
{
const QString kIn = QStringLiteral("usb#vid_0a1b#desk-in");
const QString kOut = QStringLiteral("usb#vid_0a1b#desk-out");

// WinMM calls on the device at Path, as the simulation records them: "<step> <Path>", or the step
// with Path put in for %1.
QStringList Calls(const QString& Path, const QStringList& Steps)
{
    QStringList calls;
    for (const QString& step : Steps)
        calls << (step.contains(QLatin1String("%1")) ? step.arg(Path) : step + ' ' + Path);
    return calls;
}
} // namespace

void tst_MIDIPortsWin::init()
{
    cWinApiSimulation::Reset();
    cWinApiSimulation::PlugInput({"Desk", kIn});
    cWinApiSimulation::PlugOutput({"Desk", kOut});
    mHeard = std::make_unique<cAnnouncements>();
}

void tst_MIDIPortsWin::cleanup()
{
    mHeard.reset();
    cWinApiSimulation::Reset();
}

void tst_MIDIPortsWin::takesEachShortMessageWithItsOwnLength_data()
{
    QTest::addColumn<uint>("message");
    QTest::addColumn<uint>("packed");
    QTest::addColumn<QByteArray>("expected");

    // One row for each length of channel and system messages (the lengths themselves come from the
    // shared table of message lengths). Bytes above a message's own length carry leftovers, as
    // drivers leave them.
    QTest::newRow("note on") << uint(MIM_DATA) << 0x7F3C90u << QByteArray::fromHex("903c7f");
    QTest::newRow("note off, more data") << uint(MIM_MOREDATA) << 0x403C80u << QByteArray::fromHex("803c40");
    QTest::newRow("program change, leftover byte") << uint(MIM_DATA) << 0x7705C3u << QByteArray::fromHex("c305");
    QTest::newRow("pitch bend") << uint(MIM_DATA) << 0x4000E5u << QByteArray::fromHex("e50040");
    QTest::newRow("time code quarter frame") << uint(MIM_DATA) << 0x0021F1u << QByteArray::fromHex("f121");
    QTest::newRow("song position") << uint(MIM_DATA) << 0x2010F2u << QByteArray::fromHex("f21020");
    QTest::newRow("tune request, leftovers") << uint(MIM_DATA) << 0x1234F6u << QByteArray::fromHex("f6");
    QTest::newRow("active sensing") << uint(MIM_MOREDATA) << 0x0000FEu << QByteArray::fromHex("fe");
    QTest::newRow("system reset") << uint(MIM_DATA) << 0x0000FFu << QByteArray::fromHex("ff");
    QTest::newRow("open message ignored") << uint(MIM_OPEN) << 0x7F3C90u << QByteArray();
    QTest::newRow("error message ignored") << uint(MIM_ERROR) << 0x7F3C90u << QByteArray();
}

void tst_MIDIPortsWin::takesEachShortMessageWithItsOwnLength()
{
    QFETCH(uint, message);
    QFETCH(uint, packed);
    QFETCH(QByteArray, expected);

    cMIDIInputWin port(0, nullptr);
    mHeard->Listen(&port);
    QVERIFY(cWinApiSimulation::DeliverShortMessage(kIn, packed, message));
    // Twice: the second chunk lands behind the first, whatever the reader has not taken yet.
    QVERIFY(cWinApiSimulation::DeliverShortMessage(kIn, packed, message));
    QByteArray read;
    port.Read(read);
    QCOMPARE(read, expected + expected);
    port.Read(read);
    QCOMPARE(read, QByteArray());
    if (!expected.isEmpty())
        QTRY_COMPARE(mHeard->Count, 2);
    QCoreApplication::processEvents();
    QCOMPARE(mHeard->Count, expected.isEmpty() ? 0 : 2);
    QVERIFY(!mHeard->OffGuiThread);
}

void tst_MIDIPortsWin::queuesTheExclusiveBufferAgainAfterEachMessage_data()
{
    QTest::addColumn<QList<QByteArray>>("messages");
    QTest::addColumn<int>("buffersReturned");

    const QByteArray identity = QByteArray::fromHex("f07e7f0601f7");
    QTest::newRow("one message") << QList<QByteArray>{identity} << 1;
    QTest::newRow("two messages, the buffer reused") << QList<QByteArray>{identity, QByteArray::fromHex("f0002001f7")} << 2;
    QByteArray huge(int(cMIDIInputWin::kExclusiveBufferSize) + 100, '\x11');
    huge[0] = char(0xF0);
    huge[huge.size() - 1] = char(0xF7);
    QTest::newRow("longer than the buffer, in two pieces") << QList<QByteArray>{huge} << 2;
}

void tst_MIDIPortsWin::queuesTheExclusiveBufferAgainAfterEachMessage()
{
    QFETCH(QList<QByteArray>, messages);
    QFETCH(int, buffersReturned);

    auto port = std::make_unique<cMIDIInputWin>(0, nullptr);
    mHeard->Listen(port.get());
    QCOMPARE(cWinApiSimulation::QueuedExclusiveBuffers(kIn), 1);
    int returned = 0;
    QByteArray all;
    for (const QByteArray& message : messages)
    {
        returned += cWinApiSimulation::DeliverExclusive(kIn, message);
        all += message;
    }
    QCOMPARE(returned, buffersReturned);
    QCOMPARE(cWinApiSimulation::QueuedExclusiveBuffers(kIn), 1);
    QByteArray read;
    port->Read(read);
    QCOMPARE(read, all);

    // A buffer back with nothing in it, as after a reset, is not queued again and brings nothing.
    QVERIFY(cWinApiSimulation::ReturnEmptyExclusive(kIn));
    QCOMPARE(cWinApiSimulation::QueuedExclusiveBuffers(kIn), 0);
    QCOMPARE(cWinApiSimulation::DeliverExclusive(kIn, QByteArray::fromHex("f001f7")), 0);
    port->Read(read);
    QCOMPARE(read, QByteArray());

    // Closing a port whose buffer is queued: the reset hands it back empty and it stays back.
    port.reset();
    port = std::make_unique<cMIDIInputWin>(0, nullptr);
    cWinApiSimulation::ClearCalls();
    port.reset();
    QCOMPARE(cWinApiSimulation::Calls(), Calls(kIn, {"midiInReset", "midiInStop", "midiInUnprepareHeader", "midiInClose"}));
    QVERIFY(!cWinApiSimulation::IsInputOpen(kIn));
}

void tst_MIDIPortsWin::dropsBytesWhileNobodyListens()
{
    cMIDIInputWin port(0, nullptr);
    QVERIFY(cWinApiSimulation::DeliverShortMessage(kIn, 0x7F3C90u));
    QCOMPARE(cWinApiSimulation::DeliverExclusive(kIn, QByteArray::fromHex("f001f7")), 1);
    // Even without a listener the buffer goes back to the driver.
    QCOMPARE(cWinApiSimulation::QueuedExclusiveBuffers(kIn), 1);
    mHeard->Listen(&port);
    QByteArray read;
    port.Read(read);
    QCOMPARE(read, QByteArray());
}

void tst_MIDIPortsWin::logsEachInputFailureAndUndoesOnlyWhatWasDone_data()
{
    QTest::addColumn<uint>("deviceIndex");
    QTest::addColumn<QString>("failing");
    QTest::addColumn<uint>("result");
    QTest::addColumn<bool>("hears");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("calls");

    const QStringList closing{"midiInReset", "midiInStop", "midiInUnprepareHeader", "midiInClose"};
    const QStringList all = QStringList{"midiInOpen", "midiInStart", "midiInPrepareHeader", "midiInAddBuffer"} + closing;
    QTest::newRow("all well") << 0u << QString() << 0u << true << QStringList() << Calls(kIn, all);
    QTest::newRow("invalid device index") << 7u << QString() << 0u << false << QStringList{"Failed to open MIDI input device"}
                                          << QStringList{"midiInOpen #7"};
    QTest::newRow("open fails") << 0u << "midiInOpen" << uint(MMSYSERR_ALLOCATED) << false << QStringList{"Failed to open MIDI input device"}
                                << Calls(kIn, {"midiInOpen"});
    QTest::newRow("start fails") << 0u << "midiInStart" << uint(MMSYSERR_ERROR) << false << QStringList{"Failed to start MIDI Rx"}
                                 << Calls(kIn, {"midiInOpen", "midiInStart", "midiInReset", "midiInStop", "midiInClose"});
    QTest::newRow("prepare fails") << 0u << "midiInPrepareHeader" << uint(MMSYSERR_NOMEM) << true
                                   << QStringList{"Failed to prepare SysEx RX buffer header"}
                                   << Calls(kIn, {"midiInOpen", "midiInStart", "midiInPrepareHeader", "midiInReset", "midiInStop", "midiInClose"});
    QTest::newRow("queueing fails") << 0u << "midiInAddBuffer" << uint(MMSYSERR_NOMEM) << true << QStringList{"Failed to allocate SysEx RX buffer"}
                                    << Calls(kIn, all);
    // The closing steps all run, whichever of them fails.
    // A failed reset leaves the buffer with the driver, so unpreparing and closing fail as well.
    QTest::newRow("reset fails") << 0u << "midiInReset" << uint(MMSYSERR_INVALHANDLE) << true
                                 << QStringList{"Failed to reset MIDI Rx 5", "Failed to unallocate SysEx Rx buffer 65",
                                                "Failed to close MIDI input device 65"}
                                 << Calls(kIn, all);
    QTest::newRow("stop fails") << 0u << "midiInStop" << uint(MMSYSERR_ERROR) << true << QStringList{"Failed to stop MIDI Rx 1"}
                                << Calls(kIn, all);
    QTest::newRow("unprepare fails") << 0u << "midiInUnprepareHeader" << uint(MIDIERR_STILLPLAYING) << true
                                     << QStringList{"Failed to unallocate SysEx Rx buffer 65"} << Calls(kIn, all);
    QTest::newRow("close fails") << 0u << "midiInClose" << uint(MMSYSERR_INVALPARAM) << true << QStringList{"Failed to close MIDI input device 11"}
                                 << Calls(kIn, all);
}

void tst_MIDIPortsWin::logsEachInputFailureAndUndoesOnlyWhatWasDone()
{
    QFETCH(uint, deviceIndex);
    QFETCH(QString, failing);
    QFETCH(uint, result);
    QFETCH(bool, hears);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, calls);

    cLogCapture log;
    if (!failing.isEmpty())
        cWinApiSimulation::FailNext(failing, result);
    {
        cMIDIInputWin port(deviceIndex, nullptr);
        mHeard->Listen(&port);
        // A port that did not open or start hears nothing and never announces anything.
        QCOMPARE(cWinApiSimulation::DeliverShortMessage(kIn, 0x7F3C90u), hears);
        if (hears)
            QTRY_COMPARE(mHeard->Count, 1);
        QCoreApplication::processEvents();
        QCOMPARE(mHeard->Count, hears ? 1 : 0);
    }
    QCOMPARE(log.Messages(), messages);
    for (const QString& file : log.Files())
        QVERIFY2(file.endsWith("MIDIInputWin.cpp"), qPrintable(file));
    QCOMPARE(cWinApiSimulation::Calls(), calls);
}

void tst_MIDIPortsWin::writesEachCallAsOneBufferTheDriverHasFinished_data()
{
    QTest::addColumn<int>("completion");
    QTest::addColumn<QByteArray>("bytes");

    const int immediate = int(cWinApiSimulation::eOutputCompletion::Immediate);
    const int later = int(cWinApiSimulation::eOutputCompletion::Later);
    QTest::newRow("note on") << immediate << QByteArray::fromHex("903c7f");
    QTest::newRow("two messages in one call") << immediate << QByteArray::fromHex("903c7fb00764");
    QTest::newRow("exclusive message") << immediate << QByteArray::fromHex("f0002001060100f7");
    QTest::newRow("a lone data byte, as it is") << immediate << QByteArray::fromHex("3c");
    QTest::newRow("note on, driver finishes later") << later << QByteArray::fromHex("903c7f");
    QTest::newRow("long exclusive message, driver finishes later") << later << QByteArray(2000, '\x22').prepend('\xF0').append('\xF7');
}

void tst_MIDIPortsWin::writesEachCallAsOneBufferTheDriverHasFinished()
{
    QFETCH(int, completion);
    QFETCH(QByteArray, bytes);

    cLogCapture log;
    cWinApiSimulation::SetOutputCompletion(cWinApiSimulation::eOutputCompletion(completion));
    cMIDIOutputWin port(0);
    cWinApiSimulation::ClearCalls();
    {
        // The caller's bytes go away as soon as Write returns; the driver reads them when it
        // finishes, so Write must not return before.
        QByteArray passing(bytes.constData(), bytes.size());
        port.Write(passing);
        passing.fill('\x00');
    }
    QCOMPARE(cWinApiSimulation::SentToDevice(kOut), QList<QByteArray>{bytes});
    QCOMPARE(cWinApiSimulation::Calls(),
             Calls(kOut, {"midiOutPrepareHeader", "midiOutLongMsg %1 " + QString::fromLatin1(bytes.toHex(' ')), "midiOutUnprepareHeader"}));
    QCOMPARE(log.Lines(), QStringList());
}

void tst_MIDIPortsWin::logsOutputFailuresWithoutSending_data()
{
    QTest::addColumn<QString>("failing");
    QTest::addColumn<uint>("result");
    QTest::addColumn<bool>("driverNeverFinishes");
    QTest::addColumn<bool>("sent");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<QStringList>("calls");

    const QStringList sending{"midiOutOpen", "midiOutPrepareHeader", "midiOutLongMsg %1 90 3c 7f"};
    const QStringList done{"midiOutUnprepareHeader", "midiOutClose"};
    QTest::newRow("open fails") << "midiOutOpen" << uint(MMSYSERR_ALLOCATED) << false << false << QStringList{"Failed to open MIDI output device"}
                                << Calls(kOut, {"midiOutOpen"});
    QTest::newRow("prepare fails") << "midiOutPrepareHeader" << uint(MMSYSERR_NOMEM) << false << false << QStringList()
                                   << Calls(kOut, {"midiOutOpen", "midiOutPrepareHeader", "midiOutClose"});
    QTest::newRow("sending fails") << "midiOutLongMsg" << uint(MMSYSERR_ERROR) << false << false << QStringList() << Calls(kOut, sending + done);
    QTest::newRow("close fails") << "midiOutClose" << uint(MMSYSERR_ERROR) << false << true << QStringList{"Failed to close MIDI output device"}
                                 << Calls(kOut, sending + done);
    // A device that never hands the buffer back is reset, so the buffer is free before Write returns.
    QTest::newRow("driver never finishes")
        << QString() << 0u << true << false
        << QStringList{QStringLiteral("MIDI output device took longer than %1 ms to send 3 bytes; output reset").arg(cMIDIOutputWin::SendTimeoutMs(3))}
        << Calls(kOut, sending + QStringList{"midiOutReset"} + done);
}

void tst_MIDIPortsWin::logsOutputFailuresWithoutSending()
{
    QFETCH(QString, failing);
    QFETCH(uint, result);
    QFETCH(bool, driverNeverFinishes);
    QFETCH(bool, sent);
    QFETCH(QStringList, messages);
    QFETCH(QStringList, calls);

    cLogCapture log;
    if (!failing.isEmpty())
        cWinApiSimulation::FailNext(failing, result);
    if (driverNeverFinishes)
        cWinApiSimulation::SetOutputCompletion(cWinApiSimulation::eOutputCompletion::Never);
    {
        cMIDIOutputWin port(0);
        port.Write(QByteArray::fromHex("903c7f"));
    }
    QCOMPARE(cWinApiSimulation::SentToDevice(kOut), sent ? QList<QByteArray>{QByteArray::fromHex("903c7f")} : QList<QByteArray>());
    QCOMPARE(log.Messages(), messages);
    for (const QString& file : log.Files())
        QVERIFY2(file.endsWith("MIDIOutputWin.cpp"), qPrintable(file));
    QCOMPARE(cWinApiSimulation::Calls(), calls);
}

QTEST_GUILESS_MAIN(tst_MIDIPortsWin)
#include "tst_MIDIPortsWin.moc"
