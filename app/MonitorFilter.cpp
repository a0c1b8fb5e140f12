#include "app/MonitorFilter.h"

void cMonitorFilter::SetSide(const eMonitorSide* Side)
{
    mAnySide = Side == nullptr;
    if (Side != nullptr)
        mSide = *Side;
    invalidateFilter();
}

void cMonitorFilter::SetKind(const QString& Kind)
{
    mKind = Kind;
    invalidateFilter();
}

bool cMonitorFilter::filterAcceptsRow(int SourceRow, const QModelIndex& SourceParent) const
{
    if (mAnySide && mKind.isEmpty())
        return true;
    const auto* model = static_cast<const cMonitorModel*>(sourceModel());
    if (SourceParent.isValid() || SourceRow >= model->rowCount())
        return false;
    const sMonitorLine& line = model->Line(SourceRow);
    return (mAnySide || line.Side == mSide) && (mKind.isEmpty() || cMonitorModel::Kind(line.Bytes) == mKind);
}
