#pragma once
// Sees the MIDI that the translator configuration moves, for a front end that shows it or keeps
// what was sent (the headless bridge). Set on the configuration by its owner, who outlives the
// setting; called on the GUI thread from inside a read or a rule's firing, so it must not load map
// files or change port bindings.

#include <QByteArray>
#include <QString>

class cMIDITrafficObserver
{
public:
    // A chunk read from an input port that rules read, under the port's resolved name, before it is
    // matched. It may hold part of a message, or several.
    virtual void MIDIRead(const QString& Port, const QByteArray& Bytes) = 0;
    // The bytes of one firing of rule RuleId, written to one of its outputs (resolved name);
    // MixerOut when the rule named "Mixer Out" for it.
    virtual void MIDIWritten(int RuleId, const QString& Port, bool MixerOut, const QByteArray& Bytes) = 0;
    // Asked before each such write; false holds the bytes back (the locked console). The observer
    // counts or shows what it holds back itself.
    virtual bool MayWrite(int /*RuleId*/, const QString& /*Port*/, bool /*MixerOut*/, const QByteArray& /*Bytes*/)
    {
        return true;
    }
    // Bytes of rule RuleId that were held back from Port (a MayWrite of the owner said no).
    virtual void MIDIHeld(int /*RuleId*/, const QString& /*Port*/, const QByteArray& /*Bytes*/) {}

protected:
    // Observers are never deleted through this interface.
    ~cMIDITrafficObserver() = default;
};
