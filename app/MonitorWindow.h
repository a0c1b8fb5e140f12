#pragma once
// The MIDI monitor: every message to and from the console and the DAW with the map rule behind it,
// filtered by side and kind, paused, cleared, copied; and learn, which proposes the map rule for the
// selected messages of one console control (or for what a control sends while "Learn" is down).
// Watches the session only while shown. Owned by the main window; GUI thread only.

#include <QWidget>

class cConsoleSession;
class cMonitorFilter;
class cMonitorModel;
class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableView;

class cMonitorWindow : public QWidget
{
    Q_OBJECT

public:
    explicit cMonitorWindow(cConsoleSession* Session, QWidget* Parent = nullptr);
    ~cMonitorWindow() override;

    cMonitorModel* GetModel() const { return mModel; }
    // The selected lines as text, one per line, as Copy puts them on the clipboard.
    QString SelectedText() const;
    // Proposes a rule for the selected console messages and shows it.
    void ProposeFromSelection();

protected:
    void showEvent(QShowEvent* Event) override;
    void hideEvent(QHideEvent* Event) override;

private:
    void FilterChanged();
    void LinesAdded();
    void LearnToggled(bool Learning);
    void Propose(const QList<QByteArray>& Messages);
    void UpdateStatus();

    cConsoleSession* mSession;
    cMonitorModel* mModel;
    cMonitorFilter* mFilter;
    QTableView* mView;
    QComboBox* mSideBox;
    QComboBox* mKindBox;
    QPushButton* mPauseButton;
    QPushButton* mLearnButton;
    QLabel* mStatus;
    QPlainTextEdit* mProposal;
    // Learn: lines the model had taken in when "Learn" went down.
    qint64 mLearnFrom = -1;
};
