#include "tests/app/AppSandbox.h"

#include "tests/support/NetworkNamespaces.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <csignal>
#include <sys/types.h>

namespace
{
const QString kRole = QStringLiteral("gui");
const int kCommandMs = 20000;
} // namespace

QStringList cAppSandbox::MissingTools()
{
    QStringList missing;
    for (const char* tool : {"unshare", "nsenter", "ipcs"})
    {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty() &&
            QStandardPaths::findExecutable(QLatin1String(tool), {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin")}).isEmpty())
            missing.append(QLatin1String(tool));
    }
    return missing;
}

cAppSandbox::cAppSandbox() = default;

cAppSandbox::~cAppSandbox()
{
    Remove();
}

bool cAppSandbox::Run(const QStringList& Command, QString* Output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(Command.first(), Command.mid(1));
    const bool finished = process.waitForFinished(kCommandMs);
    const QString output = QString::fromLocal8Bit(process.readAll());
    if (Output)
        *Output = output;
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

bool cAppSandbox::Create(QString* Error)
{
    if (!cNetworkNamespaces::Available(Error))
        return false;
    mNamespaces = std::make_unique<cNetworkNamespaces>();
    if (!mNamespaces->Add(kRole))
    {
        *Error = mNamespaces->Why();
        mNamespaces.reset();
        return false;
    }
    QString output;
    // A sleeping process holds the IPC namespace; every instance of the program joins it.
    mIpcHolder.start(QStringLiteral("unshare"), {QStringLiteral("--ipc"), QStringLiteral("sleep"), QStringLiteral("infinity")});
    if (!mIpcHolder.waitForStarted(kCommandMs) || !RunInside({QStringLiteral("true")}, &output))
    {
        *Error = QStringLiteral("cannot make an IPC namespace: %1").arg(output.trimmed());
        return false;
    }
    if (!mHome.isValid())
    {
        *Error = QStringLiteral("no temporary folder");
        return false;
    }
    for (const char* folder : {"config", "runtime", "tmp", "bin"})
        QDir(mHome.path()).mkpath(QLatin1String(folder));
    QFile::setPermissions(mHome.filePath(QStringLiteral("runtime")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    // The desktop's document opener, as Qt finds it on a plain X desktop: here it only notes the
    // request, so no viewer ever opens during a test.
    QFile opener(mHome.filePath(QStringLiteral("bin/xdg-open")));
    if (!opener.open(QIODevice::WriteOnly))
    {
        *Error = QStringLiteral("cannot write the document opener");
        return false;
    }
    opener.write(QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$*\" >> '%1'\n")
                     .arg(mHome.filePath(QStringLiteral("opened.txt")))
                     .toLocal8Bit());
    opener.close();
    opener.setPermissions(opener.permissions() | QFile::ExeOwner);
    return true;
}

void cAppSandbox::Remove()
{
    if (mIpcHolder.state() != QProcess::NotRunning)
    {
        ::kill(static_cast<pid_t>(mIpcHolder.processId()), SIGKILL);
        mIpcHolder.waitForFinished(kCommandMs);
    }
    mNamespaces.reset();
}

QStringList cAppSandbox::Command(const QString& Program, const QStringList& Arguments) const
{
    // nsenter and ip both execute the program in their own place, so the pid is the program's.
    QStringList command{QStringLiteral("nsenter"), QStringLiteral("--target"), QString::number(mIpcHolder.processId()),
                        QStringLiteral("--ipc"), QStringLiteral("--")};
    command.append(NetworkExec());
    command.append(Program);
    command.append(Arguments);
    return command;
}

QStringList cAppSandbox::NetworkExec() const
{
    return mNamespaces ? mNamespaces->Exec(kRole) : QStringList();
}

bool cAppSandbox::RunInside(const QStringList& Command, QString* Output) const
{
    return Run(this->Command(Command.first(), Command.mid(1)), Output);
}

QProcessEnvironment cAppSandbox::Environment(const QString& Display) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // No session bus: the tray icon is then embedded the classic X way, into trayer.
    for (const char* name : {"DBUS_SESSION_BUS_ADDRESS", "WAYLAND_DISPLAY", "XDG_CURRENT_DESKTOP", "DESKTOP_SESSION",
                             "KDE_FULL_SESSION", "GNOME_DESKTOP_SESSION_ID", "QT_QPA_PLATFORMTHEME", "XAUTHORITY"})
        environment.remove(QLatin1String(name));
    environment.insert(QStringLiteral("DISPLAY"), Display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // No OpenGL integration: the window draws without it, and where a machine has OpenGL the GLX
    // integration plugin's allocations, made in a module Qt unloads at exit, cannot be told apart
    // from ours by the leak check (scripts/sanitizer-suppressions/lsan.supp).
    environment.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), QStringLiteral("none"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), ConfigFolder());
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), mHome.filePath(QStringLiteral("runtime")));
    environment.insert(QStringLiteral("TMPDIR"), mHome.filePath(QStringLiteral("tmp")));
    environment.insert(QStringLiteral("PATH"),
                       mHome.filePath(QStringLiteral("bin")) + QLatin1Char(':') + environment.value(QStringLiteral("PATH")));
    return environment;
}

QString cAppSandbox::ConfigFolder() const
{
    return mHome.filePath(QStringLiteral("config"));
}

bool cAppSandbox::WriteSettings(const QByteArray& Ini) const
{
    QDir().mkpath(ConfigFolder() + QStringLiteral("/Corvane"));
    QFile file(ConfigFolder() + QStringLiteral("/Corvane/Quillon.conf"));
    return file.open(QIODevice::WriteOnly) && file.write(Ini) == Ini.size();
}

QString cAppSandbox::CopyProgram(const QString& Program, const QMap<QString, QByteArray>& Maps) const
{
    const QString folder = mHome.filePath(QStringLiteral("program/bin"));
    QDir(folder).removeRecursively();
    QDir().mkpath(folder + QStringLiteral("/Maps"));
    const QString copy = folder + QStringLiteral("/quillon");
    if (!QFile::copy(Program, copy))
        return QString();
    for (auto map = Maps.cbegin(); map != Maps.cend(); ++map)
    {
        QFile file(folder + QStringLiteral("/Maps/") + map.key());
        if (!file.open(QIODevice::WriteOnly) || file.write(map.value()) != map.value().size())
            return QString();
    }
    return copy;
}

QStringList cAppSandbox::OpenedDocuments() const
{
    QFile file(mHome.filePath(QStringLiteral("opened.txt")));
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    return QString::fromLocal8Bit(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList cAppSandbox::SharedMemorySegments() const
{
    QString output;
    if (!RunInside({QStringLiteral("ipcs"), QStringLiteral("-m")}, &output))
        return {QStringLiteral("ipcs failed: ") + output};
    QStringList segments;
    for (const QString& line : output.split(QLatin1Char('\n')))
    {
        if (line.startsWith(QLatin1String("0x")))
            segments.append(line.simplified());
    }
    return segments;
}
