// The tray program end to end, as a user meets it: a private X server (Xvfb) with a real tray
// (trayer), the program started and ended as a process, the mouse and keyboard driven by
// xdotool, the screen read back as windows and, where only the eye can tell, by OCR. Each
// program instance runs in a network and IPC namespace of the test's own. Screenshots of the
// tray, the menu, the window and the boxes are kept in the build folder (gui-screenshots).

#include "tests/app/AppSandbox.h"
#include "tests/support/RealComponent.h"
#include "tests/app/XDesktop.h"
#include "tests/network/SimulatorProcess.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>
#include <QRegularExpression>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/types.h>
#include <unistd.h>

namespace
{
const int kExitMs = 20000;

QString ProgramPath()
{
    return QStringLiteral(QUILLON_PROGRAM);
}

QString ScreenshotFolder()
{
    return QStringLiteral(QUILLON_SCREENSHOTS);
}

// The namespace a /proc link names, such as "net:[4026531840]".
QByteArray Namespace(const QString& Link)
{
    char target[128] = {};
    const ssize_t length = ::readlink(QFile::encodeName(Link).constData(), target, sizeof target - 1);
    return length > 0 ? QByteArray(target, int(length)) : QByteArray();
}

bool IsTrayIcon(const cXDesktop::sWindow& Window)
{
    return !Window.TopLevel && Window.Viewable && Window.Class == QLatin1String("Quillon");
}

bool IsMainWindow(const cXDesktop::sWindow& Window)
{
    // The window, not the menu: the menu is a pop-up of the same name and class.
    return Window.TopLevel && !Window.Popup && Window.Name == QLatin1String("Quillon") &&
           Window.Class == QLatin1String("Quillon");
}
} // namespace

class tst_TrayApplication : public QObject
{
    Q_OBJECT

private:
    cAppSandbox mSandbox;
    std::unique_ptr<cXDesktop> mDesktop;
    QList<QProcess*> mInstances;

    QProcess* StartInstance(const QString& Program = ProgramPath())
    {
        auto* process = new QProcess(this);
        mInstances.append(process);
        const QStringList command = mSandbox.Command(Program, {});
        process->setProcessEnvironment(mSandbox.Environment(mDesktop->DisplayName()));
        process->setProcessChannelMode(QProcess::MergedChannels);
        process->start(command.first(), command.mid(1));
        if (!process->waitForStarted(kExitMs))
            return nullptr;
        return process;
    }

    // The exit code once the process has ended; -1 for a crash, -2 when it did not end in time.
    static int ExitCode(QProcess* Process)
    {
        if (Process->state() != QProcess::NotRunning && !Process->waitForFinished(kExitMs))
            return -2;
        return Process->exitStatus() == QProcess::NormalExit ? Process->exitCode() : -1;
    }

    static void Kill(QProcess* Process)
    {
        if (Process->state() == QProcess::NotRunning)
            return;
        ::kill(static_cast<pid_t>(Process->processId()), SIGKILL);
        Process->waitForFinished(kExitMs);
    }

    cXDesktop::sWindow WaitForTrayIcon() { return mDesktop->WaitForWindow(IsTrayIcon); }

    // Starts the tray and an instance, and waits until the instance's icon sits in the tray.
    QProcess* StartInTray(cXDesktop::sWindow* Icon, const QString& Program = ProgramPath())
    {
        QString error;
        if (!mDesktop->StartTray(&error))
        {
            qWarning("no tray: %s", qPrintable(error));
            return nullptr;
        }
        QProcess* process = StartInstance(Program);
        if (!process)
            return nullptr;
        *Icon = WaitForTrayIcon();
        if (!Icon->Id)
        {
            qWarning("no tray icon; the program said: %s", process->readAll().constData());
            return nullptr;
        }
        // The tray places and sizes the icon after it appears; wait until it stays put.
        QRect seen;
        mDesktop->WaitUntil([&] {
            const QRect now = mDesktop->Find(Icon->Id).Geometry;
            const bool settled = now == seen && now.width() > 1;
            seen = now;
            return settled;
        });
        Icon->Geometry = seen;
        return process;
    }

