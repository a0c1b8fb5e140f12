#include "Common/MIDI/SystemMIDIConfigurationRt.h"

#include "Common/LogError.h"
#include "Common/MIDI/MIDIApiRt.h"
#include "Common/MIDI/MIDIInputRt.h"
#include "Common/MIDI/MIDIOutputRt.h"
#include "Common/MIDI/Virtual/VirtualMIDIInputOutputRt.h"

#include <QRegularExpression>

namespace
{
// The port lists are read through clients of their own, which open no port. Their name keeps
// the plain client name free for the ports a DAW connects to.
constexpr const char* kListerClientName = "Quillon port list";
constexpr int kPollMilliseconds = 1000;
} // namespace

cSystemMIDIConfigurationRt::cSystemMIDIConfigurationRt(QObject* Parent) : cSystemMIDIConfiguration(Parent)
{
    mApi = cMIDIApiRt::Current();
    // RtMidi tells nothing when ports come and go, so the lists are compared once a second, from
    // the first time anyone asks for a port or a list: a bridge that reaches its console over the
    // network never lists anything, and keeps no client open for it.
    mPollTimer.setInterval(kPollMilliseconds);
    connect(&mPollTimer, &QTimer::timeout, this, &cSystemMIDIConfigurationRt::Poll);
}

void cSystemMIDIConfigurationRt::StartListing()
{
    if (mListing || mApi == RtMidi::UNSPECIFIED)
        return;
    mListing = true;
    try
    {
        mInputLister = std::make_unique<RtMidiIn>(mApi, kListerClientName);
        mInputLister->setErrorCallback(&Error, this);
        mOutputLister = std::make_unique<RtMidiOut>(mApi, kListerClientName);
        mOutputLister->setErrorCallback(&Error, this);
    }
    catch (const RtMidiError& error)
    {
        LOG_ERROR("Cannot list the MIDI ports of %s: %s", cMIDIApiRt::Name(mApi).toLocal8Bit().constData(), error.what());
        mInputLister.reset();
        mOutputLister.reset();
        return;
    }
    FirstPoll();
}

void cSystemMIDIConfigurationRt::FirstPoll()
{
    // The ports that are there already are the starting lists, not arrivals.
    mAnnounce = false;
    Poll();
    mAnnounce = true;
    mPollTimer.start();
}

cSystemMIDIConfigurationRt::~cSystemMIDIConfigurationRt()
{
    mPollTimer.stop();
    for (sMIDIDeviceInfoRt& device : mInputs)
        delete device.Input;
    for (sMIDIDeviceInfoRt& device : mOutputs)
        delete device.Output;
    try
    {
        mInputLister.reset();
        mOutputLister.reset();
    }
    catch (const RtMidiError& error)
    {
        LOG_ERROR("Failed to close the MIDI port lists: %s", error.what());
    }
}

QString cSystemMIDIConfigurationRt::UserName(RtMidi::Api Api, const QString& SystemName)
{
    if (Api != RtMidi::LINUX_ALSA)
        return SystemName;
    // ALSA lists "client:port client-number:port-number"; the numbers are handed out afresh when
    // a device comes back.
    static const QRegularExpression numbers(QStringLiteral(" \\d+:\\d+$"));
    QString name = SystemName;
    name.remove(numbers);
    return name;
}

bool cSystemMIDIConfigurationRt::IsOwnPort(const QString& Name)
{
    // JACK numbers a client name that is taken ("Quillon-01"); ALSA repeats it.
    static const QRegularExpression ownClient(QStringLiteral("^Quillon(-\\d+)?:"));
    return Name.contains(QLatin1String("Quillon MIDI")) || ownClient.match(Name).hasMatch();
}

QStringList cSystemMIDIConfigurationRt::List(RtMidi& Lister)
{
    QStringList names;
    try
    {
        const unsigned int count = Lister.getPortCount();
        for (unsigned int i = 0; i < count; ++i)
        {
            // A port that went away between the count and the name comes back empty.
            const QString name = QString::fromStdString(Lister.getPortName(i));
            if (!name.isEmpty())
                names << name;
        }
    }
    catch (const RtMidiError& error)
    {
        LOG_ERROR("Cannot list the MIDI ports: %s", error.what());
    }
    return names;
}

