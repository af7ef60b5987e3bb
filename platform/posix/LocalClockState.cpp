#include "platform/LocalClockState.h"

#include <sys/timex.h>

LocalClockState ReadLocalClockState()
{
    timex state{};
    const int status = ::adjtimex(&state); // modes 0: nothing is changed
    LocalClockState local;
    local.synchronised = status != -1 && status != TIME_ERROR && (state.status & STA_UNSYNC) == 0;
    local.maxErrorSeconds = static_cast<double>(state.maxerror) / 1e6;
    return local;
}
