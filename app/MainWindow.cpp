#include "app/MainWindow.h"

#include "Common/LogError.h"
#include "Common/MIDI/SystemMIDIConfiguration.h"
#include "Common/MIDI/SystemMIDIConfigurationFactory.h"
#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "app/IPAddressValidator.h"
#include "app/MIDIActiveWidget.h"
#include "app/MainWindowForm.h"
#include "app/MonitorWindow.h"
#include "session/Identity.h"
#include "session/SessionSettings.h"
#include "session/SettingsKeys.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QDesktopServices>
#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QRadioButton>
#include <QStatusBar>
#include <QUrl>
#include <QVariant>

#include <algorithm>

// The compiled-in icons live in this static library; Qt's registration macro must be used outside
// any namespace.
static void RegisterQuillonResources()
{
    Q_INIT_RESOURCE(Quillon);
}

namespace
{
const QString kProductName = cIdentity::ApplicationName();
const QString kVersion = cIdentity::Version();
const QString kNoPort = QStringLiteral("-");
const QString kOfflinePrefix = QStringLiteral("(Offline) ");
const QString kIconPath = QStringLiteral(":/Images/Quillon.ico");

// Built once when the program starts, so the year is that of the machine's clock at start.
const QString gAboutTitle = QStringLiteral("About ") + kProductName;
const QString gAboutText = kProductName + QLatin1Char(' ') + kVersion + QStringLiteral("\n\n") +
                           QStringLiteral("Copyright ") + QChar(0x00A9) + QLatin1Char(' ') +
                           QString::number(QDate::currentDate().year()) + QLatin1Char(' ') + cIdentity::OrganisationName() +
                           QLatin1Char('\n') + QStringLiteral("All rights reserved.") +
                           (VirtualMIDIPortsCredit().isEmpty() ? QString()
                                                               : QStringLiteral("\n\n") + VirtualMIDIPortsCredit());

} // namespace

cMainWindow::cMainWindow(QWidget* Parent, const sMainWindowEnvironment& Environment)
    : QMainWindow(Parent),
      mUi(new cMainWindowForm),
      mShowPreferencesAction(nullptr),
      mAboutAction(nullptr),
      mHelpAction(nullptr),
      mQuitAction(nullptr),
      mSystemTrayIcon(nullptr),
      mTrayMenu(nullptr),
      mSession(nullptr),
      mMIDIPortsWidgetGroup(nullptr),
      mTCPIPWidgetGroup(nullptr),
      mCustomUnit(cSessionSettings::CustomUnit(QHostAddress(DefaultUnitIP())))
{
    RegisterQuillonResources();
    // The session (and with it the map) first: the widgets are filled from it.
    mSession = new cConsoleSession(Environment, this);

    mUi->SetupUi(this);

    auto* validator = new cIPAddressValidator(this);
    mUi->mIPAddressEdit->setValidator(validator);
    connect(mUi->mIPAddressEdit, SIGNAL(textChanged(QString)), this, SLOT(IPAddressChanged()));

    // The window takes the size of what is visible, and changes it when a widget group is shown or
    // hidden.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    PopulateMixerTypeComboBox();
    CreateTCPMIDIInputOutput();
    CreateMultiUnitFinder();
    PopulateMIDIChannelComboBox();
    CreateWidgetGroups();
    CreateSystemTrayIcon();
    RestoreMixerType();
    // The family change above has connected it already when a family was selected; one connection
    // only, or every DAW change would reload everything twice.
    connect(mUi->mDAWTypeComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(SelectedDAWChanged(int)),
            Qt::UniqueConnection);
}

cMainWindow::~cMainWindow()
{
    // The session closes the virtual ports, then frees the engine; nothing it says afterwards
    // reaches the form.
    mSession->disconnect(this);
    delete mMonitor;
    mMonitor = nullptr;
    mSession->Stop();
    delete mUi;
    mUi = nullptr;
}

QString cMainWindow::AboutTitle()
{
    return gAboutTitle;
}

QString cMainWindow::AboutText()
{
    return gAboutText;
}

