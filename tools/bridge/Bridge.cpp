#include "tools/bridge/Bridge.h"

#include "Common/MIDI/SystemMIDIConfiguration.h"
#include "Common/MIDI/SystemMIDIConfigurationFactory.h"
#include "Common/MIDI/VirtualMIDIPortCloser.h"
#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "network/MultiUnitFinder.h"
#include "network/TCPMIDIInptOutput.h"
#include "tools/bridge/MidiDescriber.h"
#include "tools/console-sim/MidiMessageSplitter.h"

#include <QTimer>

#include <algorithm>

namespace
{
const QString kTCPPortName = QStringLiteral("Corvane Internal TCP MIDI");
const QString kConnected = QStringLiteral("Connected");
const QString kNotConnected = QStringLiteral("Not Connected");
} // namespace

cBridge::cBridge(const sBridgeSetup& Setup, tPrinter Printer, cSystemMIDIConfiguration* Registry,
                 const sBridgeNetwork& Network, QObject* Parent)
    : QObject(Parent),
      mSetup(Setup),
      mNetwork(Network),
      mPrinter(std::move(Printer)),
      mConfiguration(new cMIDITranslatorConfiguration(Registry)),
      mPlatformRegistry(Registry == nullptr),
      mLastKnownAddress(Setup.Address),
      mRetryMs(Network.FirstRetryMs)
{
    mClock.start();
}

cBridge::~cBridge()
{
    Stop();
}

void cBridge::Print(const QString& Line)
{
    if (mPrinter && !mStopped)
        mPrinter(Line);
}

bool cBridge::Start()
{
    if (mStarted || mStopped)
        return mStarted;
    mStarted = true;

    Print(QStringLiteral("map: %1").arg(mSetup.MapFile));
    mConfiguration->LoadFile(mSetup.MapFile);
    if (mConfiguration->GetRules().isEmpty())
    {
        Print(QStringLiteral("error: the map %1 holds no rule that could be read").arg(mSetup.MapFile));
        return false;
    }
    mResync.SetRules(mConfiguration->GetRules(), [this](int Id) { return mConfiguration->GetRuleObject(Id); });
    mConfiguration->SetTrafficObserver(this);

    // As the window does: every variable called "MIDI Channel" takes the channel.
    if (mSetup.Channel >= 0)
        for (const cMIDITranslatorVariable& variable : QList<cMIDITranslatorVariable>(mConfiguration->GetVariables()))
            if (variable.GetName() == QLatin1String("MIDI Channel"))
                mConfiguration->SetVariableValue(variable.GetVariableName(), quint8(mSetup.Channel));

    const QStringList ports = mConfiguration->GetVirtualPortNames();
    Print(QStringLiteral("DAW ports: %1").arg(ports.isEmpty() ? QStringLiteral("none") : ports.join(QStringLiteral(", "))));

    if (mSetup.Mode == eConsoleMode::MidiPorts)
    {
        mConfiguration->SetMixerInputPortName(mSetup.MidiIn);
        mConfiguration->SetMixerOutputPortName(mSetup.MidiOut);
        cSystemMIDIConfiguration* registry = mConfiguration->GetSystemMIDIConfiguration();
        if (!mSetup.MidiIn.isEmpty() && !registry->GetInputNames().contains(mSetup.MidiIn))
            Print(QStringLiteral("console input \"%1\" is not there yet; it is used once it appears").arg(mSetup.MidiIn));
        if (!mSetup.MidiOut.isEmpty() && !registry->GetOutputNames().contains(mSetup.MidiOut))
            Print(QStringLiteral("console output \"%1\" is not there yet; it is used once it appears").arg(mSetup.MidiOut));
        connect(registry, &cSystemMIDIConfiguration::OutputAddedSignal, this, &cBridge::ConsoleOutputAdded);
        Print(QStringLiteral("console: MIDI ports in \"%1\", out \"%2\"").arg(mSetup.MidiIn, mSetup.MidiOut));
        mConfiguration->SetConsoleReachable(true);
        return true;
    }

    mLink = new cTCPMIDIInptOutput(this, mNetwork.ConsolePort);
    connect(mLink, &cTCPMIDIInptOutput::StateStringChanged, this, &cBridge::LinkStateChanged);
    // Unlike the window, the link stays registered while it is down: what the DAW sends meanwhile is
    // still remembered for the resync.
    mConfiguration->SetTCPInputOutput(mLink);
    mConfiguration->SetMixerInputPortName(kTCPPortName);
    mConfiguration->SetMixerOutputPortName(kTCPPortName);

    mRetryTimer = new QTimer(this);
    mRetryTimer->setSingleShot(true);
    connect(mRetryTimer, &QTimer::timeout, this, &cBridge::TryConnect);
    mConnectTimer = new QTimer(this);
    mConnectTimer->setSingleShot(true);
    connect(mConnectTimer, &QTimer::timeout, this, [this] {
        Print(QStringLiteral("console: no connection to %1 within %2 s").arg(mTrying.toString()).arg(mNetwork.ConnectTimeoutMs / 1000.0));
        mLink->Disconnect();
    });

    if (mSetup.Mode == eConsoleMode::Name)
    {
        mFinder = new cMultiUnitFinder(this, mNetwork.DiscoveryDestination, mNetwork.DiscoveryPort, mNetwork.DiscoveryPollMs);
        connect(mFinder, &cMultiUnitFinder::UnitFound, this, &cBridge::UnitFound);
        mFinder->AddFinder(mSetup.FindString);
        Print(QStringLiteral("console: looking for \"%1\" (query \"%2\")").arg(mSetup.ConsoleName, mSetup.FindString));
        // The first answers come after one poll; a try is made as soon as the console answers.
        mRetryTimer->start(mNetwork.DiscoveryPollMs * 2);
        return true;
    }
    TryConnect();
    return true;
}

