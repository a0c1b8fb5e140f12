#pragma once
// Test helper: a private X desktop for the tray program's end-to-end tests. Starts Xvfb on a
// free display (and, when asked, trayer as the system tray), looks at the windows through Xlib,
// clicks and types through xdotool, takes screenshots and reads text off them with tesseract.
// Everything it starts it ends again, by pid. Test thread only.

#include <QImage>
#include <QProcess>
#include <QRect>
#include <QString>
#include <QStringList>

#include <functional>

typedef struct _XDisplay Display;

class cXDesktop
{
public:
    // One X window as the tests see it.
    struct sWindow
    {
        unsigned long Id = 0;
        QString Name;
        QString Class;
        QRect Geometry; // in root coordinates
        bool Viewable = false;
        bool TopLevel = false;
        bool Popup = false; // override-redirect: menus, tool tips
        int Stacking = -1; // place among the root's children, bottom first; -1 below the top level
    };

    // The programs the desktop needs, missing ones by name.
    static QStringList MissingTools();

    cXDesktop() = default;
    ~cXDesktop();
    cXDesktop(const cXDesktop&) = delete;
    cXDesktop& operator=(const cXDesktop&) = delete;

    bool Start(QString* Error);
    bool StartTray(QString* Error);
    void StopTray();
    void Stop();
    QString DisplayName() const { return mDisplayName; }
    QRect TrayGeometry() const { return mTrayGeometry; }

    QList<sWindow> Windows();
    // Polls until Test holds for some window, or the time is up; returns that window (Id 0 if none).
    sWindow WaitForWindow(const std::function<bool(const sWindow&)>& Test, int TimeoutMs = 15000);
    bool WaitUntil(const std::function<bool()>& Test, int TimeoutMs = 15000);
    sWindow Find(unsigned long Id);

    bool Click(const QPoint& At, int Button = 1, int Count = 1);
    bool Key(const QString& Keys);
    void Close(unsigned long Id); // as the close button of a window manager does
    // Starts an ordinary X program on the desktop (ended with the desktop).
    bool StartClient(const QString& Program, const QStringList& Arguments);

    QImage Screenshot(const QRect& Area = QRect());
    bool SaveScreenshot(const QString& Path, const QRect& Area = QRect());
    // The text tesseract reads in Area, its lines without blank ones.
    QStringList ReadText(const QRect& Area);
    // Where tesseract reads Word in Area, in root coordinates (null if nowhere).
    QRect FindWord(const QRect& Area, const QString& Word);

private:
    bool StartProcess(QProcess& Process, const QString& Program, const QStringList& Arguments);
    // The system's environment with DISPLAY set to this desktop.
    QProcessEnvironment DisplayEnvironment() const;
    bool Xdotool(const QStringList& Arguments);
    static void EndProcess(QProcess& Process);
    QString Recognise(const QRect& Area, const QStringList& Options);

    QProcess mXvfb;
    QProcess mTrayer;
    QList<QProcess*> mClients;
    QString mDisplayName;
    QRect mTrayGeometry;
    Display* mDisplay = nullptr;
};
