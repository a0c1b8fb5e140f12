// The tray program once through, as a user meets it: a private X server (Xvfb) with a real tray
// (trayer); the program, in IPC and network namespaces of its own (its single-instance segment
// meets no other Quillon, its discovery reaches no network), puts its icon in the tray; the tray
// menu shows the window and quits the program. Mouse, keys and windows go through xdotool.

#include "tests/support/RealComponent.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
const int kWaitMs = 20000;
const QString kProgram = QStringLiteral(QUILLON_PROGRAM);
// trayer sits at the top right of the screen, so the icon has a known place.
const QRect kTray(1024 - 120, 0, 120, 32);
} // namespace

class tst_TrayApplication : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mHome;
    QProcessEnvironment mDesktop = QProcessEnvironment::systemEnvironment();
    QProcess mXvfb, mTrayer, mProgram;
    QString mXdotoolErrors;

    QString Xdotool(const QStringList& Arguments)
    {
        QProcess xdotool;
        xdotool.setProcessEnvironment(mDesktop);
        xdotool.start(QStringLiteral("xdotool"), Arguments);
        xdotool.waitForFinished(kWaitMs);
        mXdotoolErrors = QString::fromLocal8Bit(xdotool.readAllStandardError()).trimmed();
        return QString::fromLocal8Bit(xdotool.readAllStandardOutput()).trimmed();
    }
    // The viewable windows of a class: the program's are its tray icon, the menu and the window.
    QStringList Shown(const QString& Class = QStringLiteral("^Quillon$"))
    {
        return Xdotool({"search", "--onlyvisible", "--class", Class}).split('\n', Qt::SkipEmptyParts);
    }
    // The program's one viewable window besides Known, if there is exactly one.
    QString Other(const QStringList& Known)
    {
        const QStringList shown = Shown();
        QStringList others;
        for (const QString& id : shown)
            others << (Known.contains(id) ? QStringList() : QStringList{id});
        return shown.size() == Known.size() + 1 && others.size() == 1 ? others.first() : QString();
    }
    // Presses Key while Menu is the program's one window besides Known. A menu can be viewable a
    // moment before it holds the keyboard, so the caller presses again until the menu has gone.
    void PressOnMenu(const QString& Key, const QString& Menu, const QStringList& Known)
    {
        if (Other(Known) == Menu)
            Xdotool({"key", Key});
    }
    QString Log(const QString& Name)
    {
        QFile file(mHome.filePath(Name));
        return file.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(file.readAll().right(2000)) : QString();
    }
    QRect Geometry(const QString& Id)
    {
        QMap<QString, int> values;
        for (const QString& line : Xdotool({"getwindowgeometry", "--shell", Id}).split('\n'))
            values[line.section('=', 0, 0)] = line.section('=', 1).toInt();
        return QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]);
    }
    // Right-clicks the icon, Dy below its middle: two clicks at one place would make a double click.
    void RightClick(const QString& Icon, int Dy)
    {
        const QPoint at = Geometry(Icon).center() + QPoint(0, Dy);
        Xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "3"});
    }

