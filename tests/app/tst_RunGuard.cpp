// The single-instance guard with real System V segments and semaphores. Every instance is a
// separate process (this executable started again in a helper role), because the guard is
// process-wide; each test run uses keys of its own so it never meets a real Quillon.

#include "app/RunGuard.h"

#include <QCoreApplication>
#include <QProcess>
#include <QSharedMemory>
#include <QSystemSemaphore>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace
{
const int kWaitMs = 20000;

void Say(const char* Line)
{
    std::printf("%s\n", Line);
    std::fflush(stdout);
}

// Helper roles, run in a child process:
//   hold KEY   take the guard ("running" or "refused"), then keep it until standard input closes
//   lock KEY   take the guard's semaphore and keep it until killed
//   try KEY    take the guard and let it go at once ("running" or "refused")
int RunHelper(const QString& Role, const QString& Key)
{
    if (Role == QLatin1String("lock"))
    {
        QSystemSemaphore lock(RunGuard::GenerateKeyHash(Key, QStringLiteral("_memLockKey")), 1,
                              QSystemSemaphore::Open);
        lock.acquire();
        Say("locked");
        for (;;)
            pause();
    }
    RunGuard guard(Key);
    const bool running = guard.TryToRun();
    Say(running ? "running" : "refused");
    if (Role == QLatin1String("hold") && running)
    {
        char buffer[16];
        while (std::fgets(buffer, sizeof buffer, stdin) != nullptr)
            continue;
    }
    return 0;
}
} // namespace

class tst_RunGuard : public QObject
{
    Q_OBJECT

private:
    QString mKey;
    QList<QProcess*> mHelpers;

    QProcess* StartHelper(const QString& Role, const char* Expected)
    {
        auto* helper = new QProcess(this);
        mHelpers.append(helper);
        helper->setProgram(QCoreApplication::applicationFilePath());
        helper->setArguments({QStringLiteral("--helper"), Role, mKey});
        helper->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        helper->start();
        if (!helper->waitForStarted(kWaitMs))
            return nullptr;
        while (!helper->canReadLine() && helper->waitForReadyRead(kWaitMs))
            continue;
        const QByteArray line = helper->readLine().trimmed();
        if (line != Expected)
        {
            qWarning("helper %s said \"%s\", expected \"%s\"", qPrintable(Role), line.constData(), Expected);
            return nullptr;
        }
        return helper;
    }

    // What a fresh start with the test's key says: "running" or "refused". A start that hangs
    // (a semaphore nobody will ever release) fails here instead of freezing the test.
    QByteArray TryStart()
    {
        QProcess helper;
        helper.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--helper"), QStringLiteral("try"), mKey});
        if (!helper.waitForFinished(kWaitMs))
        {
            helper.kill();
            helper.waitForFinished();
            return "hung";
        }
        return helper.readAllStandardOutput().trimmed();
    }

    static void Kill(QProcess* Helper)
    {
        ::kill(static_cast<pid_t>(Helper->processId()), SIGKILL);
        Helper->waitForFinished(kWaitMs);
    }

private slots:
    void init()
    {
        static int run = 0;
        mKey = QStringLiteral("tst_RunGuard %1 %2").arg(QCoreApplication::applicationPid()).arg(++run);
    }

    void cleanup()
    {
        for (QProcess* helper : mHelpers)
            if (helper->state() != QProcess::NotRunning)
                Kill(helper);
        qDeleteAll(mHelpers);
        mHelpers.clear();
        // Leave no segment, semaphore or key file of this test behind: a killed helper cannot
        // remove what it made, and a semaphore opened in Create mode is removed with its object.
        RunGuard{mKey};
        // QSharedMemory keeps a semaphore of its own under the segment's key.
        for (const char* suffix : {"_memLockKey", "_sharedmemKey"})
            QSystemSemaphore(RunGuard::GenerateKeyHash(mKey, QLatin1String(suffix)), 1, QSystemSemaphore::Create);
    }

