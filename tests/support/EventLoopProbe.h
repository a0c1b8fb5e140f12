#pragma once
// Test helper: watches how responsive the event loop stays while a test runs. A short repeating
// timer notes the longest gap between two of its ticks (a handler that holds the loop shows up as
// a long gap) and the highest resident memory of the process seen at any tick. Test thread only.

#include <QElapsedTimer>
#include <QTimer>

class cEventLoopProbe
{
public:
    // Longest time any one handler may hold the event loop: beyond it the program feels stuck.
    static constexpr qint64 kMostGapMs = 100;

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
