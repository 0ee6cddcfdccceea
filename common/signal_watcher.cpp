#include "signal_watcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A handler may do next to nothing; it writes the signal number into a
// pipe that the event loop watches (the self-pipe trick).
int wakePipe[2] = {-1, -1};

void onSignal(int signalNumber)
{
    const int savedErrno = errno;
    const char byte = char(signalNumber);
    const ssize_t written = ::write(wakePipe[1], &byte, 1);
    Q_UNUSED(written);
    errno = savedErrno;
}

void setHandler(int signalNumber, void (*handler)(int))
{
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(signalNumber, &action, nullptr);
}

} // namespace

SignalWatcher::SignalWatcher(std::initializer_list<int> signalNumbers, QObject *parent)
    : QObject(parent)
    , m_signalNumbers(signalNumbers)
{
    Q_ASSERT_X(wakePipe[0] < 0, "SignalWatcher", "only one watcher at a time");
    if (::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        qFatal("SignalWatcher: cannot create a pipe");
    m_notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::readPipe);
    for (const int signalNumber : signalNumbers)
        setHandler(signalNumber, onSignal);
}

SignalWatcher::~SignalWatcher()
{
    for (const int signalNumber : std::as_const(m_signalNumbers))
        setHandler(signalNumber, m_caught ? SIG_IGN : SIG_DFL);
    delete m_notifier;
    ::close(wakePipe[0]);
    ::close(wakePipe[1]);
    wakePipe[0] = wakePipe[1] = -1;
}

void SignalWatcher::readPipe()
{
    char byte;
    while (::read(wakePipe[0], &byte, 1) == 1) {
        if (m_caught)
            continue;
        m_caught = true;
        for (const int signalNumber : std::as_const(m_signalNumbers))
            setHandler(signalNumber, SIG_IGN);
        emit caught(int(byte));
    }
}
