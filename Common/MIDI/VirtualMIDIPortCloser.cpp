#include "Common/MIDI/VirtualMIDIPortCloser.h"

namespace
{
tVirtualMIDIPortCloser gCloser = nullptr;
} // namespace

void SetVirtualMIDIPortCloser(tVirtualMIDIPortCloser Closer)
{
    gCloser = Closer;
}

void CloseAllVirtualMIDIPorts()
{
    if (gCloser != nullptr)
        gCloser();
}
