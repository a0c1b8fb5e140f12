#include "MIDITranslator/MIDITranslatorConfiguration.h"

#include "Common/DepthCounter.h"
#include "Common/JsonFile.h"
#include "Common/LogError.h"
#include "Common/MIDI/SystemMIDIConfiguration.h"
#include "Common/MIDI/SystemMIDIConfigurationFactory.h"
#include "MIDITranslator/MIDIInputMatcher.h"
#include "MIDITranslator/MIDITrafficObserver.h"
#include "MIDITranslator/MIDITranslatorRuleOptions.h"

#include <QAbstractEventDispatcher>
#include <QJsonObject>
#include <QJsonValue>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <limits>

namespace
{
const QString kMixerIn = QStringLiteral("Mixer In");
const QString kMixerOut = QStringLiteral("Mixer Out");
const QString kTCPPortName = cMIDITranslatorConfiguration::TCPPortName();
} // namespace

cMIDITranslatorConfiguration::cMIDITranslatorConfiguration() : cMIDITranslatorConfiguration(nullptr) {}

cMIDITranslatorConfiguration::cMIDITranslatorConfiguration(cSystemMIDIConfiguration* Registry)
    : QObject(nullptr), mRegistry(Registry != nullptr ? Registry : CreateSystemMIDIConfiguration())
{
    // The registry has no parent, so that it is deleted here, after the matchers that follow it.
    mRegistry->setParent(nullptr);
    mQuietTimer = new QTimer(this);
    mQuietTimer->setSingleShot(true);
    connect(mQuietTimer, &QTimer::timeout, this, [this] { QuietTimeout(false); });
    connect(mRegistry, &cSystemMIDIConfiguration::VirtualPortConnectedSignal, this,
            [this](const QString& Name) { DawConnected(Name); });
    mClock.start();
}

cMIDITranslatorConfiguration::~cMIDITranslatorConfiguration()
{
    DeleteInputMatchers();
    delete mRegistry;
}

QJsonDocument cMIDITranslatorConfiguration::ReadJsonFile(const QString& Path)
{
    return ::ReadJsonFile(Path, __FILE__, __LINE__);
}

void cMIDITranslatorConfiguration::LoadFile(const QString& Path)
{
    Clear();
    mFileName = Path;
    mDocument = ReadJsonFile(Path);
    const QJsonObject top = mDocument.object();

    // A fixed order whatever the file's: ports and aliases exist before the rules that name them,
    // and variables before the rules that use them.
    const QJsonValue ports = top.value(QLatin1String("virtual_ports"));
    if (ports.isArray())
        LoadVirtualPorts(ports.toArray());
    const QJsonValue aliases = top.value(QLatin1String("port_aliases"));
    if (aliases.isArray())
        LoadPortAliases(aliases.toArray());
    const QJsonValue variables = top.value(QLatin1String("variables"));
    if (variables.isArray())
        LoadVariables(variables.toArray());
    const QJsonValue rules = top.value(QLatin1String("rules"));
    if (rules.isArray())
        LoadRules(rules.toArray());
    const QJsonValue announcements = top.value(QLatin1String("announcements"));
    if (announcements.isArray())
        LoadAnnouncements(announcements.toArray());

    CreateInputMatchers();
    // Where the MIDI system does not say when the DAW connects, a port counts as connected once made.
    if (!mRegistry->ReportsVirtualPortConnections())
        for (const QString& port : QStringList(mVirtualPortNames))
            DawConnected(port);
}

