#include "SignalWatcher.h"

#ifdef Q_OS_UNIX
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#endif

namespace r310 {

#ifdef Q_OS_UNIX

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
    (void)ignored;
}

void SetHandler(void (*handler)(int), int flags)
{
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = flags;
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
}

} // namespace

SignalWatcher::SignalWatcher(QObject *parent) : QObject(parent)
{
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    // The handler goes back to the default after the first signal, so a
    // second Ctrl+C ends a program that does not stop.
    SetHandler(OnSignal, SA_RESTART | SA_RESETHAND);
    notifier_ = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &SignalWatcher::takeSignal);
}

SignalWatcher::~SignalWatcher()
{
    if (notifier_)
        SetHandler(SIG_DFL, 0);
}

bool SignalWatcher::Pending()
{
    if (signalPipe[0] < 0)
        return false;
    pollfd watched{signalPipe[0], POLLIN, 0};
    return ::poll(&watched, 1, 0) > 0 && (watched.revents & POLLIN);
}

void SignalWatcher::takeSignal()
{
    char byte = 0;
    while (::read(signalPipe[0], &byte, 1) > 0) {
    }
    emit signalled();
}

#else
// Elsewhere Ctrl+C keeps its default action and ends the program.
SignalWatcher::SignalWatcher(QObject *parent) : QObject(parent) {}
SignalWatcher::~SignalWatcher() = default;
bool SignalWatcher::Pending() { return false; }
void SignalWatcher::takeSignal() {}
#endif

} // namespace r310
