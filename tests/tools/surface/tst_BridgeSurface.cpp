// The shipped Oskel 8 / Mackie Control map as a studio user meets it: quillon-bridge as a process,
// the console simulator beside it in a network namespace of this test, and this test as the DAW on
// a private JACK server. The steps run in order, each one's bytes checked at both ends: the surface
// comes online without a query, pans go out as V-Pot steps and the ring comes back, bank keys, a
// repeated meter arrives once, a fader gesture is one touch and one release, and once the console
// link drops the DAW's query goes unanswered.

#include "tests/network/SimulatorProcess.h"
#include "tests/support/JackServer.h"
#include "tests/support/NetworkNamespaces.h"
#include "tests/support/RealComponent.h"

#include <QMutex>
#include <QTemporaryDir>
#include <QtTest>

#include <RtMidi.h>

#include <memory>

class tst_BridgeSurface : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void aConsoleUserSession();

private:
    void Do(const QString& Action);

    QTemporaryDir mDir;
    cJackServer mJack;
    std::unique_ptr<cNetworkNamespaces> mNamespaces;
    QProcess mBridge;
    cSimulatorProcess mConsole;
    int mConsoleSeen = 0;
    QMutex mMutex;
    QByteArray mDawBytes; // appended on JACK's thread, until mIn is gone
    std::unique_ptr<RtMidiIn> mIn;
    std::unique_ptr<RtMidiOut> mOut;
};

void tst_BridgeSurface::initTestCase()
{
    QString why;
    QUILLON_REQUIRE(cNetworkNamespaces::Available(&why), why);
    QUILLON_REQUIRE(cSimulatorProcess::Available(), QStringLiteral("the console simulator is not built"));
    // Periods of 21 ms: a loaded machine (other builds) then misses none, and JACK loses no event.
    QUILLON_START_JACK(mJack, 1024);
    mNamespaces = std::make_unique<cNetworkNamespaces>();
    QVERIFY2(mNamespaces->Add(QStringLiteral("surface")), qPrintable(mNamespaces->Why()));

    // The bridge's settings stay in this test's folder; the map is the shipped one.
    qputenv("XDG_CONFIG_HOME", mDir.filePath(QStringLiteral("config")).toUtf8());
    mNamespaces->Start(QStringLiteral("surface"), mBridge,
                       {QStringLiteral(QUILLON_BRIDGE), "--mixer", "Oskel 8", "--daw", "Mackie Control", "--channel", "1",
                        "--console", "127.0.0.1", "--maps", QStringLiteral(QUILLON_MAPS_DIR)});
    QVERIFY(mBridge.waitForStarted(10000));

    // The DAW opens the bridge's port pair as soon as it is there.
    mIn = std::make_unique<RtMidiIn>(RtMidi::UNIX_JACK, "surface test DAW");
    mOut = std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "surface test DAW");
    mIn->ignoreTypes(false, true, true);
    mIn->setCallback(
        [](double, std::vector<unsigned char>* Message, void* Self) {
            auto* test = static_cast<tst_BridgeSurface*>(Self);
            QMutexLocker lock(&test->mMutex);
            test->mDawBytes.append(reinterpret_cast<const char*>(Message->data()), int(Message->size()));
        },
        this);
    // The DAW reads what Quillon sends "to DAW" and writes to Quillon's "from DAW".
    auto find = [](RtMidi& Midi, const char* Side) {
        for (unsigned int i = 0; i < Midi.getPortCount(); ++i)
            if (QString::fromStdString(Midi.getPortName(i)).endsWith(QLatin1String(":Quillon MIDI Mackie ") + Side))
                return int(i);
        return -1;
    };
    // JACK refuses connections to ports listed before their client joined the process cycle, and
    // RtMidi does not tell: connected again until JACK's lister shows both connections.
    auto connected = [this](const char* Side) {
        const QString listed = mJack.Run("jack_lsp", {"-c", QLatin1String("Quillon:Quillon MIDI Mackie ") + Side});
        return listed.contains(QLatin1String("\n "));
    };
    QTRY_VERIFY_WITH_TIMEOUT(find(*mIn, "to DAW") >= 0 && find(*mOut, "from DAW") >= 0, 15000);
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            mIn->closePort();
            mOut->closePort();
            mIn->openPort(unsigned(find(*mIn, "to DAW")));
            mOut->openPort(unsigned(find(*mOut, "from DAW")));
            return connected("to DAW") && connected("from DAW");
        }(),
        15000);
}