    void keyHashIsSha1OfKeyAndSuffix_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("hash");
        QTest::newRow("ascii split between key and suffix")
            << QStringLiteral("ab") << QStringLiteral("c") << QStringLiteral("a9993e364706816aba3e25717850c26c9cd0d89d");
        QTest::newRow("empty suffix") << QStringLiteral("Quillon") << QString()
                                      << QStringLiteral("ec781688eb39b43171b531e7e6ceaf95115f0ca9");
        QTest::newRow("non-ascii key hashed as utf-8")
            << QString::fromUtf8("\xc3\xa9") << QStringLiteral("x") << QStringLiteral("715bedec4a71360ecd7ec9b92ff84c6ae1cc8e63");
    }

    void keyHashIsSha1OfKeyAndSuffix()
    {
        QFETCH(QString, key);
        QFETCH(QString, suffix);
        QFETCH(QString, hash);
        QCOMPARE(RunGuard::GenerateKeyHash(key, suffix), hash);
    }

    void secondInstanceIsRefusedWhileTheFirstRuns()
    {
        QProcess* first = StartHelper(QStringLiteral("hold"), "running");
        QVERIFY(first);
        QCOMPARE(TryStart(), QByteArray("refused"));
        QCOMPARE(TryStart(), QByteArray("refused"));
        QCOMPARE(first->state(), QProcess::Running);
    }

    void holderAskingAgainKeepsTheGuard()
    {
        RunGuard guard(mKey);
        QVERIFY(guard.TryToRun());
        QVERIFY(guard.TryToRun());
        QCOMPARE(TryStart(), QByteArray("refused"));
        guard.Release();
        guard.Release();
        QCOMPARE(TryStart(), QByteArray("running"));
    }

    // However the first instance ended, the next start must run.
    void startAfterTheFirstEnded_data()
    {
        QTest::addColumn<QString>("role");
        QTest::addColumn<QByteArray>("says");
        QTest::addColumn<bool>("kill");
        QTest::newRow("quit normally") << QStringLiteral("hold") << QByteArray("running") << false;
        QTest::newRow("killed while running") << QStringLiteral("hold") << QByteArray("running") << true;
        QTest::newRow("killed while holding the semaphore") << QStringLiteral("lock") << QByteArray("locked") << true;
    }

    void startAfterTheFirstEnded()
    {
        QFETCH(QString, role);
        QFETCH(QByteArray, says);
        QFETCH(bool, kill);
        QProcess* first = StartHelper(role, says.constData());
        QVERIFY(first);
        if (kill)
            Kill(first);
        else
        {
            first->closeWriteChannel();
            QVERIFY(first->waitForFinished(kWaitMs));
            QCOMPARE(first->exitCode(), 0);
        }
        QCOMPARE(TryStart(), QByteArray("running"));
        // And that one let go again on its way out.
        QCOMPARE(TryStart(), QByteArray("running"));
    }

    void killedInstanceLeavesNoSegmentAfterTheNextStart()
    {
        QProcess* first = StartHelper(QStringLiteral("hold"), "running");
        QVERIFY(first);
        Kill(first);
        QSharedMemory orphan(RunGuard::GenerateKeyHash(mKey, QStringLiteral("_sharedmemKey")));
        QVERIFY(orphan.attach());
        orphan.detach();
        QCOMPARE(TryStart(), QByteArray("running"));
        QSharedMemory after(RunGuard::GenerateKeyHash(mKey, QStringLiteral("_sharedmemKey")));
        QVERIFY(!after.attach());
    }
};

int main(int argc, char* argv[])
{
    if (argc == 4 && std::strcmp(argv[1], "--helper") == 0)
    {
        QCoreApplication application(argc, argv);
        return RunHelper(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]));
    }
    QCoreApplication application(argc, argv);
    tst_RunGuard test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_RunGuard.moc"
