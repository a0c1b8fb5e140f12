// Builds a variable and a rule from arbitrary JSON text; when the rule is accepted, matches
// arbitrary bytes against its pattern and builds outgoing messages. Input: variable JSON, a zero
// byte, rule JSON, a zero byte, the byte stream. Any crash, sanitizer report or outgoing message
// whose length differs from the number of outgoing tokens is a failure.

#include "Common/MIDI/MIDIMatch/MIDIMatchManager.h"
#include "Common/MIDI/MIDIMatch/MIDIMatchTriggerListener.h"
#include "MIDITranslator/MIDITranslatorRule.h"
#include "MIDITranslator/MIDITranslatorVariable.h"
#include "MIDITranslator/MIDITranslatorVariableSource.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <sanitizer/lsan_interface.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{
class cHarnessVariables : public cMIDITranslatorVariableSource
{
public:
    QList<cMIDITranslatorVariable> mVariables;

    const QList<cMIDITranslatorVariable>& GetVariables() const override { return mVariables; }
    uint8_t GetGlobalVariable(const QString& VariableName) const override
    {
        for (const cMIDITranslatorVariable& variable : mVariables)
        {
            if (variable.GetVariableName() == VariableName)
                return variable.GetValue();
        }
        return 0;
    }
};

// Qt 5.15's JSON parser leaks the earlier value of a key that an object repeats when that value is
// an object or array ({"a": {}, "a": 1}). That is Qt's, not ours: allocations made while parsing
// are kept out of the leak check, everything the translator does afterwards stays in it.
QJsonObject ParseObject(const QByteArray& Text)
{
    __lsan_disable();
    const QJsonObject object = QJsonDocument::fromJson(Text).object();
    __lsan_enable();
    return object;
}

void Check(bool Condition)
{
    if (!Condition)
        std::abort();
}

// Cuts the input at the next zero byte.
QByteArray NextPart(const uint8_t*& Data, size_t& Size)
{
    const void* end = std::memchr(Data, 0, Size);
    const size_t length = end ? static_cast<size_t>(static_cast<const uint8_t*>(end) - Data) : Size;
    QByteArray part(reinterpret_cast<const char*>(Data), static_cast<int>(length));
    const size_t consumed = end ? length + 1 : length;
    Data += consumed;
    Size -= consumed;
    return part;
}