QString cMainWindow::HelpManualPath()
{
    const QString separator = QDir::separator();
    return QCoreApplication::applicationDirPath() + separator + QStringLiteral("..") + separator +
           QStringLiteral("Resources") + separator + QStringLiteral("HelpManual.pdf");
}

// ---- Construction -------------------------------------------------------------------------------

void cMainWindow::PopulateMixerTypeComboBox()
{
    for (const QString& name : mSession->GetFamilies())
        mUi->mMixerTypeComboBox->addItem(name, mSession->GetMap().GetFindString(name));
    connect(mUi->mMixerTypeComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(SelectedMixerTypeChanged(int)));
}

void cMainWindow::CreateTCPMIDIInputOutput()
{
    connect(mSession, SIGNAL(StateTextChanged(QString)), this, SLOT(TCPMIDIConnectionStateStringChanged(QString)));
    connect(mSession, &cConsoleSession::RetryScheduled, this, &cMainWindow::LinkRetryScheduled);
}

void cMainWindow::CreateMultiUnitFinder()
{
    // Once per batch of answers or polls, not once per unit: the list is rebuilt whole each time,
    // and a burst of new names rebuilt it for each of them.
    connect(mSession, SIGNAL(UnitsChanged()), this, SLOT(FoundUnitsChanged()));
}

void cMainWindow::PopulateMIDIChannelComboBox()
{
    for (unsigned channel = 0; channel < 16; ++channel)
        mUi->mMIDIChannelComboBox->addItem(QString::number(channel + 1), channel);
    connect(mUi->mMIDIChannelComboBox, SIGNAL(currentIndexChanged(int)), this,
            SLOT(MIDIChannelComboIndexChanged(int)));
}

void cMainWindow::CreateWidgetGroups()
{
    mMIDIPortsWidgetGroup.AddWidget(mUi->mMixerMIDIInLabel);
    mMIDIPortsWidgetGroup.AddWidget(mUi->mMixerMIDIInComboBox);
    mMIDIPortsWidgetGroup.AddWidget(mUi->mMixerMIDIOutLabel);
    mMIDIPortsWidgetGroup.AddWidget(mUi->mMixerMIDIOutComboBox);
    mTCPIPWidgetGroup.AddWidget(mUi->mUnitComboBox);
    mTCPIPWidgetGroup.AddWidget(mUi->mIPAddressEdit);
    mTCPIPWidgetGroup.AddWidget(mUi->mConnectCheckBox);
    connect(mUi->mMIDIPortsRadioButton, SIGNAL(toggled(bool)), this, SLOT(MixerConnectionModeToggled()));
    connect(mUi->mTCPIPRadioButton, SIGNAL(toggled(bool)), this, SLOT(MixerConnectionModeToggled()));
    MixerConnectionModeToggled();
}

void cMainWindow::CreateSystemTrayIcon()
{
    const QIcon icon(kIconPath);
    setWindowIcon(icon);

    CreateActions();

    mTrayMenu = new QMenu(this);
    mTrayMenu->addAction(mShowPreferencesAction);
    mTrayMenu->addAction(mMonitorAction);
    mTrayMenu->addAction(mLockConsoleAction);
    mTrayMenu->addSeparator();
    mTrayMenu->addAction(mAboutAction);
    mTrayMenu->addAction(mHelpAction);
    mTrayMenu->addSeparator();
    mTrayMenu->addAction(mQuitAction);

    mSystemTrayIcon = new QSystemTrayIcon(this);
    mSystemTrayIcon->setContextMenu(mTrayMenu);
    UpdateTrayIcon();
    mSystemTrayIcon->setVisible(true);

    auto* inputLamp = new cMIDIActiveWidget(nullptr);
    inputLamp->setObjectName(QStringLiteral("mMIDIInputActiveWidget"));
    inputLamp->setFixedSize(10, 10);
    connect(mSession->GetConfiguration(), SIGNAL(MixerMIDIInputRead()), inputLamp, SLOT(MIDIActive()));
    auto* outputLamp = new cMIDIActiveWidget(nullptr);
    outputLamp->setObjectName(QStringLiteral("mMIDIOutputActiveWidget"));
    outputLamp->setFixedSize(10, 10);
    connect(mSession->GetConfiguration(), SIGNAL(MixerMIDIOutputWrite()), outputLamp, SLOT(MIDIActive()));

    mUi->mStatusBar->addPermanentWidget(inputLamp, 0);
    mUi->mStatusBar->addPermanentWidget(outputLamp, 0);
    mUi->mStatusBar->layout()->setContentsMargins(0, 0, 5, 0);

    connect(mSystemTrayIcon, SIGNAL(activated(QSystemTrayIcon::ActivationReason)), this,
            SLOT(SystemTrayIconActivated(QSystemTrayIcon::ActivationReason)));
    connect(mUi->mConnectCheckBox, SIGNAL(toggled(bool)), this, SLOT(ConnectCheckBoxToggled(bool)));
}

