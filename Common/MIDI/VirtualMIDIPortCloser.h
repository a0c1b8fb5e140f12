#pragma once
// Closes every driver-level virtual MIDI port of the process at once, when the program ends. The
// back-end that keeps such ports open across the life of its port objects registers its closing
// function when it opens its first port; the preferences window calls CloseAllVirtualMIDIPorts
// first thing in its destructor. Without a registered function the call does nothing. GUI thread.

using tVirtualMIDIPortCloser = void (*)();

// Replaces the registered function (null removes it).
void SetVirtualMIDIPortCloser(tVirtualMIDIPortCloser Closer);
void CloseAllVirtualMIDIPorts();
