#pragma once
// Global variables for rules under test, standing in for the translator configuration. Owned by
// the test; used on the test's thread.

#include "MIDITranslator/MIDITranslatorVariable.h"
#include "MIDITranslator/MIDITranslatorVariableSource.h"

#include <QList>
#include <QString>

class cFakeVariableSource : public cMIDITranslatorVariableSource
{
public:
    // Adds a variable "Name"/Letter whose allowed values are 0..255 and whose value is Value.
    void AddVariable(const QString& Letter, uint8_t Value, const QString& Name = QStringLiteral("Test"));
    // SetValue on the first variable with that letter; false when there is none.
    bool SetVariableValue(const QString& Letter, uint8_t Value);
    void Clear();

    const QList<cMIDITranslatorVariable>& GetVariables() const override;
    uint8_t GetGlobalVariable(const QString& VariableName) const override;

private:
    QList<cMIDITranslatorVariable> mVariables;
};
