#pragma once
// Widgets of the preferences window that are shown or hidden together when the connection mode
// changes. Held by value by the window; the widgets belong to the window. GUI thread only.

#include <QList>
#include <QObject>

class QWidget;

class cWidgetGroup : public QObject
{
    Q_OBJECT

public:
    explicit cWidgetGroup(QObject* Parent = nullptr);

    // Appends; a widget added twice is hidden and shown twice.
    void AddWidget(QWidget* Widget);
    void Hide();
    void Show();

private:
    QList<QWidget*> mWidgets;
};
