#pragma once
// Reads a JSON document from a file for the map readers, logging every failure in the caller's name
// (the log line names the file and line given), so each reader's messages point at itself.

#include <QJsonDocument>
#include <QString>

// Largest file read: a hundred times the largest map shipped, far below what would hold the program.
constexpr int kMostJsonFileBytes = 4 * 1024 * 1024;

// Opens Path read-only as text and parses it. Logs "Could not open file: %s", "Map file too large: %s
// (more than %lld bytes)", "Json Parse Error: %s for file %s" or "Json Document is Null"; the
// document is null after any of them.
QJsonDocument ReadJsonFile(const QString& Path, const char* SourceFile, int Line);
