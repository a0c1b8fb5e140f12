// Renders the window in both connection modes to the build folder's screenshots folder
// (main-window-midi.png, main-window-tcp.png, the pictures of the docs) and checks the layout: the
// window takes exactly the size of what is visible, follows a change of mode, draws its text.

#include "session/SettingsKeys.h"
#include "tests/app/WindowFixture.h"
#include "tests/network/LoopbackConsole.h"

#include <QDir>

using namespace WindowFixture;

class tst_MainWindowScreenshots : public QObject
{
    Q_OBJECT

    static void CheckLayout(const sWindow& Window, const QString& Mode)
    {
        QTRY_COMPARE(Window.Window->size(), Window.Window->sizeHint());
        QCOMPARE(Window.Window->size(), Window.Window->maximumSize());
        QCOMPARE(Window.Get<QWidget>("mMixerMIDIInComboBox")->isVisible(), Mode == "midi");
        QCOMPARE(Window.Get<QWidget>("mUnitComboBox")->isVisible(), Mode == "tcp");
        const QImage shot = Window.Window->grab().toImage();
        // Text was drawn: a good share of dark pixels (a missing font leaves the window blank).
        int dark = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x)
                dark += qGray(shot.pixel(x, y)) < 100 ? 1 : 0;
        QVERIFY2(dark > shot.width() * shot.height() / 100, "the window is drawn without text");
        QVERIFY(QDir().mkpath(QUILLON_SCREENSHOT_DIR) && shot.save(QUILLON_SCREENSHOT_DIR "/main-window-" + Mode + ".png"));
    }

private slots:
    void rendersBothModes()
    {
        cTestPlace place;
        QVERIFY(place.Prepare());
        Store(MixerTypeKey(), "Ny-16");
        Store(InputPortKey("Ny-16"), "Stage Box In");
        Store(OutputPortKey("Ny-16"), "Console USB");
        cLoopbackConsole console;
        sWindow w(place.Maps(), console.Address(), console.Port());
        w.Registry->PlugInput("Console USB");
        w.Registry->PlugOutput("Console USB");
        QVERIFY(console.Answer(*w.Window->findChild<cUnitFinder*>(), "Stage Left", QHostAddress("127.0.0.2")));
        w.Action("&Show Preferences")->trigger();
        QVERIFY(QTest::qWaitForWindowExposed(w.Window.get()));
        CheckLayout(w, "midi");
        w.Click("mTCPIPRadioButton");
        CheckLayout(w, "tcp");
    }
};

QTEST_MAIN(tst_MainWindowScreenshots)
#include "tst_MainWindowScreenshots.moc"