void cMIDITranslatorConfiguration::LoadAnnouncements(const QJsonArray& Announcements)
{
    for (const QJsonValue& value : Announcements)
    {
        if (!value.isObject())
            continue;
        const QJsonObject object = value.toObject();
        const QByteArray name = object.value(QLatin1String("name")).toString().toUtf8();
        const QJsonValue when = object.value(QLatin1String("when"));
        const QJsonValue midi = object.value(QLatin1String("midi"));
        const QJsonValue ports = object.value(QLatin1String("ports"));
        const QJsonValue needsConsole = object.value(QLatin1String("needs_console"));
        sAnnouncement announcement;
        announcement.dawConnects = when == QJsonValue(QLatin1String("daw_connects"));
        if (!announcement.dawConnects && when != QJsonValue(QLatin1String("console_connects")))
        {
            LOG_ERROR("Invalid announcement \"%s\": \"when\" must be \"daw_connects\" or \"console_connects\"", name.constData());
            continue;
        }
        if (!midi.isString() || !cMIDITranslatorRule::ValidateOutgoingMidi(cMIDITranslatorRule::SplitMidi(midi.toString()), &mVariables, {}))
        {
            LOG_ERROR("Invalid announcement \"%s\": \"midi\" must be an outgoing \"midi\" string without captures", name.constData());
            continue;
        }
        if (!ports.isArray() || !(needsConsole.isUndefined() || needsConsole.isBool()))
        {
            LOG_ERROR("Invalid announcement \"%s\": \"ports\" must be an array (and \"needs_console\" true or false)", name.constData());
            continue;
        }
        for (const QJsonValue& port : ports.toArray())
            if (port.isString())
                announcement.ports << port.toString();
        announcement.needsConsole = needsConsole.toBool();
        announcement.message = cMIDITranslatorRule(this);
        announcement.message.SetOutgoingMidi(midi.toString());
        mAnnouncements.append(announcement);
    }
}

void cMIDITranslatorConfiguration::Announce(bool DawConnects, const QString& Port)
{
    // A copy: a write may come back in here and load another file.
    const QList<sAnnouncement> announcements = mAnnouncements;
    const quint64 rulesEpoch = mRulesEpoch;
    for (const sAnnouncement& announcement : announcements)
    {
        if (announcement.dawConnects != DawConnects || (announcement.needsConsole && !mConsoleReachable))
            continue;
        std::vector<uint8_t> message;
        announcement.message.BuildOutgoingMessage(message, {});
        const QByteArray bytes(reinterpret_cast<const char*>(message.data()), static_cast<int>(message.size()));
        for (const QString& name : announcement.ports)
        {
            if (mRulesEpoch != rulesEpoch)
                return;
            const QString resolved = ResolveOutputAlias(name);
            if (!Port.isEmpty() && resolved != Port)
                continue;
            cMIDIOutput* output = mRegistry->GetOutput(resolved);
            if (output == nullptr)
                continue;
            output->Write(bytes);
            if (mTrafficObserver != nullptr)
                mTrafficObserver->MIDIWritten(-1, resolved, name == kMixerOut, bytes);
            if (name == kMixerOut)
                emit MixerMIDIOutputWrite();
        }
    }
}

void cMIDITranslatorConfiguration::DawConnected(const QString& Port)
{
    Announce(true, Port);
}

void cMIDITranslatorConfiguration::SetConsoleReachable(bool Reachable)
{
    const bool was = mConsoleReachable;
    mConsoleReachable = Reachable;
    // A gesture cut short by a lost console ends now, so the DAW is not left holding a touch.
    if (!Reachable && was)
        QuietTimeout(true);
    if (!Reachable || was)
        return;
    // A new connection: the console's controls may have moved meanwhile, and it has shown nothing.
    ResetControls();
    Announce(false, QString());
}

void cMIDITranslatorConfiguration::ResetControls()
{
    mControls.clear();
    std::fill(mRemembered.begin(), mRemembered.end(), -1);
    mQuietTimer->stop();
    mQuietDeadline = -1;
}

void cMIDITranslatorConfiguration::ScheduleQuiet(qint64 Deadline)
{
    // Without an event loop (the engine linked into a program that runs none) no timer can run;
    // a gesture's end then waits for the console to go.
    if (QAbstractEventDispatcher::instance() == nullptr)
        return;
    if (mQuietDeadline >= 0 && mQuietDeadline <= Deadline)
        return;
    mQuietDeadline = Deadline;
    mQuietTimer->start(static_cast<int>(std::max<qint64>(0, Deadline - mClock.elapsed())));
}