void cBridge::Stop()
{
    if (mStopped)
        return;
    if (mStarted)
        Print(QStringLiteral("stopping"));
    mStopped = true;
    if (mRetryTimer != nullptr)
        mRetryTimer->stop();
    if (mConnectTimer != nullptr)
        mConnectTimer->stop();
    if (mLink != nullptr)
    {
        disconnect(mLink, nullptr, this, nullptr);
        mConfiguration->SetTCPInputOutput(nullptr);
        mLink->Disconnect();
    }
    mConfiguration->SetTrafficObserver(nullptr);
    // The platform keeps the DAW's ports open for the whole process unless told otherwise; they
    // are closed before the port objects go, as the window does.
    if (mPlatformRegistry)
        CloseAllVirtualMIDIPorts();
    delete mConfiguration;
    mConfiguration = nullptr;
    delete mFinder;
    mFinder = nullptr;
    delete mLink;
    mLink = nullptr;
}

void cBridge::UnitFound(const sUnit& Unit)
{
    if (Unit.Name != mSetup.ConsoleName)
        return;
    Print(QStringLiteral("console: \"%1\" answers from %2").arg(Unit.Name, Unit.Address.toString()));
    mLastKnownAddress = Unit.Address;
    if (mLink->IsConnected())
        return;
    // Waiting for the next try, or still trying an address the console has left: try it now.
    const bool elsewhere = mAttempting && Unit.Address != mTrying;
    if (mRetryTimer->isActive() || elsewhere)
    {
        mRetryTimer->stop();
        if (mAttempting)
        {
            mAttempting = false;
            mConnectTimer->stop();
            mInConnectCall = true; // the closing of the old try is no lost link
            mLink->Disconnect();
            mInConnectCall = false;
        }
        TryConnect();
    }
}

void cBridge::TryConnect()
{
    if (mStopped)
        return;
    ++mTry;
    QHostAddress address = mSetup.Address;
    if (mSetup.Mode == eConsoleMode::Name)
    {
        // The most recent answer under that name wins: a console that came back elsewhere is followed.
        address = QHostAddress();
        const QList<sUnit> units = mFinder->GetUnits();
        for (auto it = units.crbegin(); it != units.crend(); ++it)
            if (it->Name == mSetup.ConsoleName)
            {
                address = it->Address;
                break;
            }
        if (address.isNull() && !mLastKnownAddress.isNull())
        {
            Print(QStringLiteral("try %1: \"%2\" does not answer discovery; trying its last address").arg(mTry).arg(mSetup.ConsoleName));
            address = mLastKnownAddress;
        }
        if (address.isNull())
        {
            Print(QStringLiteral("try %1: \"%2\" not found yet").arg(mTry).arg(mSetup.ConsoleName));
            ScheduleRetry();
            return;
        }
        mLastKnownAddress = address;
    }
    Print(QStringLiteral("try %1: connecting to %2").arg(mTry).arg(address.toString()));
    mTrying = address;
    mAttempting = true;
    mInConnectCall = true;
    mLink->ConnectToHost(address);
    mInConnectCall = false;
    mConnectTimer->start(mNetwork.ConnectTimeoutMs);
}

