#pragma once
// A 10 by 10 lamp in the status bar of the preferences window that lights for 20 ms after each MIDI
// message: an empty black frame when off, a black square inside it when lit. Owned by the status
// bar; GUI thread only (the window's signals reach it queued from other threads).

#include <QTimer>
#include <QWidget>

class cMIDIActiveWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kLitMs = 20;

    explicit cMIDIActiveWidget(QWidget* Parent = nullptr);

    bool IsActive() const { return mActive; }

public slots:
    // Lights the lamp and starts the 20 ms again, so a steady stream keeps it lit. Draws nothing
    // itself: repaints requested in one event-loop pass are merged into one.
    void MIDIActive();

private slots:
    void TimerFired();

protected:
    void paintEvent(QPaintEvent* Event) override;

private:
    QTimer mTimer;
    bool mActive;
};
