#include "Common/JsonFile.h"

#include "Common/LogError.h"

#include <QFile>
#include <QJsonParseError>

QJsonDocument ReadJsonFile(const QString& Path, const char* SourceFile, int Line)
{
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
    {
        LogError(SourceFile, Line, "Could not open file: %s", Path.toLocal8Bit().constData());
        return QJsonDocument();
    }
    // A larger file is told apart without reading it all: parsing it would hold the program for
    // seconds, and its memory. A device of no known size is read one byte past the bound.
    const bool tooLarge = !file.isSequential() && file.size() > kMostJsonFileBytes;
    QByteArray content;
    if (!tooLarge)
        content = file.isSequential() ? file.read(kMostJsonFileBytes + 1) : file.readAll();
    if (tooLarge || content.size() > kMostJsonFileBytes)
    {
        LogError(SourceFile, Line, "Map file too large: %s (more than %lld bytes)", Path.toLocal8Bit().constData(),
                 static_cast<long long>(kMostJsonFileBytes));
        return QJsonDocument();
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(content, &error);
    if (error.error != QJsonParseError::NoError)
        LogError(SourceFile, Line, "Json Parse Error: %s for file %s", error.errorString().toLocal8Bit().constData(),
                 Path.toLocal8Bit().constData());
    else if (document.isNull())
        LogError(SourceFile, Line, "Json Document is Null");
    return document;
}
