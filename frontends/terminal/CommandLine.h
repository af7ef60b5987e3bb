#pragma once
// The program's command line.
#include <string>

enum class RunMode { Window, WindowQuery, WindowMonitor, Query, Monitor, Help, Version, BadUsage };

struct CommandLine {
    RunMode mode = RunMode::Window;
    std::string server;
    std::string csvPath;
    long polls = 0; // 0: until stopped
    bool port123 = false;
    bool setTime = false;
    bool json = false;
    std::string error; // why the usage is bad
};

CommandLine ParseCommandLine(int argc, char** argv);
// The --help text.
std::string UsageText();
