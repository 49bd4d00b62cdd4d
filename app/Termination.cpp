#include "app/Termination.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <unistd.h>

namespace {

volatile sig_atomic_t requested = 0;
int wakeUp[2] = {-1, -1};

void OnTerminationSignal(int)
{
    requested = 1;
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wakeUp[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

void InstallTerminationHandler()
{
    if (wakeUp[0] >= 0)
        return;
    if (::pipe2(wakeUp, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    // The signal only writes a byte; the main thread's event loop reads it and ends the loops.
    auto *notifier = new QSocketNotifier(wakeUp[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char bytes[16];
        while (::read(wakeUp[0], bytes, sizeof(bytes)) > 0) {
        }
        // exit() rather than quit(): it also ends loops that run before the main loop, such as
        // the box of a second copy.
        QCoreApplication::exit(0);
    });

    struct sigaction action{};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

bool TerminationRequested()
{
    return requested != 0;
}
