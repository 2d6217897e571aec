#include "interrupt.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace cli {

namespace {

int g_fds[2] = {-1, -1};

extern "C" void onSignal(int sig) {
    const int saved = errno;
    const unsigned char b = static_cast<unsigned char>(sig);
    // A full pipe already holds a signal the loop has not read: nothing is lost.
    [[maybe_unused]] const ssize_t n = ::write(g_fds[1], &b, 1);
    errno = saved;
}

void setHandler(int sig, void (*handler)(int)) {
    struct sigaction sa {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    ::sigaction(sig, &sa, nullptr);
}

} // namespace

Interrupt::Interrupt(QObject *parent) : QObject(parent) {
    if (g_fds[0] >= 0) return; // another one is installed
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_fds) != 0) {
        g_fds[0] = g_fds[1] = -1;
        return;
    }
    for (int fd : g_fds) {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    m_notifier = new QSocketNotifier(g_fds[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &Interrupt::onReadable);
    setHandler(SIGINT, onSignal);
    setHandler(SIGTERM, onSignal);
}

Interrupt::~Interrupt() {
    if (!m_notifier) return;
    setHandler(SIGINT, SIG_DFL);
    setHandler(SIGTERM, SIG_DFL);
    delete m_notifier;
    ::close(g_fds[0]);
    ::close(g_fds[1]);
    g_fds[0] = g_fds[1] = -1;
}

void Interrupt::onReadable() {
    unsigned char b = 0;
    bool got = false;
    while (::read(g_fds[0], &b, 1) == 1) {
        got = true;
        if (!m_signal) m_signal = b;
    }
    if (!got) return;
    const bool first = !m_raised;
    m_raised = true;
    if (first) emit raised();
}

} // namespace cli
