#include "frontends/terminal/CommandLine.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <getopt.h>
#include <initializer_list>
#include <optional>

namespace {

enum LongOnly {
    OptPort123 = 256,
    OptSetTime,
    OptJson,
    OptMonitor,
    OptPolls,
    OptCsv,
    OptJitterMonitor,
    OptVersion,
    OptNts,
    OptNtsCa,
    OptSurvey,
    OptSamples,
    OptExporter,
    OptTarget,
    OptAnyTarget,
    OptAudit,
    OptMinGrade,
    OptNtsPort,
};
// More samples than this would keep one survey going for over half an hour.
constexpr long MaxSamples = 1000;

const option LongOptions[] = {
    {"query", required_argument, nullptr, 'q'},
    {"nts", required_argument, nullptr, OptNts},
    {"nts-ca", required_argument, nullptr, OptNtsCa},
    {"monitor", required_argument, nullptr, OptMonitor},
    {"jitter-monitor", no_argument, nullptr, OptJitterMonitor},
    {"survey", required_argument, nullptr, OptSurvey},
    {"samples", required_argument, nullptr, OptSamples},
    {"audit", required_argument, nullptr, OptAudit},
    {"min-grade", required_argument, nullptr, OptMinGrade},
    {"nts-port", required_argument, nullptr, OptNtsPort},
    {"polls", required_argument, nullptr, OptPolls},
    {"csv", required_argument, nullptr, OptCsv},
    {"port-123", no_argument, nullptr, OptPort123},
    {"set-time", no_argument, nullptr, OptSetTime},
    {"json", no_argument, nullptr, OptJson},
    {"exporter", required_argument, nullptr, OptExporter},
    {"target", required_argument, nullptr, OptTarget},
    {"any-target", no_argument, nullptr, OptAnyTarget},
    {"help", no_argument, nullptr, 'h'},
    {"version", no_argument, nullptr, OptVersion},
    {nullptr, 0, nullptr, 0},
};

// getopt's failure in the user's words: the option as typed (not the word
// getopt was at, which inside "-xq" is the one before), and a value given
// with '=' to an option that takes none said as such.
std::string OptionError(int failure, char** argv)
{
    const std::string word = argv[optind - 1];
    // A long option's failure names no short letter: 0 when unknown, else
    // the option's own value (a long-only one, or -h's for "--help=1").
    const bool isLong =
        word.rfind("--", 0) == 0 && (optopt == 0 || optopt > 0xFF || optopt == 'h' || failure == ':');
    const std::string typed = isLong ? word.substr(0, word.find('=')) : std::string("-") + static_cast<char>(optopt);
    if (failure == ':')
        return "option '" + typed + "' needs an argument";
    if (isLong && optopt != 0)
        return "option '" + typed + "' takes no value";
    return "unknown option '" + typed + "'";
}

// `text` as a whole number from `low` to `high`; none when it is not one.
std::optional<long> WholeNumber(const char* text, long low, long high)
{
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < low || value > high)
        return std::nullopt;
    return value;
}

CommandLine Bad(const std::string& why)
{
    CommandLine line;
    line.mode = RunMode::BadUsage;
    line.error = why;
    return line;
}

bool In(RunMode mode, std::initializer_list<RunMode> modes)
{
    return std::find(modes.begin(), modes.end(), mode) != modes.end();
}

