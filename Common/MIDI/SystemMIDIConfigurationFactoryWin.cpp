// The factory of Windows builds.

#include "Common/MIDI/SystemMIDIConfigurationFactory.h"

#include "Common/MIDI/SystemMIDIConfigurationWin.h"

cSystemMIDIConfiguration* CreateSystemMIDIConfiguration()
{
    return new cSystemMIDIConfigurationWin();
}
