#include "session/ConsoleSession.h"

#include "Common/MIDI/MIDIConnectionMemory.h"
#include "Common/MIDI/SystemMIDIConfiguration.h"
#include "Common/MIDI/VirtualMIDIPortCloser.h"
#include "MIDITranslator/ConsoleLockPolicy.h"
#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "network/MultiUnitFinder.h"

#include <QTimer>

#include <algorithm>

namespace
{
const QString kMIDIChannelVariable = QStringLiteral("MIDI Channel");
const QString kConnected = QStringLiteral("Connected");
const QString kNotConnected = QStringLiteral("Not Connected");
} // namespace

cConsoleSession::cConsoleSession(const sSessionEnvironment& Environment, QObject* Parent)
    : QObject(Parent),
      mEnvironment(Environment),
      mConfiguration(new cMIDITranslatorConfiguration(Environment.Registry)),
      mLink(new cTCPMIDIInptOutput(this, Environment.ConsolePort)),
      mFinder(new cMultiUnitFinder(this, Environment.DiscoveryDestination, Environment.DiscoveryPort,
                                   Environment.DiscoveryPollMs)),
      mRetryTimer(new QTimer(this)),
      mConnectTimer(new QTimer(this)),
      mRetryMs(Environment.FirstRetryMs)
{
    mEnvironment.Registry = nullptr; // the configuration owns it now
    mMap.Load(GetMapsDirectory() + QStringLiteral("mixer_map.json"));
    mConfiguration->SetTrafficObserver(this);

    connect(mLink, &cTCPMIDIInptOutput::StateStringChanged, this, &cConsoleSession::LinkStateChanged);
    connect(mFinder, &cMultiUnitFinder::UnitFound, this, &cConsoleSession::UnitFound);
    connect(mFinder, &cMultiUnitFinder::UnitsChanged, this, &cConsoleSession::UnitsChanged);

    cSystemMIDIConfiguration* registry = mConfiguration->GetSystemMIDIConfiguration();
    for (auto signal : {&cSystemMIDIConfiguration::InputAddedSignal, &cSystemMIDIConfiguration::InputRemovedSignal,
                        &cSystemMIDIConfiguration::OutputAddedSignal, &cSystemMIDIConfiguration::OutputRemovedSignal})
        connect(registry, signal, this, &cConsoleSession::UpdateReachable);

    mRetryTimer->setSingleShot(true);
    connect(mRetryTimer, &QTimer::timeout, this, &cConsoleSession::TryConnect);
    mConnectTimer->setSingleShot(true);
    connect(mConnectTimer, &QTimer::timeout, this, [this] {
        emit ConnectTimedOut(mTrying, mEnvironment.ConnectTimeoutMs);
        // Reported "Not Connected" while still attempting: the next try is scheduled from there.
        mLink->Disconnect();
    });
}

cConsoleSession::~cConsoleSession()
{
    Stop();
}

void cConsoleSession::Stop()
{
    if (mStopped)
        return;
    mStopped = true;
    mRetryTimer->stop();
    mConnectTimer->stop();
    mWanted = false;
    // Nothing is reported from here on: the front end may be half gone.
    disconnect(mLink, nullptr, this, nullptr);
    disconnect(mFinder, nullptr, this, nullptr);
    mConfiguration->SetTrafficObserver(nullptr);
    mConfiguration->SetTCPInputOutput(nullptr);
    mLink->Disconnect();
    // Driver-level virtual ports stay open across map reloads; they are closed only now, before
    // the port objects go.
    CloseAllVirtualMIDIPorts();
    delete mConfiguration;
    mConfiguration = nullptr;
}

QStringList cConsoleSession::GetFamilies() const
{
    QStringList families = mMap.GetMixerNames();
    families.sort(Qt::CaseSensitive);
    return families;
}

QString cConsoleSession::GetMapsDirectory() const
{
    return mEnvironment.MapsDirectory.isEmpty() ? cMixerDawMap::GetMapsDirectory() : mEnvironment.MapsDirectory;
}

cSystemMIDIConfiguration* cConsoleSession::GetRegistry() const
{
    return mConfiguration != nullptr ? mConfiguration->GetSystemMIDIConfiguration() : nullptr;
}

void cConsoleSession::LoadMap(const QString& Family, const QString& DAW)
{
    // The DAW's connections are remembered per family and protocol; named before the ports are made.
    cMIDIConnectionMemory::SetGroup(Family, DAW);
    LoadMapFile(GetMapsDirectory() + mMap.GetMapFileName(Family, DAW));
}

