#pragma once
// A dialog on the in-memory window and clock, with the real sockets behind a
// layer that can inject failures: the set-up of the transport tests. Waits
// that hear nothing pass on the fake clock, so time-outs take no real seconds.
#include "fakes/FakeClock.h"
#include "fakes/FakeWindow.h"
#include "support/FaultySockets.h"
#include "ui/ControlIds.h"
#include "ui/TikkaraDlg.h"

#include <chrono>
#include <string>

struct DialogRig {
    FakeWindow window;
    FakeClock clock;
    FaultySockets sockets;
    CTikkaraDlg dialog{window, sockets, clock};

    DialogRig() { sockets.UseVirtualWaits(clock); }

    // Opens a socket as a query does and points the dialog at `serverText`
    // through the server box.
    bool Connect(const std::string& serverText)
    {
        window.SetText(IDC_SERVER, serverText);
        return dialog.OpenSocket() && dialog.SetServer("");
    }

    // Sends a default request and waits for its answer.
    bool Exchange(CNtpMsg& reply, int timeoutSeconds = 2, bool logErrors = true)
    {
        if (dialog.SendRequest(dialog.Engine().NewRequest(false)) < 0)
            return false;
        return dialog.ReceiveReply(reply, timeoutSeconds, logErrors);
    }

    // Seconds that pass on the rig's clock during `work`: the real ones and
    // the waits that passed without waiting.
    template <typename Work>
    double ClockSecondsTaken(Work work)
    {
        const int64_t start = clock.MonotonicMicroseconds();
        work();
        return (clock.MonotonicMicroseconds() - start) / 1e6;
    }
};

// Seconds taken by `work`.
template <typename Work>
double SecondsTaken(Work work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
