#include "MIDITranslator/MIDITranslatorRuleOptions.h"

#include "MIDITranslator/MIDITranslatorRule.h"

#include <QJsonArray>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace
{
// The longest value "value" builds: three 7-bit bytes.
constexpr int kMostValueBytes = 3;
constexpr int kLongestQuietMs = 60000;

bool IsLetter(QChar Character)
{
    const ushort code = Character.unicode();
    return (code >= 'g' && code <= 'z') || (code >= 'G' && code <= 'Z');
}

bool ReadNumber(const QJsonValue& Value, int Lowest, int Highest, int* Result)
{
    if (!Value.isDouble())
        return false;
    const double number = Value.toDouble();
    if (number != std::floor(number) || number < Lowest || number > Highest)
        return false;
    *Result = static_cast<int>(number);
    return true;
}

bool ReadValue(const QJsonObject& Object, const QStringList& Captures, QString* From, QString* To, std::vector<std::pair<int, int>>* Table,
               cMIDITranslatorRuleOptions::eSteps* Steps, bool* Bit6Right, int* Start, QString* Problem)
{
    *From = Object.value(QLatin1String("from")).toString();
    *To = Object.value(QLatin1String("to")).toString();
    if (From->isEmpty())
        return *Problem = QStringLiteral("\"from\" must name the capture letters that hold the value"), false;
    for (const QChar letter : *From)
        if (!Captures.contains(QString(letter), Qt::CaseInsensitive))
            return *Problem = QStringLiteral("\"from\" letter \"%1\" is no capture of the incoming \"midi\"").arg(letter), false;
    if (To->isEmpty() || To->size() > kMostValueBytes)
        return *Problem = QStringLiteral("\"to\" must be one to three new letters, one per 7-bit byte"), false;
    for (int i = 0; i < To->size(); ++i)
    {
        const QChar letter = To->at(i);
        if (!IsLetter(letter) || Captures.contains(QString(letter), Qt::CaseInsensitive) ||
            To->left(i).contains(letter, Qt::CaseInsensitive))
            return *Problem = QStringLiteral("\"to\" letter \"%1\" must be a letter g-z that the incoming \"midi\" does not capture").arg(letter), false;
    }
    const QJsonValue table = Object.value(QLatin1String("table"));
    if (!table.isUndefined())
    {
        const QJsonArray points = table.toArray();
        if (!table.isArray() || points.size() < 2)
            return *Problem = QStringLiteral("\"table\" must be an array of at least two [in, out] pairs"), false;
        for (int i = 0; i < points.size(); ++i)
        {
            const QJsonArray point = points.at(i).toArray();
            int in = 0;
            int out = 0;
            if (point.size() != 2 || !ReadNumber(point.at(0), 0, 0x1FFFFF, &in) || !ReadNumber(point.at(1), 0, 0x1FFFFF, &out))
                return *Problem = QStringLiteral("\"table\" entry %1 is not a pair of whole numbers 0-2097151").arg(i), false;
            if (!Table->empty() && in <= Table->back().first)
                return *Problem = QStringLiteral("\"table\" entry %1: the inputs must rise").arg(i), false;
            Table->emplace_back(in, out);
        }
    }
    const QJsonValue steps = Object.value(QLatin1String("steps"));
    if (steps == QJsonValue(QLatin1String("make")))
        *Steps = cMIDITranslatorRuleOptions::eSteps::Make;
    else if (steps == QJsonValue(QLatin1String("add")))
        *Steps = cMIDITranslatorRuleOptions::eSteps::Add;
    else if (!steps.isUndefined())
        return *Problem = QStringLiteral("\"steps\" must be \"make\" or \"add\""), false;
    const QJsonValue bit6 = Object.value(QLatin1String("bit6"));
    if (bit6 == QJsonValue(QLatin1String("right")))
        *Bit6Right = true;
    else if (!bit6.isUndefined() && bit6 != QJsonValue(QLatin1String("left")))
        return *Problem = QStringLiteral("\"bit6\" must be \"left\" or \"right\""), false;
    const QJsonValue start = Object.value(QLatin1String("start"));
    if (!start.isUndefined() && !ReadNumber(start, 0, 0x1FFFFF, Start))
        return *Problem = QStringLiteral("\"start\" must be a whole number 0-2097151"), false;
    return true;
}
} // namespace

