#pragma once
// The preferences window, and the object that wires Quillon together: it owns the translator
// configuration, the mixer/DAW map, the console link and the console finder, and turns every choice
// made in the window into calls on them and into writes of the settings store. Made once by the
// start-up code and kept until the program quits; everything runs on the GUI thread.

#include "MIDITranslator/MixerDawMap.h"
#include "app/WidgetGroup.h"
#include "network/Unit.h"
#include "network/UnitFinder.h"
#include "network/TCPMIDIInptOutput.h"

#include <QHostAddress>
#include <QMainWindow>
#include <QString>
#include <QSystemTrayIcon>

class QAction;
class QMenu;
class cMainWindowForm;
class cMIDITranslatorConfiguration;
class cMultiUnitFinder;
class cSystemMIDIConfiguration;

// What the window builds its collaborators with. The program uses the defaults: the platform's
// registry, discovery by broadcast, the console's own ports, the "Maps" folder next to the
// executable. Tests hand in an in-memory registry and keep discovery and the link on loopback.
struct sMainWindowEnvironment
{
    // Taken over by the window's translator configuration; null makes the platform's registry.
    cSystemMIDIConfiguration* Registry = nullptr;
    QHostAddress DiscoveryDestination = QHostAddress(QHostAddress::Broadcast);
    quint16 DiscoveryPort = cUnitFinder::kDiscoveryPort;
    int DiscoveryPollMs = cUnitFinder::kPollMs;
    quint16 ConsolePort = cTCPMIDIInptOutput::kConsolePort;
    // Ends in a separator; empty means the "Maps" folder next to the executable.
    QString MapsDirectory;
};

class cMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit cMainWindow(QWidget* Parent = nullptr, const sMainWindowEnvironment& Environment = sMainWindowEnvironment());
    ~cMainWindow() override;

    // "About Quillon" and the text of the about box, built once when the program starts.
    static QString AboutTitle();
    static QString AboutText();
    // Where the help manual is looked for: ../Resources/HelpManual.pdf beside the executable.
    static QString HelpManualPath();

    cMIDITranslatorConfiguration* GetMIDITranslatorConfiguration() const { return mMIDITranslatorConfiguration; }

public slots:
    void SystemTrayIconActivated(QSystemTrayIcon::ActivationReason Reason);
    void ShowPreferences();
    void ShowAboutMessageBox();
    void OpenHelpManual();
    void FoundUnitsChanged();
    void IPAddressChanged();
    void SelectedMixerTypeChanged(int Index);
    void SelectedUnitChanged(int Index);
    void SelectedDAWChanged(int Index);
    void ConnectCheckBoxToggled(bool Toggle);
    void MixerConnectionModeToggled();
    void RepopulateMixerMIDIInputComboBox();
    void MixerMIDIInputSelected(int Index);
    void RepopulateMixerMIDIOutputComboBox();
    void MixerMIDIOutputSelected(int Index);
    void MIDIChannelComboIndexChanged(int Index);
    void TCPMIDIConnectionStateStringChanged(QString State);

private:
    void PopulateMixerTypeComboBox();
    void CreateTCPMIDIInputOutput();
    void CreateMultiUnitFinder();
    void PopulateMIDIChannelComboBox();
    void CreateWidgetGroups();
    void CreateSystemTrayIcon();
    void CreateActions();
    void RestoreMixerType();
    void PopulateDAWTypeComboBox();
    void RestoreDAWType();
    void RestoreMIDIChannel();
    void SetMIDIChannel(quint8 Channel);
    void RestoreUnit(const QString& SavedName, const QHostAddress& SavedAddress);
    bool SelectFoundUnit(const QString& SavedName);
    bool IsIPAddressValid();
    bool IsCustomUnit(const sUnit& Unit) const;
    sUnit UnitAt(int Index) const;
    QString MapsDirectory() const;

    cMainWindowForm* mUi;
    QAction* mShowPreferencesAction;
    QAction* mAboutAction;
    QAction* mHelpAction;
    QAction* mQuitAction;
    QSystemTrayIcon* mSystemTrayIcon;
    QMenu* mTrayMenu;
    cMIDITranslatorConfiguration* mMIDITranslatorConfiguration;
    cWidgetGroup mMIDIPortsWidgetGroup;
    cWidgetGroup mTCPIPWidgetGroup;
    cMultiUnitFinder* mMultiUnitFinder;
    cTCPMIDIInptOutput* mTCPMIDIInputOutput;
    sUnit mCustomUnit;
    QString mMixerType;
    cMixerDawMap mMixerDawMap;
    sMainWindowEnvironment mEnvironment;
};