void cSystemMIDIConfigurationRt::Update(QList<sMIDIDeviceInfoRt>& Known, const QStringList& Listed, bool Inputs)
{
    QStringList fresh = Listed;
    for (int i = 0; i < Known.size();)
    {
        if (fresh.removeOne(Known.at(i).SystemName))
        {
            ++i;
            continue;
        }
        const sMIDIDeviceInfoRt gone = Known.takeAt(i);
        if (Inputs)
            emit InputRemovedSignal(gone.Name);
        else
            emit OutputRemovedSignal(gone.Name);
        // Closed only after everyone heard of the removal and dropped the pointer.
        delete gone.Input;
        delete gone.Output;
    }
    for (const QString& systemName : fresh)
    {
        sMIDIDeviceInfoRt device;
        device.SystemName = systemName;
        device.Name = UserName(mApi, systemName);
        Known.append(device);
        if (!mAnnounce)
            continue;
        if (Inputs)
            emit InputAddedSignal(device.Name);
        else
            emit OutputAddedSignal(device.Name);
    }
}

void cSystemMIDIConfigurationRt::Poll()
{
    if (mInputLister)
        Update(mInputs, List(*mInputLister), true);
    if (mOutputLister)
        Update(mOutputs, List(*mOutputLister), false);
}

int cSystemMIDIConfigurationRt::GetInputCount()
{
    StartListing();
    return mInputs.size();
}

int cSystemMIDIConfigurationRt::GetOutputCount()
{
    StartListing();
    return mOutputs.size();
}

QString cSystemMIDIConfigurationRt::GetInputName(int Index)
{
    StartListing();
    if (Index < 0 || Index >= mInputs.size())
    {
        LOG_ERROR("Source index %d out of range", Index);
        return QString();
    }
    return mInputs.at(Index).Name;
}

QString cSystemMIDIConfigurationRt::GetOutputName(int Index)
{
    StartListing();
    if (Index < 0 || Index >= mOutputs.size())
    {
        LOG_ERROR("Source index %d out of range", Index);
        return QString();
    }
    return mOutputs.at(Index).Name;
}

cMIDIInput* cSystemMIDIConfigurationRt::GetInput(QString Name)
{
    if (cMIDIInput* port = cSystemMIDIConfiguration::GetInput(Name))
        return port;
    StartListing();
    // Two ports of one name are both opened; the later one answers, as on every platform.
    cMIDIInput* found = nullptr;
    for (sMIDIDeviceInfoRt& device : mInputs)
    {
        if (device.Name != Name)
            continue;
        if (device.Input == nullptr)
            device.Input = new cMIDIInputRt(mApi, device.SystemName, this);
        found = device.Input;
    }
    return found;
}

cMIDIOutput* cSystemMIDIConfigurationRt::GetOutput(QString Name)
{
    if (cMIDIOutput* port = cSystemMIDIConfiguration::GetOutput(Name))
        return port;
    StartListing();
    cMIDIOutput* found = nullptr;
    for (sMIDIDeviceInfoRt& device : mOutputs)
    {
        if (device.Name != Name)
            continue;
        if (device.Output == nullptr)
            device.Output = new cMIDIOutputRt(mApi, device.SystemName);
        found = device.Output;
    }
    return found;
}

QStringList cSystemMIDIConfigurationRt::PickableNames(const QList<sMIDIDeviceInfoRt>& Devices) const
{
    QStringList names;
    for (const sMIDIDeviceInfoRt& device : Devices)
        if (!IsOwnPort(device.Name))
            names << device.Name;
    for (const QString& named : GetNamedPortNames())
        names.removeAll(named);
    return names;
}

QStringList cSystemMIDIConfigurationRt::GetInputNames()
{
    StartListing();
    return PickableNames(mInputs);
}

QStringList cSystemMIDIConfigurationRt::GetOutputNames()
{
    StartListing();
    return PickableNames(mOutputs);
}

cMIDIInputOutput* cSystemMIDIConfigurationRt::NewVirtualInputOutput(const QString& Name)
{
    return new cVirtualMIDIInputOutputRt(Name, this);
}

void cSystemMIDIConfigurationRt::Error(RtMidiError::Type Type, const std::string& Text, void*)
{
    // A port that goes away while it is being listed is the normal case for a hot-plug registry.
    if (Type == RtMidiError::WARNING || Type == RtMidiError::DEBUG_WARNING)
        return;
    LOG_ERROR("MIDI port list: %s", Text.c_str());
}
