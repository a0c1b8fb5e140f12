#pragma once
// Test helper: watches how responsive the event loop stays while a test runs. A short repeating
// timer notes the longest gap between two of its ticks (a handler that holds the loop shows up as
// a long gap) and the highest resident memory of the process seen at any tick. Test thread only.

#include <QElapsedTimer>
#include <QTimer>

class cEventLoopProbe
{
public:
    // Longest gap the fault tests accept: a program that does not come back to its event loop for
    // two seconds is frozen to its user. It tells a handler stuck on a flood (which holds the loop
    // for the whole flood) from a busy machine, which on 2 cores under load delays single ticks by
    // half a second; how short the gaps stay on a quiet machine is for the benchmarks to measure.
    static constexpr qint64 kMostGapMs = 2000;

    cEventLoopProbe();

    // Starts (again) from now: gap and memory peak are measured from here on.
    void Start();
    void Stop();

    // Longest time between two ticks, including the time to the call, in milliseconds.
    qint64 LongestGapMs();
    // Resident memory when Start was called, and the most seen since, in bytes (-1 where the
    // system does not tell).
    qint64 StartResidentBytes() const { return mStartResident; }
    qint64 PeakResidentBytes() const { return mPeakResident; }

    // The process's resident memory now, in bytes; -1 where it cannot be read.
    static qint64 ResidentBytes();

private:
    void Tick();

    QTimer mTimer;
    QElapsedTimer mSinceTick;
    qint64 mLongestGap = 0;
    qint64 mStartResident = -1;
    qint64 mPeakResident = -1;
};