private slots:
    void initTestCase()
    {
        QStringList missing;
        for (const char* tool : {"Xvfb", "trayer", "xdotool", "unshare"})
            missing << (QStandardPaths::findExecutable(tool).isEmpty() ? QStringList{tool} : QStringList());
        QUILLON_REQUIRE(missing.isEmpty(), "missing: " + missing.join(", "));
        QUILLON_REQUIRE(QProcess::execute("unshare", {"--ipc", "--net", "true"}) == 0, "no IPC and network namespaces (run as root)");
        // Only the socket file in /tmp: an abstract socket is shared by every chroot on the machine, and
        // a display number taken there made trayer fail with "cannot open display".
        // -displayfd picks a display nobody uses and prints its number once the server is ready.
        // The servers' own output goes to files: a pipe nobody reads while the test waits on xdotool
        // could fill and stall them.
        mXvfb.setStandardErrorFile(mHome.filePath("xvfb.log"));
        mXvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x600x24", "-nolisten", "tcp", "-nolisten", "local"});
        while (!mXvfb.canReadLine() && mXvfb.waitForReadyRead(kWaitMs))
            continue;
        mDesktop.insert("DISPLAY", ":" + QString::fromLatin1(mXvfb.readLine().trimmed()));
        QVERIFY2(mDesktop.value("DISPLAY") != ":", "Xvfb gives no display");
        mTrayer.setProcessEnvironment(mDesktop);
        mTrayer.setProcessChannelMode(QProcess::MergedChannels);
        mTrayer.setStandardOutputFile(mHome.filePath("trayer.log"));
        mTrayer.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120", "--heighttype",
                                 "pixel", "--height", "32", "--transparent", "false", "--SetDockType", "true"});
        QTRY_VERIFY2_WITH_TIMEOUT(!Shown("^trayer$").isEmpty(),
                                  qPrintable(QString("trayer shows no panel on %1 (trayer %2: %3; xdotool: %4)")
                                                 .arg(mDesktop.value("DISPLAY"), mTrayer.state() == QProcess::Running ? "running" : "ended",
                                                      Log("trayer.log") + "; Xvfb: " + Log("xvfb.log"), mXdotoolErrors)),
                                  kWaitMs);
    }

    void cleanupTestCase()
    {
        for (QProcess* process : {&mProgram, &mTrayer, &mXvfb})
        {
            process->terminate();
            if (!process->waitForFinished(kWaitMs))
                process->kill();
            process->waitForFinished();
        }
    }

    void startsInTheTrayShowsTheWindowAndQuits()
    {
        QProcessEnvironment environment = mDesktop;
        // No session bus: the icon is embedded the classic X way, into trayer.
        for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION",
                                 "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID", "QT_QPA_PLATFORMTHEME", "XAUTHORITY"})
            environment.remove(name);
        environment.insert("QT_QPA_PLATFORM", "xcb");
        // No OpenGL integration: the window draws without it, and where a machine has OpenGL the GLX
        // plugin's allocations, made in a module Qt unloads at exit, cannot be told apart from ours by
        // the leak check (scripts/sanitizer-suppressions/lsan.supp).
        environment.insert("QT_XCB_GL_INTEGRATION", "none");
        for (const QString folder : {"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "TMPDIR"})
        {
            QVERIFY(QDir(mHome.path()).mkpath(folder));
            environment.insert(folder, mHome.filePath(folder));
        }
        QFile::setPermissions(mHome.filePath("XDG_RUNTIME_DIR"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        mProgram.setProcessEnvironment(environment);
        mProgram.setProcessChannelMode(QProcess::MergedChannels);
        mProgram.start("unshare", {"--ipc", "--net", "--", kProgram});

        // Its icon is all the program shows at first, once the tray has placed and sized it.
        QString icon;
        QRect seen, now;
        QTRY_VERIFY2_WITH_TIMEOUT((icon = Other({}), seen = now, now = Geometry(icon), kTray.contains(now) && now == seen),
                                  mProgram.readAll().constData(), kWaitMs);
        // The pid is the program's own (unshare executes it in its place; in a chroot the exe link
        // cannot be resolved, the command line can), so ending it by pid ends the program.
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(mProgram.processId()));
        QVERIFY(commandLine.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLocal8Bit(commandLine.readAll().split('\0').first()), kProgram);

        // The menu's first entry shows the window.
        RightClick(icon, -4);
        QString menu, window;
        QTRY_VERIFY_WITH_TIMEOUT(!(menu = Other({icon})).isEmpty(), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT((PressOnMenu("s", menu, {icon}), !(window = Other({icon})).isEmpty() && window != menu), kWaitMs);
        QCOMPARE(Xdotool({"getwindowname", window}), QString("Quillon"));

        // "Quit" ends the program cleanly (in a sanitizer build, leaks would change the exit code).
        RightClick(icon, 4);
        QTRY_VERIFY_WITH_TIMEOUT(!(menu = Other({icon, window})).isEmpty(), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT((PressOnMenu("q", menu, {icon, window}), mProgram.state() == QProcess::NotRunning), kWaitMs);
        QVERIFY2(mProgram.exitStatus() == QProcess::NormalExit && mProgram.exitCode() == 0, mProgram.readAll().constData());
    }
};

QTEST_GUILESS_MAIN(tst_TrayApplication)
#include "tst_TrayApplication.moc"
