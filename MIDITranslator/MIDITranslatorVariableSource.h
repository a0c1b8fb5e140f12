#pragma once
// What a rule needs of the configuration that loaded it: the global variables. The configuration
// implements it and outlives its rules; every call comes from the GUI thread.

#include "MIDITranslator/MIDITranslatorVariable.h"

#include <QList>
#include <QString>

#include <cstdint>

class cMIDITranslatorVariableSource
{
public:
    virtual const QList<cMIDITranslatorVariable>& GetVariables() const = 0;
    // Current value of the first variable whose one-letter name equals VariableName; an unknown
    // name is logged ("Unknown Global Variable: \"%s\"") and gives 0.
    virtual uint8_t GetGlobalVariable(const QString& VariableName) const = 0;

protected:
    // Sources are never deleted through this interface.
    ~cMIDITranslatorVariableSource() = default;
};
