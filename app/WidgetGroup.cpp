#include "app/WidgetGroup.h"

#include <QWidget>

cWidgetGroup::cWidgetGroup(QObject* Parent) : QObject(Parent) {}

void cWidgetGroup::AddWidget(QWidget* Widget)
{
    mWidgets.append(Widget);
}

void cWidgetGroup::Hide()
{
    for (QWidget* widget : qAsConst(mWidgets))
        widget->hide();
}

void cWidgetGroup::Show()
{
    for (QWidget* widget : qAsConst(mWidgets))
        widget->show();
}
