#include "async/SignalPipe.h"

#include <csignal>
#include <fcntl.h>
#include <stdexcept>
#include <unistd.h>

namespace quorral::async {
namespace {

int pipeFds[2] = {-1, -1};

void onSignal(int signal)
{
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const auto written = ::write(pipeFds[1], &byte, 1);
}

} // namespace

SignalPipe::SignalPipe(std::initializer_list<int> signalNumbers, QObject *parent) : QObject(parent), m_signals(signalNumbers)
{
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("cannot set up the signal handler");
    m_notifier = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, [this] {
        unsigned char byte = 0;
        while (::read(pipeFds[0], &byte, 1) == 1)
            Q_EMIT received(byte);
    });
    for (int s : m_signals)
        std::signal(s, onSignal);
}

SignalPipe::~SignalPipe()
{
    for (int s : m_signals)
        std::signal(s, SIG_DFL);
    m_notifier.reset();
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

} // namespace quorral::async
