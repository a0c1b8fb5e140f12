#include "app/RunGuard.h"

#include <QCryptographicHash>

QString RunGuard::GenerateKeyHash(const QString& Key, const QString& Suffix)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(Key.toUtf8());
    hash.addData(Suffix.toUtf8());
    return QString::fromLatin1(hash.result().toHex());
}

RunGuard::RunGuard(const QString& Key)
    : key(Key)
    , memLockKey(GenerateKeyHash(Key, QStringLiteral("_memLockKey")))
    , sharedmemKey(GenerateKeyHash(Key, QStringLiteral("_sharedmemKey")))
    , sharedMem(sharedmemKey)
    , memLock(memLockKey, 1, QSystemSemaphore::Open)
{
    // A segment whose owner died without detaching (a crash, a kill) has no attachment left.
    // Attaching to it and detaching again makes this process the last one to let go, and on
    // Unix the last detach removes the segment, so a dead instance never blocks a new start.
    memLock.acquire();
    {
        QSharedMemory fix(sharedmemKey);
        fix.attach();
    }
    memLock.release();
}

RunGuard::~RunGuard()
{
    Release();
}

bool RunGuard::IsAnotherRunning()
{
    if (sharedMem.isAttached())
    {
        return false;
    }
    memLock.acquire();
    const bool isRunning = sharedMem.attach();
    if (isRunning)
    {
        sharedMem.detach();
    }
    memLock.release();
    return isRunning;
}

bool RunGuard::TryToRun()
{
    // Asking again while holding the segment must not give it away.
    if (sharedMem.isAttached())
    {
        return true;
    }
    if (IsAnotherRunning())
    {
        return false;
    }

    memLock.acquire();
    const bool result = sharedMem.create(sizeof(quint64));
    memLock.release();
    if (!result)
    {
        Release();
        return false;
    }
    return true;
}

void RunGuard::Release()
{
    memLock.acquire();
    if (sharedMem.isAttached())
    {
        sharedMem.detach();
    }
    memLock.release();
}