// Which options belong to which mode; anything else is bad usage.
std::string CheckCombination(const CommandLine& line, bool pollsGiven, bool samplesGiven, bool auditOptions)
{
    if (auditOptions && line.mode != RunMode::Audit)
        return "--min-grade and --nts-port need --audit";
    const bool terminal = In(line.mode, {RunMode::Query, RunMode::Nts, RunMode::Monitor});
    if (line.json && !In(line.mode, {RunMode::Query, RunMode::Nts, RunMode::Survey, RunMode::Audit}))
        return "--json needs --query, --nts, --survey or --audit";
    if (!line.ntsCaFiles.empty() && !In(line.mode, {RunMode::Nts, RunMode::Exporter, RunMode::Audit}))
        return "--nts-ca needs --nts, --audit or --exporter";
    if (samplesGiven && line.mode != RunMode::Survey)
        return "--samples needs --survey";
    if ((pollsGiven || !line.csvPath.empty()) && line.mode != RunMode::Monitor)
        return "--polls and --csv need --monitor";
    if ((line.port123 || line.setTime) && !terminal)
        return "--port-123 and --set-time need --query, --nts or --monitor";
    const bool allowed = !line.targets.empty() || line.anyTarget;
    if (allowed && line.mode != RunMode::Exporter)
        return "--target and --any-target need --exporter";
    if (line.mode == RunMode::Exporter && !allowed)
        return "--exporter needs --target SERVER (once a server) or --any-target";
    return {};
}

} // namespace

CommandLine ParseCommandLine(int argc, char** argv)
{
    CommandLine line;
    bool pollsGiven = false;
    bool samplesGiven = false;
    bool auditOptions = false;
    int modes = 0;
    opterr = 0; // the messages below say it in the program's words
    optind = 1;
    int option;
    while ((option = getopt_long(argc, argv, ":q:h", LongOptions, nullptr)) != -1) {
        switch (option) {
        case 'q': line.mode = RunMode::Query; line.server = optarg; ++modes; break;
        case OptNts: line.mode = RunMode::Nts; line.server = optarg; ++modes; break;
        case OptNtsCa: line.ntsCaFiles.push_back(optarg); break;
        case OptMonitor: line.mode = RunMode::Monitor; line.server = optarg; ++modes; break;
        case OptSurvey: line.mode = RunMode::Survey; line.surveyed = {optarg}; ++modes; break;
        case OptAudit: line.mode = RunMode::Audit; line.server = optarg; ++modes; break;
        case OptMinGrade:
            if (!ParseAuditGrade(optarg, line.minGrade))
                return Bad(std::string("--min-grade needs A+, A, B, C or F, not '") + optarg + "'");
            auditOptions = true;
            break;
        case OptNtsPort: {
            const std::optional<long> port = WholeNumber(optarg, 1, 65535);
            if (!port)
                return Bad(std::string("--nts-port needs a port from 1 to 65535, not '") + optarg + "'");
            line.ntsPort = static_cast<int>(*port);
            auditOptions = true;
            break;
        }
        case OptJitterMonitor: line.mode = RunMode::WindowMonitor; ++modes; break;
        case OptExporter: line.mode = RunMode::Exporter; line.exporterAddress = optarg; ++modes; break;
        case OptTarget: line.targets.push_back(optarg); break;
        case OptAnyTarget: line.anyTarget = true; break;
        case 'h': line.mode = RunMode::Help; ++modes; break;
        case OptVersion: line.mode = RunMode::Version; ++modes; break;
        case OptPort123: line.port123 = true; break;
        case OptSetTime: line.setTime = true; break;
        case OptJson: line.json = true; break;
        case OptCsv: line.csvPath = optarg; break;
        case OptPolls: {
            const std::optional<long> polls = WholeNumber(optarg, 1, LONG_MAX);
            if (!polls)
                return Bad(std::string("--polls needs a whole number of at least 1, not '") + optarg + "'");
            line.polls = *polls;
            pollsGiven = true;
            break;
        }
        case OptSamples: {
            const std::optional<long> samples = WholeNumber(optarg, 1, MaxSamples);
            if (!samples)
                return Bad("--samples needs a whole number from 1 to " + std::to_string(MaxSamples) + ", not '" +
                           optarg + "'");
            line.samples = static_cast<int>(*samples);
            samplesGiven = true;
            break;
        }
        default: return Bad(OptionError(option, argv));
        }
    }
    if (modes > 1)
        return Bad("choose one of --query, --nts, --monitor, --survey, --audit, --jitter-monitor, --exporter, --help, "
                   "--version");
    if (line.mode == RunMode::Survey) // every further server is surveyed too
        for (int n = optind; n < argc; ++n)
            line.surveyed.push_back(argv[n]);
    const int operands = line.mode == RunMode::Survey ? 0 : argc - optind;
    if (operands > 1)
        return Bad("one server at most");
    if (operands == 1) {
        if (line.mode == RunMode::Window)
            line.mode = RunMode::WindowQuery;
        else if (line.mode != RunMode::WindowMonitor)
            return Bad(std::string("unexpected argument '") + argv[optind] + "'");
        line.server = argv[optind];
    }
    const std::string why = CheckCombination(line, pollsGiven, samplesGiven, auditOptions);
    return why.empty() ? line : Bad(why);
}

