#pragma once
// The preferences window: a view over the console session. It turns every choice made in the
// window into calls on the session and writes of the settings store, and the session's reports
// into widget state. Made once by the start-up code and kept until the program quits; everything
// runs on the GUI thread.

#include "app/WidgetGroup.h"
#include "network/Unit.h"
#include "session/ConsoleSession.h"

#include <QHostAddress>
#include <QMainWindow>
#include <QString>
#include <QSystemTrayIcon>

class QAction;
class QMenu;
class cMainWindowForm;
class cMonitorWindow;
class cMIDITranslatorConfiguration;

// What the window builds its session with (see sSessionEnvironment).
using sMainWindowEnvironment = sSessionEnvironment;

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

    cMIDITranslatorConfiguration* GetMIDITranslatorConfiguration() const { return mSession->GetConfiguration(); }
    cConsoleSession* GetSession() const { return mSession; }
    // The MIDI monitor; made when first shown.
    cMonitorWindow* GetMonitor() const { return mMonitor; }

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
    void LinkRetryScheduled(int Ms);
    void SelectChosenUnit();
    void PopulateMIDIChannelComboBox();
    void CreateWidgetGroups();
    void CreateSystemTrayIcon();
    void CreateActions();
    // The tray entries beside the preferences: the MIDI monitor and the console lock.
    void ShowMonitor();
    void LockConsoleToggled(bool Locked);
    void UpdateTrayIcon();
    void RestoreMixerType();
    void PopulateDAWTypeComboBox();
    void RestoreDAWType();
    void RestoreMIDIChannel();
    void SetMIDIChannel(quint8 Channel);
    void RestoreUnit(const QString& SavedName, const QHostAddress& SavedAddress);
    bool SelectFoundUnit(const QString& SavedName);
    bool IsIPAddressValid();
    sUnit UnitAt(int Index) const;

    cMainWindowForm* mUi;
    QAction* mShowPreferencesAction;
    QAction* mMonitorAction = nullptr;
    QAction* mLockConsoleAction = nullptr;
    cMonitorWindow* mMonitor = nullptr;
    QAction* mAboutAction;
    QAction* mHelpAction;
    QAction* mQuitAction;
    QSystemTrayIcon* mSystemTrayIcon;
    QMenu* mTrayMenu;
    cConsoleSession* mSession;
    cWidgetGroup mMIDIPortsWidgetGroup;
    cWidgetGroup mTCPIPWidgetGroup;
    sUnit mCustomUnit;
    QString mMixerType;
    // The console that Connect was checked for: kept chosen while the session reconnects.
    sUnit mChosenUnit;
};
