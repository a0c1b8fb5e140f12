#pragma once
// Proposes map rules from what one console control sent (a fader moved, a key pressed and
// released): the messages are cut into repeats of one event, the nibbles that changed become
// captures, and the loaded map's rule of the same shape (the same captures, the fewest other
// differences) gives the DAW side, the capture letters and the channel variables. The proposal is
// then checked by cMapChecker, as quillon-mapcheck would check it. Used by the monitor window and
// quillon-mapcheck --learn. Stateless; main thread.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

class cMIDITranslatorConfiguration;

struct sLearnProposal
{
    // One rule, or two for a key that sends one value pressed and another released when the map
    // writes keys that way. Empty when nothing could be learned (see Notes).
    QList<QJsonObject> Rules;
    // The map's rule the DAW side was taken from; empty for none.
    QString Reference;
    // The reference matches the messages exactly: the map has this rule already.
    bool InMap = false;
    // What the user should know or fill in.
    QStringList Notes;
    // The checker's findings on the proposal in a copy of the loaded map; counts of both kinds.
    QStringList Findings;
    int Rejections = 0;
    int Warnings = 0;

    // The rules as JSON, one line each, ready to paste into the "rules" array.
    QString Json() const;
};

class cRuleLearner
{
public:
    // Messages: whole messages from the console, in the order they came. Map: the loaded map (its
    // rules reading "Mixer In" are the references; its file is copied for the check).
    static sLearnProposal Propose(const QList<QByteArray>& Messages, const cMIDITranslatorConfiguration& Map);
};
