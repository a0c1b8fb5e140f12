#pragma once
// One translation rule of a map file: when its incoming message arrives on one of its incoming
// ports, its outgoing message goes to its outgoing ports. A copyable value that the configuration
// keeps in a list; built, registered and fired on the GUI thread.
//
// A "midi" string is split at spaces (runs of spaces count as one, empty parts are dropped); each
// token is one byte and matches ([a-zA-Z0-9]|\*[g-zG-Z]){1,2}. A unit is a hex digit (that nibble),
// a capture letter g-z / G-Z (any nibble, named; case does not matter) or *x, the current byte of
// the global variable whose letter is x (case matters). In a two-unit token the first unit is the
// high nibble, the second the low one.
//   incoming  "9"   matches 0x90..0x9F           "v"   matches any byte and captures it whole
//             "*n"  matches the byte n           "*nA" matches (n >> 4) then A
//             "A*n" matches A then (n & 0x0F)    "*g*h" matches (g >> 4) then (h & 0x0F)
//   outgoing  "v"   the captured byte when v captured a whole byte, else 0 then the nibble of v
//             "kv"  a capture that took a whole byte gives its low nibble here
//             "*n"  the byte n                   "*nA", "*g*h": the low nibble of each global
//             "v*h" a capture that took a whole byte gives its high nibble here
//             "7"   a single hex digit is the high nibble, the low nibble is 0: "7" gives 0x70,
//                   the byte that the same token matches in an incoming string with 0 filled in.

#include "Common/MIDI/MIDIMatch/MIDIMatchTrigger.h"
#include "MIDITranslator/MIDITranslatorVariable.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class cMIDITranslatorRuleOptions;
class cMIDITranslatorVariableSource;

// One nibble of the outgoing template. The first source that applies wins: a capture index >= 0,
// else a non-empty global variable, else the literal.
struct sOutgoingNibble
{
    uint8_t literal = 0;       // fixed nibble 0..15
    int32_t captureIndex = -1; // nibble of the matched message (two per byte, high first), -1 none
    QString globalVariable;    // letter of a global variable, empty for none
    bool highNibble = false;   // for a global: true = value >> 4, false = value & 0x0F
};

class cMIDITranslatorRule
{
public:
    cMIDITranslatorRule() = default;
    explicit cMIDITranslatorRule(cMIDITranslatorVariableSource* Configuration);

    // Builds a rule from one object of the map file's "rules" array. *Ok is set false on entry and
    // true only when the rule was accepted; a refusal is logged once with the rule's name.
    // Configuration gives the global variables and stays bound to the rule; it may be null (then
    // no global variable exists).
    static cMIDITranslatorRule FromJson(const QJsonObject& Object, cMIDITranslatorVariableSource* Configuration,
                                        bool* Ok);

    // The one way every operation here cuts a "midi" string into tokens.
    static QStringList SplitMidi(const QString& Midi);

    // True when every token is well formed, every *x names one of Variables (may be null: none)
    // and no capture letter repeats; the capture letters are appended to *CaptureLetters in order.
    static bool ValidateIncomingMidi(QStringList Tokens, const QList<cMIDITranslatorVariable>* Variables,
                                     QStringList* CaptureLetters);
    // The same for an outgoing string, whose capture letters must all be in CaptureLetters.
    static bool ValidateOutgoingMidi(QStringList Tokens, const QList<cMIDITranslatorVariable>* Variables,
                                     QStringList CaptureLetters);

    void SetId(int Id); // also the trigger's id
    int GetId() const;
    void SetName(const QString& Name);
    QString GetName() const;
    void SetIncomingMidi(const QString& Midi); // rebuilds the match pattern
    QString GetIncomingMidi() const;
    void SetOutgoingMidi(const QString& Midi); // rebuilds the outgoing template
    QString GetOutgoingMidi() const;
    void SetIncomingPorts(const QStringList& Ports);
    QStringList GetIncomingPorts() const;
    void SetOutgoingPorts(const QStringList& Ports);
    QStringList GetOutgoingPorts() const;
    void SetCaptureLetters(const QStringList& Letters);
    QStringList GetCaptureLetters() const;
    // The rule's optional keys (shared by its copies); null for a rule that uses none.
    void SetOptions(std::shared_ptr<cMIDITranslatorRuleOptions> Options) { mOptions = std::move(Options); }
    const cMIDITranslatorRuleOptions* GetOptions() const { return mOptions.get(); }

    // The pattern that the configuration registers in the match trees of the incoming ports.
    sMIDIMatchTrigger* GetMatchTrigger();
    const sMIDIMatchTrigger* GetMatchTrigger() const;
    const std::vector<sOutgoingNibble>& GetOutgoingTemplate() const;

    // Rebuilds the match pattern from the incoming string and the global variables' current values
    // (they are baked in: run it again after a variable changes).
    void BuildMatchPattern();
    // Rebuilds the outgoing template from the outgoing string; globals are read when firing.
    void BuildOutgoingTemplate();
    // Appends one byte per outgoing token to Out, taking captures from Matched (the bytes that
    // fired the rule) and global variables at this moment. A capture beyond Matched gives 0.
    void BuildOutgoingMessage(std::vector<uint8_t>& Out, const std::vector<uint8_t>& Matched) const;

    // Where a capture sits in the matched message; the outgoing template is built from these.
    // Index of the first incoming token holding the capture Letter (not as *x); 0, logged, if none.
    int FindCaptureToken(const QString& Letter) const;
    // Index of the captured nibble in the matched message: two per token, high nibble first.
    int CaptureNibbleIndex(const QString& Letter) const;
    // True when the capture Letter is an incoming token by itself, so it stands for a whole byte.
    bool IsWholeByteCapture(const QString& Letter) const;

private:
    // Index of the first incoming token holding the capture Letter, -1 when none (nothing logged);
    // *Unit gets 0 when it is the token's first unit, 1 when the second.
    int CaptureToken(const QString& Letter, int* Unit) const;
    uint8_t GlobalValue(const QString& VariableName) const;
    uint8_t OutgoingNibble(const sOutgoingNibble& Nibble, const std::vector<uint8_t>& Matched) const;

    cMIDITranslatorVariableSource* mConfiguration = nullptr;
    int mId = 0;
    QString mName;
    QString mIncomingMidi;
    QStringList mIncomingPorts;
    QString mOutgoingMidi;
    QStringList mOutgoingPorts;
    QStringList mCaptureLetters;
    sMIDIMatchTrigger mTrigger;
    std::vector<sOutgoingNibble> mOutgoingTemplate;
    std::shared_ptr<cMIDITranslatorRuleOptions> mOptions;
};
