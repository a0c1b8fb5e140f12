#pragma once
// Checks one translator map file the way the program loads it: the program's own configuration
// code loads the file (with a registry of recording ports and no devices), its refusals are tied to
// the line and column of the refused object, and what the lenient loader passes over in silence is
// reported as warnings. It can then run bytes through the loaded rules. Main thread only.

#include "tools/mapcheck/JsonPositions.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <memory>

class cMIDITranslatorConfiguration;
class cRecordingMIDIConfiguration;
class cRecordingMIDIPort;

struct sMapFinding
{
    bool Rejection = false; // else a warning
    sTextPosition Position;
    QString Path; // "$.rules[3].incoming.midi"; empty for the whole file
    QString Message;
};

class cMapChecker
{
public:
    cMapChecker();
    ~cMapChecker();

    // Loads and checks the file; the findings replace those of an earlier Check. A file with a
    // "mixers" array is checked as the families' index (mixer_map.json): its entries, and that each
    // map file it names exists beside it.
    void Check(const QString& Path);

    const QList<sMapFinding>& Findings() const { return mFindings; }
    int RejectionCount() const;
    int WarningCount() const;
    // "FILE:LINE:COLUMN: warning: PATH: message", one line per finding.
    QStringList FindingLines() const;
    // What was loaded: virtual ports, aliases, variables, rules with the ports each reads and writes.
    QString Summary() const;

    // Sets every variable named "MIDI Channel" to Channel (0-15). False when the map has none.
    bool SetChannel(int Channel);
    // Bytes arriving on Port (a name as rules write it: an alias, a virtual port or the TCP link)
    // and, per output port, the bytes it receives in reply. False when no input has that name.
    bool Translate(const QString& Port, const QByteArray& Bytes, QList<QPair<QString, QByteArray>>& Outputs);

    // The loaded map, as the program's own loader read it; null before Check.
    const cMIDITranslatorConfiguration* Configuration() const { return mConfiguration.get(); }

    // The name under which the TCP link to the console is registered.
    static const QString kTcpPortName;

private:
    void Add(bool Rejection, const QString& Path, const QString& Message, bool AtKey = false);
    void CheckKeys(const QJsonObject& Object, const QString& Path, const QStringList& Known);
    void CheckVirtualPorts(const QJsonValue& Value);
    void CheckAliases(const QJsonValue& Value);
    void CheckVariables(const QJsonValue& Value, QStringList& Rejections);
    void CheckRules(const QJsonValue& Value, QStringList& Rejections);
    void CheckRuleSide(const QJsonObject& Rule, const QString& Path, const QString& Side);
    void CheckAnnouncements(const QJsonValue& Value, QStringList& Rejections);
    void CheckSafe(const QJsonObject& Rule, const QString& Path);
    // The index of families and protocols (mixer_map.json) instead of a translator map.
    void CheckMixerMap(const QJsonObject& Top);

    QString mPath;
    QByteArray mText;
    std::unique_ptr<cJsonPositions> mPositions;
    QList<sMapFinding> mFindings;
    // Names a rule may use, from the file: virtual ports, input and output aliases.
    QSet<QString> mVirtualPorts;
    QList<QPair<QString, QString>> mInputAliases;
    QList<QPair<QString, QString>> mOutputAliases;
    QStringList mAnnouncements; // one line each, for the summary
    // For the index: family name to its protocols.
    QList<QPair<QString, QStringList>> mFamilies;

    cRecordingMIDIConfiguration* mRegistry = nullptr; // owned by the configuration
    std::unique_ptr<cMIDITranslatorConfiguration> mConfiguration;
    std::unique_ptr<cRecordingMIDIPort> mLink;
};
