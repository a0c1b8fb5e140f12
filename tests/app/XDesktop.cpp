#include "tests/app/XDesktop.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <sys/types.h>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace
{
const int kStartMs = 15000;
const int kPollMs = 50;
const int kOcrScale = 3;

// The tray sits at the top right, 32 pixels high, so its icons have a known place.
const int kScreenWidth = 1024;
const int kScreenHeight = 600;
const int kTrayWidth = 120;
const int kTrayHeight = 32;

int IgnoreXErrors(Display*, XErrorEvent*)
{
    // Windows come and go while the tests look at them; a vanished window is no error here.
    return 0;
}

QString WindowName(Display* X, Window Id)
{
    char* name = nullptr;
    QString result;
    if (XFetchName(X, Id, &name) && name)
    {
        result = QString::fromLocal8Bit(name);
        XFree(name);
    }
    return result;
}

QString WindowClass(Display* X, Window Id)
{
    XClassHint hint{};
    QString result;
    if (XGetClassHint(X, Id, &hint))
    {
        result = QString::fromLocal8Bit(hint.res_class ? hint.res_class : "");
        if (hint.res_name)
            XFree(hint.res_name);
        if (hint.res_class)
            XFree(hint.res_class);
    }
    return result;
}

// The children of Id, bottom to top.
QList<Window> Children(Display* X, Window Id)
{
    QList<Window> list;
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (XQueryTree(X, Id, &root, &parent, &children, &count) && children)
    {
        for (unsigned int i = 0; i < count; ++i)
            list.append(children[i]);
        XFree(children);
    }
    return list;
}

void Walk(Display* X, Window Root, Window Id, bool TopLevel, int Stacking, QList<cXDesktop::sWindow>& Out)
{
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(X, Id, &attributes))
        return;
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(X, Id, Root, 0, 0, &x, &y, &child);
    cXDesktop::sWindow window;
    window.Id = Id;
    window.Name = WindowName(X, Id);
    window.Class = WindowClass(X, Id);
    window.Geometry = QRect(x, y, attributes.width, attributes.height);
    window.Viewable = attributes.map_state == IsViewable;
    window.TopLevel = TopLevel;
    window.Popup = attributes.override_redirect;
    window.Stacking = Stacking;
    Out.append(window);
    for (Window child : Children(X, Id))
        Walk(X, Root, child, false, -1, Out);
}
} // namespace

QStringList cXDesktop::MissingTools()
{
    QStringList missing;
    for (const char* tool : {"Xvfb", "trayer", "xdotool", "tesseract", "xlogo"})
    {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            missing.append(QLatin1String(tool));
    }
    return missing;
}

cXDesktop::~cXDesktop()
{
    Stop();
}

QProcessEnvironment cXDesktop::DisplayEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), mDisplayName);
    return environment;
}

bool cXDesktop::Xdotool(const QStringList& Arguments)
{
    QProcess xdotool;
    xdotool.setProcessEnvironment(DisplayEnvironment());
    xdotool.start(QStringLiteral("xdotool"), Arguments);
    return xdotool.waitForFinished(kStartMs) && xdotool.exitCode() == 0;
}

bool cXDesktop::StartProcess(QProcess& Process, const QString& Program, const QStringList& Arguments)
{
    Process.setProgram(Program);
    Process.setArguments(Arguments);
    Process.start();
    return Process.waitForStarted(kStartMs);
}

void cXDesktop::EndProcess(QProcess& Process)
{
    if (Process.state() == QProcess::NotRunning)
        return;
    ::kill(static_cast<pid_t>(Process.processId()), SIGTERM);
    if (!Process.waitForFinished(5000))
    {
        ::kill(static_cast<pid_t>(Process.processId()), SIGKILL);
        Process.waitForFinished(5000);
    }
}

