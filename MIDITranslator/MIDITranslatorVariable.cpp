#include "MIDITranslator/MIDITranslatorVariable.h"

#include "Common/LogError.h"

#include <QJsonArray>
#include <QJsonValue>

#include <cmath>

namespace
{
bool IsAsciiLetter(QChar Character)
{
    const ushort code = Character.unicode();
    return (code >= 'a' && code <= 'z') || (code >= 'A' && code <= 'Z');
}
} // namespace

cMIDITranslatorVariable cMIDITranslatorVariable::FromJson(const QJsonObject& Object, bool* Ok)
{
    bool ignored = false;
    if (!Ok)
        Ok = &ignored;
    *Ok = false;
    cMIDITranslatorVariable variable;

    const QJsonValue name = Object.value(QStringLiteral("name"));
    if (!name.isString())
    {
        LOG_ERROR("No \"name\" string value for variable");
        return variable;
    }
    const QJsonValue variableName = Object.value(QStringLiteral("variable_name"));
    if (!variableName.isString())
    {
        LOG_ERROR("No \"variable_name\" string value for variable");
        return variable;
    }
    const QString letter = variableName.toString();
    if (letter.size() != 1 || !IsAsciiLetter(letter.at(0)))
    {
        LOG_ERROR("Invalid \"variable_name\": %s", letter.toUtf8().constData());
        return variable;
    }
    const QJsonValue defaultValue = Object.value(QStringLiteral("default"));
    if (!defaultValue.isDouble())
    {
        LOG_ERROR("No \"default\" double value for variable");
        return variable;
    }
    const uint8_t defaultByte = ByteFromJsonNumber(defaultValue.toDouble());
    const QJsonValue values = Object.value(QStringLiteral("values"));
    if (!values.isArray())
    {
        LOG_ERROR("No \"values\" array for variable");
        return variable;
    }

    QList<sVariableValue> entries;
    for (const QJsonValue& element : values.toArray())
    {
        // Malformed entries are left out quietly: the rest of the list is still usable.
        const QJsonObject entry = element.toObject();
        const QJsonValue entryValue = entry.value(QStringLiteral("value"));
        const QJsonValue entryName = entry.value(QStringLiteral("name"));
        if (!element.isObject() || !entryValue.isDouble() || !entryName.isString())
            continue;
        entries.append(sVariableValue{ByteFromJsonNumber(entryValue.toDouble()), entryName.toString()});
    }

    variable.mName = name.toString();
    variable.mVariableName = letter;
    variable.mValues = entries;
    variable.mIndex = 0;
    variable.mDefaultValue = defaultByte;
    variable.SetValue(defaultByte);
    *Ok = true;
    return variable;
}

uint8_t cMIDITranslatorVariable::ByteFromJsonNumber(double Number)
{
    const double rounded = std::trunc(Number + 0.5);
    if (!std::isfinite(rounded))
        return 0;
    // fmod is exact, so this is the low byte of the integer even where a cast to int would be
    // undefined; for negative numbers it agrees with the two's complement byte (-1 -> 255).
    double low = std::fmod(rounded, 256.0);
    if (low < 0)
        low += 256.0;
    return static_cast<uint8_t>(low);
}

QString cMIDITranslatorVariable::GetName() const
{
    return mName;
}

QString cMIDITranslatorVariable::GetVariableName() const
{
    return mVariableName;
}

const QList<sVariableValue>& cMIDITranslatorVariable::GetValues() const
{
    return mValues;
}

int cMIDITranslatorVariable::GetIndex() const
{
    return mIndex;
}

uint8_t cMIDITranslatorVariable::GetValue() const
{
    if (mIndex >= 0 && mIndex < mValues.size())
        return mValues.at(mIndex).value;
    return mDefaultValue;
}

void cMIDITranslatorVariable::SetValue(uint8_t Value)
{
    for (int index = 0; index < mValues.size(); ++index)
    {
        if (mValues.at(index).value == Value)
        {
            mIndex = index;
            return;
        }
    }
    LOG_ERROR("Invalid value: %d", Value);
}