std::string UsageText()
{
    return "Usage: horolab [SERVER[:PORT]]\n"
           "       horolab --jitter-monitor [SERVER[:PORT]]\n"
           "       horolab -q|--query SERVER[:PORT] [--port-123] [--set-time] [--json]\n"
           "       horolab --nts SERVER[:PORT] [--nts-ca FILE]... [--port-123] [--set-time] [--json]\n"
           "       horolab --monitor SERVER[:PORT] [--polls N] [--csv FILE] [--port-123] [--set-time]\n"
           "       horolab --survey SERVER[:PORT] [SERVER[:PORT]...] [--samples N] [--json]\n"
           "       horolab --audit SERVER[:PORT] [--nts-port PORT] [--nts-ca FILE]... [--min-grade G] [--json]\n"
           "       horolab --exporter [ADDRESS:]PORT --target SERVER[:PORT]... | --any-target [--nts-ca FILE]...\n"
           "       horolab --help | --version\n"
           "\n"
           "Without options the window opens; with SERVER it queries that server at once.\n"
           "  -q, --query SERVER    query once without a window and print the report\n"
           "      --nts SERVER      check the server's Network Time Security: key exchange\n"
           "                        (PORT, default 4460), two authenticated NTP exchanges\n"
           "      --nts-ca FILE     trust the PEM certificates in FILE too (repeatable)\n"
           "      --json            print the answer (the NTS check, the survey) as JSON\n"
           "      --monitor SERVER  run the jitter monitor in the terminal until Ctrl-C\n"
           "      --polls N         stop the monitor after N polls\n"
           "      --csv FILE        record every good poll in FILE (emptied first)\n"
           "      --survey SERVER   query every IPv4 and IPv6 address of each SERVER a few times,\n"
           "                        all at once, and name the ones whose time disagrees\n"
           "      --samples N       requests to each address, 2 s apart (default 4)\n"
           "      --audit SERVER    grade every address of SERVER: answers, leap indicator, mode 6\n"
           "                        and mode 7 exposure, rate limiting (a burst of 12 requests),\n"
           "                        NTS, IPv4/IPv6 agreement. Meant for one's own servers.\n"
           "      --nts-port PORT   the audited server's NTS key-exchange port (default 4460)\n"
           "      --min-grade G     the grade every address must reach: A+, A, B, C, F (default B)\n"
           "      --jitter-monitor  open the window with the jitter monitor running\n"
           "      --exporter [ADDRESS:]PORT\n"
           "                        serve Prometheus metrics over HTTP (on 127.0.0.1 unless\n"
           "                        ADDRESS is given): /metrics?target=SERVER[:PORT]\n"
           "      --target SERVER   a server the exporter may be asked about (repeatable)\n"
           "      --any-target      let the exporter be asked about any server\n"
           "      --port-123        send from port 123\n"
           "      --set-time        set the system clock from the answer\n"
           "  -h, --help            show this text\n"
           "      --version         show the version\n"
           "\n"
           "Exit status: 0 success, 1 the query failed (with --nts: anything but a verified,\n"
           "authenticated answer from a server whose NTS works), 2 bad usage. A survey\n"
           "succeeds when more than half of the addresses that answered agree on the time;\n"
           "an audit when every address reaches --min-grade.\n";
}
