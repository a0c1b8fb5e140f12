#pragma once
// Creates the platform's port registry, with no parent. The caller owns the result. Each platform
// has its own definition in its own source file; the build picks one, and it is the only code that
// names a concrete back-end.

class cSystemMIDIConfiguration;

cSystemMIDIConfiguration* CreateSystemMIDIConfiguration();

// Closes every virtual port that the process opened. Virtual ports otherwise stay open, and seen by
// the DAW, for the life of the process, whichever registry or port object made them; the window's
// destructor calls this before it deletes the translator configuration. GUI thread only.
void CloseAllVirtualMIDIPorts();
