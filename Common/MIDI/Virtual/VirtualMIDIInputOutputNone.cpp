#include "Common/MIDI/Virtual/VirtualMIDIInputOutputNone.h"

#include "Common/LogError.h"

cVirtualMIDIInputOutputNone::cVirtualMIDIInputOutputNone(const QString& Name, QObject* Parent) : cMIDIInputOutput(Parent)
{
    LOG_ERROR("No virtual MIDI back-end is built: virtual port \"%s\" cannot reach a DAW", Name.toLocal8Bit().constData());
}

void cVirtualMIDIInputOutputNone::Read(QByteArray& Data)
{
    Data.clear();
}

void cVirtualMIDIInputOutputNone::Write(const QByteArray&) {}
