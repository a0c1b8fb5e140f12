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
    return Index >= 0 && Index < mInputs.size() ? mInputs.at(Index).first : QString();
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
    return Index >= 0 && Index < mOutputs.size() ? mOutputs.at(Index).first : QString();
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

cFakeMIDIPort* cFakeSystemMIDIConfiguration::PlugInput(const QString& Name)
{
    if (cFakeMIDIPort* existing = Find(mInputs, Name))
        return existing;
    auto* port = new cFakeMIDIPort(this);
    port->SetRecordWrites(mRecordWrites);
    mInputs.append({Name, port});
    emit InputAddedSignal(Name);
    return port;
}

cFakeMIDIPort* cFakeSystemMIDIConfiguration::PlugOutput(const QString& Name)
{
    if (cFakeMIDIPort* existing = Find(mOutputs, Name))
        return existing;
    auto* port = new cFakeMIDIPort(this);
    port->SetRecordWrites(mRecordWrites);
    mOutputs.append({Name, port});
    emit OutputAddedSignal(Name);
    return port;
}

void cFakeSystemMIDIConfiguration::UnplugInput(const QString& Name)
{
    for (int i = 0; i < mInputs.size(); ++i)
    {
        if (mInputs.at(i).first != Name)
            continue;
        cFakeMIDIPort* port = mInputs.takeAt(i).second;
        emit InputRemovedSignal(Name);
        delete port;
        return;
    }
}

void cFakeSystemMIDIConfiguration::UnplugOutput(const QString& Name)
{
    for (int i = 0; i < mOutputs.size(); ++i)
    {
        if (mOutputs.at(i).first != Name)
            continue;
        cFakeMIDIPort* port = mOutputs.takeAt(i).second;
        emit OutputRemovedSignal(Name);
        delete port;
        return;
    }
}

cFakeMIDIPort* cFakeSystemMIDIConfiguration::SystemInput(const QString& Name) const
{
    return Find(mInputs, Name);
}

cFakeMIDIPort* cFakeSystemMIDIConfiguration::SystemOutput(const QString& Name) const
{
    return Find(mOutputs, Name);
}

cFakeMIDIPort* cFakeSystemMIDIConfiguration::VirtualPort(const QString& Name) const
{
    return mVirtualFakes.value(Name).data();
}

cMIDIInputOutput* cFakeSystemMIDIConfiguration::NewVirtualInputOutput(const QString& Name)
{
    auto* port = new cFakeMIDIPort(this);
    port->SetRecordWrites(mRecordWrites);
    mVirtualFakes.insert(Name, port);
    ++mVirtualPortsMade;
    return port;
}
