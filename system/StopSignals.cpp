// SPDX-License-Identifier: GPL-2.0-or-later
#include "StopSignals.h"

#include <cerrno>
#include <csignal>
#include <iterator>
#include <stdexcept>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

volatile std::sig_atomic_t g_requested = 0;
int g_pipe[2] = {-1, -1};
struct sigaction g_previous[std::size(kSignals)];

extern "C" void OnStopSignal(int)
{
    const int saved = errno;
    g_requested = 1;
    const char byte = 1;
    // A full pipe already says what this byte would.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

} // namespace

void IgnoreFileSizeSignal()
{
    std::signal(SIGXFSZ, SIG_IGN);
}

StopSignals::StopSignals()
{
    if (g_pipe[0] >= 0)
        throw std::logic_error("stop signals are already watched");
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error("cannot watch for stop signals: no pipe");
    g_requested = 0;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    ::sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &action, &g_previous[i]);
}

StopSignals::~StopSignals()
{
    for (std::size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &g_previous[i], nullptr);
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
    g_requested = 0;
}

bool StopSignals::Requested()
{
    return g_requested != 0;
}

void StopSignals::Clear()
{
    char drain[64];
    while (g_pipe[0] >= 0 && ::read(g_pipe[0], drain, sizeof drain) > 0) {
    }
    g_requested = 0;
}

int StopSignals::Descriptor()
{
    return g_pipe[0];
}
