#include "MIDITranslator/MIDITranslatorRule.h"

#include "Common/LogError.h"
#include "MIDITranslator/MIDITranslatorRuleOptions.h"
#include "MIDITranslator/MIDITranslatorVariableSource.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QRegularExpression>

namespace
{
bool IsHexDigit(QChar Character)
{
    const ushort code = Character.unicode();
    return (code >= '0' && code <= '9') || (code >= 'a' && code <= 'f') || (code >= 'A' && code <= 'F');
}

uint8_t HexValue(QChar Character)
{
    const ushort code = Character.unicode();
    if (code >= '0' && code <= '9')
        return static_cast<uint8_t>(code - '0');
    if (code >= 'a' && code <= 'f')
        return static_cast<uint8_t>(code - 'a' + 10);
    return static_cast<uint8_t>(code - 'A' + 10);
}

bool IsCaptureLetter(QChar Character)
{
    const ushort code = Character.unicode();
    return (code >= 'g' && code <= 'z') || (code >= 'G' && code <= 'Z');
}

// One unit of a token: a single character, or '*' and the letter of a global variable.
struct sUnit
{
    bool global = false;
    QChar character;
};

// The first two units of a token. Validated tokens have exactly one or two; for strings set
// without validation anything further is ignored, so a token still stands for one byte.
int SplitUnits(const QString& Token, sUnit Units[2])
{
    int count = 0;
    int position = 0;
    while (position < Token.size() && count < 2)
    {
        if (Token.at(position) == QLatin1Char('*') && position + 1 < Token.size())
        {
            Units[count++] = sUnit{true, Token.at(position + 1)};
            position += 2;
        }
        else
        {
            Units[count++] = sUnit{false, Token.at(position)};
            position += 1;
        }
    }
    return count;
}

QStringList StringElements(const QJsonArray& Array)
{
    QStringList strings;
    for (const QJsonValue& element : Array)
    {
        if (element.isString())
            strings << element.toString();
    }
    return strings;
}

bool IsGlobalVariable(QChar Letter, const QList<cMIDITranslatorVariable>* Variables)
{
    if (!Variables)
        return false;
    for (const cMIDITranslatorVariable& variable : *Variables)
    {
        const QString name = variable.GetVariableName();
        if (name.size() == 1 && name.at(0) == Letter)
            return true;
    }
    return false;
}

// Shared by both validations; Incoming decides what a capture letter must satisfy.
bool ValidateMidi(const QStringList& Tokens, const QList<cMIDITranslatorVariable>* Variables,
                  QStringList* CaptureLetters, bool Incoming)
{
    static const QRegularExpression tokenPattern(QStringLiteral("\\A(?:[a-zA-Z0-9]|\\*[g-zG-Z]){1,2}\\z"));
    for (const QString& token : Tokens)
    {
        if (!tokenPattern.match(token).hasMatch())
            return false;
        for (int position = 0; position < token.size(); ++position)
        {
            const QChar character = token.at(position);
            if (character == QLatin1Char('*'))
            {
                ++position;
                if (position >= token.size() || !IsCaptureLetter(token.at(position)) ||
                    !IsGlobalVariable(token.at(position), Variables))
                    return false;
            }
            else if (IsCaptureLetter(character))
            {
                const bool known = CaptureLetters->contains(QString(character), Qt::CaseInsensitive);
                if (Incoming)
                {
                    if (known)
                        return false;
                    CaptureLetters->append(QString(character));
                }
                else if (!known)
                {
                    return false;
                }
            }
        }
    }
    return true;
}
} // namespace

cMIDITranslatorRule::cMIDITranslatorRule(cMIDITranslatorVariableSource* Configuration)
    : mConfiguration(Configuration)
{
}