std::shared_ptr<cMIDITranslatorRuleOptions> cMIDITranslatorRuleOptions::FromJson(
    const QJsonObject& Rule, const QStringList& Captures, const QList<cMIDITranslatorVariable>* Variables,
    QString* Key, QString* Problem)
{
    auto options = std::make_shared<cMIDITranslatorRuleOptions>();
    bool used = false;
    auto fail = [&](const char* Name, const QString& Why) {
        *Key = QLatin1String(Name);
        *Problem = Why;
        return nullptr;
    };

    const QJsonValue value = Rule.value(QLatin1String("value"));
    if (!value.isUndefined())
    {
        QString why;
        if (!value.isObject())
            return fail("value", QStringLiteral("must be an object"));
        if (!ReadValue(value.toObject(), Captures, &options->mFromLetters, &options->mToLetters,
                       &options->mTable, &options->mSteps, &options->mBit6Right, &options->mStart, &why))
            return fail("value", why);
        options->mHasValue = used = true;
    }
    const std::pair<const char*, bool*> flags[] = {{"only_when_changed", &options->mOnlyWhenChanged},
                                                   {"needs_console", &options->mNeedsConsole}};
    for (const auto& flag : flags)
    {
        const QJsonValue setting = Rule.value(QLatin1String(flag.first));
        if (setting.isUndefined())
            continue;
        if (!setting.isBool())
            return fail(flag.first, QStringLiteral("must be true or false"));
        *flag.second = setting.toBool();
        used = used || setting.toBool();
    }
    const QJsonValue gesture = Rule.value(QLatin1String("gesture"));
    if (!gesture.isUndefined())
    {
        const QJsonObject object = gesture.toObject();
        const QJsonValue begin = object.value(QLatin1String("begin"));
        const QJsonValue end = object.value(QLatin1String("end"));
        if (!gesture.isObject() || !end.isString() || !(begin.isUndefined() || begin.isString()))
            return fail("gesture", QStringLiteral("must be an object with an \"end\" \"midi\" string (and optionally \"begin\")"));
        if (!ReadNumber(object.value(QLatin1String("quiet_ms")), 1, kLongestQuietMs, &options->mQuietMs))
            return fail("gesture", QStringLiteral("\"quiet_ms\" must be a whole number of milliseconds 1-60000"));
        for (const QJsonValue& midi : {begin, end})
            if (!cMIDITranslatorRule::ValidateOutgoingMidi(cMIDITranslatorRule::SplitMidi(midi.toString()), Variables, Captures))
                return fail("gesture", QStringLiteral("\"%1\" is not a valid outgoing \"midi\" string for this rule")
                                           .arg(midi == begin ? QStringLiteral("begin") : QStringLiteral("end")));
        options->mGestureBeginMidi = begin.toString();
        options->mGestureEndMidi = end.toString();
        options->mHasGesture = used = true;
    }
    const QJsonValue remember = Rule.value(QLatin1String("remember"));
    if (!remember.isUndefined())
    {
        const QString slot = remember.toObject().value(QLatin1String("slot")).toString();
        const QString letter = remember.toObject().value(QLatin1String("capture")).toString();
        if (slot.isEmpty() || letter.size() != 1 || !Captures.contains(letter, Qt::CaseInsensitive))
            return fail("remember", QStringLiteral("must be {\"slot\": a name, \"capture\": a capture letter of the incoming \"midi\"}"));
        options->mRememberSlot = slot;
        options->mRememberLetter = letter;
        used = true;
    }
    const QJsonValue required = Rule.value(QLatin1String("when_remembered"));
    if (!required.isUndefined())
    {
        const QString slot = required.toObject().value(QLatin1String("slot")).toString();
        if (slot.isEmpty() || !ReadNumber(required.toObject().value(QLatin1String("is")), 0, 255, &options->mRequiredValue))
            return fail("when_remembered", QStringLiteral("must be {\"slot\": a name, \"is\": a number 0-255}"));
        options->mRequiredSlot = slot;
        used = true;
    }
    if (!used)
        return nullptr;
    // The control's identity leaves the value open: the "value" letters, else "value_capture".
    if (!options->mHasValue)
        options->mFromLetters = Rule.value(QLatin1String("value_capture")).toString();
    return options;
}

