#include "SignalNotifier.h"

#include <QSocketNotifier>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
// The only state a signal handler may touch: where each signal's number goes (the pipe's write
// end plus one, so that the zero it starts with means nowhere), and the handler that was there
// before us (chained, so that a library's own SIGCHLD handler keeps working).
std::array<std::atomic<int>, NSIG> writeEndFor{};
std::array<struct sigaction, NSIG> previousAction{};

void onSignal(int signalNumber, siginfo_t *info, void *context) {
    const int savedErrno = errno;
    const int fd = writeEndFor[static_cast<size_t>(signalNumber)].load() - 1;
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t ignored = write(fd, &byte, 1);
    }
    const struct sigaction &previous = previousAction[static_cast<size_t>(signalNumber)];
    if (previous.sa_flags & SA_SIGINFO) {
        if (previous.sa_sigaction)
            previous.sa_sigaction(signalNumber, info, context);
    } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN &&
               previous.sa_handler) {
        previous.sa_handler(signalNumber);
    }
    errno = savedErrno;
}
} // namespace

SignalNotifier::SignalNotifier(std::initializer_list<int> signalNumbers, Delivery delivery,
                               QObject *parent)
    : QObject(parent) {
    if (pipe(m_pipe) != 0)
        return; // no pipe, no handlers: the signals keep their default actions
    for (int fd : m_pipe) {
        fcntl(fd, F_SETFD, FD_CLOEXEC);
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    }
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    QObject::connect(m_notifier, &QSocketNotifier::activated, this, &SignalNotifier::drain);

    for (int signalNumber : signalNumbers) {
        if (signalNumber <= 0 || signalNumber >= NSIG)
            continue;
        writeEndFor[static_cast<size_t>(signalNumber)].store(m_pipe[1] + 1);
        struct sigaction action {};
        action.sa_sigaction = onSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_SIGINFO | SA_RESTART;
        if (signalNumber == SIGCHLD)
            action.sa_flags |= SA_NOCLDSTOP;
        if (delivery == Delivery::FirstOnly)
            action.sa_flags |= SA_RESETHAND;
        if (sigaction(signalNumber, &action, &previousAction[static_cast<size_t>(signalNumber)]) ==
            0)
            m_signals.push_back(signalNumber);
    }
}

SignalNotifier::~SignalNotifier() {
    for (int signalNumber : m_signals) {
        sigaction(signalNumber, &previousAction[static_cast<size_t>(signalNumber)], nullptr);
        writeEndFor[static_cast<size_t>(signalNumber)].store(0);
    }
    for (int fd : m_pipe) {
        if (fd >= 0)
            close(fd);
    }
}

void SignalNotifier::drain() {
    unsigned char buffer[64];
    for (;;) {
        const ssize_t count = read(m_pipe[0], buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return;
        for (ssize_t i = 0; i < count; ++i)
            emit received(buffer[i]);
    }
}
