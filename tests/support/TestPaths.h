#pragma once
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

// Where the suite saves its screenshots: $HOROLAB_SCREENSHOT_DIR when set,
// else the build tree's screenshots/ folder.
inline const char* ScreenshotDir()
{
    const char* dir = std::getenv("HOROLAB_SCREENSHOT_DIR");
    return dir && *dir ? dir : HOROLAB_DEFAULT_SCREENSHOT_DIR;
}

// The port the chronyd fixture serves on ($HOROLAB_CHRONY_DIR/port, or
// .../ipv6/port for the one on ::1), as the operator would type it after the
// colon; empty when the fixture is not up.
inline std::string ChronyPort(const std::string& subdir = "")
{
    const char* dir = std::getenv("HOROLAB_CHRONY_DIR");
    if (!dir)
        return {};
    std::ifstream file(std::string(dir) + subdir + "/port");
    std::string port;
    std::getline(file, port);
    return port;
}

// A folder of the temporary directory that is this test process's own, so
// that tests running side by side (and other runs of the suite) never share
// a daemon's files.
inline std::string ProcessTempDir(const std::string& name)
{
    return ::testing::TempDir() + name + "." + std::to_string(getpid());
}
