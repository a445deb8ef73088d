#include "desktop/termination_signals.h"

#include <QSocketNotifier>
#include <QWidget>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace gw::desktop {

namespace {

// A signal handler may only write(); the main thread's loop reads the other end.
int signalPipe[2] = {-1, -1};

void OnSignal(int)
{
    const char byte = 1;
    static_cast<void>(::write(signalPipe[0], &byte, 1));
}

} // namespace

void CloseOnTermination(QWidget& window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0)
        return; // the default action still ends the program
    auto* notifier = new QSocketNotifier(signalPipe[1], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte = 0;
        static_cast<void>(::read(signalPipe[1], &byte, 1));
        window.close();
    });
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

} // namespace gw::desktop