cMIDITranslatorRule cMIDITranslatorRule::FromJson(const QJsonObject& Object,
                                                  cMIDITranslatorVariableSource* Configuration, bool* Ok)
{
    bool ignored = false;
    if (!Ok)
        Ok = &ignored;
    *Ok = false;
    cMIDITranslatorRule rule(Configuration);
    const QList<cMIDITranslatorVariable>* variables = Configuration ? &Configuration->GetVariables() : nullptr;

    const QJsonValue name = Object.value(QStringLiteral("name"));
    if (!name.isString())
    {
        LOG_ERROR("No \"name\" string for rule");
        return rule;
    }
    const QByteArray nameText = name.toString().toUtf8();

    const QJsonValue incoming = Object.value(QStringLiteral("incoming"));
    if (!incoming.isObject())
    {
        LOG_ERROR("No \"incoming\" object for rule \"%s\"", nameText.constData());
        return rule;
    }
    const QJsonValue incomingMidi = incoming.toObject().value(QStringLiteral("midi"));
    if (!incomingMidi.isString())
    {
        LOG_ERROR("No incoming \"midi\" string for rule \"%s\"", nameText.constData());
        return rule;
    }
    QStringList captureLetters;
    if (!ValidateIncomingMidi(SplitMidi(incomingMidi.toString()), variables, &captureLetters))
    {
        LOG_ERROR("Invalid incoming midi string for rule \"%s\"", nameText.constData());
        return rule;
    }
    const QJsonValue incomingPorts = incoming.toObject().value(QStringLiteral("ports"));
    if (!incomingPorts.isArray())
    {
        LOG_ERROR("No incoming \"ports\" array for rule \"%s\"", nameText.constData());
        return rule;
    }

    // The optional keys; "value" adds letters that the outgoing string may use.
    QString optionKey;
    QString optionProblem;
    const std::shared_ptr<cMIDITranslatorRuleOptions> options =
        cMIDITranslatorRuleOptions::FromJson(Object, captureLetters, variables, &optionKey, &optionProblem);
    if (!optionKey.isEmpty())
    {
        LOG_ERROR("Invalid \"%s\" for rule \"%s\": %s", optionKey.toUtf8().constData(), nameText.constData(),
                  optionProblem.toUtf8().constData());
        return rule;
    }
    QStringList outgoingLetters = captureLetters;
    if (options)
        for (const QChar letter : options->ValueLetters())
            outgoingLetters << QString(letter);

    const QJsonValue outgoing = Object.value(QStringLiteral("outgoing"));
    if (!outgoing.isObject())
    {
        LOG_ERROR("No \"outgoing\" object for rule \"%s\"", nameText.constData());
        return rule;
    }
    const QJsonValue outgoingMidi = outgoing.toObject().value(QStringLiteral("midi"));
    if (!outgoingMidi.isString())
    {
        LOG_ERROR("No outgoing \"midi\" string for rule \"%s\"", nameText.constData());
        return rule;
    }
    if (!ValidateOutgoingMidi(SplitMidi(outgoingMidi.toString()), variables, outgoingLetters))
    {
        LOG_ERROR("Invalid outgoing midi string for rule \"%s\"", nameText.constData());
        return rule;
    }
    const QJsonValue outgoingPorts = outgoing.toObject().value(QStringLiteral("ports"));
    if (!outgoingPorts.isArray())
    {
        LOG_ERROR("No outgoing \"ports\" array for rule \"%s\"", nameText.constData());
        return rule;
    }

    rule.SetName(name.toString());
    // The incoming string goes first: the outgoing template looks its capture letters up in it.
    rule.SetIncomingMidi(incomingMidi.toString());
    rule.SetIncomingPorts(StringElements(incomingPorts.toArray()));
    rule.SetCaptureLetters(captureLetters);
    // Before the outgoing string: its template looks the "value" letters up in the options.
    rule.SetOptions(options);
    rule.SetOutgoingMidi(outgoingMidi.toString());
    rule.SetOutgoingPorts(StringElements(outgoingPorts.toArray()));
    if (options)
        options->Bind(rule);
    *Ok = true;
    return rule;
}

