#pragma once
// The index of translator map files: for every console family, the DAW protocols it offers and the
// map file of each pair, read from "mixer_map.json". Held by value by the preferences window and
// used on the GUI thread only.

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class QJsonDocument;

class cMixerDawMap
{
public:
    // Starts from an empty map, then reads the file; failures are logged and leave what was read.
    void Load(const QString& Path);

    // In no defined order.
    QStringList GetMixerNames() const;
    // In file order; empty (and logged) for a family that is not held.
    QStringList GetDAWNames(const QString& MixerName) const;
    // The map file for the pair; the family name itself for an unknown family and an empty string
    // for an unknown protocol, both logged.
    QString GetMapFileName(const QString& MixerName, const QString& DAWName) const;
    // The family's discovery query text: its optional "find" key, else the rule by name below.
    QString GetFindString(const QString& MixerName) const;
    // The query text for files without "find": by the first of "Ny", "KRT", "Oskel" in the name
    // (case-sensitive); empty when none is there.
    static QString FindStringByName(const QString& MixerName);

    // The "Maps" folder next to the executable, ending in a separator.
    static QString GetMapsDirectory();
    static QString GetMixerMapPath();

private:
    static QJsonDocument ReadJsonFile(const QString& Path);

    // Family name to its (DAW protocol, map file) pairs, in file order.
    QHash<QString, QList<QPair<QString, QString>>> mMap;
    // Family name to its "find" text, for the families whose entry has one.
    QHash<QString, QString> mFindStrings;
};
