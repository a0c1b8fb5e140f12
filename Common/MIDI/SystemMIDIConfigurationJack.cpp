#include "Common/MIDI/SystemMIDIConfigurationJack.h"

#include "Common/LogError.h"
#include "Common/MIDI/MIDIClientJack.h"
#include "Common/MIDI/MIDIInputJack.h"
#include "Common/MIDI/MIDIOutputJack.h"
#include "Common/MIDI/Virtual/VirtualMIDIInputOutputJack.h"

#include <QRegularExpression>

cSystemMIDIConfigurationJack::cSystemMIDIConfigurationJack(QObject* Parent) : cSystemMIDIConfiguration(Parent)
{
    QString why;
    cMIDIClientJack* client = cMIDIClientJack::Instance(&why);
    if (client == nullptr)
    {
        LOG_ERROR("No MIDI system could be opened (jack: %s): no system MIDI ports, and virtual ports reach no DAW",
                  why.toLocal8Bit().constData());
        return;
    }
    mSerial = client->Serial();
    connect(client, &cMIDIClientJack::GraphChanged, this, [this] {
        if (mListing)
            Poll();
    });
    connect(client, &cMIDIClientJack::OfferedPortConnected, this, &cSystemMIDIConfiguration::VirtualPortConnectedSignal);
}

cSystemMIDIConfigurationJack::~cSystemMIDIConfigurationJack()
{
    for (sDevice& device : mInputs)
        delete device.Input;
    for (sDevice& device : mOutputs)
        delete device.Output;
}

cMIDIClientJack* cSystemMIDIConfigurationJack::Client() const
{
    return cMIDIClientJack::Existing(mSerial);
}

bool cSystemMIDIConfigurationJack::IsOpen() const
{
    return Client() != nullptr;
}

bool cSystemMIDIConfigurationJack::ReportsVirtualPortConnections() const
{
    return IsOpen();
}

bool cSystemMIDIConfigurationJack::IsOwnPort(const QString& Name)
{
    // JACK numbers the client of a second Quillon on the server ("Quillon-01").
    static const QRegularExpression ownClient(QStringLiteral("^Quillon(-\\d+)?:"));
    return ownClient.match(Name).hasMatch() || Name.contains(QLatin1String("Quillon MIDI"));
}

void cSystemMIDIConfigurationJack::StartListing()
{
    if (mListing || Client() == nullptr)
        return;
    mListing = true;
    // The ports that are there already are the starting lists, not arrivals.
    mAnnounce = false;
    Poll();
    mAnnounce = true;
}

void cSystemMIDIConfigurationJack::Poll()
{
    cMIDIClientJack* client = Client();
    // A receiving port of Quillon's reaches another client's sending port.
    Update(mInputs, client ? client->OtherMidiPorts(true) : QStringList(), true);
    Update(mOutputs, client ? client->OtherMidiPorts(false) : QStringList(), false);
}

void cSystemMIDIConfigurationJack::Update(QList<sDevice>& Known, const QStringList& Listed, bool Inputs)
{
    QStringList fresh = Listed;
    for (int i = 0; i < Known.size();)
    {
        if (fresh.removeOne(Known.at(i).Name))
        {
            ++i;
            continue;
        }
        const sDevice gone = Known.takeAt(i);
        if (Inputs)
            emit InputRemovedSignal(gone.Name);
        else
            emit OutputRemovedSignal(gone.Name);
        // Closed only after everyone heard of the removal and dropped the pointer.
        delete gone.Input;
        delete gone.Output;
    }
    for (const QString& name : qAsConst(fresh))
    {
        sDevice device;
        device.Name = name;
        Known.append(device);
        if (!mAnnounce)
            continue;
        if (Inputs)
            emit InputAddedSignal(name);
        else
            emit OutputAddedSignal(name);
    }
}

int cSystemMIDIConfigurationJack::GetInputCount()
{
    StartListing();
    return mInputs.size();
}

int cSystemMIDIConfigurationJack::GetOutputCount()
{
    StartListing();
    return mOutputs.size();
}

QString cSystemMIDIConfigurationJack::GetInputName(int Index)
{
    StartListing();
    if (Index < 0 || Index >= mInputs.size())
    {
        LOG_ERROR("Source index %d out of range", Index);
        return QString();
    }
    return mInputs.at(Index).Name;
}

QString cSystemMIDIConfigurationJack::GetOutputName(int Index)
{
    StartListing();
    if (Index < 0 || Index >= mOutputs.size())
    {
        LOG_ERROR("Source index %d out of range", Index);
        return QString();
    }
    return mOutputs.at(Index).Name;
}

cMIDIInput* cSystemMIDIConfigurationJack::GetInput(QString Name)
{
    if (cMIDIInput* port = cSystemMIDIConfiguration::GetInput(Name))
        return port;
    StartListing();
    for (sDevice& device : mInputs)
    {
        if (device.Name != Name)
            continue;
        if (device.Input == nullptr)
            device.Input = new cMIDIInputJack(device.Name, this);
        return device.Input;
    }
    return nullptr;
}

cMIDIOutput* cSystemMIDIConfigurationJack::GetOutput(QString Name)
{
    if (cMIDIOutput* port = cSystemMIDIConfiguration::GetOutput(Name))
        return port;
    StartListing();
    for (sDevice& device : mOutputs)
    {
        if (device.Name != Name)
            continue;
        if (device.Output == nullptr)
            device.Output = new cMIDIOutputJack(device.Name);
        return device.Output;
    }
    return nullptr;
}

QStringList cSystemMIDIConfigurationJack::PickableNames(const QList<sDevice>& Devices) const
{
    QStringList names;
    for (const sDevice& device : Devices)
        if (!IsOwnPort(device.Name))
            names << device.Name;
    for (const QString& named : GetNamedPortNames())
        names.removeAll(named);
    return names;
}

QStringList cSystemMIDIConfigurationJack::GetInputNames()
{
    StartListing();
    return PickableNames(mInputs);
}

QStringList cSystemMIDIConfigurationJack::GetOutputNames()
{
    StartListing();
    return PickableNames(mOutputs);
}

cMIDIInputOutput* cSystemMIDIConfigurationJack::NewVirtualInputOutput(const QString& Name)
{
    return new cVirtualMIDIInputOutputJack(Name, this);
}