QStringList cMIDITranslatorRule::SplitMidi(const QString& Midi)
{
    return Midi.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool cMIDITranslatorRule::ValidateIncomingMidi(QStringList Tokens, const QList<cMIDITranslatorVariable>* Variables,
                                               QStringList* CaptureLetters)
{
    QStringList unused;
    return ValidateMidi(Tokens, Variables, CaptureLetters ? CaptureLetters : &unused, true);
}

bool cMIDITranslatorRule::ValidateOutgoingMidi(QStringList Tokens, const QList<cMIDITranslatorVariable>* Variables,
                                               QStringList CaptureLetters)
{
    return ValidateMidi(Tokens, Variables, &CaptureLetters, false);
}

void cMIDITranslatorRule::SetId(int Id)
{
    mId = Id;
    mTrigger.id = Id;
}

int cMIDITranslatorRule::GetId() const
{
    return mId;
}

void cMIDITranslatorRule::SetName(const QString& Name)
{
    mName = Name;
}

QString cMIDITranslatorRule::GetName() const
{
    return mName;
}

void cMIDITranslatorRule::SetIncomingMidi(const QString& Midi)
{
    mIncomingMidi = Midi;
    BuildMatchPattern();
}

QString cMIDITranslatorRule::GetIncomingMidi() const
{
    return mIncomingMidi;
}

void cMIDITranslatorRule::SetOutgoingMidi(const QString& Midi)
{
    mOutgoingMidi = Midi;
    BuildOutgoingTemplate();
}

QString cMIDITranslatorRule::GetOutgoingMidi() const
{
    return mOutgoingMidi;
}

void cMIDITranslatorRule::SetIncomingPorts(const QStringList& Ports)
{
    mIncomingPorts = Ports;
}

QStringList cMIDITranslatorRule::GetIncomingPorts() const
{
    return mIncomingPorts;
}

void cMIDITranslatorRule::SetOutgoingPorts(const QStringList& Ports)
{
    mOutgoingPorts = Ports;
}

QStringList cMIDITranslatorRule::GetOutgoingPorts() const
{
    return mOutgoingPorts;
}

void cMIDITranslatorRule::SetCaptureLetters(const QStringList& Letters)
{
    mCaptureLetters = Letters;
}

QStringList cMIDITranslatorRule::GetCaptureLetters() const
{
    return mCaptureLetters;
}

sMIDIMatchTrigger* cMIDITranslatorRule::GetMatchTrigger()
{
    return &mTrigger;
}

const sMIDIMatchTrigger* cMIDITranslatorRule::GetMatchTrigger() const
{
    return &mTrigger;
}

const std::vector<sOutgoingNibble>& cMIDITranslatorRule::GetOutgoingTemplate() const
{
    return mOutgoingTemplate;
}

uint8_t cMIDITranslatorRule::GlobalValue(const QString& VariableName) const
{
    if (mConfiguration)
        return mConfiguration->GetGlobalVariable(VariableName);
    LOG_ERROR("Unknown Global Variable: \"%s\"", VariableName.toUtf8().constData());
    return 0;
}

void cMIDITranslatorRule::BuildMatchPattern()
{
    auto fromUnit = [](const sUnit& Unit) {
        sMatchNibble nibble;
        if (IsHexDigit(Unit.character))
            nibble.value = HexValue(Unit.character);
        else
            nibble.wildcard = true;
        return nibble;
    };
    auto exact = [](uint8_t Value) {
        sMatchNibble nibble;
        nibble.value = Value & 0x0F;
        return nibble;
    };

    mTrigger.id = mId;
    mTrigger.nibbles.clear();
    for (const QString& token : SplitMidi(mIncomingMidi))
    {
        sUnit units[2];
        const int count = SplitUnits(token, units);
        sMatchNibble high;
        sMatchNibble low;
        if (count == 1)
        {
            if (units[0].global)
            {
                const uint8_t value = GlobalValue(QString(units[0].character));
                high = exact(value >> 4);
                low = exact(value);
            }
            else
            {
                high = fromUnit(units[0]);
                low.wildcard = true;
            }
        }
        else
        {
            // A global gives its high nibble in front and its low nibble behind.
            high = units[0].global ? exact(GlobalValue(QString(units[0].character)) >> 4) : fromUnit(units[0]);
            low = units[1].global ? exact(GlobalValue(QString(units[1].character))) : fromUnit(units[1]);
        }
        mTrigger.nibbles.push_back(high);
        mTrigger.nibbles.push_back(low);
    }
}

int cMIDITranslatorRule::CaptureToken(const QString& Letter, int* Unit) const
{
    if (Letter.size() != 1)
        return -1;
    const QChar wanted = Letter.at(0).toLower();
    const QStringList tokens = SplitMidi(mIncomingMidi);
    for (int index = 0; index < tokens.size(); ++index)
    {
        const QString& token = tokens.at(index);
        for (int position = 0; position < token.size(); ++position)
        {
            if (token.at(position).toLower() != wanted || (position > 0 && token.at(position - 1) == QLatin1Char('*')))
                continue;
            if (Unit)
            {
                const int firstUnitLength = (token.at(0) == QLatin1Char('*') && token.size() > 1) ? 2 : 1;
                *Unit = position < firstUnitLength ? 0 : 1;
            }
            return index;
        }
    }
    // A letter made by "value": a whole byte placed behind the matched message.
    const int valueIndex = mOptions ? mOptions->ValueLetters().indexOf(Letter, 0, Qt::CaseInsensitive) : -1;
    if (valueIndex >= 0)
    {
        if (Unit)
            *Unit = 0;
        return tokens.size() + valueIndex;
    }
    return -1;
}

int cMIDITranslatorRule::FindCaptureToken(const QString& Letter) const
{
    const int token = CaptureToken(Letter, nullptr);
    if (token >= 0)
        return token;
    LOG_ERROR("Could not find variable \"%s\" in incoming MIDI", Letter.toUtf8().constData());
    return 0;
}

int cMIDITranslatorRule::CaptureNibbleIndex(const QString& Letter) const
{
    int unit = 0;
    const int token = CaptureToken(Letter, &unit);
    // A missing letter is logged by FindCaptureToken and falls back to the first nibble.
    return token >= 0 ? 2 * token + unit : 2 * FindCaptureToken(Letter);
}

bool cMIDITranslatorRule::IsWholeByteCapture(const QString& Letter) const
{
    // The token FindCaptureToken gives, without logging a missing letter a second time: the
    // template asks this right after CaptureNibbleIndex.
    const int token = CaptureToken(Letter, nullptr);
    const QStringList tokens = SplitMidi(mIncomingMidi);
    if (token >= tokens.size())
        return true; // a "value" letter
    return tokens.value(token < 0 ? 0 : token).size() == 1;
}

void cMIDITranslatorRule::BuildOutgoingTemplate()
{
    auto literal = [](uint8_t Value) {
        sOutgoingNibble nibble;
        nibble.literal = Value & 0x0F;
        return nibble;
    };
    auto capture = [](int Index) {
        sOutgoingNibble nibble;
        nibble.captureIndex = Index;
        return nibble;
    };
    auto global = [](QChar Letter, bool HighNibble) {
        sOutgoingNibble nibble;
        nibble.globalVariable = QString(Letter);
        nibble.highNibble = HighNibble;
        return nibble;
    };
    // One nibble of a two-unit token: a whole-byte capture used as a nibble gives its low nibble,
    // unless the caller keeps the position as found (LowOfWholeByte false).
    auto fromUnit = [this, &literal, &capture](const sUnit& Unit, bool LowOfWholeByte) {
        if (IsHexDigit(Unit.character))
            return literal(HexValue(Unit.character));
        const QString letter(Unit.character);
        const int index = CaptureNibbleIndex(letter);
        return capture(LowOfWholeByte && IsWholeByteCapture(letter) ? index + 1 : index);
    };

    mOutgoingTemplate.clear();
    for (const QString& token : SplitMidi(mOutgoingMidi))
    {
        sUnit units[2];
        const int count = SplitUnits(token, units);
        sOutgoingNibble high;
        sOutgoingNibble low;
        if (count == 1)
        {
            if (units[0].global)
            {
                high = global(units[0].character, true);
                low = global(units[0].character, false);
            }
            else if (IsHexDigit(units[0].character))
            {
                // A lone digit reads as in an incoming string: the high nibble, the low one 0.
                high = literal(HexValue(units[0].character));
                low = literal(0);
            }
            else
            {
                const QString letter(units[0].character);
                const int index = CaptureNibbleIndex(letter);
                if (IsWholeByteCapture(letter))
                {
                    high = capture(index);
                    low = capture(index + 1);
                }
                else
                {
                    high = literal(0);
                    low = capture(index);
                }
            }
        }
        else
        {
            if (units[0].global)
                high = global(units[0].character, false);
            else
                high = fromUnit(units[0], !units[1].global);
            low = units[1].global ? global(units[1].character, false) : fromUnit(units[1], true);
        }
        mOutgoingTemplate.push_back(high);
        mOutgoingTemplate.push_back(low);
    }
}

uint8_t cMIDITranslatorRule::OutgoingNibble(const sOutgoingNibble& Nibble, const std::vector<uint8_t>& Matched) const
{
    if (Nibble.captureIndex >= 0)
    {
        const size_t byteIndex = static_cast<size_t>(Nibble.captureIndex) / 2;
        if (byteIndex >= Matched.size())
            return 0;
        const uint8_t byte = Matched[byteIndex];
        return (Nibble.captureIndex % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
    }
    if (!Nibble.globalVariable.isEmpty())
    {
        const uint8_t value = GlobalValue(Nibble.globalVariable);
        return Nibble.highNibble ? (value >> 4) : (value & 0x0F);
    }
    return Nibble.literal & 0x0F;
}

void cMIDITranslatorRule::BuildOutgoingMessage(std::vector<uint8_t>& Out, const std::vector<uint8_t>& Matched) const
{
    for (size_t index = 0; index + 1 < mOutgoingTemplate.size(); index += 2)
    {
        const uint8_t high = OutgoingNibble(mOutgoingTemplate[index], Matched);
        const uint8_t low = OutgoingNibble(mOutgoingTemplate[index + 1], Matched);
        Out.push_back(static_cast<uint8_t>((high << 4) | (low & 0x0F)));
    }
}