void cMIDITranslatorConfiguration::LoadVirtualPorts(const QJsonArray& Ports)
{
    for (const QJsonValue& port : Ports)
    {
        if (!port.isString())
            continue;
        const QString name = port.toString();
        mRegistry->CreateVirtualInputOutput(name);
        // Recorded even when the registry refused it, so that Clear asks for its deletion too.
        mVirtualPortNames.append(name);
    }
}

void cMIDITranslatorConfiguration::LoadPortAliases(const QJsonArray& Aliases)
{
    for (const QJsonValue& value : Aliases)
    {
        if (!value.isObject())
            continue;
        const QJsonObject alias = value.toObject();
        const QJsonValue type = alias.value(QLatin1String("type"));
        const QJsonValue name = alias.value(QLatin1String("name"));
        const QJsonValue aliasName = alias.value(QLatin1String("alias"));
        if (!type.isString() || !name.isString() || !aliasName.isString())
            continue;
        if (type.toString() == QLatin1String("input"))
            mInputAliases.insert(aliasName.toString(), name.toString());
        else if (type.toString() == QLatin1String("output"))
            mOutputAliases.insert(aliasName.toString(), name.toString());
    }
}

void cMIDITranslatorConfiguration::LoadVariables(const QJsonArray& Variables)
{
    for (const QJsonValue& value : Variables)
    {
        if (!value.isObject())
            continue;
        bool ok = false;
        const cMIDITranslatorVariable variable = cMIDITranslatorVariable::FromJson(value.toObject(), &ok);
        if (ok)
            mVariables.append(variable);
    }
}

void cMIDITranslatorConfiguration::LoadRules(const QJsonArray& Rules)
{
    for (const QJsonValue& value : Rules)
    {
        if (!value.isObject())
            continue;
        bool ok = false;
        cMIDITranslatorRule rule = cMIDITranslatorRule::FromJson(value.toObject(), this, &ok);
        if (!ok)
            continue;
        // A refused rule takes no identifier, so identifiers stay the rules' indexes.
        rule.SetId(mRules.size());
        mRules.append(rule);
        mRuleObjects.append(value.toObject());
    }
    QHash<QString, int> slotNumbers;
    auto slot = [&slotNumbers](const QString& Name) { return Name.isEmpty() ? -1 : *slotNumbers.insert(Name, slotNumbers.value(Name, slotNumbers.size())); };
    mRuleSlots.clear();
    for (const cMIDITranslatorRule& rule : qAsConst(mRules))
    {
        const cMIDITranslatorRuleOptions* options = rule.GetOptions();
        mRuleSlots.emplace_back(options ? slot(options->mRememberSlot) : -1, options ? slot(options->mRequiredSlot) : -1);
    }
    mRemembered.assign(static_cast<std::size_t>(slotNumbers.size()), -1);
}

void cMIDITranslatorConfiguration::CreateInputMatchers()
{
    for (cMIDITranslatorRule& rule : mRules)
    {
        const sMIDIMatchTrigger* trigger = rule.GetMatchTrigger();
        for (const QString& name : rule.GetIncomingPorts())
        {
            const QString resolved = ResolveInputAlias(name);
            cMIDIInputMatcher* matcher = mInputMatchers.value(resolved);
            if (matcher == nullptr)
            {
                matcher = new cMIDIInputMatcher(resolved, mRegistry, this, this);
                matcher->SetTrafficObserver(mTrafficObserver);
                mInputMatchers.insert(resolved, matcher);
                if (name == kMixerIn)
                    connect(matcher, &cMIDIInputMatcher::MIDIInputReadSignal, this, &cMIDITranslatorConfiguration::MixerMIDIInputRead);
            }
            matcher->AddTrigger(*trigger);
        }
    }
}

void cMIDITranslatorConfiguration::DeleteInputMatchers()
{
    while (!mInputMatchers.isEmpty())
    {
        auto first = mInputMatchers.begin();
        cMIDIInputMatcher* matcher = first.value();
        mInputMatchers.erase(first);
        // A matcher whose chunk is being matched right now (a rule fired and a slot of ours
        // rebuilds) must outlive its own loop: it stops at once and goes when control is back.
        if (mFiringDepth > 0)
        {
            matcher->Retire();
            matcher->deleteLater();
        }
        else
        {
            delete matcher;
        }
    }
}

