#include "frontends/terminal/WindowProgram.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// The folder this program runs from, as the kernel knows it.
std::string OwnFolder()
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0)
        return ".";
    const std::string self(path, static_cast<size_t>(length));
    return self.substr(0, self.find_last_of('/'));
}

} // namespace

int ExecWindowProgram(char** argv)
{
    const std::string folder = OwnFolder();
    const std::string candidates[] = {folder + "/window/horolab", folder + "/" HOROLAB_WINDOW_FROM_BINDIR};
    for (const std::string& program : candidates) {
        if (access(program.c_str(), X_OK) == 0) {
            execv(program.c_str(), argv);
            std::fprintf(stderr, "horolab: cannot start the window (%s): %s\n", program.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    std::fprintf(stderr, "horolab: the window program is missing (%s)\n", candidates[1].c_str());
    return 1;
}
