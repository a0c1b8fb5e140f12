// The Debian package as a user gets it: cpack builds it from the install rules, apt must be able
// to resolve what it depends on, and unpacked into a throwaway root every file lands where the
// programs look for it (maps and manual relative to the real executable behind the command).

#include "tests/support/RealComponent.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace
{
bool Run(const QString& Program, const QStringList& Arguments, QString* Output, const QString& Folder = QString())
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(Folder.isEmpty() ? QDir::currentPath() : Folder);
    process.start(Program, Arguments);
    const bool finished = process.waitForFinished(240000);
    *Output = QString::fromLocal8Bit(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}
} // namespace

class tst_Package : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir mScratch;
    QString mPackage, mRoot;

private slots:
    void initTestCase()
    {
        for (const char* tool : {"dpkg-deb", "dpkg-shlibdeps", "apt-get"})
            QUILLON_REQUIRE(!QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty(), QString::fromLatin1(tool));
        QString output;
        QVERIFY2(Run(QStringLiteral(QUILLON_CPACK),
                     {"-G", "DEB", "--config", QStringLiteral(QUILLON_BUILD_DIR "/CPackConfig.cmake"), "-B", mScratch.path()},
                     &output, mScratch.path()),
                 qPrintable(output));
        const QStringList packages = QDir(mScratch.path()).entryList({QStringLiteral("quillon_*.deb")}, QDir::Files);
        QCOMPARE(packages.size(), 1);
        mPackage = mScratch.filePath(packages.first());
        mRoot = mScratch.filePath(QStringLiteral("root"));
        QVERIFY2(Run(QStringLiteral("dpkg-deb"), {"-x", mPackage, mRoot}, &output), qPrintable(output));
    }

    // Depends is computed from what the programs link (empty when dpkg-shlibdeps is missing), and apt can satisfy it.
    void aptCanInstallIt()
    {
        QString output;
        QVERIFY(Run(QStringLiteral("dpkg-deb"), {"-f", mPackage, "Depends"}, &output) && output.contains("libqt5widgets5"));
        QVERIFY2(Run(QStringLiteral("apt-get"), {"install", "--simulate", "--no-install-recommends", "-o", "Debug::NoLocking=1", mPackage},
                     &output),
                 qPrintable(output));
        QVERIFY2(output.contains(QStringLiteral("Inst quillon ")), qPrintable(output));
    }

    void filesLandWhereTheProgramsFindThem_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QByteArray>("holds");
        QTest::newRow("command, through the link") << "usr/bin/quillon" << QByteArray("\x7f" "ELF");
        QTest::newRow("manual, up from the program") << "usr/lib/quillon/bin/../Resources/HelpManual.pdf" << QByteArray("%PDF-");
        QTest::newRow("desktop entry") << "usr/share/applications/quillon.desktop" << QByteArray("\nExec=quillon\nIcon=quillon\n");
        QTest::newRow("icon") << "usr/share/icons/hicolor/scalable/apps/quillon.svg" << QByteArray("<svg");
        QTest::newRow("bridge command, through the link") << "usr/bin/quillon-bridge" << QByteArray("\x7f" "ELF");
        QTest::newRow("bridge manual page") << "usr/share/man/man1/quillon-bridge.1" << QByteArray(".TH QUILLON-BRIDGE 1");
        QTest::newRow("bridge user unit") << "usr/lib/systemd/user/quillon-bridge.service" << QByteArray("\nRestart=on-failure\n");
    }

    void filesLandWhereTheProgramsFindThem()
    {
        QFETCH(QString, path);
        QFETCH(QByteArray, holds);
        QFile file(mRoot + QLatin1Char('/') + path);
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(path));
        QVERIFY(file.readAll().contains(holds));
        // The programs find maps and manual from their resolved place, so the links must lead there.
        if (path.startsWith(QLatin1String("usr/bin/")))
            QCOMPARE(QFileInfo(file).canonicalFilePath(),
                     QFileInfo(mRoot + "/usr/lib/quillon/bin/" + QFileInfo(path).fileName()).canonicalFilePath());
    }

    void everyMapIsInstalled()
    {
        const QStringList maps = QDir(QStringLiteral(QUILLON_SOURCE_DIR "/Maps")).entryList({QStringLiteral("*.json")}, QDir::Files);
        QVERIFY(maps.contains(QStringLiteral("mixer_map.json")));
        for (const QString& map : maps)
            QVERIFY2(QFileInfo::exists(mRoot + "/usr/lib/quillon/bin/Maps/" + map), qPrintable(map));
    }
};

QTEST_GUILESS_MAIN(tst_Package)
#include "tst_Package.moc"
