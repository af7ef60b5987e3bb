#include "frontends/exporter/ProcessFigures.h"

#include <dirent.h>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>

ProcessFigures ReadProcessFigures()
{
    ProcessFigures figures;
    rusage usage{};
    if (getrusage(RUSAGE_SELF, &usage) == 0)
        figures.cpuSeconds = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                             static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    // Total and resident size in pages.
    std::ifstream statm("/proc/self/statm");
    double pages = 0.0, resident = 0.0;
    if (statm >> pages >> resident) {
        const double pageSize = static_cast<double>(sysconf(_SC_PAGESIZE));
        figures.virtualBytes = pages * pageSize;
        figures.residentBytes = resident * pageSize;
    }
    if (DIR* fds = opendir("/proc/self/fd")) {
        while (const dirent* entry = readdir(fds))
            figures.openFds += entry->d_name[0] != '.';
        closedir(fds);
        figures.openFds -= 1; // the directory's own
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0)
        figures.maxFds = static_cast<double>(limit.rlim_cur);
    return figures;
}
