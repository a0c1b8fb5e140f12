#pragma once
// Creates the platform's port registry, with no parent. The caller owns the result. Each platform
// has its own definition in its own source file; the build picks one, and it is the only code that
// names a concrete back-end.

#include <QString>

class cSystemMIDIConfiguration;

cSystemMIDIConfiguration* CreateSystemMIDIConfiguration();

// The About box's credit for what carries the ports offered to the DAW on this platform; empty
// where there is nothing to credit.
QString VirtualMIDIPortsCredit();
