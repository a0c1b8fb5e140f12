// Linked into the tests of a ThreadSanitizer build only (QUILLON_TSAN).
//
// ThreadSanitizer sees what was compiled with it. Qt was not: QMutex locks with atomics and futexes
// inside libQt5Core, so TSan never learns that two threads took the same QMutex one after the
// other, and it reports every buffer that a QMutex guards as a race. These definitions stand in for
// QMutex's out-of-line lock, tryLock and unlock (the ones QMutexLocker calls): each forwards to
// Qt's own through the dynamic linker and tells TSan what happened, as it does for std::mutex.

#include <QMutex>

#include <dlfcn.h>
#include <sanitizer/tsan_interface.h>

#include <cstdio>
#include <cstdlib>

namespace
{
template <typename tFunction> tFunction QtOwn(const char* Symbol)
{
    void* found = dlsym(RTLD_NEXT, Symbol);
    if (found == nullptr)
    {
        std::fprintf(stderr, "QMutexTsan: %s not found in Qt\n", Symbol);
        std::abort();
    }
    return reinterpret_cast<tFunction>(found);
}

typedef void (*tLock)(QMutex*);
typedef bool (*tTryLock)(QMutex*, int);
typedef void (*tUnlock)(QMutex*);
} // namespace

void QMutex::lock() QT_MUTEX_LOCK_NOEXCEPT
{
    static const tLock own = QtOwn<tLock>("_ZN6QMutex4lockEv");
    __tsan_mutex_pre_lock(this, 0);
    own(this);
    __tsan_mutex_post_lock(this, 0, 0);
}

bool QMutex::tryLock(int Timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const tTryLock own = QtOwn<tTryLock>("_ZN6QMutex7tryLockEi");
    __tsan_mutex_pre_lock(this, __tsan_mutex_try_lock);
    const bool locked = own(this, Timeout);
    __tsan_mutex_post_lock(this, locked ? __tsan_mutex_try_lock : __tsan_mutex_try_lock | __tsan_mutex_try_lock_failed, 0);
    return locked;
}

void QMutex::unlock() noexcept
{
    static const tUnlock own = QtOwn<tUnlock>("_ZN6QMutex6unlockEv");
    __tsan_mutex_pre_unlock(this, 0);
    own(this);
    __tsan_mutex_post_unlock(this, 0);
}
