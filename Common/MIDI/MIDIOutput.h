#pragma once
// A place where MIDI bytes go out. Owned by whoever created it; Write is called on the GUI thread.

#include <QByteArray>

class cMIDIOutput
{
public:
    virtual ~cMIDIOutput() = default;

    // Sends the bytes as they are (whole messages, one or several). A port that cannot send
    // ignores the call.
    virtual void Write(const QByteArray& Data) = 0;
};
