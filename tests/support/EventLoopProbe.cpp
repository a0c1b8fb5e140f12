#include "tests/support/EventLoopProbe.h"

#include <QFile>

#include <unistd.h>

namespace
{
// Short enough that a gap near the bound is seen, long enough to cost nothing.
constexpr int kTickMs = 5;
} // namespace

cEventLoopProbe::cEventLoopProbe()
{
    mTimer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&mTimer, &QTimer::timeout, [this] { Tick(); });
}

void cEventLoopProbe::Start()
{
    mLongestGap = 0;
    mStartResident = ResidentBytes();
    mPeakResident = mStartResident;
    mSinceTick.start();
    mTimer.start(kTickMs);
}

void cEventLoopProbe::Stop()
{
    LongestGapMs();
    mTimer.stop();
}

qint64 cEventLoopProbe::LongestGapMs()
{
    if (mTimer.isActive())
        mLongestGap = qMax(mLongestGap, mSinceTick.elapsed());
    return mLongestGap;
}

void cEventLoopProbe::Tick()
{
    mLongestGap = qMax(mLongestGap, mSinceTick.elapsed());
    mSinceTick.restart();
    mPeakResident = qMax(mPeakResident, ResidentBytes());
}

qint64 cEventLoopProbe::ResidentBytes()
{
    // Linux: the second field of /proc/self/statm is the resident size in pages.
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    bool ok = false;
    const qint64 pages = fields.value(1).toLongLong(&ok);
    if (!ok)
        return -1;
    return pages * ::sysconf(_SC_PAGESIZE);
}
