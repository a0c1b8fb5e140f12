#include "tools/bridge/SignalWatcher.h"

#include "Common/LogError.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace
{
int gPipe[2] = {-1, -1};

void Handler(int Signal)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(Signal);
    // Nothing to do when the pipe is full: a stop is already on its way.
    [[maybe_unused]] const ssize_t written = ::write(gPipe[1], &byte, 1);
    errno = saved;
}
} // namespace

cSignalWatcher::cSignalWatcher(QObject* Parent) : QObject(Parent)
{
    if (gPipe[0] >= 0)
    {
        LOG_ERROR("Only one signal watcher per process");
        return;
    }
    if (::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    {
        LOG_ERROR("Could not make the signal pipe: %s", std::strerror(errno));
        gPipe[0] = gPipe[1] = -1;
        return;
    }
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    if (::sigaction(SIGINT, &action, nullptr) != 0 || ::sigaction(SIGTERM, &action, nullptr) != 0)
    {
        LOG_ERROR("Could not install the SIGINT/SIGTERM handlers: %s", std::strerror(errno));
        return;
    }
    mNotifier = new QSocketNotifier(gPipe[0], QSocketNotifier::Read, this);
    connect(mNotifier, &QSocketNotifier::activated, this, &cSignalWatcher::PipeReadable);
}

cSignalWatcher::~cSignalWatcher()
{
    if (mNotifier != nullptr)
    {
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
    }
    delete mNotifier;
    if (gPipe[0] >= 0)
    {
        ::close(gPipe[0]);
        ::close(gPipe[1]);
        gPipe[0] = gPipe[1] = -1;
    }
}

void cSignalWatcher::PipeReadable()
{
    unsigned char byte = 0;
    int last = 0;
    while (::read(gPipe[0], &byte, 1) == 1)
        last = byte;
    if (last != 0)
        emit StopRequested(last);
}
