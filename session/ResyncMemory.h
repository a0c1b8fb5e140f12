#pragma once
// What the bridge last sent the console for each control, so that a console that comes back (after
// a reboot or a lost link) can be brought to the DAW's state again. Owned by the bridge; GUI thread.
//
// A control is told apart by the rule that produced the bytes, never by single bytes: the bytes of
// one firing are one unit, and the nibbles that carry the value are left out of its key. The value
// nibbles are those that come from the rule's value captures: the letters of the rule's optional
// "value_capture" key (a string such as "ml"), or, without it, the captures that sit where
// the incoming message carries its value (a control change's or note's second data byte, a pitch
// bend's two data bytes, a program change's or channel pressure's one). When the firing wrote a
// single channel message, its own value position is left out too, so a fader's pitch bend is keyed
// by its channel alone, a control change by channel and number, a lamp by channel and note (note
// off and note on alike), while a sequence such as an NRPN or an exclusive message stays one unit
// keyed by its parameter.

#include "MIDITranslator/MIDITranslatorRule.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>

#include <functional>
#include <vector>

class cResyncMemory
{
public:
    // Most controls remembered; beyond it the control changed longest ago is forgotten (a map whose
    // values cannot be told apart would otherwise grow without end over a long show).
    static constexpr int kMostControls = 4096;

    // Learns which nibbles of each rule's output carry the value, and forgets everything remembered
    // (a new map's rules mean other controls). RuleObject gives a rule's map-file object by id.
    void SetRules(const QList<cMIDITranslatorRule>& Rules, const std::function<QJsonObject(int)>& RuleObject);

    // Remembers the bytes of one firing of rule RuleId as the current state of its control.
    void Remember(int RuleId, const QByteArray& Bytes);
    // Every remembered firing, the control changed longest ago first.
    QList<QByteArray> Messages() const;
    int Size() const { return mEntries.size(); }
    void Clear();

    // The key of one firing: the bytes with every value nibble cleared, each followed by a byte
    // with the bits of the nibbles that were cleared.
    QByteArray KeyOf(int RuleId, const QByteArray& Bytes) const;

    // Capture letters (lower case) that carry the value, as read for one rule.
    static QStringList ValueLetters(const cMIDITranslatorRule& Rule, const QJsonObject& Object);

private:
    struct sEntry
    {
        QByteArray bytes;
        quint64 order = 0;
    };

    // Per rule: for each nibble of its outgoing template, whether it carries the value.
    std::vector<std::vector<bool>> mValueNibbles;
    QHash<QByteArray, sEntry> mEntries;
    QMap<quint64, QByteArray> mKeysByOrder;
    quint64 mNextOrder = 0;
    bool mOverflowLogged = false;
};
