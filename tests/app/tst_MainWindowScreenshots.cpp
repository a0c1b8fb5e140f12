#include "session/SettingsKeys.h"
#include "tests/app/WindowFixture.h"
#include "tests/network/LoopbackConsole.h"

#include <QDir>
#include <QImage>
#include <QLabel>
#include <QtTest>

using namespace WindowFixture;

// Renders the window in both connection modes to PNG files in the build folder's screenshots
// folder (main-window-midi.png, main-window-tcp.png) and checks the layout rules:
// the window takes exactly the size of what is visible, only one group is shown, nothing is cut.
class tst_MainWindowScreenshots : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void rendersBothModes_data();
    void rendersBothModes();
    void theWindowFollowsTheVisibleGroup();

private:
    static QString ShotPath(const QString& Mode);
    static void CheckNothingIsCut(const sWindow& Window);
    cTestPlace mPlace;
};

QString tst_MainWindowScreenshots::ShotPath(const QString& Mode)
{
    const QString folder = QStringLiteral(QUILLON_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    return folder + "/main-window-" + Mode + ".png";
}

void tst_MainWindowScreenshots::initTestCase()
{
    QVERIFY(mPlace.Prepare());
}

void tst_MainWindowScreenshots::CheckNothingIsCut(const sWindow& Window)
{
    QWidget* central = Window.Get<QWidget>("mCentralWidget");
    const QRect inside = central->rect();
    for (QWidget* widget : central->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
    {
        if (widget->isHidden())
            continue;
        const QString name = widget->objectName();
        QVERIFY2(inside.contains(widget->geometry()), qPrintable(name + " reaches outside the window"));
        QVERIFY2(widget->width() >= widget->minimumSizeHint().width(), qPrintable(name + " is too narrow"));
        QVERIFY2(widget->height() >= widget->minimumSizeHint().height(), qPrintable(name + " is too low"));
        if (auto* label = qobject_cast<QLabel*>(widget))
            QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(name + " cuts its text"));
        for (QWidget* other : central->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
        {
            if (other != widget && !other->isHidden())
                QVERIFY2(!widget->geometry().intersects(other->geometry()),
                         qPrintable(name + " overlaps " + other->objectName()));
        }
    }
    // The two lamps sit at the right end of the status bar, the output lamp last.
    QStatusBar* status = Window.Get<QStatusBar>("mStatusBar");
    cMIDIActiveWidget* input = Window.Lamp("mMIDIInputActiveWidget");
    cMIDIActiveWidget* output = Window.Lamp("mMIDIOutputActiveWidget");
    QCOMPARE(input->size(), QSize(10, 10));
    QCOMPARE(output->size(), QSize(10, 10));
    QVERIFY(status->rect().contains(input->geometry()));
    QVERIFY(status->rect().contains(output->geometry()));
    QVERIFY(input->geometry().right() < output->geometry().left());
    QCOMPARE(status->width() - 1 - output->geometry().right(), 5);
}

void tst_MainWindowScreenshots::rendersBothModes_data()
{
    QTest::addColumn<QString>("mode");
    QTest::newRow("MIDI ports") << "midi";
    QTest::newRow("TCP/IP") << "tcp";
}

void tst_MainWindowScreenshots::rendersBothModes()
{
    QFETCH(QString, mode);
    cTestPlace::ClearStore();
    Store(MixerTypeKey(), "Ny-16");
    Store(ModeKey("Ny-16"), mode == "tcp" ? "TCP" : "MIDI");
    Store(InputPortKey("Ny-16"), "Stage Box In");
    Store(OutputPortKey("Ny-16"), "Console USB");
    cLoopbackConsole console;
    sWindow w(mPlace.Maps(), console.Address(), console.Port());
    w.Registry->PlugInput("Console USB");
    w.Registry->PlugOutput("Console USB");
    QVERIFY(console.Answer(*w.Window->findChild<cUnitFinder*>(), "Stage Left", QHostAddress("127.0.0.2")));

    w.Action("&Show Preferences")->trigger();
    QVERIFY(QTest::qWaitForWindowExposed(w.Window.get()));
    QTRY_COMPARE(w.Window->size(), w.Window->sizeHint());
    QCOMPARE(w.Window->minimumSize(), w.Window->maximumSize());

    const bool tcp = mode == "tcp";
    for (const char* name : {"mMixerMIDIInLabel", "mMixerMIDIInComboBox", "mMixerMIDIOutLabel", "mMixerMIDIOutComboBox"})
        QCOMPARE(w.Get<QWidget>(name)->isVisible(), !tcp);
    for (const char* name : {"mUnitComboBox", "mIPAddressEdit", "mConnectCheckBox"})
        QCOMPARE(w.Get<QWidget>(name)->isVisible(), tcp);
    QCOMPARE(w.Status(), tcp ? QString("Not Connected") : QString());
    CheckNothingIsCut(w);

    const QImage shot = w.Window->grab().toImage();
    QCOMPARE(shot.size(), w.Window->size() * w.Window->devicePixelRatioF());
    // Text was drawn: a good share of dark pixels (a missing font leaves the window blank).
    int dark = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            dark += qGray(shot.pixel(x, y)) < 100 ? 1 : 0;
    QVERIFY2(dark > shot.width() * shot.height() / 100, "the window is drawn without text");
    QVERIFY(shot.save(ShotPath(mode)));
}

void tst_MainWindowScreenshots::theWindowFollowsTheVisibleGroup()
{
    cTestPlace::ClearStore();
    sWindow w(mPlace.Maps());
    w.Action("&Show Preferences")->trigger();
    QVERIFY(QTest::qWaitForWindowExposed(w.Window.get()));
    QTRY_COMPARE(w.Window->size(), w.Window->sizeHint());
    const QSize midi = w.Window->size();

    // Devices coming and going leave the window as it is.
    w.Registry->PlugInput("Console USB");
    w.Choose("mMixerMIDIInComboBox", "Console USB");
    w.Registry->UnplugInput("Console USB");
    QTRY_COMPARE(w.Window->size(), w.Window->sizeHint());
    QCOMPARE(w.Window->size(), midi);
    CheckNothingIsCut(w);

    w.Click("mTCPIPRadioButton");
    QTRY_COMPARE(w.Window->size(), w.Window->sizeHint());
    const QSize tcp = w.Window->size();
    CheckNothingIsCut(w);
    w.Click("mMIDIPortsRadioButton");
    QTRY_COMPARE(w.Window->size(), midi);
    w.Click("mTCPIPRadioButton");
    QTRY_COMPARE(w.Window->size(), tcp);
    // Held at exactly that size, which is the layout's and not the form's first 348 by 306.
    QCOMPARE(w.Window->size(), w.Window->minimumSize());
    QCOMPARE(w.Window->size(), w.Window->maximumSize());
    QVERIFY(midi != QSize(348, 306));
}

QTEST_MAIN(tst_MainWindowScreenshots)
#include "tst_MainWindowScreenshots.moc"
