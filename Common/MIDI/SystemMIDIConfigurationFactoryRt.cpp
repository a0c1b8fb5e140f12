// The factory of every platform but Windows: Quillon's own JACK client when a JACK server is running
// (or QUILLON_MIDI_API says "jack"), never starting one; RtMidi otherwise (the ALSA sequencer on
// Linux, CoreMIDI on macOS).

#include "Common/MIDI/SystemMIDIConfigurationFactory.h"

#include "Common/MIDI/MIDIApiRt.h"
#include "Common/MIDI/SystemMIDIConfigurationRt.h"
#if QUILLON_HAVE_JACK
#include "Common/LogError.h"
#include "Common/MIDI/MIDIClientJack.h"
#include "Common/MIDI/SystemMIDIConfigurationJack.h"
#endif

cSystemMIDIConfiguration* CreateSystemMIDIConfiguration()
{
#if QUILLON_HAVE_JACK
    const QString forced = qEnvironmentVariable("QUILLON_MIDI_API");
    bool known = false;
    const RtMidi::Api wanted = cMIDIApiRt::FromName(forced, &known);
    // A DAW on JACK sees no ALSA sequencer port without a bridge program: JACK comes first.
    if (wanted == RtMidi::UNIX_JACK || (wanted == RtMidi::UNSPECIFIED && cMIDIClientJack::Instance() != nullptr))
    {
        if (!known)
            LOG_ERROR("Unknown QUILLON_MIDI_API \"%s\" (use alsa, jack or core): trying every MIDI system",
                      forced.toLocal8Bit().constData());
        return new cSystemMIDIConfigurationJack();
    }
#endif
    return new cSystemMIDIConfigurationRt();
}

QString VirtualMIDIPortsCredit()
{
    return QString();
}
