#include "app/MainWindowForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QRadioButton>
#include <QSizePolicy>
#include <QSpacerItem>
#include <QStatusBar>
#include <QVBoxLayout>
#include <QWidget>

namespace
{
// A margin of -1 leaves that side at the style's default.
constexpr int kStyleDefault = -1;
} // namespace

void cMainWindowForm::SetupUi(QMainWindow* MainWindow)
{
    if (MainWindow->objectName().isEmpty())
        MainWindow->setObjectName(QStringLiteral("MainWindow"));
    MainWindow->resize(348, 306);
    MainWindow->setMinimumSize(210, 80);

    mCentralWidget = new QWidget(MainWindow);
    mCentralWidget->setObjectName(QStringLiteral("mCentralWidget"));

    verticalLayout = new QVBoxLayout(mCentralWidget);
    verticalLayout->setObjectName(QStringLiteral("verticalLayout"));
    verticalLayout->setSpacing(6);
    verticalLayout->setContentsMargins(kStyleDefault, 12, kStyleDefault, kStyleDefault);

    gridLayout_3 = new QGridLayout();
    gridLayout_3->setObjectName(QStringLiteral("gridLayout_3"));
    gridLayout_3->setSpacing(6);
    gridLayout_3->setContentsMargins(kStyleDefault, kStyleDefault, kStyleDefault, 0);

    mMixerMIDIInComboBox = new QComboBox(mCentralWidget);
    mMixerMIDIInComboBox->setObjectName(QStringLiteral("mMixerMIDIInComboBox"));
    gridLayout_3->addWidget(mMixerMIDIInComboBox, 10, 1, 1, 1);

    verticalSpacer = new QSpacerItem(0, 10, QSizePolicy::Minimum, QSizePolicy::Minimum);
    gridLayout_3->addItem(verticalSpacer, 8, 0, 1, 2);

    mMixerMIDIInLabel = new QLabel(mCentralWidget);
    mMixerMIDIInLabel->setObjectName(QStringLiteral("mMixerMIDIInLabel"));
    gridLayout_3->addWidget(mMixerMIDIInLabel, 10, 0, 1, 1);

    mMixerTypeComboBox = new QComboBox(mCentralWidget);
    mMixerTypeComboBox->setObjectName(QStringLiteral("mMixerTypeComboBox"));
    gridLayout_3->addWidget(mMixerTypeComboBox, 1, 1, 1, 1);

    mMixerMIDIOutComboBox = new QComboBox(mCentralWidget);
    mMixerMIDIOutComboBox->setObjectName(QStringLiteral("mMixerMIDIOutComboBox"));
    gridLayout_3->addWidget(mMixerMIDIOutComboBox, 11, 1, 1, 1);

    mConnectionModeLayout = new QHBoxLayout();
    mConnectionModeLayout->setObjectName(QStringLiteral("mConnectionModeLayout"));
    mConnectionModeLayout->setSpacing(0);
    mConnectionModeLayout->setContentsMargins(kStyleDefault, kStyleDefault, kStyleDefault, 0);
    horizontalSpacer = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    mConnectionModeLayout->addItem(horizontalSpacer);
    mMIDIPortsRadioButton = new QRadioButton(mCentralWidget);
    mMIDIPortsRadioButton->setObjectName(QStringLiteral("mMIDIPortsRadioButton"));
    mMIDIPortsRadioButton->setChecked(true);
    mConnectionModeLayout->addWidget(mMIDIPortsRadioButton);
    mTCPIPRadioButton = new QRadioButton(mCentralWidget);
    mTCPIPRadioButton->setObjectName(QStringLiteral("mTCPIPRadioButton"));
    mConnectionModeLayout->addWidget(mTCPIPRadioButton);
    horizontalSpacer_2 = new QSpacerItem(40, 20, QSizePolicy::Expanding, QSizePolicy::Minimum);
    mConnectionModeLayout->addItem(horizontalSpacer_2);
    mConnectionModeLayout->setStretch(0, 1);
    mConnectionModeLayout->setStretch(3, 1);
    gridLayout_3->addLayout(mConnectionModeLayout, 9, 0, 1, 2);

    mUnitComboBox = new QComboBox(mCentralWidget);
    mUnitComboBox->setObjectName(QStringLiteral("mUnitComboBox"));
    gridLayout_3->addWidget(mUnitComboBox, 12, 0, 1, 2);

    mIPAddressAndConnectLayout = new QHBoxLayout();
    mIPAddressAndConnectLayout->setObjectName(QStringLiteral("mIPAddressAndConnectLayout"));
    mIPAddressAndConnectLayout->setSpacing(6);
    mIPAddressEdit = new QLineEdit(mCentralWidget);
    mIPAddressEdit->setObjectName(QStringLiteral("mIPAddressEdit"));
    mIPAddressAndConnectLayout->addWidget(mIPAddressEdit);
    mConnectCheckBox = new QCheckBox(mCentralWidget);
    mConnectCheckBox->setObjectName(QStringLiteral("mConnectCheckBox"));
    mIPAddressAndConnectLayout->addWidget(mConnectCheckBox);
    gridLayout_3->addLayout(mIPAddressAndConnectLayout, 13, 0, 1, 2);

    mMixerMIDIOutLabel = new QLabel(mCentralWidget);
    mMixerMIDIOutLabel->setObjectName(QStringLiteral("mMixerMIDIOutLabel"));
    gridLayout_3->addWidget(mMixerMIDIOutLabel, 11, 0, 1, 1);

    mMixerTypeLabel = new QLabel(mCentralWidget);
    mMixerTypeLabel->setObjectName(QStringLiteral("mMixerTypeLabel"));
    gridLayout_3->addWidget(mMixerTypeLabel, 1, 0, 1, 1);

    mMIDIChannelComboBox = new QComboBox(mCentralWidget);
    mMIDIChannelComboBox->setObjectName(QStringLiteral("mMIDIChannelComboBox"));
    gridLayout_3->addWidget(mMIDIChannelComboBox, 2, 1, 1, 1);

    mMIDIChannelLabel = new QLabel(mCentralWidget);
    mMIDIChannelLabel->setObjectName(QStringLiteral("mMIDIChannelLabel"));
    QSizePolicy channelLabelPolicy(QSizePolicy::Minimum, QSizePolicy::Minimum);
    channelLabelPolicy.setHorizontalStretch(0);
    channelLabelPolicy.setVerticalStretch(0);
    channelLabelPolicy.setHeightForWidth(mMIDIChannelLabel->sizePolicy().hasHeightForWidth());
    mMIDIChannelLabel->setSizePolicy(channelLabelPolicy);
    gridLayout_3->addWidget(mMIDIChannelLabel, 2, 0, 1, 1);

    mDAWTypeLabel = new QLabel(mCentralWidget);
    mDAWTypeLabel->setObjectName(QStringLiteral("mDAWTypeLabel"));
    mDAWTypeLabel->setMinimumWidth(84);
    gridLayout_3->addWidget(mDAWTypeLabel, 3, 0, 1, 1);

    mDAWTypeComboBox = new QComboBox(mCentralWidget);
    mDAWTypeComboBox->setObjectName(QStringLiteral("mDAWTypeComboBox"));
    mDAWTypeComboBox->setMinimumWidth(230);
    gridLayout_3->addWidget(mDAWTypeComboBox, 3, 1, 1, 1);

    verticalLayout->addLayout(gridLayout_3, 0);

    MainWindow->setCentralWidget(mCentralWidget);

    mStatusBar = new QStatusBar(MainWindow);
    mStatusBar->setObjectName(QStringLiteral("mStatusBar"));
    mStatusBar->setSizeGripEnabled(false);
    MainWindow->setStatusBar(mStatusBar);

    RetranslateUi(MainWindow);
}

void cMainWindowForm::RetranslateUi(QMainWindow* MainWindow)
{
    MainWindow->setWindowTitle(QCoreApplication::translate("MainWindow", "Quillon"));
    mMixerMIDIInLabel->setText(QCoreApplication::translate("MainWindow", "Input Port"));
    mMIDIPortsRadioButton->setText(QCoreApplication::translate("MainWindow", "MIDI Ports"));
    mTCPIPRadioButton->setText(QCoreApplication::translate("MainWindow", "TCP/IP"));
    mIPAddressEdit->setInputMask(QCoreApplication::translate("MainWindow", "000.000.000.000"));
    mIPAddressEdit->setText(QCoreApplication::translate("MainWindow", "192.168.1.1"));
    mConnectCheckBox->setText(QCoreApplication::translate("MainWindow", "Connect"));
    mMixerMIDIOutLabel->setText(QCoreApplication::translate("MainWindow", "Output Port"));
    mMixerTypeLabel->setText(QCoreApplication::translate("MainWindow", "Mixer"));
    mMIDIChannelLabel->setText(QCoreApplication::translate("MainWindow", "MIDI Channel"));
    mDAWTypeLabel->setText(QCoreApplication::translate("MainWindow", "Protocol"));
}
