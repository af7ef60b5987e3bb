#pragma once
#include <cstdlib>

// Where the suite saves its screenshots: $HOROLAB_SCREENSHOT_DIR when set,
// else the build tree's screenshots/ folder.
inline const char* ScreenshotDir()
{
    const char* dir = std::getenv("HOROLAB_SCREENSHOT_DIR");
    return dir && *dir ? dir : HOROLAB_DEFAULT_SCREENSHOT_DIR;
}
