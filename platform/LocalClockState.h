#pragma once
// Whether this computer's clock is kept synchronised, as the kernel's clock
// discipline says: only then can a server's offset against it be judged.

struct LocalClockState {
    bool synchronised = false; // STA_UNSYNC clear
    double maxErrorSeconds = 0; // the kernel's bound on its own error
};

// The kernel's view (adjtimex, reading only: no privilege needed).
LocalClockState ReadLocalClockState();
