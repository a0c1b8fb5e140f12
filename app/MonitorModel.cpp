#include "app/MonitorModel.h"

#include "Common/MidiDescriber.h"
#include "Common/MidiMessageSplitter.h"
#include "MIDITranslator/MIDITranslatorConfiguration.h"
#include "session/ConsoleSession.h"

#include <QTimer>

cMonitorModel::cMonitorModel(cConsoleSession* Session, QObject* Parent)
    : QAbstractTableModel(Parent),
      mSession(Session),
      mFlushTimer(new QTimer(this))
{
    mClock.start();
    mFlushTimer->setSingleShot(true);
    mFlushTimer->setInterval(kFlushMs);
    connect(mFlushTimer, &QTimer::timeout, this, &cMonitorModel::Flush);
    connect(mSession, &cConsoleSession::ResyncSent, this, &cMonitorModel::ResyncSent);
    mWriteSplitter.reset(new cMidiMessageSplitter(
        [this](const QByteArray& Message) { Add(mWriteDirection, mWritePort, Message, mWriteRule); }, [](const QString&) {}));
}

cMonitorModel::~cMonitorModel()
{
    SetWatching(false);
}

void cMonitorModel::SetWatching(bool Watching)
{
    if (Watching == mWatching)
        return;
    mWatching = Watching;
    // Closed, the session has no observer at all, so the traffic costs nothing here.
    mSession->SetTrafficObserver(Watching ? this : nullptr);
    mSplitters.clear();
    mReadingPort.clear();
    mOpenFirst = mOpenEnd = 0;
}

void cMonitorModel::Clear()
{
    beginResetModel();
    mLines.clear();
    mPending.clear();
    mOpenFirst = mOpenEnd = 0;
    mSkipped = 0;
    endResetModel();
}

QString cMonitorModel::Kind(const QByteArray& Message)
{
    const quint8 status = Message.isEmpty() ? 0 : quint8(Message.at(0));
    switch (status & 0xF0)
    {
    case 0x80:
    case 0x90:
        return QStringLiteral("Note");
    case 0xB0:
        return QStringLiteral("Control change");
    case 0xE0:
        return QStringLiteral("Pitch bend");
    default:
        return status == 0xF0 ? QStringLiteral("Exclusive") : QStringLiteral("Other");
    }
}

QStringList cMonitorModel::Kinds()
{
    return {QStringLiteral("Note"), QStringLiteral("Control change"), QStringLiteral("Pitch bend"),
            QStringLiteral("Exclusive"), QStringLiteral("Other")};
}

QString cMonitorModel::RuleName(int RuleId) const
{
    const cMIDITranslatorConfiguration* configuration = mSession->GetConfiguration();
    if (configuration == nullptr || RuleId < 0 || RuleId >= configuration->GetRules().size())
        return QString();
    return configuration->GetRules().at(RuleId).GetName();
}

void cMonitorModel::Add(eMonitorDirection Direction, const QString& Port, const QByteArray& Message, const QString& Rule)
{
    // Paused, messages are still cut apart (a message split across reads stays whole) but not kept.
    if (mPaused)
    {
        ++mSkipped;
        return;
    }
    sMonitorLine line;
    line.Microseconds = mClock.nsecsElapsed() / 1000;
    line.Side = mSession->IsConsolePort(Port) ? eMonitorSide::Console : eMonitorSide::DAW;
    line.Direction = Direction;
    line.Port = Port;
    line.Bytes = Message;
    line.Rule = Rule;
    mPending.append(line);
    if (!mFlushTimer->isActive())
        mFlushTimer->start();
}

void cMonitorModel::MIDIRead(const QString& Port, const QByteArray& Bytes)
{
    std::shared_ptr<cMidiMessageSplitter>& splitter = mSplitters[Port];
    if (!splitter)
        splitter = std::make_shared<cMidiMessageSplitter>(
            [this, Port](const QByteArray& Message) { Add(eMonitorDirection::In, Port, Message, QString()); },
            [](const QString&) {});
    mReadingPort = Port;
    mOpenFirst = mPending.size();
    splitter->Feed(Bytes);
    mOpenEnd = mPending.size();
}

// The rule fired while the chunk just read is matched: its pattern is found among the chunk's
// lines not yet named, from the first on, and those lines are named after it.
void cMonitorModel::NameConsumedLines(int RuleId)
{
    const cMIDITranslatorConfiguration* configuration = mSession->GetConfiguration();
    if (mOpenFirst >= mOpenEnd || configuration == nullptr || RuleId < 0 || RuleId >= configuration->GetRules().size())
        return;
    const cMIDITranslatorRule& rule = configuration->GetRules().at(RuleId);
    bool readsPort = false;
    for (const QString& name : rule.GetIncomingPorts())
        readsPort = readsPort || configuration->ResolveInputAlias(name) == mReadingPort;
    const std::vector<sMatchNibble>& nibbles = rule.GetMatchTrigger()->nibbles;
    if (!readsPort || nibbles.empty())
        return;
    for (int first = mOpenFirst; first < mOpenEnd; ++first)
    {
        std::size_t nibble = 0;
        int line = first;
        bool fits = true;
        for (; line < mOpenEnd && fits && nibble < nibbles.size(); ++line)
        {
            for (const char byte : mPending.at(line).Bytes)
            {
                for (const quint8 value : {quint8(quint8(byte) >> 4), quint8(byte & 0x0F)})
                {
                    if (nibble == nibbles.size())
                        fits = false; // the pattern ends inside this message
                    else if (!nibbles[nibble].wildcard && nibbles[nibble].value != value)
                        fits = false;
                    ++nibble;
                }
            }
        }
        if (!fits || nibble != nibbles.size())
            continue;
        for (int named = first; named < line; ++named)
            mPending[named].Rule = rule.GetName();
        // Lines before the match went to no rule; matching goes on after it.
        mOpenFirst = line;
        return;
    }
}