void cMIDITranslatorConfiguration::Clear()
{
    mFileName.clear();
    while (!mVirtualPortNames.isEmpty())
        mRegistry->DeleteVirtualInputOutput(mVirtualPortNames.takeFirst());
    DeleteInputMatchers();
    mInputAliases.clear();
    mOutputAliases.clear();
    mRules.clear();
    mRuleObjects.clear();
    mVariables.clear();
    mAnnouncements.clear();
    ResetControls();
    mRuleSlots.clear();
    mRemembered.clear();
    ++mRulesEpoch;
    ForgetRoutes();
}

QString cMIDITranslatorConfiguration::ResolveInputAlias(const QString& Name) const
{
    return mInputAliases.value(Name, Name);
}

QString cMIDITranslatorConfiguration::ResolveOutputAlias(const QString& Name) const
{
    return mOutputAliases.value(Name, Name);
}

uint8_t cMIDITranslatorConfiguration::GetGlobalVariable(const QString& VariableName) const
{
    for (const cMIDITranslatorVariable& variable : mVariables)
        if (variable.GetVariableName() == VariableName)
            return variable.GetValue();
    LOG_ERROR("Unknown Global Variable: \"%s\"", VariableName.toLocal8Bit().constData());
    return 0;
}

const QList<cMIDITranslatorVariable>& cMIDITranslatorConfiguration::GetVariables() const
{
    return mVariables;
}

void cMIDITranslatorConfiguration::SetVariableValue(const QString& VariableName, uint8_t Value)
{
    for (cMIDITranslatorVariable& variable : mVariables)
    {
        if (variable.GetVariableName() != VariableName)
            continue;
        variable.SetValue(Value);
        // Patterns hold the variables' values baked in, so every tree is built again.
        DeleteInputMatchers();
        for (cMIDITranslatorRule& rule : mRules)
            rule.BuildMatchPattern();
        CreateInputMatchers();
        return;
    }
}

void cMIDITranslatorConfiguration::SetMixerInputPortName(const QString& PortName)
{
    if (!mInputAliases.contains(kMixerIn))
        return;
    mInputAliases.insert(kMixerIn, PortName);
    DeleteInputMatchers();
    CreateInputMatchers();
}

void cMIDITranslatorConfiguration::SetMixerOutputPortName(const QString& PortName)
{
    if (!mOutputAliases.contains(kMixerOut))
        return;
    mOutputAliases.insert(kMixerOut, PortName);
    ForgetRoutes();
}

void cMIDITranslatorConfiguration::SetTCPInputOutput(cMIDIInputOutput* Port)
{
    if (Port != nullptr)
        mRegistry->AddInputOutput(kTCPPortName, Port);
    else
        mRegistry->RemoveInputOutput(kTCPPortName);
}

QString cMIDITranslatorConfiguration::TCPPortName()
{
    return QStringLiteral("Corvane Internal TCP MIDI");
}

void cMIDITranslatorConfiguration::SetTrafficObserver(cMIDITrafficObserver* Observer)
{
    mTrafficObserver = Observer;
    for (cMIDIInputMatcher* matcher : qAsConst(mInputMatchers))
        matcher->SetTrafficObserver(Observer);
}

void cMIDITranslatorConfiguration::RebuildRoutes()
{
    mRoutes.assign(static_cast<std::size_t>(mRules.size()), {});
    for (int id = 0; id < mRules.size(); ++id)
    {
        for (const QString& name : mRules.at(id).GetOutgoingPorts())
        {
            // One entry per name, found or not, so that a route keeps its index across rebuilds.
            const QString resolved = ResolveOutputAlias(name);
            cMIDIOutput* output = mRegistry->GetOutput(resolved);
            mRoutes[static_cast<std::size_t>(id)].push_back({output, name == kMixerOut, resolved});
        }
    }
    mRoutesGeneration = mRegistry->GetPortGeneration();
    mRoutesValid = true;
}

