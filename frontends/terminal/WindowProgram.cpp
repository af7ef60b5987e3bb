#include "frontends/terminal/WindowProgram.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <unistd.h>

namespace {

// The folder this program runs from, as the kernel knows it; none when the
// kernel does not say (no /proc): a guess could start some other program.
std::optional<std::string> OwnFolder()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return std::nullopt;
    const std::string self(path, static_cast<size_t>(length));
    return self.substr(0, self.find_last_of('/'));
}

bool IsSet(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

} // namespace

bool ReportMissingDisplay()
{
    if (IsSet("DISPLAY") || IsSet("WAYLAND_DISPLAY") || IsSet("QT_QPA_PLATFORM"))
        return false;
    std::fputs("horolab: no display for the window (DISPLAY and WAYLAND_DISPLAY are unset); "
               "use --query SERVER in a terminal, or run it under xvfb-run\n",
               stderr);
    return true;
}

int ExecWindowProgram(char** argv)
{
    const std::optional<std::string> folder = OwnFolder();
    if (!folder) {
        std::fprintf(stderr, "horolab: cannot find the window program: /proc/self/exe does not say where "
                             "this program is (%s)\n", std::strerror(errno));
        return 1;
    }
    // The installed place first: an installed copy must not start a build tree's window.
    const std::string candidates[] = {*folder + "/" HOROLAB_WINDOW_FROM_BINDIR, *folder + "/window/horolab"};
    for (const std::string& program : candidates) {
        if (access(program.c_str(), X_OK) == 0) {
            execv(program.c_str(), argv);
            std::fprintf(stderr, "horolab: cannot start the window (%s): %s\n", program.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    std::fprintf(stderr, "horolab: the window program is missing (%s)\n", candidates[0].c_str());
    return 1;
}