void cConsoleSession::LoadMapFile(const QString& Path)
{
    if (mStopped)
        return;
    mConfiguration->LoadFile(Path);
    mResync.SetRules(mConfiguration->GetRules(), [this](int Id) { return mConfiguration->GetRuleObject(Id); });
    mSafe.fill(false, mConfiguration->GetRules().size());
    for (int id = 0; id < mSafe.size(); ++id)
        mSafe[id] = cConsoleLockPolicy::IsSafe(mConfiguration->GetRuleObject(id));
}

void cConsoleSession::SetConsoleLocked(bool Locked)
{
    if (Locked == mLocked)
        return;
    mLocked = Locked;
    emit ConsoleLockChanged(Locked);
}

bool cConsoleSession::IsConsolePort(const QString& Port) const
{
    if (mNetwork)
        return Port == cMIDITranslatorConfiguration::TCPPortName();
    return !Port.isEmpty() && (Port == mInputName || Port == mOutputName);
}

void cConsoleSession::SetChannel(quint8 Channel)
{
    if (mStopped)
        return;
    // A copy: setting a value rebuilds the configuration's matchers.
    const QList<cMIDITranslatorVariable> variables = mConfiguration->GetVariables();
    for (const cMIDITranslatorVariable& variable : variables)
        if (variable.GetName() == kMIDIChannelVariable)
            mConfiguration->SetVariableValue(variable.GetVariableName(), Channel);
}

void cConsoleSession::DiscoverFamily(const QString& Family)
{
    if (mStopped)
        return;
    Discover(mMap.GetFindString(Family));
}

void cConsoleSession::Discover(const QString& FindString)
{
    if (mStopped)
        return;
    mFinder->RemoveAllFinders();
    mFinder->AddFinder(FindString);
}

QList<sUnit> cConsoleSession::GetUnits() const
{
    return mFinder->GetUnits();
}

// ---- The console: MIDI ports ----------------------------------------------------------------------

void cConsoleSession::UseMIDIPorts()
{
    if (mStopped)
        return;
    mNetwork = false;
    mConfiguration->SetMixerInputPortName(mInputName);
    mConfiguration->SetMixerOutputPortName(mOutputName);
    UpdateReachable();
}

void cConsoleSession::SetConsoleInput(const QString& Name)
{
    if (mStopped)
        return;
    mInputName = Name;
    mConfiguration->SetMixerInputPortName(Name);
    UpdateReachable();
}

void cConsoleSession::SetConsoleOutput(const QString& Name)
{
    if (mStopped)
        return;
    mOutputName = Name;
    mConfiguration->SetMixerOutputPortName(Name);
    UpdateReachable();
}

void cConsoleSession::UseNetwork()
{
    if (mStopped)
        return;
    mNetwork = true;
    mConfiguration->SetMixerInputPortName(cMIDITranslatorConfiguration::TCPPortName());
    mConfiguration->SetMixerOutputPortName(cMIDITranslatorConfiguration::TCPPortName());
    UpdateReachable();
}

void cConsoleSession::UpdateReachable()
{
    if (mStopped)
        return;
    bool reachable = false;
    if (mNetwork)
    {
        reachable = mLink->IsConnected();
    }
    else
    {
        cSystemMIDIConfiguration* registry = GetRegistry();
        reachable = (!mInputName.isEmpty() || !mOutputName.isEmpty()) &&
                    (mInputName.isEmpty() || registry->GetInputNames().contains(mInputName)) &&
                    (mOutputName.isEmpty() || registry->GetOutputNames().contains(mOutputName));
    }
    if (reachable == mReachable)
        return;
    mReachable = reachable;
    mConfiguration->SetConsoleReachable(reachable);
    // Ports that (re)appear are a console to bring back; the link does it on "Connected".
    if (reachable && !mNetwork)
        SendResync();
    emit ConsoleReachableChanged(reachable);
}

// ---- The console: the network link ----------------------------------------------------------------

bool cConsoleSession::IsConnected() const
{
    return mLink->IsConnected();
}

QString cConsoleSession::GetStateText() const
{
    return mLink->GetStateString();
}

void cConsoleSession::Connect(const QHostAddress& Address, const QString& Name, int FirstTryDelayMs)
{
    if (mStopped)
        return;
    if (mWanted)
        DropAttempt();
    mWanted = true;
    mLastKnownAddress = Address;
    mFollowName = Name;
    mRetryMs = mEnvironment.FirstRetryMs;
    mTry = 0;
    // The link stays registered while it is down: what the DAW sends meanwhile is still remembered
    // for the next connection.
    mConfiguration->SetTCPInputOutput(mLink);
    if (FirstTryDelayMs > 0)
        mRetryTimer->start(FirstTryDelayMs);
    else
        TryConnect();
}

void cConsoleSession::Disconnect()
{
    if (mStopped)
        return;
    mWanted = false;
    mAttempting = false;
    mRetryTimer->stop();
    mConnectTimer->stop();
    mConfiguration->SetTCPInputOutput(nullptr);
    mLink->Disconnect();
    UpdateReachable();
}

