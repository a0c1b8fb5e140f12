// The tray program once through, as a user meets it: a private X server (Xvfb) with a real tray
// (trayer); the program, in IPC and network namespaces of its own (its single-instance segment
// meets no other Quillon, its discovery reaches no network), puts its icon in the tray; the tray
// menu shows the window and quits the program. Mouse, keys and windows go through xdotool.

#include "tests/support/RealComponent.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace
{
const int kWaitMs = 20000;
const QString kProgram = QStringLiteral(QUILLON_PROGRAM);
// trayer sits at the top right of the screen, so the icon has a known place.
const QRect kTray(1024 - 120, 0, 120, 32);

bool WaitUntil(const std::function<bool()>& Test)
{
    QElapsedTimer waited;
    waited.start();
    while (!Test())
    {
        if (waited.elapsed() > kWaitMs)
            return false;
        QTest::qWait(50);
    }
    return true;
}

} // namespace

class tst_TrayApplication : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mHome;
    QProcessEnvironment mDesktop = QProcessEnvironment::systemEnvironment();
    QProcess mXvfb, mTrayer, mProgram;

    QString Xdotool(const QStringList& Arguments)
    {
        QProcess xdotool;
        xdotool.setProcessEnvironment(mDesktop);
        xdotool.start(QStringLiteral("xdotool"), Arguments);
        xdotool.waitForFinished(kWaitMs);
        return QString::fromLocal8Bit(xdotool.readAllStandardOutput()).trimmed();
    }
    // The program's viewable windows: its tray icon, the menu, the window.
    QStringList Shown(const QString& Class = QStringLiteral("^Quillon$"))
    {
        return Xdotool({"search", "--onlyvisible", "--class", Class}).split('\n', Qt::SkipEmptyParts);
    }
    QRect Geometry(const QString& Id)
    {
        QMap<QString, int> values;
        for (const QString& line : Xdotool({"getwindowgeometry", "--shell", Id}).split('\n'))
            values[line.section('=', 0, 0)] = line.section('=', 1).toInt();
        return QRect(values["X"], values["Y"], values["WIDTH"], values["HEIGHT"]);
    }
    // Right-clicks the icon (the first of Known) and returns the menu once it shows. Each click
    // lands apart from the one before, or two quick ones would make a double click and no menu.
    QString OpenMenu(const QStringList& Known)
    {
        const QPoint at = Geometry(Known.first()).center() + QPoint(0, Known.size() * 8 - 12);
        Xdotool({"mousemove", QString::number(at.x()), QString::number(at.y()), "click", "3"});
        QString menu;
        WaitUntil([&] {
            for (const QString& id : Shown())
                menu = Known.contains(id) ? menu : id;
            return !menu.isEmpty();
        });
        return menu;
    }

private slots:
    void initTestCase()
    {
        QStringList missing;
        for (const char* tool : {"Xvfb", "trayer", "xdotool", "unshare"})
            if (QStandardPaths::findExecutable(tool).isEmpty())
                missing << tool;
        QUILLON_REQUIRE(missing.isEmpty(), "missing: " + missing.join(", "));
        QUILLON_REQUIRE(QProcess::execute("unshare", {"--ipc", "--net", "true"}) == 0, "no IPC and network namespaces (run as root)");
        // -displayfd picks a display nobody uses and prints its number once the server is ready.
        mXvfb.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1024x600x24", "-nolisten", "tcp"});
        while (!mXvfb.canReadLine() && mXvfb.waitForReadyRead(kWaitMs))
            continue;
        mDesktop.insert("DISPLAY", ":" + QString::fromLatin1(mXvfb.readLine().trimmed()));
        QVERIFY2(mDesktop.value("DISPLAY") != ":", "Xvfb gives no display");
        mTrayer.setProcessEnvironment(mDesktop);
        mTrayer.start("trayer", {"--edge", "top", "--align", "right", "--widthtype", "pixel", "--width", "120", "--heighttype",
                                 "pixel", "--height", "32", "--transparent", "false", "--SetDockType", "true"});
        QVERIFY2(WaitUntil([&] { return !Shown("^trayer$").isEmpty(); }), "trayer shows no panel");
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

        // Its icon, placed and sized by the tray, is all the program shows at first.
        QString icon;
        QRect seen;
        QVERIFY2(WaitUntil([&] {
                     const QStringList shown = Shown();
                     const QRect now = shown.size() == 1 ? Geometry(shown.first()) : QRect();
                     const bool settled = now == seen && kTray.contains(now) && now.width() > 1;
                     icon = shown.value(0);
                     seen = now;
                     return settled;
                 }),
                 mProgram.readAll().constData());
        // The pid is the program's own (unshare executes it in its place; in a chroot the exe link
        // cannot be resolved, the command line can), so ending it by pid ends the program.
        QFile commandLine(QStringLiteral("/proc/%1/cmdline").arg(mProgram.processId()));
        QVERIFY(commandLine.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLocal8Bit(commandLine.readAll().split('\0').first()), kProgram);

        // The menu's first entry shows the window.
        const QString menu = OpenMenu({icon});
        QVERIFY(!menu.isEmpty());
        Xdotool({"key", "s"});
        QString window;
        QVERIFY(WaitUntil([&] {
            const QStringList shown = Shown();
            window = shown.value(shown.indexOf(icon) == 0 ? 1 : 0);
            return shown.size() == 2 && shown.contains(icon) && !shown.contains(menu);
        }));
        QCOMPARE(Xdotool({"getwindowname", window}), QString("Quillon"));

        // "Quit" ends the program cleanly (in a sanitizer build, leaks would change the exit code).
        QVERIFY(!OpenMenu({icon, window}).isEmpty());
        Xdotool({"key", "q"});
        QVERIFY(mProgram.waitForFinished(kWaitMs));
        QVERIFY2(mProgram.exitStatus() == QProcess::NormalExit && mProgram.exitCode() == 0, mProgram.readAll().constData());
    }
};

QTEST_GUILESS_MAIN(tst_TrayApplication)
#include "tst_TrayApplication.moc"
