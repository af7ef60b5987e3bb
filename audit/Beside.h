#pragma once
// Pieces of work at once: the first here, each other one on a thread of its
// own; all have ended on return. Without a thread to be had, a piece runs
// here in its turn.
#include <functional>
#include <system_error>
#include <thread>
#include <vector>

inline void RunTogether(const std::vector<std::function<void()>>& work)
{
    std::vector<std::thread> workers;
    for (size_t n = 1; n < work.size(); ++n) {
        try {
            workers.emplace_back(work[n]);
        } catch (const std::system_error&) {
            work[n]();
        }
    }
    if (!work.empty())
        work.front()();
    for (std::thread& worker : workers)
        worker.join();
}
