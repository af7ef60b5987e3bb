// Surveys against what politeness allows, (samples - 1) spacings plus the
// slowest exchange, four samples an address: eight chronyd on loopback (one
// port, 127.0.0.11 to .18), then 1,000 loopback addresses that one scripted
// responder answers for, with the threads and memory it takes. Each in
// process (getrusage of the process, which runs nothing else), then as
// `horolab --survey` as a shell runs it, process start included.
//   scripts/chronyd-fixture.sh start-many DIR 127.0.0.11 ... 127.0.0.18
//   survey_bench DIR [RUNS]   (horolab is found beside bench/)
#include "BenchStats.h"
#include "support/LoopbackResponder.h"

#include "survey/Survey.h"


namespace {

constexpr int Samples = SurveyDefaultSamples;
constexpr int Servers = 8;
constexpr double WallGoal = 1.1;  // times the polite minimum
constexpr double CpuGoalMs = 20;
constexpr int ManyAddresses = 1000;
constexpr int MaxThreads = 4;
constexpr long MemoryGoalKiB = 64 * 1024;

std::vector<std::string> ServerTexts(const std::string& port)
{
    std::vector<std::string> texts;
    for (int n = 0; n < Servers; ++n)
        texts.push_back("127.0.0." + std::to_string(11 + n) + ":" + port);
    return texts;
}

// The longest any one exchange of the survey took, send to arrival or time-out.
double SlowestExchangeSeconds(const SurveyResult& survey)
{
    double slowest = 0;
    for (const SurveyAddress& a : survey.addresses)
        for (const NtpExchange& e : a.samples)
            slowest = std::max(slowest, e.Answered() ? NtpSecondsBetween(e.arrivedAt, e.sentAt) : 2.0);
    return slowest;
}

bool AllTruechimers(const SurveyResult& survey, size_t count)
{
    for (const SurveyAddress& a : survey.addresses)
        if (a.state != SurveyState::Truechimer || a.usable != Samples)
            return false;
    return survey.addresses.size() == count;
}

// 127.1.0.1 onwards, 250 to a /24, all on the responder's port.
std::vector<std::string> ManyServerTexts(uint16_t port)
{
    std::vector<std::string> texts;
    for (int n = 0; n < ManyAddresses; ++n)
        texts.push_back("127.1." + std::to_string(n / 250) + "." + std::to_string(n % 250 + 1) + ":" +
                        std::to_string(port));
    return texts;
}

// The wall time against the polite minimum, and the CPU (against its goal
// unless that is 0); true when met and sound.
bool Report(const char* label, const SurveyResult& survey, size_t count, double wall, double cpuMs, double cpuGoalMs)
{
    const double slowest = SlowestExchangeSeconds(survey);
    const double spacings = (Samples - 1) * SurveySpacingMs / 1000.0;
    const double polite = spacings + slowest;
    const bool wallMet = wall <= WallGoal * spacings + slowest;
    const bool cpuMet = cpuGoalMs <= 0 || cpuMs < cpuGoalMs;
    const bool sound = AllTruechimers(survey, count);
    std::printf("  %s: wall %.4f s = %.4f x the polite minimum %.4f s (slowest exchange %.3f ms); "
                "goal <= %.1f x spacings + slowest: %s\n",
                label, wall, wall / polite, polite, slowest * 1e3, WallGoal, bench::Verdict(wallMet));
    const std::string goal = cpuGoalMs > 0 ? bench::Verdict(cpuMet) + std::string(" (goal < ") +
                                                 std::to_string(static_cast<int>(cpuGoalMs)) + " ms)"
                                           : "reported";
    std::printf("         CPU %.2f ms, %s; %s\n", cpuMs, goal.c_str(),
                sound ? "every address a truechimer, every sample answered" : "NOT every address a truechimer");
    return wallMet && cpuMet && sound;
}

// 1,000 addresses: the threads and the memory they take stay those of a few.
bool RunMany(const std::string& horolab)
{
    CLoopbackResponder responder; // a child process: none of this one's threads
    if (responder.Port() == 0) {
        std::fprintf(stderr, "no loopback responder\n");
        return false;
    }
    const std::vector<std::string> texts = ManyServerTexts(responder.Port());
    std::printf("== Survey of %d loopback addresses (one responder), %d samples each\n", ManyAddresses, Samples);
    CExchangeEngine engine(PosixSockets(), SystemClock());
    long peakThreads = 0;
    double lastLook = 0;
    const double cpuBefore = bench::ProcessCpuSeconds();
    const double start = bench::NowUs();
    SurveyResult survey = ResolveSurvey(engine, texts);
    RunSurvey(engine, survey, Samples, [&] {
        // A look every 50 ms at most: reading the status file costs too.
        if (bench::NowUs() - lastLook > 50000) {
            lastLook = bench::NowUs();
            peakThreads = std::max(peakThreads, bench::StatusNumber("self", "Threads:"));
        }
        return true;
    });
    const double wall = (bench::NowUs() - start) / 1e6;
    bool met = Report("in process", survey, ManyAddresses, wall, (bench::ProcessCpuSeconds() - cpuBefore) * 1e3, 0);
    const long peakKiB = bench::ResidentKiB("self", "VmHWM:");
    const bool threadsMet = peakThreads <= MaxThreads;
    const bool memoryMet = peakKiB < MemoryGoalKiB;
    std::printf("         threads %ld (goal <= %d): %s; peak memory %.1f MiB (goal < 64 MiB): %s\n", peakThreads,
                MaxThreads, bench::Verdict(threadsMet), peakKiB / 1024.0, bench::Verdict(memoryMet));
    met = met && threadsMet && memoryMet;

    std::vector<std::string> command = {horolab, "--survey"};
    command.insert(command.end(), texts.begin(), texts.end());
    const bench::ProcessRun whole = bench::RunProcess(command, true);
    const bool wholeMet = whole.succeeded && whole.peakThreads <= MaxThreads && whole.peakKiB < MemoryGoalKiB;
    std::printf("  whole process (horolab --survey, %d addresses): wall %.4f s, CPU %.2f ms, threads %ld, "
                "peak memory %.1f MiB, exit %s: %s\n",
                ManyAddresses, whole.wallMs / 1e3, whole.cpuMs, whole.peakThreads, whole.peakKiB / 1024.0,
                whole.succeeded ? "0" : "not 0", bench::Verdict(wholeMet));
    return met && wholeMet;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string horolab = bench::BuildDir(argv[0]) + "/horolab";
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    bench::PrintLoad("before");
    bool met = RunMany(horolab);
    const std::string port = bench::ReadChronyPort(argc > 1 ? argv[1] : "");
    if (port.empty()) {
        std::fprintf(stderr, "no chronyd servers (give the start-many folder)\n");
        return 2;
    }
    std::printf("== Survey of %d chronyd on loopback, %d samples each, %u ms apart (%d runs)\n", Servers, Samples,
                SurveySpacingMs, runs);
    CExchangeEngine engine(PosixSockets(), SystemClock());
    for (int n = 0; n < runs; ++n) {
        const double cpuBefore = bench::ProcessCpuSeconds();
        const double start = bench::NowUs();
        SurveyResult survey = ResolveSurvey(engine, ServerTexts(port));
        RunSurvey(engine, survey, Samples, [] { return true; });
        const double wall = (bench::NowUs() - start) / 1e6;
        const std::string label = "run " + std::to_string(n + 1);
        met = Report(label.c_str(), survey, Servers, wall, (bench::ProcessCpuSeconds() - cpuBefore) * 1e3,
                     CpuGoalMs) &&
              met;
    }

    std::vector<std::string> command = {horolab, "--survey"};
    for (const std::string& text : ServerTexts(port))
        command.push_back(text);
    const bench::ProcessRun whole = bench::RunProcess(command);
    std::printf("  whole process (horolab --survey ...): wall %.4f s, CPU %.2f ms, exit %s\n", whole.wallMs / 1e3,
                whole.cpuMs, whole.succeeded ? "0" : "not 0");
    bench::PrintLoad("after");
    return met && whole.succeeded ? 0 : 1;
}
