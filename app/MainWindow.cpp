#include "app/MainWindow.h"

#include "Common/LogError.h"
#include "Common/MIDI/MIDIConnectionMemory.h"
#include "Common/MIDI/SystemMIDIConfiguration.h"
#include "Common/MIDI/VirtualMIDIPortCloser.h"
#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "app/IPAddressValidator.h"
#include "app/MIDIActiveWidget.h"
#include "app/MainWindowForm.h"
#include "app/SettingsKeys.h"
#include "network/MultiUnitFinder.h"

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
#include <QRadioButton>
#include <QSettings>
#include <QStatusBar>
#include <QUrl>
#include <QVariant>

// The compiled-in icons live in this static library; Qt's registration macro must be used outside
// any namespace.
static void RegisterQuillonResources()
{
    Q_INIT_RESOURCE(Quillon);
}

namespace
{
const QString kProductName = QStringLiteral("Quillon");
const QString kVersion = QStringLiteral("1.40");
const QString kTCPPortName = QStringLiteral("Corvane Internal TCP MIDI");
const QString kMIDIChannelVariable = QStringLiteral("MIDI Channel");
const QString kNoPort = QStringLiteral("-");
const QString kOfflinePrefix = QStringLiteral("(Offline) ");
const QString kIconPath = QStringLiteral(":/Images/Quillon.ico");

// Built once when the program starts, so the year is that of the machine's clock at start.
const QString gAboutTitle = QStringLiteral("About ") + kProductName;
const QString gAboutText = kProductName + QLatin1Char(' ') + kVersion + QStringLiteral("\n\n") +
                           QStringLiteral("Copyright ") + QChar(0x00A9) + QLatin1Char(' ') +
                           QString::number(QDate::currentDate().year()) + QStringLiteral(" Corvane") +
                           QLatin1Char('\n') + QStringLiteral("All rights reserved.") + QStringLiteral("\n\n") +
                           QStringLiteral("The virtual MIDI ports offered to the DAW use the teVirtualMIDI driver "
                                          "technology, licensed from Tobias Erichsen.");

// The discovery query of a console family, chosen by the family's name (first match wins).
QString FindStringFor(const QString& MixerName)
{
    if (MixerName.contains(QLatin1String("Ny")))
        return QStringLiteral("NY Find");
    if (MixerName.contains(QLatin1String("KRT")))
        return QStringLiteral("KRT Find");
    if (MixerName.contains(QLatin1String("Oskel")))
        return QStringLiteral("PVX Find");
    return QString();
}
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
      mMIDITranslatorConfiguration(nullptr),
      mMIDIPortsWidgetGroup(nullptr),
      mTCPIPWidgetGroup(nullptr),
      mMultiUnitFinder(nullptr),
      mTCPMIDIInputOutput(nullptr),
      mEnvironment(Environment)
{
    RegisterQuillonResources();
    mCustomUnit.Address = QHostAddress(DefaultUnitIP());
    mCustomUnit.Name = QStringLiteral("Custom");
    mCustomUnit.FindString = QString();

    mMixerDawMap.Load(MapsDirectory() + QStringLiteral("mixer_map.json"));

    mUi->SetupUi(this);

    auto* validator = new cIPAddressValidator(this);
    mUi->mIPAddressEdit->setValidator(validator);
    connect(mUi->mIPAddressEdit, SIGNAL(textChanged(QString)), this, SLOT(IPAddressChanged()));

    // The window takes the size of what is visible, and changes it when a widget group is shown or
    // hidden.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    mMIDITranslatorConfiguration = new cMIDITranslatorConfiguration(mEnvironment.Registry);
    mEnvironment.Registry = nullptr; // the configuration owns it now

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
    // Driver-level virtual ports stay open across map reloads; they are closed only now.
    CloseAllVirtualMIDIPorts();
    delete mMIDITranslatorConfiguration;
    mMIDITranslatorConfiguration = nullptr;
    // The link says "Not Connected" from its own destructor, after the form is gone.
    if (mTCPMIDIInputOutput != nullptr)
        mTCPMIDIInputOutput->disconnect(this);
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

QString cMainWindow::MapsDirectory() const
{
    return mEnvironment.MapsDirectory.isEmpty() ? cMixerDawMap::GetMapsDirectory() : mEnvironment.MapsDirectory;
}

// ---- Construction -------------------------------------------------------------------------------

void cMainWindow::PopulateMixerTypeComboBox()
{
    QStringList names = mMixerDawMap.GetMixerNames();
    names.sort(Qt::CaseSensitive);
    for (const QString& name : qAsConst(names))
        mUi->mMixerTypeComboBox->addItem(name, FindStringFor(name));
    connect(mUi->mMixerTypeComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(SelectedMixerTypeChanged(int)));
}

void cMainWindow::CreateTCPMIDIInputOutput()
{
    mTCPMIDIInputOutput = new cTCPMIDIInptOutput(this, mEnvironment.ConsolePort);
    connect(mTCPMIDIInputOutput, SIGNAL(StateStringChanged(QString)), this,
            SLOT(TCPMIDIConnectionStateStringChanged(QString)));
}

void cMainWindow::CreateMultiUnitFinder()
{
    mMultiUnitFinder = new cMultiUnitFinder(this, mEnvironment.DiscoveryDestination, mEnvironment.DiscoveryPort,
                                            mEnvironment.DiscoveryPollMs);
    // Once per batch of answers or polls, not once per unit: the list is rebuilt whole each time,
    // and a burst of new names rebuilt it for each of them.
    connect(mMultiUnitFinder, SIGNAL(UnitsChanged()), this, SLOT(FoundUnitsChanged()));
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
    mTrayMenu->addSeparator();
    mTrayMenu->addAction(mAboutAction);
    mTrayMenu->addAction(mHelpAction);
    mTrayMenu->addSeparator();
    mTrayMenu->addAction(mQuitAction);

    mSystemTrayIcon = new QSystemTrayIcon(this);
    mSystemTrayIcon->setContextMenu(mTrayMenu);
    mSystemTrayIcon->setIcon(icon);
    mSystemTrayIcon->setVisible(true);

    auto* inputLamp = new cMIDIActiveWidget(nullptr);
    inputLamp->setObjectName(QStringLiteral("mMIDIInputActiveWidget"));
    inputLamp->setFixedSize(10, 10);
    connect(mMIDITranslatorConfiguration, SIGNAL(MixerMIDIInputRead()), inputLamp, SLOT(MIDIActive()));
    auto* outputLamp = new cMIDIActiveWidget(nullptr);
    outputLamp->setObjectName(QStringLiteral("mMIDIOutputActiveWidget"));
    outputLamp->setFixedSize(10, 10);
    connect(mMIDITranslatorConfiguration, SIGNAL(MixerMIDIOutputWrite()), outputLamp, SLOT(MIDIActive()));

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
    const QString stored = UpgradedMixerType(QSettings().value(MixerTypeKey()).toString());
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
    QSettings().setValue(MixerTypeKey(), family);
    mMixerType = family;

    mCustomUnit.Address =
        cIPAddressValidator::ToAddress(QSettings().value(DefaultUnitIPKey(mMixerType), DefaultUnitIP()).toString());

    disconnect(mUi->mDAWTypeComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(SelectedDAWChanged(int)));
    PopulateDAWTypeComboBox();
    RestoreDAWType();
    connect(mUi->mDAWTypeComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(SelectedDAWChanged(int)),
            Qt::UniqueConnection);

    const QString file = mMixerDawMap.GetMapFileName(family, mUi->mDAWTypeComboBox->currentText());
    cMIDIConnectionMemory::SetGroup(family, mUi->mDAWTypeComboBox->currentText());
    mMIDITranslatorConfiguration->LoadFile(MapsDirectory() + file);

    RestoreMIDIChannel();

    mUi->mConnectCheckBox->setChecked(false);

    mMultiUnitFinder->RemoveAllFinders();
    mMultiUnitFinder->AddFinder(mUi->mMixerTypeComboBox->itemData(Index).toString());

    FoundUnitsChanged();

    RepopulateMixerMIDIInputComboBox();
    RepopulateMixerMIDIOutputComboBox();

    const QString mode = QSettings().value(ModeKey(mMixerType)).toString();
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
    for (const QString& name : mMixerDawMap.GetDAWNames(family))
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
    const QString stored = QSettings().value(DAWTypeKey()).toString();
    for (int index = 0; index < mUi->mDAWTypeComboBox->count(); ++index)
    {
        if (mUi->mDAWTypeComboBox->itemText(index) == stored)
            mUi->mDAWTypeComboBox->setCurrentIndex(index);
    }
}

void cMainWindow::SelectedDAWChanged(int Index)
{
    QSettings().setValue(DAWTypeKey(), mUi->mDAWTypeComboBox->itemText(Index));
    SelectedMixerTypeChanged(mUi->mMixerTypeComboBox->currentIndex());
}

void cMainWindow::RestoreMIDIChannel()
{
    unsigned channel = kDefaultMIDIChannel;
    if (QSettings().contains(MIDIChannelKey(mMixerType)))
        channel = QSettings().value(MIDIChannelKey(mMixerType)).toUInt() & 0xFFu;
    int found = -1;
    for (int index = 0; index < mUi->mMIDIChannelComboBox->count(); ++index)
    {
        if (mUi->mMIDIChannelComboBox->itemData(index).toUInt() == channel)
        {
            found = index;
            break;
        }
    }
    // A stored channel outside 0 to 15 would leave the list showing one channel while the freshly
    // loaded map uses another: the default channel is shown and applied instead.
    if (found < 0)
    {
        LOG_ERROR("Stored MIDI channel %u of mixer \"%s\" is out of range; channel %u is used", channel,
                  mMixerType.toLocal8Bit().constData(), kDefaultMIDIChannel + 1);
        found = mUi->mMIDIChannelComboBox->findData(kDefaultMIDIChannel);
    }
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
    // A copy: setting a value rebuilds the configuration's matchers.
    const QList<cMIDITranslatorVariable> variables = mMIDITranslatorConfiguration->GetVariables();
    for (const cMIDITranslatorVariable& variable : variables)
    {
        if (variable.GetName() == kMIDIChannelVariable)
            mMIDITranslatorConfiguration->SetVariableValue(variable.GetVariableName(), Channel);
    }
    QSettings().setValue(MIDIChannelKey(mMixerType), unsigned(Channel));
}

// ---- Connection mode and console MIDI ports -----------------------------------------------------

void cMainWindow::MixerConnectionModeToggled()
{
    cSystemMIDIConfiguration* registry = mMIDITranslatorConfiguration->GetSystemMIDIConfiguration();
    if (mUi->mMIDIPortsRadioButton->isChecked())
    {
        QSettings().setValue(ModeKey(mMixerType), MIDIModeValue());
        mTCPIPWidgetGroup.Hide();
        mMIDIPortsWidgetGroup.Show();
        mUi->mConnectCheckBox->setChecked(false);
        mUi->mStatusBar->showMessage(QString(), 0);
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
        QSettings().setValue(ModeKey(mMixerType), TCPModeValue());
        mMIDIPortsWidgetGroup.Hide();
        mTCPIPWidgetGroup.Show();
        mUi->mStatusBar->showMessage(mTCPMIDIInputOutput->GetStateString(), 0);
        disconnect(registry, SIGNAL(InputAddedSignal(QString)), this, SLOT(RepopulateMixerMIDIInputComboBox()));
        disconnect(registry, SIGNAL(InputRemovedSignal(QString)), this, SLOT(RepopulateMixerMIDIInputComboBox()));
        disconnect(registry, SIGNAL(OutputAddedSignal(QString)), this, SLOT(RepopulateMixerMIDIOutputComboBox()));
        disconnect(registry, SIGNAL(OutputRemovedSignal(QString)), this, SLOT(RepopulateMixerMIDIOutputComboBox()));
        mMIDITranslatorConfiguration->SetMixerInputPortName(kTCPPortName);
        mMIDITranslatorConfiguration->SetMixerOutputPortName(kTCPPortName);
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
    const QStringList names = mMIDITranslatorConfiguration->GetSystemMIDIConfiguration()->GetInputNames();
    const QString saved = QSettings().value(InputPortKey(mMixerType)).toString();
    mMIDITranslatorConfiguration->SetMixerInputPortName(saved);

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
        mMIDITranslatorConfiguration->SetMixerInputPortName(name);
        QSettings().setValue(InputPortKey(mMixerType), name);
    }
}

void cMainWindow::RepopulateMixerMIDIOutputComboBox()
{
    const QStringList names = mMIDITranslatorConfiguration->GetSystemMIDIConfiguration()->GetOutputNames();
    const QString saved = QSettings().value(OutputPortKey(mMixerType)).toString();
    mMIDITranslatorConfiguration->SetMixerOutputPortName(saved);

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
        mMIDITranslatorConfiguration->SetMixerOutputPortName(name);
        QSettings().setValue(OutputPortKey(mMixerType), name);
    }
}

// ---- Console network panel ----------------------------------------------------------------------

sUnit cMainWindow::UnitAt(int Index) const
{
    return qvariant_cast<sUnit>(mUi->mUnitComboBox->itemData(Index));
}

bool cMainWindow::IsCustomUnit(const sUnit& Unit) const
{
    return Unit.Name == mCustomUnit.Name && Unit.FindString.isEmpty();
}

void cMainWindow::FoundUnitsChanged()
{
    if (mTCPMIDIInputOutput->IsConnected())
        return;

    disconnect(mUi->mUnitComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(SelectedUnitChanged(int)));
    mUi->mUnitComboBox->clear();
    QList<sUnit> units = mMultiUnitFinder->GetUnits();
    units.prepend(mCustomUnit);
    for (const sUnit& unit : qAsConst(units))
        mUi->mUnitComboBox->addItem(unit.Name, QVariant::fromValue(unit));
    connect(mUi->mUnitComboBox, SIGNAL(currentIndexChanged(int)), this, SLOT(SelectedUnitChanged(int)));

    const QString savedName = QSettings().value(DefaultUnitNameKey(mMixerType)).toString();
    const QHostAddress savedAddress =
        cIPAddressValidator::ToAddress(QSettings().value(DefaultUnitIPKey(mMixerType), DefaultUnitIP()).toString());

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
        QSettings().setValue(DefaultUnitIPKey(mMixerType), unit.Address.toString());
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
    mUi->mIPAddressEdit->setEnabled(IsCustomUnit(unit));
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
        const QHostAddress address = cIPAddressValidator::ToAddress(mUi->mIPAddressEdit->text());
        mTCPMIDIInputOutput->ConnectToHost(address);
        QSettings().setValue(DefaultUnitNameKey(mMixerType), UnitAt(mUi->mUnitComboBox->currentIndex()).Name);
        QSettings().setValue(DefaultUnitIPKey(mMixerType), address.toString());
        mCustomUnit.Address = address;
        mMIDITranslatorConfiguration->SetTCPInputOutput(mTCPMIDIInputOutput);
    }
    else
    {
        mMIDITranslatorConfiguration->SetTCPInputOutput(nullptr);
        mTCPMIDIInputOutput->Disconnect();
    }
    mUi->mUnitComboBox->setEnabled(!Toggle);
    mUi->mIPAddressEdit->setEnabled(!Toggle && IsCustomUnit(UnitAt(mUi->mUnitComboBox->currentIndex())));
}

void cMainWindow::TCPMIDIConnectionStateStringChanged(QString State)
{
    if (mUi->mTCPIPRadioButton->isChecked())
        mUi->mStatusBar->showMessage(State, 0);
}
