#include "Common/MIDI/MIDIApiRt.h"

#include "Common/LogError.h"

#include <QStringList>

#include <algorithm>
#include <memory>
#include <vector>

namespace
{
struct sChoice
{
    bool made = false;
    RtMidi::Api api = RtMidi::UNSPECIFIED;
    QString failure;
};

sChoice& Choice()
{
    static sChoice choice;
    return choice;
}

void RecordError(RtMidiError::Type, const std::string& Text, void* Why)
{
    *static_cast<QString*>(Why) = QString::fromStdString(Text).trimmed();
}
} // namespace

RtMidi::Api cMIDIApiRt::FromName(const QString& Name, bool* Known)
{
    const QString name = Name.trimmed().toLower();
    *Known = true;
    if (name.isEmpty())
        return RtMidi::UNSPECIFIED;
    if (name == QLatin1String("alsa"))
        return RtMidi::LINUX_ALSA;
    if (name == QLatin1String("jack"))
        return RtMidi::UNIX_JACK;
    if (name == QLatin1String("core"))
        return RtMidi::MACOSX_CORE;
    *Known = false;
    return RtMidi::UNSPECIFIED;
}

QString cMIDIApiRt::Name(RtMidi::Api Api)
{
    switch (Api)
    {
    case RtMidi::LINUX_ALSA:
        return QStringLiteral("alsa");
    case RtMidi::UNIX_JACK:
        return QStringLiteral("jack");
    case RtMidi::MACOSX_CORE:
        return QStringLiteral("core");
    default:
        return QString::fromStdString(RtMidi::getApiName(Api));
    }
}

bool cMIDIApiRt::Opens(RtMidi::Api Api, QString* Why)
{
    std::vector<RtMidi::Api> compiled;
    RtMidi::getCompiledApi(compiled);
    if (std::find(compiled.begin(), compiled.end(), Api) == compiled.end())
    {
        *Why = QStringLiteral("not built into RtMidi");
        return false;
    }
    try
    {
        // RtMidi only warns when a JACK server is missing; asking for the port list once more
        // reports it again, this time through the error callback.
        QString warning;
        RtMidiIn probe(Api, kClientName);
        probe.setErrorCallback(&RecordError, &warning);
        probe.getPortCount();
        if (!warning.isEmpty())
        {
            *Why = warning;
            return false;
        }
        return true;
    }
    catch (const RtMidiError& error)
    {
        *Why = QString::fromStdString(error.getMessage()).trimmed();
        return false;
    }
}

RtMidi::Api cMIDIApiRt::Current()
{
    sChoice& choice = Choice();
    if (choice.made)
        return choice.api;
    choice.made = true;

    std::vector<RtMidi::Api> candidates;
    const QString forced = qEnvironmentVariable("QUILLON_MIDI_API");
    bool known = false;
    const RtMidi::Api wanted = FromName(forced, &known);
    if (!known)
        LOG_ERROR("Unknown QUILLON_MIDI_API \"%s\" (use alsa, jack or core): trying every MIDI system",
                  forced.toLocal8Bit().constData());
    if (wanted != RtMidi::UNSPECIFIED)
        candidates.push_back(wanted);
    else
    {
        // RtMidi lists its systems in its own order of preference for the platform.
        RtMidi::getCompiledApi(candidates);
        candidates.erase(std::remove(candidates.begin(), candidates.end(), RtMidi::RTMIDI_DUMMY), candidates.end());
#if QUILLON_HAVE_JACK
        // JACK is Quillon's own client's (the registry factory tried it first); RtMidi's would open a
        // client for every port.
        candidates.erase(std::remove(candidates.begin(), candidates.end(), RtMidi::UNIX_JACK), candidates.end());
#endif
    }

    QStringList reasons;
    for (RtMidi::Api api : candidates)
    {
        QString why;
        if (Opens(api, &why))
        {
            choice.api = api;
            choice.failure.clear();
            return api;
        }
        reasons << Name(api) + QStringLiteral(": ") + why;
    }
    choice.api = RtMidi::UNSPECIFIED;
    choice.failure = reasons.isEmpty() ? QStringLiteral("RtMidi has no MIDI system") : reasons.join(QStringLiteral("; "));
    LOG_ERROR("No MIDI system could be opened (%s): no system MIDI ports, and virtual ports reach no DAW",
              choice.failure.toLocal8Bit().constData());
    return RtMidi::UNSPECIFIED;
}

QString cMIDIApiRt::Failure()
{
    return Choice().failure;
}

void cMIDIApiRt::Forget()
{
    Choice() = sChoice();
}
