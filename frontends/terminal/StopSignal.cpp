#include "frontends/terminal/StopSignal.h"

#include <atomic>
#include <csignal>

namespace {
std::atomic<bool> g_stopRequested{false};

void OnStopSignal(int) { g_stopRequested = true; }
} // namespace

void CatchStopSignals()
{
    struct sigaction action{};
    action.sa_handler = OnStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool StopRequested() { return g_stopRequested; }