void cMainWindow::CreateActions()
{
    mShowPreferencesAction = new QAction(tr("&Show Preferences"), this);
    connect(mShowPreferencesAction, SIGNAL(triggered()), this, SLOT(ShowPreferences()));
    mMonitorAction = new QAction(tr("MIDI &Monitor"), this);
    connect(mMonitorAction, &QAction::triggered, this, &cMainWindow::ShowMonitor);
    mLockConsoleAction = new QAction(tr("&Lock Console"), this);
    mLockConsoleAction->setCheckable(true);
    mLockConsoleAction->setToolTip(tr("Keep the DAW from moving the console: only lamps and displays the map marks safe reach it"));
    connect(mLockConsoleAction, &QAction::toggled, this, &cMainWindow::LockConsoleToggled);
    mAboutAction = new QAction(tr("&About"), this);
    connect(mAboutAction, SIGNAL(triggered()), this, SLOT(ShowAboutMessageBox()));
    mHelpAction = new QAction(tr("&Help"), this);
    connect(mHelpAction, SIGNAL(triggered()), this, SLOT(OpenHelpManual()));
    mQuitAction = new QAction(tr("&Quit"), this);
    connect(mQuitAction, SIGNAL(triggered()), qApp, SLOT(quit()));
}

// ---- Tray, about box and help -------------------------------------------------------------------

void cMainWindow::SystemTrayIconActivated(QSystemTrayIcon::ActivationReason Reason)
{
    if (Reason == QSystemTrayIcon::DoubleClick)
        ShowPreferences();
}

void cMainWindow::ShowPreferences()
{
    showNormal();
    raise();
    activateWindow();
}

void cMainWindow::ShowMonitor()
{
    if (mMonitor == nullptr)
        mMonitor = new cMonitorWindow(mSession);
    mMonitor->showNormal();
    mMonitor->raise();
    mMonitor->activateWindow();
}

void cMainWindow::LockConsoleToggled(bool Locked)
{
    mSession->SetConsoleLocked(Locked);
    cSessionSettings::SetConsoleLocked(mMixerType, Locked);
    UpdateTrayIcon();
}

// Locked, the tray icon carries a padlock and says so when pointed at.
void cMainWindow::UpdateTrayIcon()
{
    const QIcon icon(kIconPath);
    if (!mSession->IsConsoleLocked())
    {
        mSystemTrayIcon->setIcon(icon);
        mSystemTrayIcon->setToolTip(QString());
        return;
    }
    QPixmap pixmap = icon.pixmap(64, 64);
    if (pixmap.isNull())
        pixmap = QPixmap(64, 64);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0xb0, 0x10, 0x10), 5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(36, 26, 18, 22), 9, 9);        // the shackle
    painter.setPen(QPen(Qt::white, 2));
    painter.setBrush(QColor(0xd0, 0x18, 0x18));
    painter.drawRoundedRect(QRectF(30, 38, 32, 24), 4, 4);        // the body
    painter.end();
    mSystemTrayIcon->setIcon(QIcon(pixmap));
    mSystemTrayIcon->setToolTip(tr("Quillon: console locked, the DAW does not move it"));
}

