#pragma once
// Writes a file a test reads back (a map, a script), replacing what was there.

#include <QByteArray>
#include <QString>

// Path on success, an empty string when the file could not be written.
QString WriteTestFile(const QString& Path, const QByteArray& Content);
