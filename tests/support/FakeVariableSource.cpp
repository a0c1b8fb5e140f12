#include "tests/support/FakeVariableSource.h"

#include "Common/LogError.h"

#include <QJsonArray>
#include <QJsonObject>

void cFakeVariableSource::AddVariable(const QString& Letter, uint8_t Value, const QString& Name)
{
    QJsonArray values;
    for (int value = 0; value < 256; ++value)
        values.append(QJsonObject{{"value", value}, {"name", QString::number(value)}});
    bool ok = false;
    const cMIDITranslatorVariable variable = cMIDITranslatorVariable::FromJson(
        QJsonObject{{"name", Name}, {"variable_name", Letter}, {"default", Value}, {"values", values}}, &ok);
    if (ok)
        mVariables.append(variable);
}

bool cFakeVariableSource::SetVariableValue(const QString& Letter, uint8_t Value)
{
    for (cMIDITranslatorVariable& variable : mVariables)
    {
        if (variable.GetVariableName() == Letter)
        {
            variable.SetValue(Value);
            return true;
        }
    }
    return false;
}

void cFakeVariableSource::Clear()
{
    mVariables.clear();
}

const QList<cMIDITranslatorVariable>& cFakeVariableSource::GetVariables() const
{
    return mVariables;
}

uint8_t cFakeVariableSource::GetGlobalVariable(const QString& VariableName) const
{
    for (const cMIDITranslatorVariable& variable : mVariables)
    {
        if (variable.GetVariableName() == VariableName)
            return variable.GetValue();
    }
    LOG_ERROR("Unknown Global Variable: \"%s\"", VariableName.toUtf8().constData());
    return 0;
}