void cMainWindow::ShowAboutMessageBox()
{
    QMessageBox::about(nullptr, gAboutTitle, gAboutText);
}

void cMainWindow::OpenHelpManual()
{
    // Made from the local path rather than by prefixing "file:///", which gives a wrong URL where
    // paths already start with a slash.
    QDesktopServices::openUrl(QUrl::fromLocalFile(HelpManualPath()));
}

// ---- Console family, DAW protocol, MIDI channel -------------------------------------------------

void cMainWindow::RestoreMixerType()
{
    const QString stored = cSessionSettings::Family();
    if (!stored.isEmpty())
    {
        for (int index = 0; index < mUi->mMixerTypeComboBox->count(); ++index)
        {
            if (mUi->mMixerTypeComboBox->itemText(index) == stored)
            {
                mUi->mMixerTypeComboBox->setCurrentIndex(index);
                break;
            }
        }
    }
    SelectedMixerTypeChanged(mUi->mMixerTypeComboBox->currentIndex());
}

void cMainWindow::SelectedMixerTypeChanged(int Index)
{
    if (Index < 0)
        return;
    const QString family = mUi->mMixerTypeComboBox->itemText(Index);
    cSessionSettings::SetFamily(family);
    mMixerType = family;

    mCustomUnit.Address = cSessionSettings::UnitAddress(mMixerType);

    disconnect(mUi->mDAWTypeComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(SelectedDAWChanged(int)));
    PopulateDAWTypeComboBox();
    RestoreDAWType();
    connect(mUi->mDAWTypeComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(SelectedDAWChanged(int)),
            Qt::UniqueConnection);

    mSession->LoadMap(family, mUi->mDAWTypeComboBox->currentText());
    // The lock is the family's own; checking the entry applies it.
    mLockConsoleAction->setChecked(cSessionSettings::ConsoleLocked(family));

    RestoreMIDIChannel();

    mUi->mConnectCheckBox->setChecked(false);

    mSession->DiscoverFamily(family);

    FoundUnitsChanged();

    RepopulateMixerMIDIInputComboBox();
    RepopulateMixerMIDIOutputComboBox();

    const QString mode = cSessionSettings::Mode(mMixerType);
    if (mode == MIDIModeValue())
        mUi->mMIDIPortsRadioButton->setChecked(true);
    else if (mode == TCPModeValue())
        mUi->mTCPIPRadioButton->setChecked(true);

    MixerConnectionModeToggled();
}

void cMainWindow::PopulateDAWTypeComboBox()
{
    mUi->mDAWTypeComboBox->clear();
    const QString family = mUi->mMixerTypeComboBox->currentText();
    QStringList shown;
    for (const QString& name : mSession->GetMap().GetDAWNames(family))
    {
        // The map file is found by the protocol's name, which always gives the first entry of that
        // name; a second entry would show one protocol and load another.
        if (shown.contains(name))
        {
            LOG_ERROR("DAW protocol \"%s\" is listed more than once for mixer \"%s\"; the first entry is used",
                      name.toLocal8Bit().constData(), family.toLocal8Bit().constData());
            continue;
        }
        shown << name;
        mUi->mDAWTypeComboBox->addItem(name);
    }
}

void cMainWindow::RestoreDAWType()
{
    const QString stored = cSessionSettings::DAW();
    for (int index = 0; index < mUi->mDAWTypeComboBox->count(); ++index)
    {
        if (mUi->mDAWTypeComboBox->itemText(index) == stored)
            mUi->mDAWTypeComboBox->setCurrentIndex(index);
    }
}

void cMainWindow::SelectedDAWChanged(int Index)
{
    cSessionSettings::SetDAW(mUi->mDAWTypeComboBox->itemText(Index));
    SelectedMixerTypeChanged(mUi->mMixerTypeComboBox->currentIndex());
}

void cMainWindow::RestoreMIDIChannel()
{
    const int found = mUi->mMIDIChannelComboBox->findData(unsigned(cSessionSettings::Channel(mMixerType)));
    if (found < 0)
        return;
    mUi->mMIDIChannelComboBox->setCurrentIndex(found);
    SetMIDIChannel(quint8(mUi->mMIDIChannelComboBox->itemData(found).toUInt()));
}

