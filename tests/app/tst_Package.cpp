// The Debian package as a user gets it: cpack builds it from the install rules, apt must be able
// to resolve what it depends on, and unpacked into a throwaway root every file lands where the
// program looks for it (maps and manual relative to the real executable behind bin/quillon).

#include "tests/support/RealComponent.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
const int kCommandMs = 240000;

bool Run(const QString& Program, const QStringList& Arguments, QString* Output, const QString& Folder = QString())
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!Folder.isEmpty())
        process.setWorkingDirectory(Folder);
    process.start(Program, Arguments);
    const bool finished = process.waitForFinished(kCommandMs);
    *Output = QString::fromLocal8Bit(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QByteArray Head(const QString& Path, int Size)
{
    QFile file(Path);
    return file.open(QIODevice::ReadOnly) ? file.read(Size) : QByteArray();
}
} // namespace

class tst_Package : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mScratch;
    QString mPackage;
    QString mRoot;

private slots:
    void initTestCase()
    {
        for (const char* tool : {"dpkg-deb", "dpkg-shlibdeps", "apt-get"})
            QUILLON_REQUIRE(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(), QString::fromLatin1(tool));
        QVERIFY(mScratch.isValid());
        QString output;
        QVERIFY2(Run(QStringLiteral(QUILLON_CPACK),
                     {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                      QStringLiteral(QUILLON_BUILD_DIR "/CPackConfig.cmake"), QStringLiteral("-B"), mScratch.path()},
                     &output, mScratch.path()),
                 qPrintable(output));
        const QStringList packages = QDir(mScratch.path()).entryList({QStringLiteral("quillon_*.deb")}, QDir::Files);
        QCOMPARE(packages.size(), 1);
        mPackage = mScratch.filePath(packages.first());
        mRoot = mScratch.filePath(QStringLiteral("root"));
        QVERIFY2(Run(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), mPackage, mRoot}, &output), qPrintable(output));
    }

    void dependsOnWhatItLinks_data()
    {
        QTest::addColumn<QString>("package");
        QTest::newRow("C library") << QStringLiteral("libc6");
        QTest::newRow("Qt widgets") << QStringLiteral("libqt5widgets5");
        QTest::newRow("Qt network") << QStringLiteral("libqt5network5");
        QTest::newRow("Qt gui") << QStringLiteral("libqt5gui5");
    }

    void dependsOnWhatItLinks()
    {
        QFETCH(QString, package);
        QString depends;
        QVERIFY(Run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), mPackage, QStringLiteral("Depends")}, &depends));
        QVERIFY2(depends.contains(QRegularExpression(QStringLiteral("(^|, )%1( |,|$)").arg(QRegularExpression::escape(package)))),
                 qPrintable(depends));
    }

    void aptCanInstallIt()
    {
        QString output;
        QVERIFY2(Run(QStringLiteral("apt-get"),
                     {QStringLiteral("install"), QStringLiteral("--simulate"), QStringLiteral("--no-install-recommends"),
                      QStringLiteral("-o"), QStringLiteral("Debug::NoLocking=1"), mPackage},
                     &output),
                 qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("Inst quillon ")), qPrintable(output));
    }

    void filesLandWhereTheProgramFindsThem_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("start");
        QTest::newRow("program") << QStringLiteral("usr/lib/quillon/bin/quillon") << QByteArray("\x7f" "ELF");
        QTest::newRow("command, through the link") << QStringLiteral("usr/bin/quillon") << QByteArray("\x7f" "ELF");
        QTest::newRow("manual, up from the program") << QStringLiteral("usr/lib/quillon/bin/../Resources/HelpManual.pdf")
                                                     << QByteArray("%PDF-");
        QTest::newRow("desktop entry") << QStringLiteral("usr/share/applications/quillon.desktop")
                                       << QByteArray("[Desktop Entry]");
        QTest::newRow("icon") << QStringLiteral("usr/share/icons/hicolor/scalable/apps/quillon.svg") << QByteArray("<?xml");
        QTest::newRow("bridge, beside the program") << QStringLiteral("usr/lib/quillon/bin/quillon-bridge") << QByteArray("\x7f" "ELF");
        QTest::newRow("bridge command, through the link") << QStringLiteral("usr/bin/quillon-bridge") << QByteArray("\x7f" "ELF");
        QTest::newRow("bridge manual page") << QStringLiteral("usr/share/man/man1/quillon-bridge.1") << QByteArray(".TH QUILLON-BRIDGE 1");
        QTest::newRow("bridge user unit") << QStringLiteral("usr/lib/systemd/user/quillon-bridge.service") << QByteArray("# Quillon");
    }

    void filesLandWhereTheProgramFindsThem()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, start);
        const QString file = mRoot + QLatin1Char('/') + path;
        QVERIFY2(QFileInfo::exists(file), qPrintable(path));
        QCOMPARE(Head(file, start.size()), start);
    }

    void commandRunsTheProgramInItsFolder()
    {
        // The programs find maps and manual from their resolved location, so the links must lead there.
        for (const QString& command : {QStringLiteral("quillon"), QStringLiteral("quillon-bridge")})
        {
            const QFileInfo link(mRoot + QStringLiteral("/usr/bin/") + command);
            QVERIFY(link.isSymLink() && link.isExecutable());
            QCOMPARE(link.canonicalFilePath(), QFileInfo(mRoot + QStringLiteral("/usr/lib/quillon/bin/") + command).canonicalFilePath());
        }
    }

    void bridgeServiceRestartsOnFailure()
    {
        QFile unit(mRoot + QStringLiteral("/usr/lib/systemd/user/quillon-bridge.service"));
        QVERIFY(unit.open(QIODevice::ReadOnly));
        const QByteArray text = unit.readAll();
        for (const char* line : {"\nExecStart=quillon-bridge\n", "\nRestart=on-failure\n", "\nWantedBy=default.target\n"})
            QVERIFY2(text.contains(line), line);
    }

    void commandsFolderHoldsOnlyTheCommand()
    {
        // Maps or the manual in /usr/bin would be found by nothing and clutter everyone's PATH: only
        // Quillon's own commands (the program and its tools) go there.
        const QFileInfoList entries = QDir(mRoot + QStringLiteral("/usr/bin")).entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::System);
        QVERIFY(!entries.isEmpty());
        for (const QFileInfo& entry : entries)
        {
            QVERIFY2(entry.isFile() && entry.isExecutable() && entry.fileName().startsWith(QStringLiteral("quillon")),
                     qPrintable(entry.fileName()));
        }
    }

    void everyMapIsInstalled()
    {
        const QDir source(QStringLiteral(QUILLON_SOURCE_DIR "/Maps"));
        const QStringList maps = source.entryList({QStringLiteral("*.json")}, QDir::Files);
        if (maps.isEmpty())
            QSKIP("the source tree has no maps");
        QVERIFY(maps.contains(QStringLiteral("mixer_map.json")));
        for (const QString& map : maps)
            QVERIFY2(QFileInfo::exists(mRoot + QStringLiteral("/usr/lib/quillon/bin/Maps/") + map), qPrintable(map));
    }

    void desktopEntryStartsTheCommand()
    {
        QString output;
        const QString entry = mRoot + QStringLiteral("/usr/share/applications/quillon.desktop");
        if (!QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate")).isEmpty())
            QVERIFY2(Run(QStringLiteral("desktop-file-validate"), {entry}, &output), qPrintable(output));
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("\nExec=quillon\n"));
        QVERIFY(text.contains("\nIcon=quillon\n"));
    }
};

QTEST_GUILESS_MAIN(tst_Package)
#include "tst_Package.moc"
