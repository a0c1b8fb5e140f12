// The factory of Windows builds.

#include "Common/MIDI/SystemMIDIConfigurationFactory.h"

#include "Common/MIDI/SystemMIDIConfigurationWin.h"

cSystemMIDIConfiguration* CreateSystemMIDIConfiguration()
{
    return new cSystemMIDIConfigurationWin();
}

QString VirtualMIDIPortsCredit()
{
    return QStringLiteral("The virtual MIDI ports offered to the DAW use the teVirtualMIDI driver "
                          "technology, licensed from Tobias Erichsen.");
}
