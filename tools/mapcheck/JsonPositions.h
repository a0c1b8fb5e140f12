#pragma once
// Where each value of a JSON text starts, by path ("$.rules[3].incoming.midi"), since Qt's JSON
// parser keeps no positions. Built once from a text that Qt has already parsed without error; used
// by the map checker on the main thread.

#include <QByteArray>
#include <QHash>
#include <QString>

struct sTextPosition
{
    int Line = 0;   // 1-based; 0: unknown
    int Column = 0; // 1-based, in characters
};

class cJsonPositions
{
public:
    explicit cJsonPositions(const QByteArray& Text);

    // Start of the value at Path; for an object member, KeyOf gives the start of its key instead.
    // Unknown paths give the nearest known parent's position.
    sTextPosition Of(const QString& Path) const;
    sTextPosition KeyOf(const QString& Path) const;

    // Line and column of a byte offset into Text (for the parser's error offset).
    static sTextPosition AtOffset(const QByteArray& Text, int Offset);

    // Path helpers: "$.rules" + index 3 = "$.rules[3]"; member names that are not plain words are
    // quoted ("$[\"odd key\"]").
    static QString Member(const QString& Path, const QString& Key);
    static QString Element(const QString& Path, int Index);

private:
    void SkipSpace();
    void Value(const QString& Path, int Depth);
    QString String();
    sTextPosition Here() const;
    void Advance();

    const QByteArray mText;
    int mOffset = 0;
    int mLine = 1;
    int mColumn = 1;
    QHash<QString, sTextPosition> mValues;
    QHash<QString, sTextPosition> mKeys;
};