    // Opens the tray menu and returns its window.
    cXDesktop::sWindow OpenMenu(const cXDesktop::sWindow& Icon)
    {
        mDesktop->Click(Icon.Geometry.center(), 3);
        return mDesktop->WaitForWindow([](const cXDesktop::sWindow& W) {
            return W.TopLevel && W.Viewable && W.Popup && W.Class == QLatin1String("Quillon");
        });
    }

    // "Quit" from the tray menu; the program's exit code as ExitCode gives it (-3: no menu).
    int QuitFromMenu(const cXDesktop::sWindow& Icon, QProcess* Program)
    {
        if (!OpenMenu(Icon).Id || !mDesktop->Key(QStringLiteral("q")))
            return -3;
        return ExitCode(Program);
    }

    // Double-clicks the icon and returns the window once it shows.
    cXDesktop::sWindow ShowWindow(const cXDesktop::sWindow& Icon)
    {
        mDesktop->Click(Icon.Geometry.center(), 1, 2);
        return mDesktop->WaitForWindow([](const cXDesktop::sWindow& W) { return IsMainWindow(W) && W.Viewable; });
    }

    // The first viewable top-level window called Name, once there is one.
    cXDesktop::sWindow WaitForTopLevel(const QString& Name)
    {
        return mDesktop->WaitForWindow([&](const cXDesktop::sWindow& W) { return W.TopLevel && W.Viewable && W.Name == Name; });
    }

    bool MainWindowViewable()
    {
        for (const cXDesktop::sWindow& window : mDesktop->Windows())
        {
            if (IsMainWindow(window) && window.Viewable)
                return true;
        }
        return false;
    }

    // A window is mapped before it is painted: reads its text until Expected shows (or time is
    // up) and returns the last reading, its lines joined by blanks.
    QString ReadWhenPainted(const cXDesktop::sWindow& Window, const QString& Expected)
    {
        QString text;
        mDesktop->WaitUntil([&] {
            text = mDesktop->ReadText(mDesktop->Find(Window.Id).Geometry).join(QLatin1Char(' '));
            return text.contains(Expected);
        });
        return text;
    }

    void Screenshot(const QString& Name, const QRect& Area = QRect())
    {
        QVERIFY(mDesktop->SaveScreenshot(ScreenshotFolder() + QLatin1Char('/') + Name + QStringLiteral(".png"), Area));
    }

private slots:
    void initTestCase()
    {
        QStringList missing = cXDesktop::MissingTools() + cAppSandbox::MissingTools();
        if (!QFileInfo(ProgramPath()).isExecutable())
            missing.append(ProgramPath());
        QUILLON_REQUIRE(missing.isEmpty(), QStringLiteral("missing: %1").arg(missing.join(QStringLiteral(", "))));
        QString error;
        const bool created = mSandbox.Create(&error);
        QUILLON_REQUIRE(created, error);
        QDir().mkpath(ScreenshotFolder());
    }

    void init()
    {
        mDesktop = std::make_unique<cXDesktop>();
        QString error;
        QVERIFY2(mDesktop->Start(&error), qPrintable(error));
        // Every test starts from a first start: no settings.
        QDir(mSandbox.ConfigFolder()).removeRecursively();
        QDir().mkpath(mSandbox.ConfigFolder());
    }

    void cleanup()
    {
        for (QProcess* process : mInstances)
        {
            Kill(process);
            if (QTest::currentTestFailed())
                qWarning("instance output: %s", process->readAll().constData());
        }
        qDeleteAll(mInstances);
        mInstances.clear();
        mDesktop.reset();
    }

    void cleanupTestCase() { mSandbox.Remove(); }