void cMIDITranslatorConfiguration::MIDIMatchTriggered(int Id, const std::vector<uint8_t>& Message)
{
    // A negative identifier is refused like one past the end: it must never index the list.
    if (Id < 0 || Id >= mRules.size())
    {
        LOG_ERROR("Invalid Trigger Id: %d", Id);
        return;
    }
    const cDepthCounter firing(mFiringDepth);

    const cMIDITranslatorRuleOptions* options = mRules.at(Id).GetOptions();
    if (options != nullptr)
    {
        FireWithOptions(Id, *options, Message);
        return;
    }
    mOutgoing.clear();
    mRules.at(Id).BuildOutgoingMessage(mOutgoing, Message);
    mOutgoingBytes.resize(static_cast<int>(mOutgoing.size()));
    if (!mOutgoing.empty())
        std::memcpy(mOutgoingBytes.data(), mOutgoing.data(), mOutgoing.size());
    WriteRuleOutput(Id, mOutgoingBytes);
}

void cMIDITranslatorConfiguration::FireWithOptions(int Id, const cMIDITranslatorRuleOptions& Options,
                                                   const std::vector<uint8_t>& Message)
{
    if (Options.mNeedsConsole && !mConsoleReachable)
        return;
    const std::pair<int, int> ruleSlots = mRuleSlots[static_cast<std::size_t>(Id)];
    if (ruleSlots.second >= 0 && mRemembered[static_cast<std::size_t>(ruleSlots.second)] != Options.mRequiredValue)
        return;
    if (ruleSlots.first >= 0)
        mRemembered[static_cast<std::size_t>(ruleSlots.first)] = Options.RememberedValue(Message);

    // Every change of state happens before the first write: a write may come back in here.
    sControlState* control = nullptr;
    if (Options.NeedsControlKey())
    {
        mControlKey.clear();
        Options.AppendControlKey(mControlKey, Id, Message);
        // A map whose controls cannot be told apart (a wide capture left out of the value) would
        // grow the table without end: past the limit it starts afresh, ending gestures first.
        if (mControls.size() >= kMostControls && !mControls.contains(mControlKey))
        {
            if (!mControlsOverflowLogged)
                LOG_ERROR("More than %d controls keep state in map %s: their state starts afresh", kMostControls,
                          mFileName.toLocal8Bit().constData());
            mControlsOverflowLogged = true;
            const quint64 rulesEpoch = mRulesEpoch;
            QuietTimeout(true);
            if (mRulesEpoch != rulesEpoch)
                return;
            mControls.clear();
            // A write of those ends may have come back in here and used the scratch key.
            mControlKey.clear();
            Options.AppendControlKey(mControlKey, Id, Message);
        }
        control = &mControls[mControlKey];
    }
    const std::vector<uint8_t>* matched = &Message;
    if (Options.HasValue())
    {
        int unusedState = 0;
        bool unusedHasState = false;
        int value = 0;
        if (!Options.ComputeValue(Message, control ? &control->state : &unusedState,
                                  control ? &control->hasState : &unusedHasState, &value))
            return;
        mWithValue = Message;
        Options.AppendValueBytes(mWithValue, value);
        matched = &mWithValue;
    }
    mOutgoing.clear();
    mRules.at(Id).BuildOutgoingMessage(mOutgoing, *matched);
    // Kept in the member between firings so steady traffic does not allocate; WriteRuleOutput
    // takes its own share before anything can come back in here.
    mOutgoingBytes.resize(static_cast<int>(mOutgoing.size()));
    if (!mOutgoing.empty())
        std::memcpy(mOutgoingBytes.data(), mOutgoing.data(), mOutgoing.size());
    const QByteArray& bytes = mOutgoingBytes;
    if (Options.mOnlyWhenChanged)
    {
        if (control->sent && control->lastSent == bytes)
            return;
        control->lastSent = bytes;
        control->sent = true;
    }
    QByteArray begin;
    if (Options.mHasGesture)
    {
        if (!control->gestureActive && Options.mGestureBegin)
        {
            std::vector<uint8_t> message;
            Options.mGestureBegin->BuildOutgoingMessage(message, *matched);
            begin = QByteArray(reinterpret_cast<const char*>(message.data()), static_cast<int>(message.size()));
        }
        control->gestureActive = true;
        control->ruleId = Id;
        control->lastMatched = *matched;
        control->quietDeadline = mClock.elapsed() + Options.mQuietMs;
        control->lastMove = ++mMoves;
        ScheduleQuiet(control->quietDeadline);
    }
    if (begin.isEmpty())
    {
        WriteRuleOutput(Id, bytes);
        return;
    }
    // The begin's write may come back in here and reuse the member: this firing keeps its own.
    const QByteArray own = bytes;
    const quint64 rulesEpoch = mRulesEpoch;
    WriteRuleOutput(Id, begin);
    if (mRulesEpoch == rulesEpoch)
        WriteRuleOutput(Id, own);
}

