#pragma once
// Counts how deeply a piece of code is entered for as long as one scope lives, so that code reached
// again from inside it (a signal handler, a rule that fires another) can tell. Lives on the stack
// of the thread that owns the counter.

class cDepthCounter
{
public:
    explicit cDepthCounter(int& Depth) : mDepth(Depth) { ++mDepth; }
    ~cDepthCounter() { --mDepth; }
    cDepthCounter(const cDepthCounter&) = delete;
    cDepthCounter& operator=(const cDepthCounter&) = delete;

private:
    int& mDepth;
};
