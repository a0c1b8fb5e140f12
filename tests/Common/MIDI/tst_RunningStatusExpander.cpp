// Running-status expansion: a table of what each kind of byte does, and console traffic expanded in
// one read equals the same traffic expanded in random pieces. Edge cases beyond these (stray end
// bytes, cut messages) are fuzz/fuzz_midi_stream's, checked against a second formulation there.

#include "Common/MIDI/RunningStatusExpander.h"
#include "tests/support/ConsoleTraffic.h"

#include <QtTest>

#include <random>
#include <vector>

using tBytes = std::vector<uint8_t>;

class tst_RunningStatusExpander : public QObject
{
    Q_OBJECT

private slots:
    void insertsStatusBytes_data();
    void insertsStatusBytes();
    void givesTheSameStreamWhateverTheReadSizes();
};

void tst_RunningStatusExpander::insertsStatusBytes_data()
{
    QTest::addColumn<QStringList>("reads");
    QTest::addColumn<QByteArray>("expected");

    auto row = [](const char* Name, QStringList ReadsHex, const char* ExpectedHex) {
        QTest::newRow(Name) << ReadsHex << QByteArray::fromHex(ExpectedHex);
    };
    row("running status, notes and channel pressure", {"903c7f3e7fd11011"}, "903c7f903e7fd110d111");
    row("exclusive, system common and data before any status unchanged", {"0102f00102f703f210203040"}, "0102f00102f703f210203040");
    row("real-time bytes stay in place and keep running status", {"903cf87f3efe7fc005f806"}, "903cf87f903efe7fc005f8c006");
    row("running status across reads, empty ones too", {"903c7f3e", "", "7f4000", "b0", "0764"}, "903c7f903e7f904000b00764");
    row("exclusive data across reads is never expanded", {"903c7ff0", "0102", "03f7"}, "903c7ff0010203f7");
}

void tst_RunningStatusExpander::insertsStatusBytes()
{
    QFETCH(QStringList, reads);
    QFETCH(QByteArray, expected);

    cRunningStatusExpander expander;
    QByteArray output;
    tBytes out = {0x01, 0x02, 0x03}; // stale bytes must be replaced, not appended to
    for (const QString& read : reads)
    {
        const QByteArray bytes = QByteArray::fromHex(read.toLatin1());
        expander.Expand(tBytes(bytes.begin(), bytes.end()), out);
        output += QByteArray(reinterpret_cast<const char*>(out.data()), int(out.size()));
    }
    QCOMPARE(output.toHex(' '), expected.toHex(' '));
}

void tst_RunningStatusExpander::givesTheSameStreamWhateverTheReadSizes()
{
    const tBytes traffic = MakeConsoleTraffic(1 << 16, 7);
    tBytes expected;
    cRunningStatusExpander().Expand(traffic, expected);
    QVERIFY(expected.size() > traffic.size());

    std::mt19937 random(42);
    cRunningStatusExpander chunked;
    tBytes joined;
    tBytes out;
    for (std::size_t at = 0; at < traffic.size();)
    {
        const std::size_t length = std::min<std::size_t>(random() % 100, traffic.size() - at);
        chunked.Expand(tBytes(traffic.begin() + at, traffic.begin() + at + length), out);
        joined.insert(joined.end(), out.begin(), out.end());
        at += length;
    }
    QVERIFY(joined == expected);
}

QTEST_GUILESS_MAIN(tst_RunningStatusExpander)
#include "tst_RunningStatusExpander.moc"
