// The single-instance guard with real System V segments and semaphores. Every instance is a
// separate process (this executable started again in a helper role), because the guard is
// process-wide; each row uses a key of its own so it never meets a real Quillon.

#include "app/RunGuard.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSystemSemaphore>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace
{
// Helper roles, run in a child process: "hold" takes the guard and says "running" or "refused",
// "lock" takes the guard's semaphore and says "locked", both until killed; "try" is "hold" that
// ends at once, letting the guard go.
int RunHelper(const QString& Role, const QString& Key)
{
    QSystemSemaphore lock(RunGuard::GenerateKeyHash(Key, QStringLiteral("_memLockKey")), 1, QSystemSemaphore::Open);
    RunGuard guard(Key);
    if (Role == QLatin1String("lock"))
        lock.acquire();
    std::printf("%s\n", Role == QLatin1String("lock") ? "locked" : guard.TryToRun() ? "running" : "refused");
    std::fflush(stdout);
    while (Role != QLatin1String("try"))
        pause();
    return 0;
}
} // namespace

class tst_RunGuard : public QObject
{
    Q_OBJECT

private:
    QString mKey;
    QProcess mFirst;

    // The first line a helper says; a helper that hangs (on a semaphore nobody will ever release)
    // says nothing, and a "try" helper is ended by then.
    QByteArray Start(QProcess& Helper, const QString& Role)
    {
        Helper.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--helper"), Role, mKey});
        while (!Helper.canReadLine() && Helper.waitForReadyRead(20000))
            continue;
        if (Role == QLatin1String("try") && !Helper.waitForFinished(20000))
            Helper.kill();
        return Helper.readLine().trimmed();
    }

private slots:
    void cleanup()
    {
        mFirst.kill();
        mFirst.waitForFinished();
        // No segment or semaphore of the row is left behind: a killed helper cannot remove what it
        // made, and a semaphore opened in Create mode is removed with its object.
        RunGuard{mKey};
        for (const char* suffix : {"_memLockKey", "_sharedmemKey"})
            QSystemSemaphore(RunGuard::GenerateKeyHash(mKey, QLatin1String(suffix)), 1, QSystemSemaphore::Create);
    }

    void nextStart_data()
    {
        QTest::addColumn<QString>("role"); // of the first instance
        QTest::addColumn<bool>("killed");
        QTest::addColumn<QByteArray>("next");
        QTest::newRow("first still running") << "hold" << false << QByteArray("refused");
        QTest::newRow("first killed while running") << "hold" << true << QByteArray("running");
        QTest::newRow("first killed while holding the semaphore") << "lock" << true << QByteArray("running");
    }

    void nextStart()
    {
        QFETCH(QString, role);
        QFETCH(bool, killed);
        QFETCH(QByteArray, next);
        mKey = QStringLiteral("tst_RunGuard %1 %2").arg(QCoreApplication::applicationPid()).arg(QTest::currentDataTag());
        QCOMPARE(Start(mFirst, role), QByteArray(role == "lock" ? "locked" : "running"));
        if (killed)
        {
            mFirst.kill();
            mFirst.waitForFinished();
        }
        QProcess second, third;
        QCOMPARE(Start(second, "try"), next);
        // A start that ran let go again on its way out; one refused took nothing from the first.
        QCOMPARE(Start(third, "try"), next);
        // The hash of the program's key names its segment: the same in every release, or an old
        // and a new Quillon would run side by side.
        QCOMPARE(RunGuard::GenerateKeyHash(QStringLiteral("Quillon"), QString()),
                 QStringLiteral("ec781688eb39b43171b531e7e6ceaf95115f0ca9"));
    }
};

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--helper") == 0)
        return RunHelper(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    tst_RunGuard test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_RunGuard.moc"
