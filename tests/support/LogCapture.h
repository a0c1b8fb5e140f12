#pragma once
// Collects the lines written through LogError while it lives. One at a time; made on the test's
// thread, it may collect lines logged on any thread.

#include <QMutex>
#include <QStringList>

class cLogCapture
{
public:
    cLogCapture();
    ~cLogCapture();
    cLogCapture(const cLogCapture&) = delete;
    cLogCapture& operator=(const cLogCapture&) = delete;

    // Whole lines as written: "ERROR: <message>\t(<file>:<line>)\n".
    QStringList Lines() const;
    // Only the message part of each line, in order.
    QStringList Messages() const;
    // Source file part ("Common/MIDI/MidiParser.cpp") of each line, in order.
    QStringList Files() const;
    void Clear();

private:
    mutable QMutex mMutex;
    QStringList mLines;
};
