// Discovery under a flood of answers on loopback: 10,000 answers a second from 5,000 different
// names for 30 seconds, sent by a thread of the test to the finder's own port, while the window
// runs as users see it (offscreen, with its map folder, settings store and an in-memory MIDI
// registry of the test's own). The window's list of units must stay within its limit, memory must
// not grow with the flood, the event loop must never be held for two seconds, and the list must
// still take a user's choice afterwards. Slow: plain build only.

#include "app/MainWindow.h"
#include "network/MultiUnitFinder.h"
#include "tests/support/EventLoopProbe.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"

#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QUdpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

namespace
{
constexpr int kAnswersPerSecond = 10000;
constexpr int kNames = 5000;
constexpr int kSeconds = 30;

// Sends the answers from a plain socket of its own, paced in 1 ms steps, to 127.0.0.1:Port.
class cAnswerFlood
{
public:
    explicit cAnswerFlood(quint16 Port) : mThread([this, Port] { Run(Port); }) {}
    ~cAnswerFlood()
    {
        mStop = true;
        mThread.join();
    }
    bool Done() const { return mDone; }
    long Sent() const { return mSent; }

private:
    void Run(quint16 Port)
    {
        const int descriptor = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to = {};
        to.sin_family = AF_INET;
        to.sin_port = htons(Port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const auto start = std::chrono::steady_clock::now();
        constexpr int kPerStep = kAnswersPerSecond / 1000;
        for (long step = 0; step < kSeconds * 1000L && !mStop && descriptor >= 0; ++step)
        {
            for (int i = 0; i < kPerStep; ++i)
            {
                const QByteArray name = "Flood Desk " + QByteArray::number(int((step * kPerStep + i) % kNames));
                if (::sendto(descriptor, name.constData(), size_t(name.size()), 0, reinterpret_cast<sockaddr*>(&to),
                             sizeof to) == name.size())
                    ++mSent;
            }
            std::this_thread::sleep_until(start + std::chrono::milliseconds(step + 1));
        }
        if (descriptor >= 0)
            ::close(descriptor);
        mDone = true;
    }

    std::atomic<bool> mStop{false};
    std::atomic<bool> mDone{false};
    std::atomic<long> mSent{0};
    std::thread mThread;
};

// One family that looks for "NY Find", with a map of one rule. The settings store and the map
// folder live in a folder of the test's own, never the user's.
bool PrepareWindowPlace(const QTemporaryDir& Dir)
{
    const QString settings = Dir.path() + "/settings";
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings);
    QCoreApplication::setOrganizationName("Corvane");
    QCoreApplication::setApplicationName("Quillon");
    if (!QSettings().fileName().startsWith(settings))
        return false;
    const QByteArray mixers = R"({"mixers": [{"name": "Ny-16", "daws": [{"name": "Mackie", "file": "ny.json"}]}]})";
    const QByteArray map = R"({"virtual_ports": ["Ny Mackie DAW"], "rules": [
        {"name": "fader", "incoming": {"midi": "B0 07 v", "ports": ["Mixer In"]},
         "outgoing": {"midi": "E0 00 v", "ports": ["Ny Mackie DAW"]}}]})";
    QDir().mkpath(Dir.path() + "/Maps");
    QFile mixerFile(Dir.path() + "/Maps/mixer_map.json");
    QFile mapFile(Dir.path() + "/Maps/ny.json");
    return mixerFile.open(QIODevice::WriteOnly) && mixerFile.write(mixers) == mixers.size() &&
           mapFile.open(QIODevice::WriteOnly) && mapFile.write(map) == map.size();
}
} // namespace

class tst_DiscoveryFlood : public QObject
{
    Q_OBJECT

private slots:
    void floodOfAnswersFromManyNames();
};

