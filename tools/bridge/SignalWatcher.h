#pragma once
// Turns SIGINT and SIGTERM into a Qt signal on the GUI thread, through a pipe written by the
// handler (the only safe thing a handler can do) and read by a socket notifier. One per process,
// made by the program's main.

#include <QObject>

class QSocketNotifier;

class cSignalWatcher : public QObject
{
    Q_OBJECT

public:
    explicit cSignalWatcher(QObject* Parent = nullptr);
    ~cSignalWatcher() override;

    // False when the pipe or the handlers could not be set up (then the default handlers stay).
    bool IsWatching() const { return mNotifier != nullptr; }

signals:
    void StopRequested(int Signal);

private:
    void PipeReadable();

    QSocketNotifier* mNotifier = nullptr;
};
