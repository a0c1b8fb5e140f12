#include "Common/MIDI/MidiMessageLength.h"

#include <QtTest>

class tst_MidiMessageLength : public QObject
{
    Q_OBJECT

private slots:
    void countsTheDataBytesOfEveryStatus_data();
    void countsTheDataBytesOfEveryStatus();
};

void tst_MidiMessageLength::countsTheDataBytesOfEveryStatus_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    QTest::addColumn<int>("dataBytes");
    QTest::newRow("data bytes begin nothing") << 0x00 << 0x7F << 0;
    QTest::newRow("note off, note on, poly pressure, control change") << 0x80 << 0xBF << 2;
    QTest::newRow("program change, channel pressure") << 0xC0 << 0xDF << 1;
    QTest::newRow("pitch bend") << 0xE0 << 0xEF << 2;
    QTest::newRow("exclusive") << 0xF0 << 0xF0 << int(cMidiMessageLength::kExclusive);
    QTest::newRow("quarter frame") << 0xF1 << 0xF1 << 1;
    QTest::newRow("song position") << 0xF2 << 0xF2 << 2;
    QTest::newRow("song select") << 0xF3 << 0xF3 << 1;
    QTest::newRow("undefined, tune request, end of exclusive") << 0xF4 << 0xF7 << 0;
    QTest::newRow("real-time") << 0xF8 << 0xFF << 0;
}

void tst_MidiMessageLength::countsTheDataBytesOfEveryStatus()
{
    QFETCH(int, first);
    QFETCH(int, last);
    QFETCH(int, dataBytes);
    for (int status = first; status <= last; ++status)
        QVERIFY2(cMidiMessageLength::DataBytes(uint8_t(status)) == dataBytes, qPrintable(QString::number(status, 16)));
}

QTEST_GUILESS_MAIN(tst_MidiMessageLength)
#include "tst_MidiMessageLength.moc"
