// The factory of builds that have no MIDI back-end for their platform yet.

#include "Common/MIDI/SystemMIDIConfigurationFactory.h"

#include "Common/MIDI/SystemMIDIConfigurationNone.h"

cSystemMIDIConfiguration* CreateSystemMIDIConfiguration()
{
    return new cSystemMIDIConfigurationNone();
}

QString VirtualMIDIPortsCredit()
{
    return QString();
}
