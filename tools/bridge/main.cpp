// quillon-bridge: Quillon without a window, for a machine with no desktop session (a service started
// at boot, a studio machine reached over SSH). See --help.

#include "Common/MIDI/MIDIConnectionMemory.h"
#include "Common/MIDI/SystemMIDIConfiguration.h"
#include "Common/MIDI/SystemMIDIConfigurationFactory.h"
#include "MIDITranslator/MixerDawMap.h"
#include "network/MultiUnitFinder.h"
#include "session/Identity.h"
#include "tools/bridge/Bridge.h"
#include "tools/bridge/BridgeOptions.h"
#include "tools/bridge/SignalWatcher.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <memory>

namespace
{
void Out(const QString& Line)
{
    std::fprintf(stdout, "%s\n", Line.toLocal8Bit().constData());
    std::fflush(stdout);
}

int Fail(const QString& Message, int Code)
{
    std::fprintf(stderr, "quillon-bridge: %s\n", Message.toLocal8Bit().constData());
    if (Code == 2)
        std::fprintf(stderr, "Try quillon-bridge --help.\n");
    return Code;
}

QStringList SortedFamilies(const cMixerDawMap& Map)
{
    QStringList families = Map.GetMixerNames();
    families.sort(Qt::CaseSensitive);
    return families;
}

int List(const cMixerDawMap& Map)
{
    Out(QStringLiteral("Console families and their DAW protocols:"));
    for (const QString& family : SortedFamilies(Map))
        Out(QStringLiteral("  %1: %2").arg(family, Map.GetDAWNames(family).join(QStringLiteral(", "))));
    std::unique_ptr<cSystemMIDIConfiguration> registry(CreateSystemMIDIConfiguration());
    Out(QStringLiteral("MIDI inputs:"));
    for (const QString& name : registry->GetInputNames())
        Out(QStringLiteral("  ") + name);
    Out(QStringLiteral("MIDI outputs:"));
    for (const QString& name : registry->GetOutputNames())
        Out(QStringLiteral("  ") + name);
    return 0;
}

int Discover(QCoreApplication& App, const cMixerDawMap& Map, const sBridgeOptions& Options)
{
    QStringList families = Options.Mixer.isEmpty() ? SortedFamilies(Map) : QStringList{Options.Mixer};
    if (!Options.Mixer.isEmpty() && !Map.GetMixerNames().contains(Options.Mixer))
        return Fail(QStringLiteral("unknown console family \"%1\"; known: %2").arg(Options.Mixer, SortedFamilies(Map).join(", ")), 2);
    cMultiUnitFinder finder;
    QHash<QString, QString> familyOfQuery;
    for (const QString& family : families)
    {
        const QString query = Map.GetFindString(family);
        if (query.isEmpty() || familyOfQuery.contains(query))
            continue;
        familyOfQuery.insert(query, family);
        finder.AddFinder(query);
    }
    if (familyOfQuery.isEmpty())
        return Fail(QStringLiteral("no family with a discovery query to look for"), 2);
    Out(QStringLiteral("Looking for consoles for %1 s (queries: %2)...").arg(Options.DiscoverSeconds).arg(familyOfQuery.keys().join(", ")));
    QObject::connect(&finder, &cMultiUnitFinder::UnitFound, [&](const sUnit& Unit) {
        Out(QStringLiteral("  \"%1\" at %2 (%3)").arg(Unit.Name, Unit.Address.toString(), familyOfQuery.value(Unit.FindString)));
    });
    QTimer::singleShot(Options.DiscoverSeconds * 1000, &App, &QCoreApplication::quit);
    App.exec();
    Out(QStringLiteral("%1 console%2 found.").arg(finder.GetUnits().size()).arg(finder.GetUnits().size() == 1 ? "" : "s"));
    return 0;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The window's settings store: a setup made there runs here as it is.
    cIdentity::Apply();
    RegisterUnitMetaType();

    sBridgeOptions options;
    QString message;
    const eBridgeAction action = cBridgeOptions::Parse(app.arguments(), options, message);
    switch (action)
    {
    case eBridgeAction::Error:
        return Fail(message, 2);
    case eBridgeAction::Help:
        std::fputs(cBridgeOptions::HelpText().toLocal8Bit().constData(), stdout);
        return 0;
    case eBridgeAction::Version:
        Out(cBridgeOptions::VersionText());
        return 0;
    default:
        break;
    }

    cMixerDawMap map;
    map.Load(cBridgeOptions::MapsDirectory(options) + QStringLiteral("mixer_map.json"));
    if (action == eBridgeAction::List)
        return List(map);
    if (action == eBridgeAction::Discover)
        return Discover(app, map, options);

    sBridgeSetup setup;
    QStringList notes;
    if (!cBridgeOptions::Resolve(options, map, setup, message, notes))
        return Fail(message, 2);
    Out(cBridgeOptions::VersionText());
    for (const QString& note : notes)
        Out(note);

    // The DAW's connections are remembered per family and protocol, and made again unless told not to.
    cMIDIConnectionMemory::SetGroup(setup.Family, setup.Daw);
    cMIDIConnectionMemory::SetEnabled(!options.NoAutoconnect);
    cSignalWatcher watcher;
    sSessionEnvironment environment;
    environment.MapsDirectory = cBridgeOptions::MapsDirectory(options);
    cBridge bridge(setup, Out, environment);
    QObject::connect(&watcher, &cSignalWatcher::StopRequested, [&](int Signal) {
        Out(QStringLiteral("received %1").arg(Signal == SIGTERM ? "SIGTERM" : "SIGINT"));
        bridge.Stop();
        Out(QStringLiteral("stopped: link closed, DAW ports closed"));
        QCoreApplication::quit();
    });
    if (!bridge.Start())
        return 1;
    return app.exec();
}
