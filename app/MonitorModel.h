#pragma once
// The MIDI monitor's history: every message read from or written to the console and the DAW, one
// line each, with the map rule that consumed or produced it, kept to the last kHistoryLines. Fed
// as the session's traffic observer while the monitor window is open; lines are gathered and
// handed to views in batches (every kFlushMs), so a flood of traffic costs the event loop little.
// Owned by the monitor window; GUI thread only.

#include "MIDITranslator/MIDITrafficObserver.h"

#include <QAbstractTableModel>
#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QString>
#include <QVector>

#include <deque>
#include <memory>

class cConsoleSession;
class cMidiMessageSplitter;
class QTimer;

enum class eMonitorSide
{
    Console,
    DAW,
};

enum class eMonitorDirection
{
    In,   // read by Quillon
    Out,  // written by Quillon
    Held, // held back from the locked console
};

struct sMonitorLine
{
    qint64 Microseconds = 0; // since the monitor started
    eMonitorSide Side = eMonitorSide::Console;
    eMonitorDirection Direction = eMonitorDirection::In;
    QString Port;
    QByteArray Bytes; // one whole message
    QString Rule;     // empty: no rule
};

class cMonitorModel : public QAbstractTableModel, public cMIDITrafficObserver
{
    Q_OBJECT

public:
    enum eColumn
    {
        TimeColumn,
        SideColumn,
        PortColumn,
        HexColumn,
        WordsColumn,
        RuleColumn,
        ColumnCount
    };
    // Roles beside the display texts, for filters and learn.
    enum eRole
    {
        SideRole = Qt::UserRole, // eMonitorSide as int
        DirectionRole,           // eMonitorDirection as int
        KindRole,                // Kind() of the message
        BytesRole,               // the message, QByteArray
    };

    static constexpr int kHistoryLines = 10000;
    static constexpr int kFlushMs = 50;

    explicit cMonitorModel(cConsoleSession* Session, QObject* Parent = nullptr);
    ~cMonitorModel() override;

    // Starts or stops watching the session's traffic (the window opened or closed).
    void SetWatching(bool Watching);
    bool IsWatching() const { return mWatching; }
    // Paused, arriving messages are not kept (and counted as skipped messages).
    void SetPaused(bool Paused) { mPaused = Paused; }
    bool IsPaused() const { return mPaused; }
    int GetSkippedCount() const { return mSkipped; }
    // Lines handed to the views since the model was made (the history keeps the last of them).
    qint64 GetTotalLines() const { return mTotal; }
    void Clear();
    // Hands pending lines to the views now (normally done every kFlushMs).
    void Flush();

    const sMonitorLine& Line(int Row) const { return mLines.at(static_cast<std::size_t>(Row)); }
    // The line as text, tab-separated, as copied to the clipboard.
    QString LineText(int Row) const;
    // The message kind the filter offers: "Note", "Control change", "Pitch bend", "Exclusive",
    // "Other".
    static QString Kind(const QByteArray& Message);
    static QStringList Kinds();

    int rowCount(const QModelIndex& Parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& Parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& Index, int Role = Qt::DisplayRole) const override;
    QVariant headerData(int Section, Qt::Orientation Orientation, int Role = Qt::DisplayRole) const override;

    // The traffic observer's calls.
    void MIDIRead(const QString& Port, const QByteArray& Bytes) override;
    void MIDIWritten(int RuleId, const QString& Port, bool MixerOut, const QByteArray& Bytes) override;
    void MIDIHeld(int RuleId, const QString& Port, const QByteArray& Bytes) override;

signals:
    // New lines reached the views (after a flush).
    void LinesAdded();

private:
    void Add(eMonitorDirection Direction, const QString& Port, const QByteArray& Message, const QString& Rule);
    // A firing's bytes, one line per message.
    void AddWritten(eMonitorDirection Direction, int RuleId, const QString& Port, const QByteArray& Bytes);
    QString RuleName(int RuleId) const;
    void NameConsumedLines(int RuleId);
    void ResyncSent(const QString& Port, const QList<QByteArray>& Messages);

    cConsoleSession* mSession;
    std::deque<sMonitorLine> mLines;
    QVector<sMonitorLine> mPending;
    QHash<QString, std::shared_ptr<cMidiMessageSplitter>> mSplitters;
    std::unique_ptr<cMidiMessageSplitter> mWriteSplitter;
    eMonitorDirection mWriteDirection = eMonitorDirection::Out;
    QString mWritePort;
    QString mWriteRule;
    // The lines of the chunk being matched right now, in mPending, that wait for the rule that
    // consumes them: rules fire in order while the chunk is matched, right after it is read.
    QString mReadingPort;
    int mOpenFirst = 0;
    int mOpenEnd = 0;
    QTimer* mFlushTimer;
    QElapsedTimer mClock;
    bool mWatching = false;
    bool mPaused = false;
    int mSkipped = 0;
    qint64 mTotal = 0;
};
