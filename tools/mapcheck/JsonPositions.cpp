#include "tools/mapcheck/JsonPositions.h"

#include <QRegularExpression>

namespace
{
// Deeper documents are not maps; Qt refuses them long before this anyway.
constexpr int kMaxDepth = 512;

QString Parent(const QString& Path)
{
    const int dot = Path.lastIndexOf(QLatin1Char('.'));
    const int bracket = Path.lastIndexOf(QLatin1Char('['));
    const int cut = qMax(dot, bracket);
    return cut > 0 ? Path.left(cut) : QStringLiteral("$");
}
} // namespace

cJsonPositions::cJsonPositions(const QByteArray& Text) : mText(Text)
{
    // A byte order mark is not part of the first value.
    if (mText.startsWith("\xEF\xBB\xBF"))
        mOffset = 3;
    Value(QStringLiteral("$"), 0);
}

sTextPosition cJsonPositions::Of(const QString& Path) const
{
    QString path = Path;
    while (true)
    {
        const auto found = mValues.constFind(path);
        if (found != mValues.constEnd())
            return *found;
        if (path == QLatin1String("$"))
            return sTextPosition();
        path = Parent(path);
    }
}

sTextPosition cJsonPositions::KeyOf(const QString& Path) const
{
    const auto found = mKeys.constFind(Path);
    return found != mKeys.constEnd() ? *found : Of(Path);
}

sTextPosition cJsonPositions::AtOffset(const QByteArray& Text, int Offset)
{
    sTextPosition position{1, 1};
    const int end = qBound(0, Offset, Text.size());
    for (int i = 0; i < end; ++i)
    {
        const unsigned char c = static_cast<unsigned char>(Text.at(i));
        if (c == '\n')
        {
            ++position.Line;
            position.Column = 1;
        }
        else if ((c & 0xC0) != 0x80) // continuation bytes belong to the character before
        {
            ++position.Column;
        }
    }
    return position;
}

QString cJsonPositions::Member(const QString& Path, const QString& Key)
{
    static const QRegularExpression word(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
    if (word.match(Key).hasMatch())
        return Path + QLatin1Char('.') + Key;
    QString quoted = Key;
    quoted.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return Path + QLatin1String("[\"") + quoted + QLatin1String("\"]");
}

QString cJsonPositions::Element(const QString& Path, int Index)
{
    return QStringLiteral("%1[%2]").arg(Path).arg(Index);
}

sTextPosition cJsonPositions::Here() const
{
    return sTextPosition{mLine, mColumn};
}

void cJsonPositions::Advance()
{
    if (mOffset >= mText.size())
        return;
    const unsigned char c = static_cast<unsigned char>(mText.at(mOffset++));
    if (c == '\n')
    {
        ++mLine;
        mColumn = 1;
    }
    else if ((c & 0xC0) != 0x80)
    {
        ++mColumn;
    }
}

void cJsonPositions::SkipSpace()
{
    while (mOffset < mText.size())
    {
        const char c = mText.at(mOffset);
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            return;
        Advance();
    }
}

QString cJsonPositions::String()
{
    // At the opening quote; returns the raw text between the quotes with the simple escapes undone
    // (enough to name map keys).
    Advance();
    QByteArray raw;
    while (mOffset < mText.size())
    {
        const char c = mText.at(mOffset);
        if (c == '"')
        {
            Advance();
            break;
        }
        if (c == '\\' && mOffset + 1 < mText.size())
        {
            Advance();
            const char escaped = mText.at(mOffset);
            raw.append(escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped);
            Advance();
            continue;
        }
        raw.append(c);
        Advance();
    }
    return QString::fromUtf8(raw);
}

void cJsonPositions::Value(const QString& Path, int Depth)
{
    SkipSpace();
    if (mOffset >= mText.size() || Depth > kMaxDepth)
        return;
    mValues.insert(Path, Here());
    const char c = mText.at(mOffset);
    if (c == '{')
    {
        Advance();
        while (true)
        {
            SkipSpace();
            if (mOffset >= mText.size())
                return;
            if (mText.at(mOffset) == '}')
            {
                Advance();
                return;
            }
            if (mText.at(mOffset) == ',')
            {
                Advance();
                continue;
            }
            const sTextPosition keyPosition = Here();
            if (mText.at(mOffset) != '"')
                return; // not JSON after all
            const QString member = Member(Path, String());
            mKeys.insert(member, keyPosition);
            SkipSpace();
            if (mOffset < mText.size() && mText.at(mOffset) == ':')
                Advance();
            Value(member, Depth + 1);
        }
    }
    if (c == '[')
    {
        Advance();
        int index = 0;
        while (true)
        {
            SkipSpace();
            if (mOffset >= mText.size())
                return;
            if (mText.at(mOffset) == ']')
            {
                Advance();
                return;
            }
            if (mText.at(mOffset) == ',')
            {
                Advance();
                continue;
            }
            const int before = mOffset;
            Value(Element(Path, index++), Depth + 1);
            if (mOffset == before)
                return;
        }
    }
    if (c == '"')
    {
        String();
        return;
    }
    // A number, true, false or null.
    while (mOffset < mText.size())
    {
        const char d = mText.at(mOffset);
        if (d == ',' || d == '}' || d == ']' || d == ' ' || d == '\t' || d == '\n' || d == '\r')
            return;
        Advance();
    }
}
