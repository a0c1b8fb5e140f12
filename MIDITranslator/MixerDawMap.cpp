#include "MIDITranslator/MixerDawMap.h"

#include "Common/JsonFile.h"
#include "Common/LogError.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QJsonDocument cMixerDawMap::ReadJsonFile(const QString& Path)
{
    return ::ReadJsonFile(Path, __FILE__, __LINE__);
}

void cMixerDawMap::Load(const QString& Path)
{
    mMap.clear();
    mFindStrings.clear();
    const QJsonDocument document = ReadJsonFile(Path);
    // Wrong JSON types read as empty values, so a malformed part simply contributes nothing.
    const QJsonArray mixers = document.object().value(QLatin1String("mixers")).toArray();
    for (const QJsonValue& mixerValue : mixers)
    {
        const QJsonObject mixer = mixerValue.toObject();
        const QString name = mixer.value(QLatin1String("name")).toString();
        QList<QPair<QString, QString>> daws;
        for (const QJsonValue& dawValue : mixer.value(QLatin1String("daws")).toArray())
        {
            const QJsonObject daw = dawValue.toObject();
            const QString dawName = daw.value(QLatin1String("name")).toString();
            const QString file = daw.value(QLatin1String("file")).toString();
            if (!dawName.isEmpty() && !file.isEmpty())
                daws.append(qMakePair(dawName, file));
        }
        if (name.isEmpty())
            continue;
        mMap.insert(name, daws);
        const QJsonValue find = mixer.value(QLatin1String("find"));
        if (find.isString())
            mFindStrings.insert(name, find.toString());
        else
            mFindStrings.remove(name);
    }
}

QStringList cMixerDawMap::GetMixerNames() const
{
    return mMap.keys();
}

QStringList cMixerDawMap::GetDAWNames(const QString& MixerName) const
{
    const auto mixer = mMap.constFind(MixerName);
    if (mixer == mMap.constEnd())
    {
        LOG_ERROR("Unknown mixer name \"%s\"", MixerName.toLocal8Bit().constData());
        return QStringList();
    }
    QStringList names;
    for (const auto& daw : *mixer)
        names << daw.first;
    return names;
}

QString cMixerDawMap::GetMapFileName(const QString& MixerName, const QString& DAWName) const
{
    const auto mixer = mMap.constFind(MixerName);
    if (mixer == mMap.constEnd())
    {
        LOG_ERROR("Unknown mixer name \"%s\"", MixerName.toLocal8Bit().constData());
        return MixerName;
    }
    for (const auto& daw : *mixer)
        if (daw.first == DAWName)
            return daw.second;
    LOG_ERROR("Unknown DAW \"%s\" for mixer \"%s\"", DAWName.toLocal8Bit().constData(), MixerName.toLocal8Bit().constData());
    return QString();
}

QString cMixerDawMap::GetFindString(const QString& MixerName) const
{
    const auto found = mFindStrings.constFind(MixerName);
    return found != mFindStrings.constEnd() ? *found : FindStringByName(MixerName);
}

QString cMixerDawMap::FindStringByName(const QString& MixerName)
{
    if (MixerName.contains(QLatin1String("Ny")))
        return QStringLiteral("NY Find");
    if (MixerName.contains(QLatin1String("KRT")))
        return QStringLiteral("KRT Find");
    if (MixerName.contains(QLatin1String("Oskel")))
        return QStringLiteral("PVX Find");
    return QString();
}

QString cMixerDawMap::GetMapsDirectory()
{
    const QString separator = QDir::separator();
    return QCoreApplication::applicationDirPath() + separator + QStringLiteral("Maps") + separator;
}

QString cMixerDawMap::GetMixerMapPath()
{
    return GetMapsDirectory() + QStringLiteral("mixer_map.json");
}
