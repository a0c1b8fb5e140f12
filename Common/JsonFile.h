#pragma once
// Reads a JSON document from a file for the map readers, logging every failure in the caller's name
// (the log line names the file and line given), so each reader's messages point at itself.

#include <QJsonDocument>
#include <QString>

// Opens Path read-only as text and parses it. Logs "Could not open file: %s", "Json Parse Error: %s
// for file %s" or "Json Document is Null"; the document is null after any of them.
QJsonDocument ReadJsonFile(const QString& Path, const char* SourceFile, int Line);