void cBridge::ScheduleRetry()
{
    if (mStopped)
        return;
    Print(QStringLiteral("console: trying again in %1 s").arg(mRetryMs / 1000.0));
    mRetryTimer->start(mRetryMs);
    mRetryMs = std::min(mRetryMs * 2, mNetwork.LongestRetryMs);
}

void cBridge::LinkStateChanged(const QString& State)
{
    if (mStopped)
        return;
    if (State != mStateText)
    {
        mStateText = State;
        Print(QStringLiteral("console: %1").arg(State));
    }
    mConfiguration->SetConsoleReachable(State == kConnected);
    // ConnectToHost reports the previous link closed before it starts; that is no lost link.
    if (mInConnectCall)
        return;
    if (State == kConnected)
    {
        mConnectTimer->stop();
        mRetryMs = mNetwork.FirstRetryMs;
        mTry = 0;
        ++mConnections;
        if (mSetup.Resync)
            SendResync(kTCPPortName);
        emit Connected();
    }
    else if (State == kNotConnected && mAttempting)
    {
        mAttempting = false;
        mConnectTimer->stop();
        ScheduleRetry();
    }
}

void cBridge::ConsoleOutputAdded(const QString& Name)
{
    if (Name == mSetup.MidiOut && mSetup.Resync && !mStopped)
        SendResync(Name);
}

void cBridge::SendResync(const QString& Output)
{
    const QList<QByteArray> messages = mResync.Messages();
    if (messages.isEmpty())
        return;
    cMIDIOutput* output = mConfiguration->GetSystemMIDIConfiguration()->GetOutput(Output);
    if (output == nullptr)
        return;
    for (const QByteArray& message : messages)
    {
        output->Write(message);
        if (mSetup.Monitor)
            PrintMessages(QStringLiteral("out"), Output, message, true);
    }
    Print(QStringLiteral("resync: %1 control%2 sent to the console").arg(messages.size()).arg(messages.size() == 1 ? "" : "s"));
}

QString cBridge::PortLabel(const QString& Port) const
{
    if (Port == kTCPPortName || (mSetup.Mode == eConsoleMode::MidiPorts && (Port == mSetup.MidiIn || Port == mSetup.MidiOut)))
        return QStringLiteral("console");
    return QStringLiteral("DAW \"%1\"").arg(Port);
}

void cBridge::PrintMessages(const QString& Direction, const QString& Port, const QByteArray& Bytes, bool Whole)
{
    const QString prefix = QStringLiteral("%1 %2 %3 ").arg(mClock.nsecsElapsed() / 1e9, 0, 'f', 6).arg(Direction, -3).arg(PortLabel(Port));
    auto print = [&](const QByteArray& Message) { Print(prefix + cMidiDescriber::Line(Message)); };
    if (Whole)
    {
        cMidiMessageSplitter splitter(print, [this](const QString& Problem) { Print(QStringLiteral("monitor: ") + Problem); });
        splitter.Feed(Bytes);
        splitter.Flush();
        return;
    }
    std::shared_ptr<cMidiMessageSplitter>& splitter = mSplitters[Port];
    if (!splitter)
        splitter = std::make_shared<cMidiMessageSplitter>([this, Port, Direction](const QByteArray& Message) {
            Print(QStringLiteral("%1 %2 %3 ").arg(mClock.nsecsElapsed() / 1e9, 0, 'f', 6).arg(Direction, -3).arg(PortLabel(Port)) +
                  cMidiDescriber::Line(Message));
        },
        [this](const QString& Problem) { Print(QStringLiteral("monitor: ") + Problem); });
    splitter->Feed(Bytes);
}

void cBridge::MIDIRead(const QString& Port, const QByteArray& Bytes)
{
    if (mSetup.Monitor)
        PrintMessages(QStringLiteral("in"), Port, Bytes, false);
}

void cBridge::MIDIWritten(int RuleId, const QString& Port, bool MixerOut, const QByteArray& Bytes)
{
    if (MixerOut && mSetup.Resync)
        mResync.Remember(RuleId, Bytes);
    if (mSetup.Monitor)
        PrintMessages(QStringLiteral("out"), Port, Bytes, true);
}