void cConsoleSession::DropAttempt()
{
    mRetryTimer->stop();
    mConnectTimer->stop();
    if (!mAttempting)
        return;
    mAttempting = false;
    mInConnectCall = true; // the closing of the old try is no lost link
    mLink->Disconnect();
    mInConnectCall = false;
}

void cConsoleSession::UnitFound(const sUnit& Unit)
{
    if (!mWanted || mFollowName.isEmpty() || Unit.Name != mFollowName)
        return;
    emit ConsoleAnswered(Unit);
    mLastKnownAddress = Unit.Address;
    if (mLink->IsConnected())
        return;
    // Waiting for the next try, or still trying an address the console has left: try it now.
    const bool elsewhere = mAttempting && Unit.Address != mTrying;
    if (mRetryTimer->isActive() || elsewhere)
    {
        DropAttempt();
        TryConnect();
    }
}

void cConsoleSession::TryConnect()
{
    if (mStopped || !mWanted)
        return;
    ++mTry;
    QHostAddress address = mLastKnownAddress;
    bool lastKnown = false;
    if (!mFollowName.isEmpty())
    {
        // The most recent answer under that name wins: a console that came back elsewhere is followed.
        address = QHostAddress();
        const QList<sUnit> units = mFinder->GetUnits();
        for (auto it = units.crbegin(); it != units.crend(); ++it)
            if (it->Name == mFollowName)
            {
                address = it->Address;
                break;
            }
        if (address.isNull() && !mLastKnownAddress.isNull())
        {
            address = mLastKnownAddress;
            lastKnown = true;
        }
        if (address.isNull())
        {
            emit ConsoleNotFound(mTry);
            ScheduleRetry();
            return;
        }
        mLastKnownAddress = address;
    }
    emit TryStarted(mTry, address, lastKnown);
    mTrying = address;
    mAttempting = true;
    mInConnectCall = true;
    mLink->ConnectToHost(address);
    mInConnectCall = false;
    mConnectTimer->start(mEnvironment.ConnectTimeoutMs);
}

void cConsoleSession::ScheduleRetry()
{
    if (mStopped || !mWanted)
        return;
    const int pause = mRetryMs;
    mRetryMs = std::min(mRetryMs * 2, mEnvironment.LongestRetryMs);
    mRetryTimer->start(pause);
    emit RetryScheduled(pause);
}

void cConsoleSession::LinkStateChanged(const QString& State)
{
    emit StateTextChanged(State);
    // ConnectToHost reports the previous link closed before it starts; that is no lost link.
    if (mInConnectCall || mStopped)
        return;
    if (State == kConnected && mWanted)
    {
        mConnectTimer->stop();
        mRetryMs = mEnvironment.FirstRetryMs;
        mTry = 0;
        ++mConnections;
        UpdateReachable();
        SendResync();
        emit Connected();
    }
    else if (State == kNotConnected)
    {
        UpdateReachable();
        if (mAttempting && mWanted)
        {
            mAttempting = false;
            mConnectTimer->stop();
            ScheduleRetry();
        }
    }
}

// ---- What was sent, and sending it again ----------------------------------------------------------

void cConsoleSession::MIDIRead(const QString& Port, const QByteArray& Bytes)
{
    if (mObserver != nullptr)
        mObserver->MIDIRead(Port, Bytes);
}

bool cConsoleSession::MayWrite(int RuleId, const QString& Port, bool MixerOut, const QByteArray& Bytes)
{
    // A map may name the console's port itself instead of "Mixer Out".
    if (!mLocked || mSafe.value(RuleId) || (!MixerOut && !IsConsolePort(Port)))
        return true;
    ++mHeld;
    if (mObserver != nullptr)
        mObserver->MIDIHeld(RuleId, Port, Bytes);
    return false;
}

void cConsoleSession::MIDIWritten(int RuleId, const QString& Port, bool MixerOut, const QByteArray& Bytes)
{
    if (MixerOut && mResyncOn)
        mResync.Remember(RuleId, Bytes);
    if (mObserver != nullptr)
        mObserver->MIDIWritten(RuleId, Port, MixerOut, Bytes);
}

void cConsoleSession::SendResync()
{
    // A locked console keeps what it has: the last values would move its faders.
    if (!mResyncOn || mLocked || mResync.Size() == 0)
        return;
    const QString port = mNetwork ? cMIDITranslatorConfiguration::TCPPortName() : mOutputName;
    cMIDIOutput* output = port.isEmpty() ? nullptr : GetRegistry()->GetOutput(port);
    if (output == nullptr)
        return;
    const QList<QByteArray> messages = mResync.Messages();
    for (const QByteArray& message : messages)
        output->Write(message);
    emit ResyncSent(port, messages);
}
