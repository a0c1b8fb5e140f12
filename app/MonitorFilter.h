#pragma once
// What the monitor window shows of the history: one side (console or DAW) or both, one message
// kind or all. A view over cMonitorModel, owned by the monitor window; GUI thread only.

#include "app/MonitorModel.h"

#include <QSortFilterProxyModel>

class cMonitorFilter : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    // Null for both sides.
    void SetSide(const eMonitorSide* Side);
    // Empty for every kind; else one of cMonitorModel::Kinds().
    void SetKind(const QString& Kind);

protected:
    bool filterAcceptsRow(int SourceRow, const QModelIndex& SourceParent) const override;

private:
    bool mAnySide = true;
    eMonitorSide mSide = eMonitorSide::Console;
    QString mKind;
};
