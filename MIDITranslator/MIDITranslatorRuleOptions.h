#pragma once
// What a rule may do beyond "this message in, that message out", read from the rule's optional keys
// ("value", "only_when_changed", "needs_console", "gesture", "remember", "when_remembered").
// Built once with the rule and shared, read-only, by its copies; the state that these keys need at
// run time (per control, per remembered slot) lives in the translator configuration. GUI thread.

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

class cMIDITranslatorRule;
class cMIDITranslatorVariable;

class cMIDITranslatorRuleOptions
{
public:
    // How "value" treats steps: none (an absolute value in, an absolute one out), "make" (an
    // absolute value in, the step from the control's last value out), "add" (a step in, the
    // control's running sum out).
    enum class eSteps
    {
        None,
        Make,
        Add
    };

    // Reads the optional keys of one rule object. Captures are the incoming "midi" string's capture
    // letters. Null when the rule uses none of them. On a bad key *Key names it and *Problem says
    // why; the rule is then refused.
    static std::shared_ptr<cMIDITranslatorRuleOptions> FromJson(const QJsonObject& Rule, const QStringList& Captures,
                                                                const QList<cMIDITranslatorVariable>* Variables,
                                                                QString* Key, QString* Problem);

    // Letters that "value" adds for the outgoing string (whole 7-bit bytes, most significant first).
    QString ValueLetters() const { return mToLetters; }

    // Ties the options to the loaded rule: where its captures sit, and the gesture's messages built
    // against the rule's captures. Run once the rule's incoming string is set.
    void Bind(const cMIDITranslatorRule& Rule);

    // The value the rule's outgoing "value" letters take for a matched message; State holds the
    // control's last absolute value (for "make") or running sum (for "add"), *HasState whether it
    // holds one yet. False when nothing is to be sent (no step, or a control seen the first time).
    bool ComputeValue(const std::vector<uint8_t>& Matched, int* State, bool* HasState, int* Value) const;
    // Appends the value as the outgoing letters' bytes to Message.
    void AppendValueBytes(std::vector<uint8_t>& Message, int Value) const;
    bool HasValue() const { return mHasValue; }
    bool IsStateful() const { return mSteps != eSteps::None; }

    // Identity of the control that Matched comes from: the rule and the matched bytes with the value
    // nibbles left open (the same key the bridge's resync uses).
    void AppendControlKey(QByteArray& Key, int RuleId, const std::vector<uint8_t>& Matched) const;

    // The capture's value in Matched: a whole byte, or a nibble.
    uint8_t RememberedValue(const std::vector<uint8_t>& Matched) const;

    bool NeedsControlKey() const { return mSteps != eSteps::None || mOnlyWhenChanged || mHasGesture; }

    bool mOnlyWhenChanged = false;
    bool mNeedsConsole = false;
    bool mHasGesture = false;
    int mQuietMs = 0;
    std::shared_ptr<cMIDITranslatorRule> mGestureBegin; // outgoing template only; may be null
    std::shared_ptr<cMIDITranslatorRule> mGestureEnd;
    QString mRememberSlot; // empty: remembers nothing
    QString mRememberLetter;
    QString mRequiredSlot; // empty: no condition
    int mRequiredValue = 0;

private:
    struct sSource
    {
        int nibble = 0;
        bool wholeByte = false;
    };

    int Table(int Value) const;

    bool mHasValue = false;
    QString mFromLetters;
    QString mToLetters;
    std::vector<std::pair<int, int>> mTable;
    eSteps mSteps = eSteps::None;
    bool mBit6Right = false; // a step's bit 6 marks a turn to the right (HUI), else to the left
    int mStart = 0;
    QString mGestureBeginMidi;
    QString mGestureEndMidi;
    std::vector<sSource> mSources;
    std::vector<int> mKeyNibbles; // value nibbles, left open in the control's identity
    sSource mRememberSource;
};
