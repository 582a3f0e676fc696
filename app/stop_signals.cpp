#include "stop_signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <iterator>
#include <utility>

#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kStopSignals[] = { SIGINT, SIGTERM, SIGHUP };

// The socket end the handler writes to; one StopSignals at a time.
int g_writeEnd = -1;

// Async-signal-safe: one write, errno kept for the code it interrupted. A full socket drops the
// byte, which is no loss: the first signal is already waiting to be read.
void noteSignal(int signal)
{
    const int saved = errno;
    const auto number = static_cast<unsigned char>(signal);
    if (::write(g_writeEnd, &number, 1) < 0) {
        // Nothing to do inside a handler.
    }
    errno = saved;
}

void setAction(int signal, void (*handler)(int), struct sigaction *previous = nullptr)
{
    struct sigaction action { };
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, previous);
}

} // namespace

StopSignals::StopSignals(std::function<void()> onSignal)
    : m_onSignal(std::move(onSignal))
{
    // Non-blocking both ways: the handler never waits, nor does the reader once it is drained.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, m_ends) != 0)
        return;
    g_writeEnd = m_ends[0];
    m_notifier = std::make_unique<QSocketNotifier>(m_ends[1], QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readCaught(); });
    for (std::size_t i = 0; i < std::size(kStopSignals); ++i) {
        setAction(kStopSignals[i], noteSignal, &m_previous[i]);
        if (m_previous[i].sa_handler == SIG_IGN)
            ::sigaction(kStopSignals[i], &m_previous[i], nullptr);
    }
}

StopSignals::~StopSignals()
{
    if (m_notifier)
        for (std::size_t i = 0; i < std::size(kStopSignals); ++i)
            ::sigaction(kStopSignals[i], &m_previous[i], nullptr);
    m_notifier.reset();
    g_writeEnd = -1;
    for (const int end : m_ends)
        if (end >= 0)
            ::close(end);
}

void StopSignals::readCaught()
{
    unsigned char numbers[16];
    const ssize_t got = ::read(m_ends[1], numbers, sizeof numbers);
    if (got <= 0 || m_caught != 0)
        return;
    m_caught = numbers[0];
    m_onSignal();
}

void StopSignals::endAsCaught() const
{
    if (m_caught == 0)
        return;
    setAction(m_caught, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, m_caught);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(m_caught);
}