void cMainWindow::MIDIChannelComboIndexChanged(int Index)
{
    if (Index < 0)
        return;
    SetMIDIChannel(quint8(mUi->mMIDIChannelComboBox->itemData(Index).toUInt() & 0xFFu));
}

void cMainWindow::SetMIDIChannel(quint8 Channel)
{
    mSession->SetChannel(Channel);
    cSessionSettings::SetChannel(mMixerType, Channel);
}

// ---- Connection mode and console MIDI ports -----------------------------------------------------

void cMainWindow::MixerConnectionModeToggled()
{
    cSystemMIDIConfiguration* registry = mSession->GetRegistry();
    if (mUi->mMIDIPortsRadioButton->isChecked())
    {
        cSessionSettings::SetMode(mMixerType, false);
        mTCPIPWidgetGroup.Hide();
        mMIDIPortsWidgetGroup.Show();
        mUi->mConnectCheckBox->setChecked(false);
        mUi->mStatusBar->showMessage(QString(), 0);
        mSession->UseMIDIPorts();
        RepopulateMixerMIDIInputComboBox();
        RepopulateMixerMIDIOutputComboBox();
        // Unique: this branch runs on every family change, and each extra set of connections would
        // rebuild the port lists once more on every device plugged in or pulled out.
        connect(registry, SIGNAL(InputAddedSignal(QString)), this, SLOT(RepopulateMixerMIDIInputComboBox()),
                Qt::UniqueConnection);
        connect(registry, SIGNAL(InputRemovedSignal(QString)), this, SLOT(RepopulateMixerMIDIInputComboBox()),
                Qt::UniqueConnection);
        connect(registry, SIGNAL(OutputAddedSignal(QString)), this, SLOT(RepopulateMixerMIDIOutputComboBox()),
                Qt::UniqueConnection);
        connect(registry, SIGNAL(OutputRemovedSignal(QString)), this, SLOT(RepopulateMixerMIDIOutputComboBox()),
                Qt::UniqueConnection);
    }
    else
    {
        cSessionSettings::SetMode(mMixerType, true);
        mMIDIPortsWidgetGroup.Hide();
        mTCPIPWidgetGroup.Show();
        mUi->mStatusBar->showMessage(mSession->GetStateText(), 0);
        disconnect(registry, SIGNAL(InputAddedSignal(QString)), this, SLOT(RepopulateMixerMIDIInputComboBox()));
        disconnect(registry, SIGNAL(InputRemovedSignal(QString)), this, SLOT(RepopulateMixerMIDIInputComboBox()));
        disconnect(registry, SIGNAL(OutputAddedSignal(QString)), this, SLOT(RepopulateMixerMIDIOutputComboBox()));
        disconnect(registry, SIGNAL(OutputRemovedSignal(QString)), this, SLOT(RepopulateMixerMIDIOutputComboBox()));
        mSession->UseNetwork();
    }
}

namespace
{
// Fills a console port list: "-", the present ports, and the saved port as an offline entry when
// it is absent. Returns the index to select.
int FillPortComboBox(QComboBox* ComboBox, QStringList Names, const QString& Saved)
{
    Names.sort(Qt::CaseSensitive);
    Names.prepend(kNoPort);
    int current = 0;
    bool offline = false;
    if (!Saved.isEmpty())
    {
        current = Names.indexOf(Saved);
        if (current < 0)
        {
            Names.append(kOfflinePrefix + Saved);
            current = Names.size() - 1;
            offline = true;
        }
    }
    ComboBox->clear();
    for (int index = 0; index < Names.size(); ++index)
    {
        const bool hasNoPort = index == 0 || (offline && index == Names.size() - 1);
        if (hasNoPort)
            ComboBox->addItem(Names.at(index));
        else
            ComboBox->addItem(Names.at(index), Names.at(index));
    }
    return current;
}
} // namespace

