#include "tests/support/LogCapture.h"

#include "Common/LogError.h"

#include <QMutexLocker>
#include <QRegularExpression>

cLogCapture::cLogCapture()
{
    SetLogErrorObserver([this](const char* Line) {
        QMutexLocker lock(&mMutex);
        mLines << QString::fromLocal8Bit(Line);
    });
}

cLogCapture::~cLogCapture()
{
    SetLogErrorObserver({});
}

QStringList cLogCapture::Lines() const
{
    QMutexLocker lock(&mMutex);
    return mLines;
}

static QRegularExpressionMatch SplitLine(const QString& Line)
{
    static const QRegularExpression pattern(QStringLiteral("^ERROR: (.*)\\t\\((.*):(\\d+)\\)\\n$"),
                                            QRegularExpression::DotMatchesEverythingOption);
    return pattern.match(Line);
}

QStringList cLogCapture::Messages() const
{
    QStringList messages;
    for (const QString& line : Lines())
        messages << SplitLine(line).captured(1);
    return messages;
}

QStringList cLogCapture::Files() const
{
    QStringList files;
    for (const QString& line : Lines())
        files << SplitLine(line).captured(2);
    return files;
}

void cLogCapture::Clear()
{
    QMutexLocker lock(&mMutex);
    mLines.clear();
}
