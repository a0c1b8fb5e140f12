// The simulator's console families: each command gives the bytes docs/consoles lists for it, on
// the chosen channel, and the same bytes received are explained as that control; a bad command
// says why.

#include "tools/console-sim/ConsoleFamily.h"

#include <QtTest>

class tst_ConsoleFamily : public QObject
{
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
};

void tst_ConsoleFamily::commands_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("bytes"); // empty: refused
    QTest::addColumn<QString>("meaning");  // or a piece of the refusal (empty: read as hex, no command)

    const auto row = [](const char* Family, int Channel, const char* Command, const char* Hex, const char* Meaning) {
        QTest::newRow(qPrintable(QString("%1: %2").arg(Family, Command))) << Family << Channel << Command << QByteArray::fromHex(Hex) << Meaning;
    };
    row("Ny-16", 9, "fader 16 0", "b9 1f 00", "fader 16 = 0");
    row("ny", 0, "key play down", "b0 53 7f", "play lamp on");
    row("ny", 3, "arm 2 off", "93 01 00", "arm 2 off");
    row("KRT-8", 9, "fader main 16383", "b9 63 01 b9 62 08 b9 06 7f b9 26 7f", "fader main = 16383");
    row("krt", 0, "touch 2 on", "b0 63 04 b0 62 01 b0 06 00 b0 26 01", "touch 2 on");
    row("krt", 0, "key record up", "b0 63 10 b0 62 04 b0 06 00 b0 26 00", "record lamp off");
    row("Oskel 8", 9, "fader main 1", "f0 7d 09 01 08 00 01 f7", "fader main = 1");
    row("oskel", 0, "pan 8 300", "f0 7d 00 06 07 02 2c f7", "pan 8 = 300");
    row("krt", 0, "b0 07 64", "", "");
    row("krt", 0, "fader 9 1", "", "strip 9 is not 1 to 8");
    row("ny", 0, "mute 1", "", "wants two arguments");
}

void tst_ConsoleFamily::commands()
{
    QFETCH(QString, family);
    QFETCH(int, channel);
    QFETCH(QString, command);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, meaning);

    cConsoleFamily console;
    QVERIFY(console.SetFamily(family));
    console.SetChannel(channel);
    QByteArray made;
    QString error;
    if (bytes.isEmpty())
    {
        QVERIFY(!console.Command(command, made, error));
        QVERIFY2(meaning.isEmpty() ? error.isEmpty() : error.contains(meaning), qPrintable(error));
        return;
    }
    QVERIFY2(console.Command(command, made, error), qPrintable(error));
    QCOMPARE(made.toHex(' '), bytes.toHex(' '));

    // Received, the same bytes read as that control (an NRPN sequence at its last message).
    QString said;
    const int step = bytes.at(0) == char(0xF0) ? bytes.size() : 3;
    for (int i = 0; i < bytes.size(); i += step)
        said = console.Describe(bytes.mid(i, step));
    QCOMPARE(said, meaning);
    // Another channel is not this console's.
    console.SetChannel(channel ^ 1);
    QCOMPARE(console.Describe(bytes.right(step)), QString());
}

QTEST_GUILESS_MAIN(tst_ConsoleFamily)
#include "tst_ConsoleFamily.moc"
