// The MIDI monitor over a session with a shipped map, its console on in-memory MIDI ports: each
// message is shown with the rule that consumed or produced it (or none), held ones while the console
// is locked; the history keeps the last lines only; a rule learned from a selection; and one
// screenshot with traffic in it (screenshots/monitor.png).

#include "app/MonitorModel.h"
#include "app/MonitorWindow.h"
#include "session/ConsoleSession.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QTableView>
#include <QtTest>

namespace
{
struct sMonitor
{
    sMonitor()
    {
        Registry = new cFakeSystemMIDIConfiguration;
        sSessionEnvironment environment;
        environment.Registry = Registry;
        environment.DiscoveryDestination = QHostAddress::LocalHost;
        environment.DiscoveryPort = 9;
        environment.MapsDirectory = QStringLiteral(QUILLON_MAPS_DIR "/");
        Session.reset(new cConsoleSession(environment));
        Session->LoadMap("KRT-8", "Mackie Control");
        Session->SetConsoleInput("Desk In");
        Session->SetConsoleOutput("Desk Out");
        Session->UseMIDIPorts();
        Desk = Registry->PlugInput("Desk In");
        Registry->PlugOutput("Desk Out");
        Daw = Registry->VirtualPort("Quillon MIDI Mackie");
        Window.reset(new cMonitorWindow(Session.get()));
        Window->show();
        Model = Window->GetModel();
    }
    // Every line as "direction|rule|hex".
    QStringList Lines() const
    {
        Model->Flush();
        QStringList lines;
        for (int row = 0; row < Model->rowCount(); ++row)
            lines << QStringList{Model->data(Model->index(row, cMonitorModel::SideColumn)).toString(),
                                 Model->data(Model->index(row, cMonitorModel::RuleColumn)).toString(),
                                 Model->data(Model->index(row, cMonitorModel::HexColumn)).toString()}
                         .join('|');
        return lines;
    }
    cFakeSystemMIDIConfiguration* Registry;
    std::unique_ptr<cConsoleSession> Session;
    std::unique_ptr<cMonitorWindow> Window;
    cMonitorModel* Model;
    cFakeMIDIPort *Desk, *Daw;
};
} // namespace

class tst_MonitorWindow : public QObject
{
    Q_OBJECT

private slots:
    void showsEachMessageWithItsRule_data()
    {
        QTest::addColumn<bool>("fromConsole");
        QTest::addColumn<QString>("hex");
        QTest::addColumn<bool>("locked");
        QTest::addColumn<QStringList>("lines");

        const QString fader = "from console|strip 1 fader to DAW|";
        QTest::newRow("console fader, one read")
            << true << "b06301b06200b00640b02605" << false
            << QStringList{fader + "b0 63 01", fader + "b0 62 00", fader + "b0 06 40", fader + "b0 26 05", "to DAW|strip 1 fader to DAW|e0 05 40"};
        QTest::newRow("unknown message before a key")
            << true << "b07f00b06310b06203b00600b02601" << false
            << QStringList{"from console|no rule|b0 7f 00", "from console|play key pressed|b0 63 10", "from console|play key pressed|b0 62 03",
                           "from console|play key pressed|b0 06 00", "from console|play key pressed|b0 26 01", "to DAW|play key pressed|90 5e 7f"};
        const QString held = "held back from console|DAW fader to strip 1|";
        QTest::newRow("DAW fader, locked") << false << "e00040" << true
                                           << QStringList{"from DAW|DAW fader to strip 1|e0 00 40", held + "b0 63 01", held + "b0 62 00",
                                                          held + "b0 06 40", held + "b0 26 00"};
    }

    void showsEachMessageWithItsRule()
    {
        QFETCH(bool, fromConsole);
        QFETCH(QString, hex);
        QFETCH(bool, locked);
        QFETCH(QStringList, lines);
        sMonitor m;
        m.Session->SetConsoleLocked(locked);
        (fromConsole ? m.Desk : m.Daw)->Deliver(QByteArray::fromHex(hex.toLatin1()));
        QCOMPARE(m.Lines(), lines);

        // Closed, the monitor sees nothing.
        m.Window->hide();
        (fromConsole ? m.Desk : m.Daw)->Deliver(QByteArray::fromHex(hex.toLatin1()));
        QCOMPARE(m.Lines(), lines);
    }

    void keepsTheLastLines()
    {
        sMonitor m;
        for (int i = 0; i < cMonitorModel::kHistoryLines + 50; ++i)
            m.Model->MIDIWritten(0, i % 2 ? "Desk Out" : "Quillon MIDI Mackie", false, QByteArray::fromHex(i % 3 ? "e00000" : "907f00"));
        m.Model->Flush();
        QCOMPARE(m.Model->rowCount(), cMonitorModel::kHistoryLines);
        QCOMPARE(m.Model->Line(0).Rule, QString("strip 1 fader to DAW")); // line 50
    }

    void learnsAndShowsTraffic()
    {
        sMonitor m;
        auto* proposal = m.Window->findChild<QPlainTextEdit*>();
        // A control the map lacks, from the selection: strip 1's DAW side, to be changed.
        m.Desk->Deliver(QByteArray::fromHex("b06301b06209b00610b02600b06301b06209b00620b02600"));
        m.Model->Flush();
        m.Window->findChild<QTableView*>()->selectAll();
        m.Window->ProposeFromSelection();
        QVERIFY2(proposal->toPlainText().contains(R"("B*n 63 01 B*n 62 09 B*n 06 m B*n 26 l")"), qPrintable(proposal->toPlainText()));

        m.Window->resize(1240, 620);
        QVERIFY(QDir().mkpath(QUILLON_SCREENSHOT_DIR) && m.Window->grab().save(QUILLON_SCREENSHOT_DIR "/monitor.png"));
    }
};

QTEST_MAIN(tst_MonitorWindow)
#include "tst_MonitorWindow.moc"
