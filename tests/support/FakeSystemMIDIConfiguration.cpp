#include "tests/support/FakeSystemMIDIConfiguration.h"

cFakeSystemMIDIConfiguration::cFakeSystemMIDIConfiguration(QObject* Parent) : cSystemMIDIConfiguration(Parent) {}

cFakeMIDIPort* cFakeSystemMIDIConfiguration::Find(const tDeviceList& Devices, const QString& Name)
{
    for (const auto& device : Devices)
        if (device.first == Name)
            return device.second;
    return nullptr;
}

QStringList cFakeSystemMIDIConfiguration::UserPickableNames(const tDeviceList& Devices) const
{
    const QStringList named = GetNamedPortNames();
    QStringList names;
    for (const auto& device : Devices)
        if (!device.first.contains(QLatin1String("Quillon MIDI")) && !named.contains(device.first))
            names << device.first;
    return names;
}

int cFakeSystemMIDIConfiguration::GetInputCount()
{
    return mInputs.size();
}

QString cFakeSystemMIDIConfiguration::GetInputName(int Index)
{
    return mInputs.value(Index).first;
}

cMIDIInput* cFakeSystemMIDIConfiguration::GetInput(QString Name)
{
    if (cMIDIInput* port = cSystemMIDIConfiguration::GetInput(Name))
        return port;
    return Find(mInputs, Name);
}

QStringList cFakeSystemMIDIConfiguration::GetInputNames()
{
    return UserPickableNames(mInputs);
}

int cFakeSystemMIDIConfiguration::GetOutputCount()
{
    return mOutputs.size();
}

QString cFakeSystemMIDIConfiguration::GetOutputName(int Index)
{
    return mOutputs.value(Index).first;
}

cMIDIOutput* cFakeSystemMIDIConfiguration::GetOutput(QString Name)
{
    if (cMIDIOutput* port = cSystemMIDIConfiguration::GetOutput(Name))
        return port;
    return Find(mOutputs, Name);
}

QStringList cFakeSystemMIDIConfiguration::GetOutputNames()
{
    return UserPickableNames(mOutputs);
}

cFakeMIDIPort* cFakeSystemMIDIConfiguration::Plug(tDeviceList& Devices, const QString& Name, tAnnouncement Added)
{
    if (cFakeMIDIPort* existing = Find(Devices, Name))
        return existing;
    cFakeMIDIPort* port = NewPort();
    Devices.append({Name, port});
    emit (this->*Added)(Name);
    return port;
}

void cFakeSystemMIDIConfiguration::Unplug(tDeviceList& Devices, const QString& Name, tAnnouncement Removed)
{
    cFakeMIDIPort* port = Find(Devices, Name);
    if (port == nullptr)
        return;
    Devices.removeOne({Name, port});
    emit (this->*Removed)(Name);
    delete port;
}

cFakeMIDIPort* cFakeSystemMIDIConfiguration::PlugInput(const QString& Name)
{
    return Plug(mInputs, Name, &cSystemMIDIConfiguration::InputAddedSignal);
}

cFakeMIDIPort* cFakeSystemMIDIConfiguration::PlugOutput(const QString& Name)
{
    return Plug(mOutputs, Name, &cSystemMIDIConfiguration::OutputAddedSignal);
}

void cFakeSystemMIDIConfiguration::UnplugInput(const QString& Name)
{
    Unplug(mInputs, Name, &cSystemMIDIConfiguration::InputRemovedSignal);
}

void cFakeSystemMIDIConfiguration::UnplugOutput(const QString& Name)
{
    Unplug(mOutputs, Name, &cSystemMIDIConfiguration::OutputRemovedSignal);
}

cFakeMIDIPort* cFakeSystemMIDIConfiguration::VirtualPort(const QString& Name) const
{
    return mVirtualFakes.value(Name).data();
}

cFakeMIDIPort* cFakeSystemMIDIConfiguration::NewPort()
{
    auto* port = new cFakeMIDIPort(this);
    port->SetRecordWrites(mRecordWrites);
    return port;
}

cMIDIInputOutput* cFakeSystemMIDIConfiguration::NewVirtualInputOutput(const QString& Name)
{
    cFakeMIDIPort* port = NewPort();
    mVirtualFakes.insert(Name, port);
    ++mVirtualPortsMade;
    return port;
}
