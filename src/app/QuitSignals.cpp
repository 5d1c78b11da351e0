#include "app/QuitSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace parlaro::app {

namespace {

std::atomic<int> writeEnd{-1};

// Only async-signal-safe calls: one write(2), errno kept for the code the
// signal interrupted.
void forwardSignal(int signal)
{
    const int saved = errno;
    const int fd = writeEnd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const unsigned char number = static_cast<unsigned char>(signal);
        // A full pipe already holds a pending quit; nothing is lost.
        [[maybe_unused]] const ssize_t written = ::write(fd, &number, 1);
    }
    errno = saved;
}

}  // namespace

QuitSignals::QuitSignals(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal))
{
    if (writeEnd.load() >= 0)
        throw std::logic_error("only one QuitSignals at a time");
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("cannot make the signal pipe");
    writeEnd.store(pipe_[1]);
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, [this] { readSignals(); });

    struct sigaction action = {};
    action.sa_handler = &forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(handled); ++i)
        ::sigaction(handled[i], &action, &previous_[i]);
}

QuitSignals::~QuitSignals()
{
    for (std::size_t i = 0; i < std::size(handled); ++i)
        ::sigaction(handled[i], &previous_[i], nullptr);
    writeEnd.store(-1);
    delete notifier_;
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void QuitSignals::readSignals()
{
    unsigned char numbers[64];
    for (;;) {
        const ssize_t count = ::read(pipe_[0], numbers, sizeof numbers);
        if (count <= 0)
            return;
        for (ssize_t i = 0; i < count; ++i) {
            if (onSignal_)
                onSignal_(numbers[i]);
        }
    }
}

}  // namespace parlaro::app
