#pragma once
// Two pieces of work at once: `side` on a thread of its own while `main`
// runs here; both have ended on return. Without a thread to be had, one
// after the other.
#include <functional>
#include <system_error>
#include <thread>

inline void RunBeside(const std::function<void()>& side, const std::function<void()>& main)
{
    std::thread worker;
    try {
        worker = std::thread(side);
    } catch (const std::system_error&) {
        side();
    }
    main();
    if (worker.joinable())
        worker.join();
}
