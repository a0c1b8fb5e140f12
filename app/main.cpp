// Quillon's entry point: one instance at a time, settings named for the maker, a system tray
// required, the preferences window created hidden, then the event loop until "&Quit".

#include "app/MainWindow.h"
#include "app/RunGuard.h"
#include "session/Identity.h"

#include <QApplication>
#include <QCoreApplication>
#include <QIcon>
#include <QMessageBox>
#include <QSystemTrayIcon>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace
{
// Only the SHA-1 hashes of this string become system names; it must never change between
// releases, or an old and a new Quillon would run side by side.
const char kInstanceKey[] = "Qu1llon-Corvane:console<->DAW bridge, one per session #7c5e2b90a";
static_assert(sizeof(kInstanceKey) - 1 == 64, "the instance key is 64 characters long");

#ifdef Q_OS_WIN
// Marks the running program to other processes (installers look for it).
const wchar_t kMutexName[] = L"QuillonK7r2Qx";
#endif
} // namespace

int main(int argc, char* argv[])
{
    RunGuard guard(QString::fromLatin1(kInstanceKey));
    if (!guard.TryToRun())
    {
        return 0;
    }

#ifdef Q_OS_WIN
    // Held, never closed and never examined, for the life of the process.
    CreateMutexW(nullptr, FALSE, kMutexName);
#endif

    Q_INIT_RESOURCE(Quillon);

    cIdentity::Apply();

    QApplication application(argc, argv);
    // Every window of the program, the about box among them, shows the program's icon.
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/Images/Quillon.ico")));

    if (!QSystemTrayIcon::isSystemTrayAvailable())
    {
        QMessageBox::critical(nullptr, QObject::tr("Systray"),
                              QObject::tr("Could not detect any system tray on this system"),
                              QMessageBox::Ok);
        return 1;
    }
    QApplication::setQuitOnLastWindowClosed(false);

    cMainWindow window(nullptr);
    window.setWindowFlags(Qt::CustomizeWindowHint | Qt::WindowCloseButtonHint);

    return application.exec();
}