    void startsWithOnlyTheTrayIcon()
    {
        cXDesktop::sWindow icon;
        QVERIFY(StartInTray(&icon));
        QVERIFY(mDesktop->TrayGeometry().contains(icon.Geometry.center()));
        // The pid is the program's own (nsenter and ip exec it in their place; the exe link cannot
        // be resolved inside a chroot, the command line can), and it runs off the machine's network.
        const QString proc = QStringLiteral("/proc/%1/").arg(mInstances.first()->processId());
        QFile commandLine(proc + QStringLiteral("cmdline"));
        QVERIFY(commandLine.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLocal8Bit(commandLine.readAll().split('\0').first()), ProgramPath());
        for (const char* space : {"net", "ipc"})
        {
            const QByteArray program = Namespace(proc + QStringLiteral("ns/") + QLatin1String(space));
            QVERIFY2(program.startsWith(space) && program != Namespace(QStringLiteral("/proc/self/ns/") + QLatin1String(space)),
                     program.constData());
        }
        Screenshot(QStringLiteral("tray"), mDesktop->TrayGeometry());
        for (const cXDesktop::sWindow& window : mDesktop->Windows())
        {
            if (window.TopLevel && window.Viewable)
                QVERIFY2(window.Class != QLatin1String("Quillon"), qPrintable(window.Name));
        }
        QVERIFY(!MainWindowViewable());
    }

    void doubleClickShowsAndRaisesSingleClickDoesNot()
    {
        cXDesktop::sWindow icon;
        QVERIFY(StartInTray(&icon));

        mDesktop->Click(icon.Geometry.center(), 1, 1);
        // Nothing may happen, so there is nothing to wait for but a while.
        QTest::qWait(1500);
        QVERIFY(!MainWindowViewable());

        const cXDesktop::sWindow window = ShowWindow(icon);
        QVERIFY(window.Id);
        Screenshot(QStringLiteral("window"), window.Geometry);

        // Another program's window covers it; a double click brings it back to the front.
        QVERIFY(mDesktop->StartClient(QStringLiteral("xlogo"), {QStringLiteral("-geometry"), QStringLiteral("700x500+0+0")}));
        const cXDesktop::sWindow other = WaitForTopLevel(QStringLiteral("xlogo"));
        QVERIFY(other.Id);
        QVERIFY(mDesktop->Find(other.Id).Stacking > mDesktop->Find(window.Id).Stacking);
        mDesktop->Click(icon.Geometry.center(), 1, 2);
        QVERIFY(mDesktop->WaitUntil([&] { return mDesktop->Find(window.Id).Stacking > mDesktop->Find(other.Id).Stacking; }));
        Screenshot(QStringLiteral("window-raised"));
    }

    void menuListsItsEntriesInOrder()
    {
        cXDesktop::sWindow icon;
        QVERIFY(StartInTray(&icon));
        const cXDesktop::sWindow menu = OpenMenu(icon);
        QVERIFY(menu.Id);
        ReadWhenPainted(menu, QStringLiteral("Quit"));
        Screenshot(QStringLiteral("menu"), menu.Geometry);
        const QStringList expected{QStringLiteral("Show Preferences"), QStringLiteral("MIDI Monitor"),
                                   QStringLiteral("Lock Console"), QStringLiteral("About"), QStringLiteral("Help"),
                                   QStringLiteral("Quit")};
        QStringList read = mDesktop->ReadText(menu.Geometry);
        for (QString& line : read)
            line.remove(QRegularExpression("^[^A-Za-z]+")); // the lock entry's check box
        QCOMPARE(read, expected);

        // The menu's first entry shows the window.
        QVERIFY(mDesktop->Key(QStringLiteral("s")));
        QVERIFY(mDesktop->WaitUntil([&] { return MainWindowViewable(); }));
    }

    void aboutBoxShowsTheCurrentYear()
    {
        cXDesktop::sWindow icon;
        QVERIFY(StartInTray(&icon));
        QVERIFY(OpenMenu(icon).Id);
        QVERIFY(mDesktop->Key(QStringLiteral("a")));
        const cXDesktop::sWindow box = WaitForTopLevel(QStringLiteral("About Quillon"));
        QVERIFY(box.Id);
        const QString text = ReadWhenPainted(box, QStringLiteral("Quillon 1.40"));
        Screenshot(QStringLiteral("about"), box.Geometry);
        QVERIFY2(text.contains(QStringLiteral("Quillon 1.40")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("Corvane")), qPrintable(text));
        QVERIFY2(text.contains(QString::number(QDate::currentDate().year())), qPrintable(text));

        // Its one button closes it; the program goes on.
        QVERIFY(mDesktop->Key(QStringLiteral("Return")));
        QVERIFY(mDesktop->WaitUntil([&] { return !mDesktop->Find(box.Id).Viewable; }));
        QCOMPARE(mInstances.first()->state(), QProcess::Running);
    }

