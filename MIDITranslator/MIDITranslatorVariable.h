#pragma once
// A named one-byte setting of a translation map, chosen from a fixed list of allowed values.
// A plain value: the configuration keeps copies in a list. Used on the GUI thread only.

#include <QJsonObject>
#include <QList>
#include <QString>

#include <cstdint>

// One allowed value of a variable, with the label the map file gives it.
struct sVariableValue
{
    uint8_t value = 0;
    QString name;
};

class cMIDITranslatorVariable
{
public:
    // Builds a variable from one object of the map file's "variables" array. *Ok is set false on
    // entry and true only when the object was accepted; a refusal is logged once, naming the key.
    static cMIDITranslatorVariable FromJson(const QJsonObject& Object, bool* Ok);

    // A map-file number as a byte: add 0.5, truncate toward zero, keep the low 8 bits
    // (1.5 -> 2, 0.4 -> 0, 300 -> 44, -1 -> 255). Numbers beyond the 32-bit range keep the low
    // 8 bits of their integer part as well; infinities give 0.
    static uint8_t ByteFromJsonNumber(double Number);

    QString GetName() const;
    QString GetVariableName() const;
    const QList<sVariableValue>& GetValues() const;
    // Index of the current entry in GetValues(); 0 when the list is empty.
    int GetIndex() const;

    // The value of the current entry. A variable is never outside its list: when the default is
    // not among the values the first entry is current; a variable without any entry gives its
    // default byte (and 0 when it never had one).
    uint8_t GetValue() const;

    // Selects the first entry whose value equals Value; a value that is not listed is logged
    // ("Invalid value: %d") and the current entry stays.
    void SetValue(uint8_t Value);

private:
    QString mName;
    QString mVariableName;
    QList<sVariableValue> mValues;
    int mIndex = 0;
    uint8_t mDefaultValue = 0;
};
