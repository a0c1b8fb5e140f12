// The factory of every platform but Windows: the RtMidi registry.

#include "Common/MIDI/SystemMIDIConfigurationFactory.h"

#include "Common/MIDI/SystemMIDIConfigurationRt.h"

cSystemMIDIConfiguration* CreateSystemMIDIConfiguration()
{
    return new cSystemMIDIConfigurationRt();
}

QString VirtualMIDIPortsCredit()
{
    return QString();
}