void cMIDITranslatorRuleOptions::Bind(const cMIDITranslatorRule& Rule)
{
    mSources.clear();
    mKeyNibbles.clear();
    for (const QChar letter : mFromLetters)
    {
        const QString name(letter);
        if (!Rule.GetCaptureLetters().contains(name, Qt::CaseInsensitive))
            continue; // a stray "value_capture" letter: no part of the identity
        const bool whole = Rule.IsWholeByteCapture(name);
        // A whole byte's index is that of its high nibble.
        const int nibble = whole ? 2 * Rule.FindCaptureToken(name) : Rule.CaptureNibbleIndex(name);
        mSources.push_back({nibble, whole});
        mKeyNibbles.push_back(nibble);
        if (whole)
            mKeyNibbles.push_back(nibble + 1);
    }
    if (!mRememberLetter.isEmpty())
    {
        const bool whole = Rule.IsWholeByteCapture(mRememberLetter);
        mRememberSource = {whole ? 2 * Rule.FindCaptureToken(mRememberLetter) : Rule.CaptureNibbleIndex(mRememberLetter), whole};
    }
    auto gestureRule = [&Rule](const QString& Midi) {
        auto rule = std::make_shared<cMIDITranslatorRule>(Rule);
        rule->SetOptions(nullptr); // no cycle back to these options
        rule->SetOutgoingMidi(Midi);
        return rule;
    };
    mGestureBegin = mHasGesture && !mGestureBeginMidi.trimmed().isEmpty() ? gestureRule(mGestureBeginMidi) : nullptr;
    mGestureEnd = mHasGesture ? gestureRule(mGestureEndMidi) : nullptr;
}

int cMIDITranslatorRuleOptions::Table(int Value) const
{
    if (mTable.empty())
        return Value;
    if (Value <= mTable.front().first)
        return mTable.front().second;
    if (Value >= mTable.back().first)
        return mTable.back().second;
    std::size_t i = 1;
    while (mTable[i].first < Value)
        ++i;
    const std::pair<int, int>& low = mTable[i - 1];
    const std::pair<int, int>& high = mTable[i];
    const double share = double(Value - low.first) / double(high.first - low.first);
    return low.second + static_cast<int>(std::lround(share * (high.second - low.second)));
}

bool cMIDITranslatorRuleOptions::ComputeValue(const std::vector<uint8_t>& Matched, int* State, bool* HasState, int* Value) const
{
    int raw = 0;
    for (const sSource& source : mSources)
    {
        const std::size_t byte = static_cast<std::size_t>(source.nibble / 2);
        const uint8_t bits = byte < Matched.size() ? Matched[byte] : 0;
        if (source.wholeByte)
            raw = (raw << 7) | (bits & 0x7F);
        else
            raw = (raw << 4) | ((source.nibble % 2 == 0) ? (bits >> 4) : (bits & 0x0F));
    }
    switch (mSteps)
    {
    case eSteps::None:
        *Value = Table(raw);
        return true;
    case eSteps::Make:
    {
        const int absolute = Table(raw);
        const bool had = *HasState;
        const int delta = absolute - *State;
        *State = absolute;
        *HasState = true;
        // The first position seen of a control only sets where the next step starts from.
        if (!had || delta == 0)
            return false;
        const bool right = delta > 0;
        *Value = std::min(std::abs(delta), 63) | (right == mBit6Right ? 0x40 : 0);
        return true;
    }
    case eSteps::Add:
    {
        const int size = raw & 0x3F;
        const bool right = ((raw & 0x40) != 0) == mBit6Right;
        const int highest = mTable.empty() ? (1 << (7 * mToLetters.size())) - 1 : mTable.back().first;
        if (!*HasState)
            *State = mStart;
        *HasState = true;
        *State = std::max(0, std::min(highest, *State + (right ? size : -size)));
        *Value = Table(*State);
        return true;
    }
    }
    return false;
}

void cMIDITranslatorRuleOptions::AppendValueBytes(std::vector<uint8_t>& Message, int Value) const
{
    const int bytes = mToLetters.size();
    const int highest = (1 << (7 * bytes)) - 1;
    Value = std::max(0, std::min(highest, Value));
    for (int i = bytes - 1; i >= 0; --i)
        Message.push_back(static_cast<uint8_t>((Value >> (7 * i)) & 0x7F));
}

void cMIDITranslatorRuleOptions::AppendControlKey(QByteArray& Key, int RuleId, const std::vector<uint8_t>& Matched) const
{
    Key.append(reinterpret_cast<const char*>(&RuleId), sizeof RuleId);
    const int start = Key.size();
    Key.append(reinterpret_cast<const char*>(Matched.data()), static_cast<int>(Matched.size()));
    for (const int nibble : mKeyNibbles)
    {
        const int byte = start + nibble / 2;
        if (byte < Key.size())
            Key[byte] = static_cast<char>(Key.at(byte) & (nibble % 2 == 0 ? 0x0F : 0xF0));
    }
}

uint8_t cMIDITranslatorRuleOptions::RememberedValue(const std::vector<uint8_t>& Matched) const
{
    const std::size_t byte = static_cast<std::size_t>(mRememberSource.nibble / 2);
    if (byte >= Matched.size())
        return 0;
    if (mRememberSource.wholeByte)
        return Matched[byte];
    return (mRememberSource.nibble % 2 == 0) ? (Matched[byte] >> 4) : (Matched[byte] & 0x0F);
}
