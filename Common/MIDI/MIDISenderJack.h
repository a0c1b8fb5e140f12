#pragma once
// Splits what a JACK port's Write gets into complete messages (a JACK event holds exactly one) and
// queues each on its port of Quillon's JACK client, which sends as many each period as the period's
// buffer holds. Owned by value by its port; GUI thread only.

#include "Common/MIDI/MidiParser.h"

#include <QByteArray>

class cMIDISenderJack : public cMidiParser
{
public:
    cMIDISenderJack();

    // The output slot of the client with that serial; -1 sends nothing.
    void SetSlot(quint64 Serial, int Slot);
    // Feeds the bytes; every message they complete is queued. Clock, active sensing and the other
    // real-time bytes, and bytes that make no complete message, are not sent.
    void Send(const QByteArray& Data);

protected:
    bool SysEx() override;
    void Unhandled() override;
    void UnhandledControlChange() override;

private:
    void SendMessage(const uint8_t* Bytes, int Count);

    quint64 mSerial = 0;
    int mSlot = -1;
};