void cMainWindow::RepopulateMixerMIDIInputComboBox()
{
    const QStringList names = mSession->GetRegistry()->GetInputNames();
    const QString saved = cSessionSettings::InputPort(mMixerType);
    mSession->SetConsoleInput(saved);

    disconnect(mUi->mMixerMIDIInComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(MixerMIDIInputSelected(int)));
    const int current = FillPortComboBox(mUi->mMixerMIDIInComboBox, names, saved);
    mUi->mMixerMIDIInComboBox->setCurrentIndex(current);
    connect(mUi->mMixerMIDIInComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(MixerMIDIInputSelected(int)));
}

void cMainWindow::MixerMIDIInputSelected(int Index)
{
    const QString name = mUi->mMixerMIDIInComboBox->itemData(Index).toString();
    if (Index == 0 || !name.isEmpty())
    {
        mSession->SetConsoleInput(name);
        cSessionSettings::SetInputPort(mMixerType, name);
    }
}

void cMainWindow::RepopulateMixerMIDIOutputComboBox()
{
    const QStringList names = mSession->GetRegistry()->GetOutputNames();
    const QString saved = cSessionSettings::OutputPort(mMixerType);
    mSession->SetConsoleOutput(saved);

    disconnect(mUi->mMixerMIDIOutComboBox, SIGNAL(currentIndexChanged(int)), this,
               SLOT(MixerMIDIOutputSelected(int)));
    const int current = FillPortComboBox(mUi->mMixerMIDIOutComboBox, names, saved);
    mUi->mMixerMIDIOutComboBox->setCurrentIndex(current);
    connect(mUi->mMixerMIDIOutComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(MixerMIDIOutputSelected(int)));
}

void cMainWindow::MixerMIDIOutputSelected(int Index)
{
    const QString name = mUi->mMixerMIDIOutComboBox->itemData(Index).toString();
    if (Index == 0 || !name.isEmpty())
    {
        mSession->SetConsoleOutput(name);
        cSessionSettings::SetOutputPort(mMixerType, name);
    }
}

// ---- Console network panel ----------------------------------------------------------------------

sUnit cMainWindow::UnitAt(int Index) const
{
    return qvariant_cast<sUnit>(mUi->mUnitComboBox->itemData(Index));
}

void cMainWindow::FoundUnitsChanged()
{
    if (mSession->IsConnected())
        return;
    // While Connect is checked the session is reconnecting: the list follows discovery, but the
    // chosen console stays chosen (listed even while it does not answer) and Connect stays checked,
    // so the reconnection can finish.
    const bool reconnecting = mUi->mConnectCheckBox->isChecked() && mSession->IsConnectionWanted();

    disconnect(mUi->mUnitComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(SelectedUnitChanged(int)));
    mUi->mUnitComboBox->clear();
    QList<sUnit> units = mSession->GetUnits();
    if (reconnecting && !cSessionSettings::IsCustomUnit(mChosenUnit) &&
        std::none_of(units.cbegin(), units.cend(), [this](const sUnit& Unit) { return Unit.Name == mChosenUnit.Name; }))
        units.append(mChosenUnit);
    units.prepend(mCustomUnit);
    for (const sUnit& unit : qAsConst(units))
        mUi->mUnitComboBox->addItem(unit.Name, QVariant::fromValue(unit));
    if (reconnecting)
        SelectChosenUnit();
    connect(mUi->mUnitComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(SelectedUnitChanged(int)));
    if (reconnecting)
        return;

    const QString savedName = cSessionSettings::UnitName(mMixerType);
    const QHostAddress savedAddress = cSessionSettings::UnitAddress(mMixerType);

    if (savedName.isEmpty() && mUi->mUnitComboBox->count() >= 2)
    {
        mUi->mUnitComboBox->setCurrentIndex(1);
        SelectedUnitChanged(1);
    }
    else
    {
        RestoreUnit(savedName, savedAddress);
    }
}