void tst_BridgeSurface::cleanupTestCase()
{
    // The bridge leaves JACK before the server goes; the namespace goes after the bridge.
    mBridge.terminate();
    mBridge.waitForFinished(10000);
}

void tst_BridgeSurface::Do(const QString& Action)
{
    const QString what = Action.section(QLatin1Char(':'), 1).trimmed();
    if (Action == QLatin1String("start console"))
        QVERIFY2(mConsole.Start({"--family", "oskel", "--channel", "1", "--no-discovery"}, mNamespaces->Exec(QStringLiteral("surface"))),
                 qPrintable(mConsole.Errors()));
    else if (Action == QLatin1String("drop console"))
        mConsole.Kill();
    else if (Action.startsWith(QLatin1String("console:")))
        mConsole.Write(what.toLatin1() + '\n');
    else
    {
        const QByteArray bytes = QByteArray::fromHex(what.toLatin1());
        mOut->sendMessage(reinterpret_cast<const unsigned char*>(bytes.constData()), std::size_t(bytes.size()));
    }
}

void tst_BridgeSurface::aConsoleUserSession()
{
    const QString ready = QStringLiteral("f0 00 00 66 14 01 51 4c 4e 30 30 30 31 00 00 00 00 f7");
    QStringList moves;
    QStringList moved;
    for (int value = 1500; value <= 15000; value += 1500)
    {
        moves << QStringLiteral("console: fader 1 %1").arg(value);
        moved << QString::asprintf("e0 %02x %02x", value & 0x7F, value >> 7);
    }
    // Name; actions ("start console", "drop console", "console: LINE", "daw: HEX"; comma-separated);
    // every byte the DAW then receives (alternatives split by '|'); every message the console then
    // receives.
    const QList<QStringList> steps = {
        // Announced when the console connects, and again if the DAW's connection is told after it.
        {"online with no query sent", "start console", ready + '|' + ready + ' ' + ready, ""},
        {"a pan's first position only starts", "console: pan 1 8192", "", ""},
        {"a pan turned right: V-Pot steps", "console: pan 1 8704", "b0 10 03", ""},
        {"the DAW's ring back as the pan", "daw: b0 30 0b", "", "f0 7d 00 06 00 7f 7f f7"},
        {"bank right", "console: key bank-right down,console: key bank-right up", "90 2f 7f 90 2f 00", ""},
        {"a meter repeated ten times arrives once", QStringLiteral("daw: d0 3c,").repeated(10), "", "f0 7d 00 05 03 0c f7"},
        {"a gesture of ten moves: one touch, one release", moves.join(','), "90 68 7f " + moved.join(' ') + " 90 68 00", ""},
        {"the device query answered with the console there", "daw: f0 00 00 66 14 00 f7", ready, ""},
        {"the console link drops", "drop console", "", ""},
        {"no answer without the console", "daw: f0 00 00 66 14 00 f7", "", ""},
    };
    for (const QStringList& step : steps)
    {
        for (const QString& action : step.at(1).split(QLatin1Char(','), Qt::SkipEmptyParts))
            Do(action);
        // Long enough for the bridge's next try at the link and a gesture's quiet time; then half a
        // second more, so that anything extra shows.
        QStringList daw;
        QStringList console;
        QElapsedTimer waited;
        waited.start();
        for (int extra = 0; extra < 25 && waited.elapsed() < 15000;)
        {
            QTest::qWait(20);
            {
                QMutexLocker lock(&mMutex);
                daw << QString::fromLatin1(mDawBytes.toHex(' '));
                mDawBytes.clear();
            }
            for (const QStringList lines = mConsole.OutputLines(); mConsoleSeen < lines.size(); ++mConsoleSeen)
                console << lines.at(mConsoleSeen).section(QLatin1Char('#'), 0, 0).trimmed();
            daw.removeAll(QString());
            console.removeAll(QString());
            if (daw.join(' ').size() >= step.at(2).section('|', 0, 0).size() && console.join(' ').size() >= step.at(3).size())
                ++extra;
        }
        QVERIFY2(step.at(2).split('|').contains(daw.join(' ')) && console.join(' ') == step.at(3),
                 qPrintable(QStringLiteral("%1:\n  DAW got     \"%2\"\n  console got \"%3\"").arg(step.at(0), daw.join(' '), console.join(' '))));
    }
}

QTEST_GUILESS_MAIN(tst_BridgeSurface)
#include "tst_BridgeSurface.moc"
