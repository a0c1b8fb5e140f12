#pragma once
// Says in words what one MIDI message is, for the bridge's and the window's monitors
// ("CC 7 = 64 on channel 1").
// Stateless; any thread.

#include <QByteArray>
#include <QString>

class cMidiDescriber
{
public:
    // One whole message with its status byte (running status written out); a byte sequence that is
    // no whole message is described as such.
    static QString Describe(const QByteArray& Message);
    // The message as hex bytes with the description beside it: "b0 07 40  CC 7 = 64 on channel 1".
    static QString Line(const QByteArray& Message);
};
