#include "Common/MIDI/SystemMIDIConfiguration.h"

#include "Common/LogError.h"

cSystemMIDIConfiguration::cSystemMIDIConfiguration(QObject* Parent) : QObject(Parent)
{
    // Platform subclasses announce their device changes through these signals; counting them here
    // keeps cached lookups honest without every back-end having to remember it. The added signals
    // count too, because an added device may replace one of the same name.
    connect(this, &cSystemMIDIConfiguration::InputAddedSignal, this, [this] { PortsChanged(); });
    connect(this, &cSystemMIDIConfiguration::InputRemovedSignal, this, [this] { PortsChanged(); });
    connect(this, &cSystemMIDIConfiguration::OutputAddedSignal, this, [this] { PortsChanged(); });
    connect(this, &cSystemMIDIConfiguration::OutputRemovedSignal, this, [this] { PortsChanged(); });
}

// The virtual ports are child objects and go with the QObject part; registered ports belong to
// their owners.
cSystemMIDIConfiguration::~cSystemMIDIConfiguration() = default;

void cSystemMIDIConfiguration::CreateVirtualInputOutput(QString Name)
{
    if (mVirtualPorts.contains(Name))
    {
        LOG_ERROR("Virtual MIDI Input Output \"%s\" already created", Name.toLocal8Bit().constData());
        return;
    }
    mVirtualPorts.insert(Name, NewVirtualInputOutput(Name));
    PortsChanged();
}

void cSystemMIDIConfiguration::DeleteVirtualInputOutput(QString Name)
{
    cMIDIInputOutput* port = mVirtualPorts.take(Name);
    if (port == nullptr)
        return;
    PortsChanged();
    delete port;
}

void cSystemMIDIConfiguration::AddInputOutput(QString Name, cMIDIInputOutput* Port)
{
    mRegisteredPorts.insert(Name, Port);
    PortsChanged();
    emit InputAddedSignal(Name);
    emit OutputAddedSignal(Name);
}

void cSystemMIDIConfiguration::RemoveInputOutput(QString Name)
{
    if (mRegisteredPorts.remove(Name) == 0)
        return;
    PortsChanged();
    emit InputRemovedSignal(Name);
    emit OutputRemovedSignal(Name);
}

cMIDIInput* cSystemMIDIConfiguration::GetInput(QString Name)
{
    if (cMIDIInputOutput* port = mVirtualPorts.value(Name))
        return port;
    return mRegisteredPorts.value(Name);
}

cMIDIOutput* cSystemMIDIConfiguration::GetOutput(QString Name)
{
    if (cMIDIInputOutput* port = mVirtualPorts.value(Name))
        return port;
    return mRegisteredPorts.value(Name);
}

QStringList cSystemMIDIConfiguration::GetNamedPortNames() const
{
    QStringList names = mVirtualPorts.keys();
    names += mRegisteredPorts.keys();
    return names;
}
