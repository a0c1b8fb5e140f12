#pragma once
// The widget tree of the preferences window, built once on the window by SetupUi. Holds pointers
// only: every widget is a child of the window, which deletes them; the window deletes this object.
// GUI thread only.

class QCheckBox;
class QComboBox;
class QGridLayout;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMainWindow;
class QRadioButton;
class QSpacerItem;
class QStatusBar;
class QVBoxLayout;
class QWidget;

class cMainWindowForm
{
public:
    // Creates every widget in the order of the members below (which is also the focus chain of the
    // focusable ones), lays them out, then sets the texts.
    void SetupUi(QMainWindow* MainWindow);
    void RetranslateUi(QMainWindow* MainWindow);

    QWidget* mCentralWidget = nullptr;
    QVBoxLayout* verticalLayout = nullptr;
    QGridLayout* gridLayout_3 = nullptr;
    QComboBox* mMixerMIDIInComboBox = nullptr;
    QSpacerItem* verticalSpacer = nullptr;
    QLabel* mMixerMIDIInLabel = nullptr;
    QComboBox* mMixerTypeComboBox = nullptr;
    QComboBox* mMixerMIDIOutComboBox = nullptr;
    QHBoxLayout* mConnectionModeLayout = nullptr;
    QSpacerItem* horizontalSpacer = nullptr;
    QRadioButton* mMIDIPortsRadioButton = nullptr;
    QRadioButton* mTCPIPRadioButton = nullptr;
    QSpacerItem* horizontalSpacer_2 = nullptr;
    QComboBox* mUnitComboBox = nullptr;
    QHBoxLayout* mIPAddressAndConnectLayout = nullptr;
    QLineEdit* mIPAddressEdit = nullptr;
    QCheckBox* mConnectCheckBox = nullptr;
    QLabel* mMixerMIDIOutLabel = nullptr;
    QLabel* mMixerTypeLabel = nullptr;
    QComboBox* mMIDIChannelComboBox = nullptr;
    QLabel* mMIDIChannelLabel = nullptr;
    QLabel* mDAWTypeLabel = nullptr;
    QComboBox* mDAWTypeComboBox = nullptr;
    QStatusBar* mStatusBar = nullptr;
};
