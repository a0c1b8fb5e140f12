#pragma once
// Test helper for the preferences window: a settings store and map files in a folder of the test's
// own, the in-memory registry, discovery kept on loopback; drives the widgets as a user does. Test
// thread only.

#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "app/MainWindow.h"
#include "app/MIDIActiveWidget.h"
#include "tests/support/FakeSystemMIDIConfiguration.h"

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QSettings>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace WindowFixture
{
// Every map file: a fader on "Mixer In" goes to the file's own virtual port as a pitch bend, and
// back; the channel is the "MIDI Channel" variable n (and m).
inline QByteArray MapFile(const QString& VirtualPort, int ChannelVariables = 1)
{
    QString values, variables;
    for (int channel = 0; channel < 16; ++channel)
        values += QString("%1{\"value\": %2, \"name\": \"%3\"}").arg(channel ? ", " : "").arg(channel).arg(channel + 1);
    for (int index = 0; index < ChannelVariables && index < 2; ++index)
        variables += QString("%1{\"name\": \"MIDI Channel\", \"variable_name\": \"%2\", \"default\": 5, \"values\": [%3]}")
                         .arg(index ? ", " : "", index ? "m" : "n", values);
    return QString(R"({"virtual_ports": ["%1"],
  "port_aliases": [{"type": "input", "name": "Desk In", "alias": "Mixer In"}, {"type": "output", "name": "Desk Out", "alias": "Mixer Out"}],
  "variables": [%2],
  "rules": [{"name": "fader to DAW", "incoming": {"midi": "B*n 07 v", "ports": ["Mixer In"]}, "outgoing": {"midi": "E0 00 v", "ports": ["%1"]}},
            {"name": "DAW fader to console", "incoming": {"midi": "E0 00 w", "ports": ["%1"]}, "outgoing": {"midi": "B*n 07 w", "ports": ["Mixer Out"]}}]})")
        .arg(VirtualPort, variables)
        .toUtf8();
}

// Families in file order (the window sorts them): "KRT-24" lists a protocol twice under one name,
// the map file of "Zeta" is missing.
inline QByteArray MixerMap()
{
    return R"({"mixers": [
  {"name": "Ny-16", "daws": [{"name": "Mackie", "file": "ny_mackie.json"}, {"name": "HUI", "file": "ny_hui.json"}]},
  {"name": "KRT-24", "daws": [{"name": "Cubase", "file": "krt_cubase.json"}, {"name": "Mackie", "file": "krt_mackie.json"},
                              {"name": "Cubase", "file": "krt_cubase_other.json"}]},
  {"name": "Zeta", "daws": [{"name": "Mackie", "file": "zeta_missing.json"}]}]})";
}

inline bool WriteFile(const QString& Path, const QByteArray& Content)
{
    QFile file(Path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(Content) == Content.size();
}

// The map folder and settings store of one test program; made in initTestCase.
class cTestPlace
{
public:
    bool Prepare()
    {
        const QString settings = mDir.path() + "/settings";
        QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings);
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settings);
        QCoreApplication::setOrganizationName("Corvane");
        QCoreApplication::setApplicationName("Quillon");
        mMaps = mDir.path() + "/Maps/";
        // Never the real user store.
        bool ok = mDir.isValid() && QSettings().fileName().startsWith(settings) && QDir().mkpath(mMaps);
        const QStringList files = {"ny_mackie.json|Ny Mackie DAW", "ny_hui.json|Ny HUI DAW", "krt_cubase.json|KRT Cubase DAW",
                                   "krt_mackie.json|KRT Mackie DAW", "krt_cubase_other.json|KRT Cubase Other DAW"};
        for (const QString& file : files)
            ok = ok && WriteFile(mMaps + file.section('|', 0, 0), MapFile(file.section('|', 1), file.startsWith("ny_hui") ? 2 : 1));
        return ok && WriteFile(mMaps + "mixer_map.json", MixerMap());
    }
    QString Maps() const { return mMaps; }
    static void ClearStore() { QSettings().clear(); }

private:
    QTemporaryDir mDir;
    QString mMaps;
};

// One window with its in-memory registry.
struct sWindow
{
    explicit sWindow(const QString& Maps, const QHostAddress& DiscoveryDestination = QHostAddress::LocalHost,
                     quint16 DiscoveryPort = 9, int PollMs = 24 * 3600 * 1000, quint16 ConsolePort = 9)
    {
        Registry = new cFakeSystemMIDIConfiguration;
        sMainWindowEnvironment environment;
        environment.Registry = Registry;
        environment.DiscoveryDestination = DiscoveryDestination;
        environment.DiscoveryPort = DiscoveryPort;
        environment.DiscoveryPollMs = PollMs;
        environment.ConsolePort = ConsolePort;
        environment.MapsDirectory = Maps;
        Window.reset(new cMainWindow(nullptr, environment));
    }

    template <typename T>
    T* Get(const char* Name) const { return Window->findChild<T*>(QString::fromLatin1(Name)); }
    QComboBox* Combo(const char* Name) const { return Get<QComboBox>(Name); }
    QStringList Items(const char* Name) const
    {
        QStringList items;
        for (int index = 0; index < Combo(Name)->count(); ++index)
            items << Combo(Name)->itemText(index);
        return items;
    }
    QString Current(const char* Name) const { return Combo(Name)->currentText(); }
    void Choose(const char* Name, const QString& Text) const
    {
        const int index = Combo(Name)->findText(Text);
        QVERIFY2(index >= 0, qPrintable(QString("%1 has no entry %2").arg(Name, Text)));
        Combo(Name)->setCurrentIndex(index);
    }
    // A click on a radio button or check box, as the mouse gives it (in the middle).
    void Click(const char* Name) const { QTest::mouseClick(Get<QAbstractButton>(Name), Qt::LeftButton); }
    bool Checked(const char* Name) const { return Get<QAbstractButton>(Name)->isChecked(); }
    bool Enabled(const char* Name) const { return Get<QWidget>(Name)->isEnabled(); }
    QString Address() const { return Get<QLineEdit>("mIPAddressEdit")->text(); }
    QString Status() const { return Get<QStatusBar>("mStatusBar")->currentMessage(); }
    QString LoadedFile() const { return QFileInfo(Window->GetMIDITranslatorConfiguration()->GetFileName()).fileName(); }
    cMIDIActiveWidget* Lamp(const char* Name) const { return Get<cMIDIActiveWidget>(Name); }
    QAction* Action(const QString& Text) const
    {
        for (QAction* action : Window->findChildren<QAction*>())
            if (action->text() == Text)
                return action;
        return nullptr;
    }

    cFakeSystemMIDIConfiguration* Registry; // owned by the window's configuration
    std::unique_ptr<cMainWindow> Window;
};

inline QVariant Stored(const QString& Key) { return QSettings().value(Key); }
inline void Store(const QString& Key, const QVariant& Value) { QSettings().setValue(Key, Value); }
} // namespace WindowFixture