    void helpOpensTheManualBesideTheProgram()
    {
        cXDesktop::sWindow icon;
        QVERIFY(StartInTray(&icon));
        QVERIFY(OpenMenu(icon).Id);
        QVERIFY(mDesktop->Key(QStringLiteral("h")));
        QVERIFY(mDesktop->WaitUntil([&] { return !mSandbox.OpenedDocuments().isEmpty(); }));
        const QUrl url(mSandbox.OpenedDocuments().first());
        QVERIFY2(url.isLocalFile(), qPrintable(url.toString()));
        const QFileInfo manual(url.toLocalFile());
        QCOMPARE(manual.canonicalFilePath(),
                 QFileInfo(QFileInfo(ProgramPath()).absolutePath() + QStringLiteral("/../Resources/HelpManual.pdf"))
                     .canonicalFilePath());
        QFile pdf(manual.filePath());
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        QCOMPARE(pdf.read(5), QByteArray("%PDF-"));
    }

    void closingTheWindowKeepsTheProgramAndQuitEndsIt()
    {
        cXDesktop::sWindow icon;
        QProcess* program = StartInTray(&icon);
        QVERIFY(program);
        const cXDesktop::sWindow window = ShowWindow(icon);
        QVERIFY(window.Id);

        mDesktop->Close(window.Id);
        QVERIFY(mDesktop->WaitUntil([&] { return !mDesktop->Find(window.Id).Viewable; }));
        QCOMPARE(program->state(), QProcess::Running);
        QVERIFY(WaitForTrayIcon().Id);

        QCOMPARE(QuitFromMenu(icon, program), 0);
        QCOMPARE(mSandbox.SharedMemorySegments(), QStringList());
    }

    void secondStartEndsAtOnceWhileTheFirstRuns()
    {
        cXDesktop::sWindow icon;
        QProcess* first = StartInTray(&icon);
        QVERIFY(first);
        QProcess* second = StartInstance();
        QVERIFY(second);
        QCOMPARE(ExitCode(second), 0);
        QCOMPARE(first->state(), QProcess::Running);
        int icons = 0;
        for (const cXDesktop::sWindow& window : mDesktop->Windows())
            icons += IsTrayIcon(window) ? 1 : 0;
        QCOMPARE(icons, 1);
    }

    void startsAgainAfterTheFirstEnded_data()
    {
        QTest::addColumn<bool>("kill");
        QTest::newRow("quit from the menu") << false;
        QTest::newRow("killed") << true;
    }

    void startsAgainAfterTheFirstEnded()
    {
        QFETCH(bool, kill);
        cXDesktop::sWindow icon;
        QProcess* first = StartInTray(&icon);
        QVERIFY(first);
        if (kill)
            Kill(first);
        else
            QCOMPARE(QuitFromMenu(icon, first), 0);
        QVERIFY(mDesktop->WaitUntil([&] { return !mDesktop->Find(icon.Id).Id; }));
        QProcess* next = StartInstance();
        QVERIFY(next);
        QVERIFY(WaitForTrayIcon().Id);
        QCOMPARE(next->state(), QProcess::Running);
    }