bool cXDesktop::Start(QString* Error)
{
    // -displayfd picks a display nobody uses and prints its number once the server is ready.
    mXvfb.setProcessChannelMode(QProcess::SeparateChannels);
    if (!StartProcess(mXvfb, QStringLiteral("Xvfb"),
                      {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                       QStringLiteral("%1x%2x24").arg(kScreenWidth).arg(kScreenHeight), QStringLiteral("-nolisten"),
                       QStringLiteral("tcp")}))
    {
        *Error = QStringLiteral("Xvfb does not start");
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    while (!mXvfb.canReadLine() && waited.elapsed() < kStartMs && mXvfb.state() == QProcess::Running)
        mXvfb.waitForReadyRead(kPollMs);
    const QByteArray number = mXvfb.readLine().trimmed();
    if (number.isEmpty())
    {
        *Error = QStringLiteral("Xvfb gave no display: %1").arg(QString::fromLocal8Bit(mXvfb.readAllStandardError()));
        EndProcess(mXvfb);
        return false;
    }
    mDisplayName = QStringLiteral(":") + QString::fromLatin1(number);
    XSetErrorHandler(IgnoreXErrors);
    mDisplay = XOpenDisplay(mDisplayName.toLocal8Bit().constData());
    if (!mDisplay)
    {
        *Error = QStringLiteral("cannot open display %1").arg(mDisplayName);
        EndProcess(mXvfb);
        return false;
    }
    return true;
}

bool cXDesktop::StartTray(QString* Error)
{
    mTrayer.setProcessEnvironment(DisplayEnvironment());
    mTrayer.setProcessChannelMode(QProcess::MergedChannels);
    mTrayGeometry = QRect(kScreenWidth - kTrayWidth, 0, kTrayWidth, kTrayHeight);
    if (!StartProcess(mTrayer, QStringLiteral("trayer"),
                      {QStringLiteral("--edge"), QStringLiteral("top"), QStringLiteral("--align"), QStringLiteral("right"),
                       QStringLiteral("--widthtype"), QStringLiteral("pixel"), QStringLiteral("--width"),
                       QString::number(kTrayWidth), QStringLiteral("--heighttype"), QStringLiteral("pixel"),
                       QStringLiteral("--height"), QString::number(kTrayHeight), QStringLiteral("--transparent"),
                       QStringLiteral("false"), QStringLiteral("--SetDockType"), QStringLiteral("true")}))
    {
        *Error = QStringLiteral("trayer does not start");
        return false;
    }
    // The tray is there once its panel is on the screen.
    const sWindow panel = WaitForWindow([](const sWindow& W) {
        return W.TopLevel && W.Viewable && W.Class == QLatin1String("trayer") && W.Name == QLatin1String("panel");
    });
    if (!panel.Id)
    {
        *Error = QStringLiteral("trayer shows no panel: %1").arg(QString::fromLocal8Bit(mTrayer.readAll()));
        return false;
    }
    return true;
}

void cXDesktop::StopTray()
{
    EndProcess(mTrayer);
}

void cXDesktop::Stop()
{
    for (QProcess* client : mClients)
    {
        EndProcess(*client);
        delete client;
    }
    mClients.clear();
    StopTray();
    if (mDisplay)
    {
        XCloseDisplay(mDisplay);
        mDisplay = nullptr;
    }
    EndProcess(mXvfb);
}

QList<cXDesktop::sWindow> cXDesktop::Windows()
{
    QList<sWindow> windows;
    if (!mDisplay)
        return windows;
    const Window root = DefaultRootWindow(mDisplay);
    XSync(mDisplay, False);
    const QList<Window> topLevel = Children(mDisplay, root);
    for (int i = 0; i < topLevel.size(); ++i)
        Walk(mDisplay, root, topLevel[i], true, i, windows);
    return windows;
}

cXDesktop::sWindow cXDesktop::WaitForWindow(const std::function<bool(const sWindow&)>& Test, int TimeoutMs)
{
    sWindow found;
    WaitUntil(
        [&] {
            for (const sWindow& window : Windows())
            {
                if (Test(window))
                {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        TimeoutMs);
    return found;
}

bool cXDesktop::WaitUntil(const std::function<bool()>& Test, int TimeoutMs)
{
    QElapsedTimer waited;
    waited.start();
    for (;;)
    {
        if (Test())
            return true;
        if (waited.elapsed() > TimeoutMs)
            return false;
        QTest::qWait(kPollMs);
    }
}

cXDesktop::sWindow cXDesktop::Find(unsigned long Id)
{
    for (const sWindow& window : Windows())
    {
        if (window.Id == Id)
            return window;
    }
    return sWindow();
}

bool cXDesktop::Click(const QPoint& At, int Button, int Count)
{
    return Xdotool({QStringLiteral("mousemove"), QString::number(At.x()), QString::number(At.y()), QStringLiteral("click"),
                    QStringLiteral("--repeat"), QString::number(Count), QStringLiteral("--delay"), QStringLiteral("80"),
                    QString::number(Button)});
}

bool cXDesktop::Key(const QString& Keys)
{
    return Xdotool({QStringLiteral("key"), Keys});
}

void cXDesktop::Close(unsigned long Id)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = Id;
    event.xclient.message_type = XInternAtom(mDisplay, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(mDisplay, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(mDisplay, Id, False, NoEventMask, &event);
    XSync(mDisplay, False);
}

bool cXDesktop::StartClient(const QString& Program, const QStringList& Arguments)
{
    auto* client = new QProcess;
    mClients.append(client);
    client->setProcessEnvironment(DisplayEnvironment());
    return StartProcess(*client, Program, Arguments);
}

QImage cXDesktop::Screenshot(const QRect& Area)
{
    if (!mDisplay)
        return QImage();
    const QRect screen(0, 0, kScreenWidth, kScreenHeight);
    const QRect area = Area.isNull() ? screen : Area.intersected(screen);
    XImage* image = XGetImage(mDisplay, DefaultRootWindow(mDisplay), area.x(), area.y(), unsigned(area.width()),
                              unsigned(area.height()), AllPlanes, ZPixmap);
    if (!image)
        return QImage();
    QImage result(area.size(), QImage::Format_RGB32);
    for (int y = 0; y < area.height(); ++y)
    {
        auto* line = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < area.width(); ++x)
            line[x] = QRgb(XGetPixel(image, x, y)) | 0xff000000u;
    }
    XDestroyImage(image);
    return result;
}

bool cXDesktop::SaveScreenshot(const QString& Path, const QRect& Area)
{
    QDir().mkpath(QFileInfo(Path).absolutePath());
    return Screenshot(Area).save(Path, "PNG");
}

// OCR of a part of the screen. Screen text is small; tesseract reads it far better three times larger.
QString cXDesktop::Recognise(const QRect& Area, const QStringList& Options)
{
    QTemporaryDir scratch;
    const QString picture = scratch.filePath(QStringLiteral("text.png"));
    const QImage image = Screenshot(Area);
    if (image.isNull() || !image.scaled(image.size() * kOcrScale, Qt::IgnoreAspectRatio, Qt::SmoothTransformation).save(picture))
        return QString();
    QProcess tesseract;
    tesseract.start(QStringLiteral("tesseract"), QStringList{picture, QStringLiteral("stdout")} + Options);
    if (!tesseract.waitForFinished(60000))
        return QString();
    return QString::fromUtf8(tesseract.readAllStandardOutput());
}

QStringList cXDesktop::ReadText(const QRect& Area)
{
    QStringList lines;
    for (const QString& line : Recognise(Area, {}).split(QLatin1Char('\n')))
    {
        const QString simple = line.simplified();
        if (!simple.isEmpty())
            lines.append(simple);
    }
    return lines;
}

QRect cXDesktop::FindWord(const QRect& Area, const QString& Word)
{
    // tsv columns: level page block paragraph line word left top width height confidence text
    for (const QString& line : Recognise(Area, {QStringLiteral("tsv")}).split(QLatin1Char('\n')))
    {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() == 12 && fields[11].trimmed() == Word)
        {
            return QRect(Area.x() + fields[6].toInt() / kOcrScale, Area.y() + fields[7].toInt() / kOcrScale,
                         fields[8].toInt() / kOcrScale, fields[9].toInt() / kOcrScale);
        }
    }
    return QRect();
}
