#include "Common/MIDI/RunningStatusExpander.h"
#include "tests/support/ConsoleTraffic.h"

#include <QRandomGenerator>
#include <QtTest>

#include <vector>

namespace
{
using tBytes = std::vector<uint8_t>;

tBytes Bytes(const QByteArray& Data)
{
    return tBytes(Data.begin(), Data.end());
}
QByteArray ToByteArray(const tBytes& Data)
{
    return QByteArray(reinterpret_cast<const char*>(Data.data()), int(Data.size()));
}
} // namespace

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
    row("running status, two notes", {"903c7f3e7f"}, "903c7f903e7f");
    row("channel pressure in running status", {"d1101112"}, "d110d111d112");
    row("every message with its status passes unchanged", {"903c7f803c00b00764"}, "903c7f803c00b00764");
    row("exclusive message passes unchanged", {"f00102f703"}, "f00102f703");
    row("song position and trailing data pass unchanged", {"f210203040"}, "f210203040");
    row("stray end byte ends running status", {"903c7ff73e7f"}, "903c7ff73e7f");
    row("exclusive message ends running status", {"903c7ff001f73e7f"}, "903c7ff001f73e7f");
    row("clock inside a message stays in place", {"903cf87f3efe7f"}, "903cf87f903efe7f");
    row("real-time bytes do not end an exclusive message", {"f001f802fe03f7"}, "f001f802fe03f7");
    row("real-time bytes do not end running status", {"c005f8fffe06"}, "c005f8fffec006");
    row("data before the first status passes unchanged", {"0102903c7f"}, "0102903c7f");
    row("new status cuts a partial message", {"903cb0076408"}, "903cb00764b008");
    row("running status across two reads", {"903c7f3e", "7f4000"}, "903c7f903e7f904000");
    row("read ends after the status byte", {"b0", "07640765"}, "b00764b00765");
    row("exclusive message data across reads is never expanded", {"903c7ff0", "0102", "03f7"}, "903c7ff0010203f7");
    row("empty reads keep the state", {"903c7f", "", "3e7f"}, "903c7f903e7f");
}

void tst_RunningStatusExpander::insertsStatusBytes()
{
    QFETCH(QStringList, reads);
    QFETCH(QByteArray, expected);

    cRunningStatusExpander expander;
    QByteArray output;
    // Stale bytes in the output must be replaced, not appended to.
    tBytes out = {0x01, 0x02, 0x03};
    for (const QString& read : reads)
    {
        expander.Expand(Bytes(QByteArray::fromHex(read.toLatin1())), out);
        output += ToByteArray(out);
    }
    QCOMPARE(output.toHex(' '), expected.toHex(' '));
}

void tst_RunningStatusExpander::givesTheSameStreamWhateverTheReadSizes()
{
    const tBytes traffic = MakeConsoleTraffic(1 << 16, 7);
    cRunningStatusExpander whole;
    tBytes expected;
    whole.Expand(traffic, expected);
    QVERIFY(expected.size() > traffic.size());

    QRandomGenerator random(42);
    cRunningStatusExpander chunked;
    tBytes joined;
    tBytes out;
    for (std::size_t at = 0; at < traffic.size();)
    {
        const std::size_t length = std::min<std::size_t>(random.bounded(1, 100), traffic.size() - at);
        chunked.Expand(tBytes(traffic.begin() + at, traffic.begin() + at + length), out);
        joined.insert(joined.end(), out.begin(), out.end());
        at += length;
    }
    QVERIFY(joined == expected);
}

QTEST_GUILESS_MAIN(tst_RunningStatusExpander)
#include "tst_RunningStatusExpander.moc"