void cMIDITranslatorConfiguration::QuietTimeout(bool EndAll)
{
    const qint64 now = EndAll ? std::numeric_limits<qint64>::max() : mClock.elapsed();
    qint64 next = -1;
    struct sEnd
    {
        qint64 deadline;
        quint64 lastMove;
        int ruleId;
        QByteArray bytes;
    };
    std::vector<sEnd> ends;
    for (auto control = mControls.begin(); control != mControls.end(); ++control)
    {
        if (!control->gestureActive)
            continue;
        if (control->quietDeadline > now)
        {
            next = next < 0 ? control->quietDeadline : std::min(next, control->quietDeadline);
            continue;
        }
        control->gestureActive = false;
        const cMIDITranslatorRuleOptions* options = control->ruleId < mRules.size() ? mRules.at(control->ruleId).GetOptions() : nullptr;
        if (options == nullptr || !options->mGestureEnd)
            continue;
        std::vector<uint8_t> message;
        options->mGestureEnd->BuildOutgoingMessage(message, control->lastMatched);
        ends.push_back({control->quietDeadline, control->lastMove, control->ruleId,
                        QByteArray(reinterpret_cast<const char*>(message.data()), static_cast<int>(message.size()))});
    }
    mQuietTimer->stop();
    mQuietDeadline = -1;
    if (!EndAll && next >= 0)
        ScheduleQuiet(next);
    const quint64 rulesEpoch = mRulesEpoch;
    const cDepthCounter firing(mFiringDepth);
    // The gesture that went quiet first ends first, whatever the table's order.
    std::sort(ends.begin(), ends.end(), [](const sEnd& A, const sEnd& B) {
        return A.deadline != B.deadline ? A.deadline < B.deadline : A.lastMove < B.lastMove;
    });
    for (const sEnd& end : ends)
        if (mRulesEpoch == rulesEpoch)
            WriteRuleOutput(end.ruleId, end.bytes);
}

void cMIDITranslatorConfiguration::WriteRuleOutput(int Id, const QByteArray& Bytes)
{
    // A local share of the bytes: a port that keeps them, or a write that comes back in here,
    // cannot change what the remaining ports of this rule receive. The routes are looked at again
    // before every write, because a write or a slot of MixerMIDIOutputWrite may change the ports.
    const QByteArray bytes = Bytes;
    const quint64 rulesEpoch = mRulesEpoch;
    for (std::size_t index = 0;; ++index)
    {
        // Rules cleared or replaced meanwhile: this identifier means something else now.
        if (mRulesEpoch != rulesEpoch)
            break;
        if (!mRoutesValid || mRoutesGeneration != mRegistry->GetPortGeneration())
            RebuildRoutes();
        if (static_cast<std::size_t>(Id) >= mRoutes.size() || index >= mRoutes[static_cast<std::size_t>(Id)].size())
            break;
        const sOutputRoute route = mRoutes[static_cast<std::size_t>(Id)][index];
        if (route.output == nullptr)
            continue;
        if (mTrafficObserver != nullptr && !mTrafficObserver->MayWrite(Id, route.port, route.mixerOut, bytes))
            continue;
        route.output->Write(bytes);
        if (mTrafficObserver != nullptr)
            mTrafficObserver->MIDIWritten(Id, route.port, route.mixerOut, bytes);
        if (route.mixerOut)
            emit MixerMIDIOutputWrite();
    }
}
