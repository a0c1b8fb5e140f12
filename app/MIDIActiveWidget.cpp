#include "app/MIDIActiveWidget.h"

#include <QBrush>
#include <QColor>
#include <QPainter>
#include <QPen>

cMIDIActiveWidget::cMIDIActiveWidget(QWidget* Parent) : QWidget(Parent, Qt::WindowFlags()), mTimer(), mActive(false)
{
    mTimer.setInterval(kLitMs);
    mTimer.setSingleShot(true);
    connect(&mTimer, SIGNAL(timeout()), this, SLOT(TimerFired()));
}

void cMIDIActiveWidget::MIDIActive()
{
    mActive = true;
    mTimer.start();
    update();
}

void cMIDIActiveWidget::TimerFired()
{
    mActive = false;
    update();
}

void cMIDIActiveWidget::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(QPen(QColor(0, 0, 0, 255), 1));
    QBrush brush(QColor(0, 0, 0, 0), Qt::SolidPattern);
    painter.setBrush(brush);
    painter.drawRect(0, 0, width() - 1, height() - 1);
    if (mActive)
    {
        brush.setColor(QColor(0, 0, 0, 255));
        painter.setBrush(brush);
        painter.drawRect(2, 2, width() - 5, height() - 5);
    }
}