void cMainWindow::SelectChosenUnit()
{
    // The most recent answer under the name, as the session follows it.
    int chosen = 0;
    if (!cSessionSettings::IsCustomUnit(mChosenUnit))
        for (int index = 1; index < mUi->mUnitComboBox->count(); ++index)
            if (UnitAt(index).Name == mChosenUnit.Name)
                chosen = index;
    mUi->mUnitComboBox->setCurrentIndex(chosen);
    const sUnit unit = UnitAt(chosen);
    if (chosen > 0 && unit.Address != mChosenUnit.Address)
    {
        // Back at a new address: remembered as a match of the saved console is.
        mChosenUnit.Address = unit.Address;
        mCustomUnit.Address = unit.Address;
        cSessionSettings::SetUnitAddress(mMixerType, unit.Address);
    }
    mUi->mIPAddressEdit->setText(unit.Address.toString());
}

void cMainWindow::RestoreUnit(const QString& SavedName, const QHostAddress& SavedAddress)
{
    if (SelectFoundUnit(SavedName))
        return;
    mUi->mUnitComboBox->setCurrentIndex(0);
    mUi->mIPAddressEdit->setText(SavedAddress.toString());
    SelectedUnitChanged(0);
}

bool cMainWindow::SelectFoundUnit(const QString& SavedName)
{
    for (int index = 1; index < mUi->mUnitComboBox->count(); ++index)
    {
        const sUnit unit = UnitAt(index);
        if (unit.Name != SavedName)
            continue;
        mUi->mUnitComboBox->setCurrentIndex(index);
        SelectedUnitChanged(index);
        cSessionSettings::SetUnitAddress(mMixerType, unit.Address);
        mCustomUnit.Address = unit.Address;
        return true;
    }
    return false;
}

void cMainWindow::SelectedUnitChanged(int Index)
{
    if (Index < 0)
        return;
    const sUnit unit = UnitAt(Index);
    mUi->mIPAddressEdit->setText(unit.Address.toString());
    mUi->mIPAddressEdit->setEnabled(cSessionSettings::IsCustomUnit(unit));
    mUi->mConnectCheckBox->setChecked(false);
}

bool cMainWindow::IsIPAddressValid()
{
    QString text = mUi->mIPAddressEdit->text();
    int position = 0;
    const QValidator* validator = mUi->mIPAddressEdit->validator();
    return validator != nullptr && validator->validate(text, position) == QValidator::Acceptable;
}

void cMainWindow::IPAddressChanged()
{
    mUi->mConnectCheckBox->setEnabled(IsIPAddressValid());
}

void cMainWindow::ConnectCheckBoxToggled(bool Toggle)
{
    if (Toggle)
    {
        // Read in decimal whatever zeros lead the groups; stored in the plain form, so that every
        // reader of the store gets the same address.
        const QHostAddress address = cSessionSettings::ParseAddress(mUi->mIPAddressEdit->text());
        mChosenUnit = UnitAt(mUi->mUnitComboBox->currentIndex());
        mChosenUnit.Address = address;
        // A found console is followed by its name wherever it answers from; a typed address is kept.
        mSession->Connect(address, cSessionSettings::IsCustomUnit(mChosenUnit) ? QString() : mChosenUnit.Name);
        cSessionSettings::SetUnit(mMixerType, mChosenUnit.Name, address);
        mCustomUnit.Address = address;
    }
    else
    {
        mSession->Disconnect();
    }
    mUi->mUnitComboBox->setEnabled(!Toggle);
    mUi->mIPAddressEdit->setEnabled(!Toggle && cSessionSettings::IsCustomUnit(UnitAt(mUi->mUnitComboBox->currentIndex())));
}

void cMainWindow::TCPMIDIConnectionStateStringChanged(QString State)
{
    if (mUi->mTCPIPRadioButton->isChecked())
    {
        mUi->mStatusBar->showMessage(State, 0);
    }
}

void cMainWindow::LinkRetryScheduled(int Ms)
{
    if (mUi->mTCPIPRadioButton->isChecked())
        mUi->mStatusBar->showMessage(tr("Reconnecting in %1 s").arg((Ms + 999) / 1000), 0);
}
