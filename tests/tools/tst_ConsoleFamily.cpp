// The simulator's console families: each command gives the bytes docs/consoles lists for it, on
// the chosen channel, and the same bytes received are explained as that control.

#include "tools/console-sim/ConsoleFamily.h"

#include <QtTest>

class tst_ConsoleFamily : public QObject
{
    Q_OBJECT

private slots:
    void commands_data();
    void commands();
    void badCommandsSayWhy_data();
    void badCommandsSayWhy();
};

void tst_ConsoleFamily::commands_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("channel");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("meaning");

    const auto row = [](const char* Name, const char* Family, int Channel, const char* Command, const char* Hex,
                        const char* Meaning) {
        QTest::newRow(Name) << Family << Channel << Command << QByteArray::fromHex(Hex) << Meaning;
    };
    row("Ny fader 1", "ny", 0, "fader 1 100", "b0 10 64", "fader 1 = 100");
    row("Ny fader 16, channel 10", "Ny-16", 9, "fader 16 0", "b9 1f 00", "fader 16 = 0");
    row("Ny main fader", "ny", 0, "fader main 127", "b0 07 7f", "main fader = 127");
    row("Ny mute 3 on", "ny", 0, "mute 3 on", "b0 22 7f", "mute 3 on");
    row("Ny main mute", "ny", 0, "mute main off", "b0 08 00", "main mute off");
    row("Ny solo 12 off", "ny", 0, "solo 12 off", "b0 4b 00", "solo 12 off");
    row("Ny pan 2 centre", "ny", 0, "pan 2 64", "b0 31 40", "pan 2 = 64");
    row("Ny play key", "ny", 0, "key play down", "b0 53 7f", "play lamp on");
    row("KRT fader 1 at half", "krt", 0, "fader 1 8192", "b0 63 01 b0 62 00 b0 06 40 b0 26 00", "fader 1 = 8192");
    row("KRT main fader, channel 10", "KRT-8", 9, "fader main 16383", "b9 63 01 b9 62 08 b9 06 7f b9 26 7f", "fader main = 16383");
    row("KRT touch 2", "krt", 0, "touch 2 on", "b0 63 04 b0 62 01 b0 06 00 b0 26 01", "touch 2 on");
    row("KRT solo 8", "krt", 0, "solo 8 on", "b0 63 03 b0 62 07 b0 06 00 b0 26 01", "solo 8 on");
    row("KRT record key up", "krt", 0, "key record up", "b0 63 10 b0 62 04 b0 06 00 b0 26 00", "record lamp off");
    row("Oskel fader 1", "oskel", 0, "fader 1 8192", "f0 7d 00 01 00 40 00 f7", "fader 1 = 8192");
    row("Oskel main fader, channel 10", "Oskel 8", 9, "fader main 1", "f0 7d 09 01 08 00 01 f7", "fader main = 1");
    row("Oskel mute 2", "oskel", 0, "mute 2 on", "f0 7d 00 02 01 01 f7", "mute 2 on");
    row("Oskel pan 8", "oskel", 0, "pan 8 300", "f0 7d 00 06 07 02 2c f7", "pan 8 = 300");
    row("Oskel rewind key", "oskel", 0, "key rewind down", "f0 7d 00 04 00 01 f7", "rewind lamp on");
    row("Ny select 16", "ny", 0, "select 16 on", "b0 6f 7f", "select 16 on");
    row("Ny record arm 2 is a note", "ny", 3, "arm 2 off", "93 01 00", "arm 2 off");
    row("Ny bank right key", "ny", 0, "key bank-right down", "b0 56 7f", "bank-right lamp on");
    row("KRT record arm 8", "krt", 0, "arm 8 on", "b0 63 07 b0 62 07 b0 06 00 b0 26 01", "arm 8 on");
    row("KRT channel left key", "krt", 0, "key channel-left up", "b0 63 10 b0 62 07 b0 06 00 b0 26 00", "channel-left lamp off");
    row("Oskel select 3", "oskel", 0, "select 3 on", "f0 7d 00 07 02 01 f7", "select 3 on");
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

void tst_ConsoleFamily::badCommandsSayWhy_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("error"); // empty: not a command at all (read as hex)

    QTest::newRow("hex is no command") << "krt" << "b0 07 64" << "";
    QTest::newRow("strip beyond the console") << "krt" << "fader 9 1" << "strip 9 is not 1 to 8";
    QTest::newRow("Ny fader beyond 7 bits") << "ny" << "fader 1 128" << "is not 0 to 127";
    QTest::newRow("touch on a console without") << "oskel" << "touch 1 on" << "no touch-sensitive faders";
    QTest::newRow("main solo") << "ny" << "solo main on" << "no main solo";
    QTest::newRow("unknown key") << "ny" << "key eject down" << "key wants one of";
    QTest::newRow("missing value") << "ny" << "mute 1" << "wants two arguments";
}

void tst_ConsoleFamily::badCommandsSayWhy()
{
    QFETCH(QString, family);
    QFETCH(QString, command);
    QFETCH(QString, error);

    cConsoleFamily console;
    QVERIFY(console.SetFamily(family));
    QByteArray bytes;
    QString said;
    QVERIFY(!console.Command(command, bytes, said));
    QVERIFY2(error.isEmpty() ? said.isEmpty() : said.contains(error), qPrintable(said));
}

QTEST_GUILESS_MAIN(tst_ConsoleFamily)
#include "tst_ConsoleFamily.moc"