bool Matches(const sMIDIMatchTrigger& Trigger, const uint8_t* Bytes)
{
    for (size_t index = 0; index < Trigger.nibbles.size(); ++index)
    {
        const sMatchNibble& nibble = Trigger.nibbles[index];
        const uint8_t byte = Bytes[index / 2];
        const uint8_t value = (index % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
        if (!nibble.wildcard && nibble.value != value)
            return false;
    }
    return true;
}

// Fires the rule from a real match tree, as the configuration does, and checks every firing.
class cHarnessFiring : public cMIDIMatchTriggerListener
{
public:
    cHarnessFiring(const cMIDITranslatorRule& Rule, size_t OutgoingTokens)
        : mRule(Rule), mOutgoingTokens(OutgoingTokens)
    {
    }
    void MIDIMatchTriggered(int Id, const std::vector<uint8_t>& Message) override
    {
        Check(Id == mRule.GetId());
        Check(Message.size() * 2 == mRule.GetMatchTrigger()->nibbles.size());
        mOut.clear();
        mRule.BuildOutgoingMessage(mOut, Message);
        Check(mOut.size() == mOutgoingTokens);
        ++mFirings;
    }
    size_t mFirings = 0;

private:
    const cMIDITranslatorRule& mRule;
    size_t mOutgoingTokens;
    std::vector<uint8_t> mOut;
};

void ExerciseRule(const cMIDITranslatorRule& Rule, const std::vector<uint8_t>& Stream)
{
    const size_t outgoingTokens = static_cast<size_t>(cMIDITranslatorRule::SplitMidi(Rule.GetOutgoingMidi()).size());
    const sMIDIMatchTrigger& trigger = *Rule.GetMatchTrigger();
    Check(trigger.nibbles.size() ==
          2 * static_cast<size_t>(cMIDITranslatorRule::SplitMidi(Rule.GetIncomingMidi()).size()));
    Check(Rule.GetOutgoingTemplate().size() == 2 * outgoingTokens);
    for (const sMatchNibble& nibble : trigger.nibbles)
        Check(nibble.value <= 0x0F);

    const size_t patternBytes = trigger.nibbles.size() / 2;
    std::vector<uint8_t> out;
    size_t occurrences = 0;
    if (patternBytes > 0)
    {
        for (size_t start = 0; start + patternBytes <= Stream.size(); ++start)
        {
            if (!Matches(trigger, Stream.data() + start))
                continue;
            ++occurrences;
            const std::vector<uint8_t> matched(Stream.begin() + start, Stream.begin() + start + patternBytes);
            out.clear();
            Rule.BuildOutgoingMessage(out, matched);
            Check(out.size() == outgoingTokens);
        }
    }

    cHarnessFiring firing(Rule, outgoingTokens);
    cMIDIMatchManager manager(&firing);
    manager.AddTrigger(trigger);
    for (uint8_t byte : Stream)
        manager.ProcessByte(byte);
    // Overlapping occurrences may be reported once, but never more often than they occur.
    Check(firing.mFirings <= occurrences);
    Check((occurrences == 0) == (firing.mFirings == 0));
    // A message of any length, shorter than the pattern too, must still give one byte per token.
    out.assign(3, 0xF8);
    Rule.BuildOutgoingMessage(out, Stream);
    Check(out.size() == 3 + outgoingTokens);
    out.clear();
    Rule.BuildOutgoingMessage(out, {});
    Check(out.size() == outgoingTokens);
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const QByteArray variableText = NextPart(Data, Size);
    const QByteArray ruleText = NextPart(Data, Size);
    const std::vector<uint8_t> stream(Data, Data + Size);

    cHarnessVariables variables;
    bool ok = false;
    cMIDITranslatorVariable variable =
        cMIDITranslatorVariable::FromJson(ParseObject(variableText), &ok);
    if (ok)
    {
        const uint8_t before = variable.GetValue();
        Check(variable.GetValues().isEmpty() ||
              variable.GetValues().at(variable.GetIndex()).value == before);
        variables.mVariables.append(variable);
    }
    // A second, fixed variable so that rules naming *n can load whatever the first input holds.
    bool fixedOk = false;
    variables.mVariables.append(cMIDITranslatorVariable::FromJson(
        ParseObject(R"({"name": "MIDI Channel", "variable_name": "n", "default": 0,
            "values": [{"value": 0, "name": "1"}, {"value": 15, "name": "16"}]})"),
        &fixedOk));
    Check(fixedOk);

    const cMIDITranslatorRule rule =
        cMIDITranslatorRule::FromJson(ParseObject(ruleText), &variables, &ok);
    if (!ok)
        return 0;
    ExerciseRule(rule, stream);

    // A variable change rebuilds the pattern with the new value; the shape stays the same.
    cMIDITranslatorRule rebuilt = rule;
    const size_t patternSize = rebuilt.GetMatchTrigger()->nibbles.size();
    if (!stream.empty() && !variables.mVariables.isEmpty())
        variables.mVariables.first().SetValue(stream.front());
    rebuilt.BuildMatchPattern();
    Check(rebuilt.GetMatchTrigger()->nibbles.size() == patternSize);
    ExerciseRule(rebuilt, stream);

    // The setters take strings nobody validated: they must still give one byte per token.
    if (ruleText.size() < 48)
    {
        cMIDITranslatorRule raw(&variables);
        raw.SetIncomingMidi(QString::fromUtf8(ruleText));
        raw.SetOutgoingMidi(QString::fromUtf8(ruleText.right(ruleText.size() / 2)));
        ExerciseRule(raw, stream);
    }
    return 0;
}
