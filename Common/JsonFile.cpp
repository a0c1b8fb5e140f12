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
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError)
        LogError(SourceFile, Line, "Json Parse Error: %s for file %s", error.errorString().toLocal8Bit().constData(),
                 Path.toLocal8Bit().constData());
    else if (document.isNull())
        LogError(SourceFile, Line, "Json Document is Null");
    return document;
}
