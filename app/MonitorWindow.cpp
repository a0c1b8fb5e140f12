#include "app/MonitorWindow.h"

#include "app/MonitorFilter.h"
#include "app/MonitorModel.h"
#include "session/ConsoleSession.h"
#include "tools/mapcheck/RuleLearner.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeySequence>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QShortcut>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

cMonitorWindow::cMonitorWindow(cConsoleSession* Session, QWidget* Parent)
    : QWidget(Parent, Qt::Window),
      mSession(Session),
      mModel(new cMonitorModel(Session, this)),
      mFilter(new cMonitorFilter(this)),
      mView(new QTableView),
      mSideBox(new QComboBox),
      mKindBox(new QComboBox),
      mPauseButton(new QPushButton(tr("&Pause"))),
      mLearnButton(new QPushButton(tr("&Learn"))),
      mStatus(new QLabel),
      mProposal(new QPlainTextEdit)
{
    setWindowTitle(tr("Quillon MIDI Monitor"));
    setObjectName(QStringLiteral("mMonitorWindow"));
    mFilter->setSourceModel(mModel);

    mSideBox->addItems({tr("Console and DAW"), tr("Console"), tr("DAW")});
    mKindBox->addItem(tr("All messages"));
    mKindBox->addItems(cMonitorModel::Kinds());
    mPauseButton->setCheckable(true);
    mLearnButton->setCheckable(true);
    mLearnButton->setObjectName(QStringLiteral("mLearnButton"));
    mLearnButton->setToolTip(tr("Press, move one control of the console, press again: the map rule for it is proposed"));
    auto* clear = new QPushButton(tr("C&lear"));
    auto* copy = new QPushButton(tr("&Copy"));
    auto* propose = new QPushButton(tr("P&ropose Rule"));
    propose->setToolTip(tr("Propose the map rule for the selected messages of one console control"));

    auto* bar = new QHBoxLayout;
    bar->addWidget(new QLabel(tr("Show:")));
    bar->addWidget(mSideBox);
    bar->addWidget(mKindBox);
    bar->addStretch(1);
    for (QPushButton* button : {mPauseButton, clear, copy, mLearnButton, propose})
        bar->addWidget(button);

    mView->setModel(mFilter);
    mView->setSelectionBehavior(QAbstractItemView::SelectRows);
    mView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    mView->verticalHeader()->hide();
    mView->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    mView->setWordWrap(false);
    mView->horizontalHeader()->setStretchLastSection(true);
    const int digit = fontMetrics().horizontalAdvance(QLatin1Char('0'));
    for (const auto& width : {std::make_pair(cMonitorModel::TimeColumn, 8), std::make_pair(cMonitorModel::SideColumn, 17),
                              std::make_pair(cMonitorModel::PortColumn, 17), std::make_pair(cMonitorModel::HexColumn, 16),
                              std::make_pair(cMonitorModel::WordsColumn, 27)})
        mView->setColumnWidth(width.first, width.second * digit);

    mProposal->setReadOnly(true);
    mProposal->setPlaceholderText(tr("Select the messages of one console control and press Propose Rule, or press Learn "
                                     "and move the control."));
    mProposal->setFont(QFont(QStringLiteral("monospace")));
    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(mView);
    splitter->addWidget(mProposal);
    splitter->setStretchFactor(0, 4);
    splitter->setStretchFactor(1, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(splitter, 1);
    layout->addWidget(mStatus);
    resize(140 * digit, 560);

    connect(mSideBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &cMonitorWindow::FilterChanged);
    connect(mKindBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &cMonitorWindow::FilterChanged);
    connect(mPauseButton, &QPushButton::toggled, this, [this](bool Paused) {
        mModel->SetPaused(Paused);
        UpdateStatus();
    });
    connect(clear, &QPushButton::clicked, this, [this] {
        mModel->Clear();
        UpdateStatus();
    });
    connect(copy, &QPushButton::clicked, this, [this] { QApplication::clipboard()->setText(SelectedText()); });
    connect(new QShortcut(QKeySequence::Copy, mView), &QShortcut::activated, copy, &QPushButton::click);
    connect(mLearnButton, &QPushButton::toggled, this, &cMonitorWindow::LearnToggled);
    connect(propose, &QPushButton::clicked, this, &cMonitorWindow::ProposeFromSelection);
    connect(mModel, &cMonitorModel::LinesAdded, this, &cMonitorWindow::LinesAdded);
    connect(mSession, &cConsoleSession::ConsoleLockChanged, this, &cMonitorWindow::UpdateStatus);
    UpdateStatus();
}

cMonitorWindow::~cMonitorWindow()
{
    mModel->SetWatching(false);
}

void cMonitorWindow::showEvent(QShowEvent* Event)
{
    mModel->SetWatching(true);
    QWidget::showEvent(Event);
}

void cMonitorWindow::hideEvent(QHideEvent* Event)
{
    // Closed, the monitor takes nothing from the traffic.
    mModel->SetWatching(false);
    mModel->Flush();
    QWidget::hideEvent(Event);
}

void cMonitorWindow::FilterChanged()
{
    const int side = mSideBox->currentIndex();
    const eMonitorSide chosen = side == 1 ? eMonitorSide::Console : eMonitorSide::DAW;
    mFilter->SetSide(side == 0 ? nullptr : &chosen);
    mFilter->SetKind(mKindBox->currentIndex() == 0 ? QString() : mKindBox->currentText());
}

void cMonitorWindow::LinesAdded()
{
    // Follows the newest line while the view is at its end; stays where the user scrolled to.
    QScrollBar* bar = mView->verticalScrollBar();
    if (bar->value() >= bar->maximum() - 2 * mView->verticalHeader()->defaultSectionSize())
        mView->scrollToBottom();
    UpdateStatus();
}

void cMonitorWindow::UpdateStatus()
{
    const auto count = [](quint64 Count, const QString& One, const QString& Many) {
        return (Count == 1 ? One : Many).arg(Count);
    };
    QStringList parts{count(quint64(mModel->rowCount()), tr("%1 line"), tr("%1 lines"))};
    if (mModel->IsPaused())
        parts << count(quint64(mModel->GetSkippedCount()), tr("paused, %1 message skipped"), tr("paused, %1 messages skipped"));
    if (mSession->IsConsoleLocked() || mSession->GetHeldCount() > 0)
        parts << (mSession->IsConsoleLocked() ? tr("console locked") : tr("console unlocked"))
              << count(mSession->GetHeldCount(), tr("%1 DAW change held back from the console"),
                       tr("%1 DAW changes held back from the console"));
    if (mLearnFrom >= 0)
        parts << tr("learning: move one control, then press Learn again");
    mStatus->setText(parts.join(QStringLiteral(" · ")));
}

QString cMonitorWindow::SelectedText() const
{
    QList<int> rows;
    for (const QModelIndex& index : mView->selectionModel()->selectedRows())
        rows << mFilter->mapToSource(index).row();
    std::sort(rows.begin(), rows.end());
    QStringList lines;
    for (int row : rows)
        lines << mModel->LineText(row);
    return lines.isEmpty() ? QString() : lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

void cMonitorWindow::LearnToggled(bool Learning)
{
    if (Learning)
    {
        mModel->Flush();
        mLearnFrom = mModel->GetTotalLines();
        UpdateStatus();
        return;
    }
    mModel->Flush();
    const int count = int(qMin<qint64>(mModel->GetTotalLines() - mLearnFrom, mModel->rowCount()));
    mLearnFrom = -1;
    QList<QByteArray> messages;
    for (int row = mModel->rowCount() - count; row < mModel->rowCount(); ++row)
        if (mModel->Line(row).Side == eMonitorSide::Console && mModel->Line(row).Direction == eMonitorDirection::In)
            messages << mModel->Line(row).Bytes;
    Propose(messages);
    UpdateStatus();
}

void cMonitorWindow::ProposeFromSelection()
{
    QList<int> rows;
    for (const QModelIndex& index : mView->selectionModel()->selectedRows())
        rows << mFilter->mapToSource(index).row();
    std::sort(rows.begin(), rows.end());
    QList<QByteArray> messages;
    for (int row : rows)
        if (mModel->Line(row).Side == eMonitorSide::Console && mModel->Line(row).Direction == eMonitorDirection::In)
            messages << mModel->Line(row).Bytes;
    Propose(messages);
}

void cMonitorWindow::Propose(const QList<QByteArray>& Messages)
{
    const cMIDITranslatorConfiguration* map = mSession->GetConfiguration();
    if (map == nullptr)
        return;
    const sLearnProposal proposal = cRuleLearner::Propose(Messages, *map);
    QStringList text;
    if (!proposal.Rules.isEmpty())
        text << proposal.Json() << QString();
    for (const QString& note : proposal.Notes)
        text << QStringLiteral("// ") + note;
    if (!proposal.Rules.isEmpty())
        text << (proposal.Rejections + proposal.Warnings == 0
                     ? tr("// checked like quillon-mapcheck: no finding")
                     : tr("// checked like quillon-mapcheck: %1 rejected, %2 warnings").arg(proposal.Rejections).arg(proposal.Warnings));
    for (const QString& finding : proposal.Findings)
        text << QStringLiteral("// ") + finding;
    mProposal->setPlainText(text.join(QLatin1Char('\n')));
}
