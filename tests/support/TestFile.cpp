#include "tests/support/TestFile.h"

#include <QFile>

QString WriteTestFile(const QString& Path, const QByteArray& Content)
{
    QFile file(Path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(Content) != Content.size())
        return QString();
    return Path;
}
