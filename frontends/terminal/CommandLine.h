#pragma once
// The program's command line.
#include "audit/Audit.h"
#include "survey/Survey.h"

#include <string>
#include <vector>

enum class RunMode { Window, WindowQuery, WindowMonitor, Query, Nts, Monitor, Survey, Audit, Exporter, Help, Version, BadUsage };

struct CommandLine {
    RunMode mode = RunMode::Window;
    std::string server;
    std::vector<std::string> surveyed; // --survey's servers, the first one included
    int samples = SurveyDefaultSamples;
    std::string csvPath;
    long polls = 0; // 0: until stopped
    bool port123 = false;
    bool setTime = false;
    bool json = false;
    std::vector<std::string> ntsCaFiles; // trusted besides the system's store
    AuditGrade minGrade = AuditGrade::B; // --audit succeeds when every address reaches it
    int ntsPort = 4460;                  // --audit's key-exchange port
    std::string exporterAddress;      // "[ADDRESS:]PORT"
    std::vector<std::string> targets; // the servers the exporter answers for
    bool anyTarget = false;
    std::string error; // why the usage is bad
};

CommandLine ParseCommandLine(int argc, char** argv);
// The --help text.
std::string UsageText();