void tst_DiscoveryFlood::floodOfAnswersFromManyNames()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QVERIFY(PrepareWindowPlace(dir));
    // The finder's queries go to a loopback socket of the test, never to the network.
    QUdpSocket sink;
    QVERIFY(sink.bind(QHostAddress(QHostAddress::LocalHost), 0));
    sMainWindowEnvironment environment;
    environment.Registry = new cFakeSystemMIDIConfiguration;
    environment.DiscoveryDestination = QHostAddress(QHostAddress::LocalHost);
    environment.DiscoveryPort = sink.localPort();
    environment.ConsolePort = 9; // never connected here
    environment.MapsDirectory = dir.path() + "/Maps/";
    auto window = std::make_unique<cMainWindow>(nullptr, environment);
    window->show();
    auto* finders = window->findChild<cMultiUnitFinder*>();
    QVERIFY(finders);
    auto* finder = finders->findChild<cUnitFinder*>();
    QVERIFY(finder);
    QCOMPARE(finder->GetFindString(), QString("NY Find"));
    auto* finderSocket = finder->findChild<QUdpSocket*>();
    QVERIFY(finderSocket);
    auto* list = window->findChild<QComboBox*>("mUnitComboBox");
    QVERIFY(list);
    auto* address = window->findChild<QLineEdit*>("mIPAddressEdit");
    QVERIFY(address);
    QCOMPARE(list->count(), 1); // "Custom" only

    // The most entries the list ever held, seen as each is added, "Custom" not counted.
    int mostListed = 0;
    connect(list->model(), &QAbstractItemModel::rowsInserted, this,
            [&] { mostListed = qMax(mostListed, list->count() - 1); });
    int found = 0;
    int most = 0;
    connect(finders, &cMultiUnitFinder::UnitFound, this, [&] {
        ++found;
        most = qMax(most, finders->GetUnits().size());
    });

    cEventLoopProbe probe;
    probe.Start();
    QElapsedTimer took;
    took.start();
    {
        cAnswerFlood flood(finderSocket->localPort());
        // Waited for in an event loop of its own, as the application's: QTRY's waits sleep between
        // their rounds of events, which the probe would count against the finder.
        QEventLoop loop;
        QTimer check;
        connect(&check, &QTimer::timeout, &loop, [&] {
            if (flood.Done())
                loop.quit();
        });
        check.start(50);
        QTimer::singleShot((kSeconds + 30) * 1000, &loop, &QEventLoop::quit);
        loop.exec();
        QVERIFY(flood.Done());
        qInfo("%ld answers in %lld ms; %d units found, at most %d at once, at most %d listed; resident memory "
              "grew by %lld KiB; longest event-loop gap %lld ms",
              flood.Sent(), took.elapsed(), found, most, mostListed,
              (probe.PeakResidentBytes() - probe.StartResidentBytes()) / 1024, probe.LongestGapMs());
        QVERIFY(flood.Sent() > 0);
    }
    QCOMPARE(most, cUnitFinder::kMostUnits);
    QCOMPARE(mostListed, cUnitFinder::kMostUnits);
    QCOMPARE(list->count(), cUnitFinder::kMostUnits + 1);
    QVERIFY(finders->GetUnits().size() <= cUnitFinder::kMostUnits);
    QVERIFY(finder->GetUnitCount() <= cUnitFinder::kMostUnits);
    QVERIFY(probe.StartResidentBytes() > 0);
    QVERIFY2(probe.PeakResidentBytes() - probe.StartResidentBytes() <= 16 * 1024 * 1024,
             qPrintable(QString::number(probe.PeakResidentBytes() - probe.StartResidentBytes())));
    QVERIFY2(probe.LongestGapMs() < cEventLoopProbe::kMostGapMs, qPrintable(QString::number(probe.LongestGapMs())));

    // The list still takes a choice: a found unit shows its address, fixed; "Custom" lets it be typed.
    const int last = list->count() - 1;
    const QString lastName = list->itemText(last);
    QVERIFY(lastName.startsWith("Flood Desk "));
    list->setCurrentIndex(last);
    QCOMPARE(list->currentText(), lastName);
    QCOMPARE(address->text(), QString("127.0.0.1"));
    QVERIFY(!address->isEnabled());
    list->setCurrentIndex(0);
    QCOMPARE(list->currentText(), QString("Custom"));
    QVERIFY(address->isEnabled());

    // Once the flood is over, the units run out as usual and the list empties.
    QTRY_VERIFY_WITH_TIMEOUT(finders->GetUnits().isEmpty(), (cUnitFinder::kCountdown + 3) * cUnitFinder::kPollMs);
    QCOMPARE(finder->GetUnitCount(), 0);
    QCOMPARE(list->count(), 1);
}

QTEST_MAIN(tst_DiscoveryFlood)
#include "tst_DiscoveryFlood.moc"
