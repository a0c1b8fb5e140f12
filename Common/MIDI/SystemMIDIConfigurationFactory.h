#pragma once
// Creates the platform's port registry, with no parent. The caller owns the result. Each platform
// has its own definition in its own source file; the build picks one, and it is the only code that
// names a concrete back-end.

class cSystemMIDIConfiguration;

cSystemMIDIConfiguration* CreateSystemMIDIConfiguration();