void cMonitorModel::MIDIWritten(int RuleId, const QString& Port, bool, const QByteArray& Bytes)
{
    NameConsumedLines(RuleId);
    AddWritten(eMonitorDirection::Out, RuleId, Port, Bytes);
}

void cMonitorModel::AddWritten(eMonitorDirection Direction, int RuleId, const QString& Port, const QByteArray& Bytes)
{
    mWriteDirection = Direction;
    mWritePort = Port;
    mWriteRule = RuleName(RuleId);
    mWriteSplitter->Feed(Bytes);
    mWriteSplitter->Flush();
}

void cMonitorModel::MIDIHeld(int RuleId, const QString& Port, const QByteArray& Bytes)
{
    NameConsumedLines(RuleId);
    AddWritten(eMonitorDirection::Held, RuleId, Port, Bytes);
}

void cMonitorModel::ResyncSent(const QString& Port, const QList<QByteArray>& Messages)
{
    if (!mWatching)
        return;
    mWriteDirection = eMonitorDirection::Out;
    mWritePort = Port;
    mWriteRule = tr("last values after connecting");
    for (const QByteArray& message : Messages)
        mWriteSplitter->Feed(message);
    mWriteSplitter->Flush();
}

void cMonitorModel::Flush()
{
    mFlushTimer->stop();
    if (mPending.isEmpty())
        return;
    // Lines still waiting for their rule are handed over as they are.
    mOpenFirst = mOpenEnd = 0;
    int from = qMax(0, mPending.size() - kHistoryLines);
    const int adding = mPending.size() - from;
    mTotal += mPending.size();
    const int dropping = qMax(0, int(mLines.size()) + adding - kHistoryLines);
    if (dropping > 0)
    {
        beginRemoveRows(QModelIndex(), 0, dropping - 1);
        mLines.erase(mLines.begin(), mLines.begin() + dropping);
        endRemoveRows();
    }
    beginInsertRows(QModelIndex(), int(mLines.size()), int(mLines.size()) + adding - 1);
    for (; from < mPending.size(); ++from)
        mLines.push_back(mPending.at(from));
    endInsertRows();
    mPending.clear();
    emit LinesAdded();
}

int cMonitorModel::rowCount(const QModelIndex& Parent) const
{
    return Parent.isValid() ? 0 : int(mLines.size());
}

int cMonitorModel::columnCount(const QModelIndex& Parent) const
{
    return Parent.isValid() ? 0 : ColumnCount;
}

QVariant cMonitorModel::data(const QModelIndex& Index, int Role) const
{
    if (!Index.isValid() || Index.row() >= rowCount())
        return QVariant();
    const sMonitorLine& line = Line(Index.row());
    switch (Role)
    {
    case SideRole:
        return int(line.Side);
    case DirectionRole:
        return int(line.Direction);
    case KindRole:
        return Kind(line.Bytes);
    case BytesRole:
        return line.Bytes;
    case Qt::ToolTipRole:
        return Index.column() == SideColumn && line.Direction == eMonitorDirection::Held
                   ? tr("Not sent: the console is locked against the DAW")
                   : QVariant();
    case Qt::DisplayRole:
        break;
    default:
        return QVariant();
    }
    switch (Index.column())
    {
    case TimeColumn:
        return QString::number(line.Microseconds / 1e6, 'f', 3);
    case SideColumn:
    {
        const QString side = line.Side == eMonitorSide::Console ? tr("console") : tr("DAW");
        switch (line.Direction)
        {
        case eMonitorDirection::In:
            return tr("from %1").arg(side);
        case eMonitorDirection::Out:
            return tr("to %1").arg(side);
        case eMonitorDirection::Held:
            return tr("held back from %1").arg(side);
        }
        return side;
    }
    case PortColumn:
        return line.Port;
    case HexColumn:
        return QString::fromLatin1(line.Bytes.toHex(' '));
    case WordsColumn:
        return cMidiDescriber::Describe(line.Bytes);
    case RuleColumn:
        return line.Rule.isEmpty() ? tr("no rule") : line.Rule;
    default:
        return QVariant();
    }
}

QVariant cMonitorModel::headerData(int Section, Qt::Orientation Orientation, int Role) const
{
    if (Orientation != Qt::Horizontal || Role != Qt::DisplayRole)
        return QVariant();
    switch (Section)
    {
    case TimeColumn:
        return tr("Time (s)");
    case SideColumn:
        return tr("Direction");
    case PortColumn:
        return tr("Port");
    case HexColumn:
        return tr("Hex");
    case WordsColumn:
        return tr("Message");
    case RuleColumn:
        return tr("Map rule");
    default:
        return QVariant();
    }
}

QString cMonitorModel::LineText(int Row) const
{
    QStringList cells;
    for (int column = 0; column < ColumnCount; ++column)
        cells << data(index(Row, column)).toString();
    return cells.join(QLatin1Char('\t'));
}
