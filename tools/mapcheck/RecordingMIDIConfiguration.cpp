#include "tools/mapcheck/RecordingMIDIConfiguration.h"

#include "tools/mapcheck/RecordingMIDIPort.h"

cRecordingMIDIPort* cRecordingMIDIConfiguration::RecordingPort(const QString& Name)
{
    return qobject_cast<cRecordingMIDIPort*>(GetInput(Name));
}

cMIDIInputOutput* cRecordingMIDIConfiguration::NewVirtualInputOutput(const QString&)
{
    return new cRecordingMIDIPort(this);
}
