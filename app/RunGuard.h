#pragma once

// Keeps Quillon to one running instance per user session. Owned by main() for the life of the
// process and used only on the main thread. The running instance holds a small shared-memory
// segment; a system semaphore orders the probe and the creation of two instances that start at
// the same moment. Only SHA-1 hashes of the key ever become system names.

#include <QSharedMemory>
#include <QString>
#include <QSystemSemaphore>

class RunGuard
{
public:
    explicit RunGuard(const QString& Key);
    ~RunGuard();

    RunGuard(const RunGuard&) = delete;
    RunGuard& operator=(const RunGuard&) = delete;

    // True when no other instance holds the segment and this one now does.
    bool TryToRun();
    // Lets the segment go; a later start may then run. Safe to call more than once.
    void Release();

    // 40 lower-case hex digits of SHA-1 over the UTF-8 bytes of Key followed by those of Suffix.
    static QString GenerateKeyHash(const QString& Key, const QString& Suffix);

private:
    bool IsAnotherRunning();

    const QString key;
    const QString memLockKey;
    const QString sharedmemKey;

    QSharedMemory sharedMem;
    QSystemSemaphore memLock;
};
