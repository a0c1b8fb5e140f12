#include "MIDITranslator/MIDITranslatorConfiguration.h"

#include "Common/DepthCounter.h"
#include "Common/JsonFile.h"
#include "Common/LogError.h"
#include "Common/MIDI/SystemMIDIConfiguration.h"
#include "Common/MIDI/SystemMIDIConfigurationFactory.h"
#include "MIDITranslator/MIDIInputMatcher.h"
#include "MIDITranslator/MIDITrafficObserver.h"

#include <QJsonObject>
#include <QJsonValue>

#include <cstring>

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

    CreateInputMatchers();
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

    mOutgoing.clear();
    mRules.at(Id).BuildOutgoingMessage(mOutgoing, Message);
    mOutgoingBytes.resize(static_cast<int>(mOutgoing.size()));
    if (!mOutgoing.empty())
        std::memcpy(mOutgoingBytes.data(), mOutgoing.data(), mOutgoing.size());

    // A local share of the bytes: a port that keeps them, or a write that comes back in here,
    // cannot change what the remaining ports of this rule receive. The routes are looked at again
    // before every write, because a write or a slot of MixerMIDIOutputWrite may change the ports.
    const QByteArray bytes = mOutgoingBytes;
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