    void withoutTrayShowsTheBoxAndEndsWithOne()
    {
        QProcess* program = StartInstance();
        QVERIFY(program);
        const cXDesktop::sWindow box = WaitForTopLevel(QStringLiteral("Systray"));
        QVERIFY(box.Id);
        const QString text = ReadWhenPainted(box, QStringLiteral("Could not detect any system tray on this system"));
        Screenshot(QStringLiteral("no-tray"), box.Geometry);
        QVERIFY2(text.contains(QStringLiteral("Could not detect any system tray on this system")), qPrintable(text));

        QVERIFY(mDesktop->Key(QStringLiteral("Return")));
        QCOMPARE(ExitCode(program), 1);
        QCOMPARE(mSandbox.SharedMemorySegments(), QStringList());

        // With a tray now, the next start runs.
        cXDesktop::sWindow icon;
        QVERIFY(StartInTray(&icon));
    }

    // Connected to a console (the simulator, on the namespace's loopback), "Quit" still ends the
    // program cleanly: exit code 0, the console sees the link close, and nothing is reported
    // once the window is gone.
    void quitWhileConnectedEndsCleanly()
    {
        QUILLON_REQUIRE(cSimulatorProcess::Available(), QStringLiteral("the console simulator is not built"));
        cSimulatorProcess console;
        QVERIFY2(console.Start({QStringLiteral("--name"), QStringLiteral("Test Desk")},
                               mSandbox.NetworkExec()),
                 qPrintable(console.Errors()));

        // A family of the test's own whose map sends the console side over the network link,
        // and settings that select it in TCP/IP mode with the simulator's address typed in.
        const QString program = mSandbox.CopyProgram(
            ProgramPath(),
            {{QStringLiteral("mixer_map.json"),
              R"({"mixers": [{"name": "TestDesk", "daws": [{"name": "TestDAW", "file": "test_map.json"}]}]})"},
             {QStringLiteral("test_map.json"),
              R"({"virtual_ports": [], "port_aliases": [
                    {"type": "input", "name": "Corvane Internal TCP MIDI", "alias": "Mixer In"},
                    {"type": "output", "name": "Corvane Internal TCP MIDI", "alias": "Mixer Out"}],
                  "variables": [], "rules": []})"}});
        QVERIFY(!program.isEmpty());
        QVERIFY(mSandbox.WriteSettings("[General]\nMixerType=TestDesk\nDAWType=TestDAW\n\n[TestDesk]\nMode=TCP\n"
                                       "Connection\\DefaultUnitName=Custom\nConnection\\DefaultUnitIP=127.0.0.1\n"));

        cXDesktop::sWindow icon;
        QProcess* instance = StartInTray(&icon, program);
        QVERIFY(instance);
        const cXDesktop::sWindow window = ShowWindow(icon);
        QVERIFY(window.Id);
        ReadWhenPainted(window, QStringLiteral("Connect"));
        const QRect connect = mDesktop->FindWord(window.Geometry, QStringLiteral("Connect"));
        QVERIFY2(!connect.isNull(), qPrintable(mDesktop->ReadText(window.Geometry).join(QLatin1Char('|'))));
        mDesktop->Click(connect.center());
        QVERIFY2(mDesktop->WaitUntil([&] { return console.Errors().contains(QStringLiteral("console-sim: connected")); }),
                 qPrintable(console.Errors()));
        QVERIFY(mDesktop->WaitUntil([&] {
            return mDesktop->ReadText(mDesktop->Find(window.Id).Geometry).join(QLatin1Char(' ')).contains(QStringLiteral("Connected"));
        }));
        Screenshot(QStringLiteral("window-connected"), mDesktop->Find(window.Id).Geometry);

        instance->readAll(); // only what comes after "Quit" is looked at below
        QCOMPARE(QuitFromMenu(icon, instance), 0);
        const QString afterQuit = QString::fromLocal8Bit(instance->readAll());
        QVERIFY2(!afterQuit.contains(QStringLiteral("ERROR")) && !afterQuit.contains(QStringLiteral("QObject")) &&
                     !afterQuit.contains(QStringLiteral("QWidget")),
                 qPrintable(afterQuit));
        QVERIFY2(mDesktop->WaitUntil([&] { return console.Errors().contains(QStringLiteral("console-sim: disconnected")); }),
                 qPrintable(console.Errors()));
    }
};

QTEST_GUILESS_MAIN(tst_TrayApplication)
#include "tst_TrayApplication.moc"
