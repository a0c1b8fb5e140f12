#pragma once
// Test helper: where the tray program runs in its end-to-end tests. Every instance runs inside a
// network namespace that this test makes (cNetworkNamespaces, named with the test's pid, so its
// discovery broadcasts reach nothing but its own loopback) and inside an IPC namespace of the test's own (so its
// single-instance segment meets no other Quillon on the machine, and the test can list it).
// Settings, run-time files and the help opener are private folders. Test thread only.

#include <QMap>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

class cNetworkNamespaces;

class cAppSandbox
{
public:
    static QStringList MissingTools();

    cAppSandbox();
    ~cAppSandbox();
    cAppSandbox(const cAppSandbox&) = delete;
    cAppSandbox& operator=(const cAppSandbox&) = delete;

    bool Create(QString* Error);
    void Remove();

    // Program and arguments as they run inside the namespaces.
    QStringList Command(const QString& Program, const QStringList& Arguments) const;
    QProcessEnvironment Environment(const QString& Display) const;
    // The command prefix that runs a program in the network namespace only.
    QStringList NetworkExec() const;
    QString ConfigFolder() const;
    // Writes the program's settings store (QSettings' native format here: an ini file).
    bool WriteSettings(const QByteArray& Ini) const;
    // A copy of Program in a folder of its own with these map files beside it in Maps; returns
    // the copy's path.
    QString CopyProgram(const QString& Program, const QMap<QString, QByteArray>& Maps) const;
    // What the program asked the desktop to open, one line per request.
    QStringList OpenedDocuments() const;
    // The shared-memory segments that exist in the sandbox (ipcs -m lines with a key).
    QStringList SharedMemorySegments() const;
    // Runs a command inside the network namespace and waits for it.
    bool RunInside(const QStringList& Command, QString* Output = nullptr) const;

private:
    static bool Run(const QStringList& Command, QString* Output = nullptr);

    std::unique_ptr<cNetworkNamespaces> mNamespaces;
    QProcess mIpcHolder;
    QTemporaryDir mHome;
};
