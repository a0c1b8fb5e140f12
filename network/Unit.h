#pragma once
// One console that answered a discovery query: a plain value, copied freely between the finders,
// the multi-family finder and the connection panel. Created and used on the GUI thread.

#include <QHostAddress>
#include <QMetaType>
#include <QString>

struct sUnit
{
    QHostAddress Address;
    QString Name;
    // The query text of the finder that heard the answer: it tells the console family.
    QString FindString;

    bool operator==(const sUnit& Other) const
    {
        // Names differ most often and compare cheapest: a flood of answers is searched this way.
        return Name == Other.Name && Address == Other.Address && FindString == Other.FindString;
    }
    bool operator!=(const sUnit& Other) const { return !(*this == Other); }
};

Q_DECLARE_METATYPE(sUnit)

// Registers sUnit under the name "sUnit" so it can travel in queued signals and be connected by
// signature. Cheap to call again; the finders call it when they are made.
inline int RegisterUnitMetaType()
{
    return qRegisterMetaType<sUnit>("sUnit");
}
