// A survey of eight chronyd on loopback (one port, 127.0.0.11 to .18), four
// samples each: its wall time against what politeness allows, (samples - 1)
// spacings plus the slowest exchange, and the CPU it costs. In process the
// survey alone (getrusage of the process, which runs nothing else); then
// `horolab --survey` as a shell runs it, process start included.
//   scripts/chronyd-fixture.sh start-many DIR 127.0.0.11 ... 127.0.0.18
//   survey_bench DIR [RUNS]   (horolab is found beside bench/)
#include "BenchStats.h"

#include "survey/Survey.h"


namespace {

constexpr int Samples = SurveyDefaultSamples;
constexpr int Servers = 8;
constexpr double WallGoal = 1.1;  // times the polite minimum
constexpr double CpuGoalMs = 20;

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

bool AllTruechimers(const SurveyResult& survey)
{
    for (const SurveyAddress& a : survey.addresses)
        if (a.state != SurveyState::Truechimer || a.usable != Samples)
            return false;
    return survey.addresses.size() == Servers;
}

} // namespace

int main(int argc, char** argv)
{
    const std::string port = bench::ReadChronyPort(argc > 1 ? argv[1] : "");
    if (port.empty()) {
        std::fprintf(stderr, "no chronyd servers (give the start-many folder)\n");
        return 2;
    }
    const int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    bench::PrintLoad("before");
    std::printf("== Survey of %d chronyd on loopback, %d samples each, %u ms apart (%d runs)\n", Servers, Samples,
                SurveySpacingMs, runs);
    bool met = true;
    CExchangeEngine engine(PosixSockets(), SystemClock());
    for (int n = 0; n < runs; ++n) {
        const double cpuBefore = bench::ProcessCpuSeconds();
        const double start = bench::NowUs();
        SurveyResult survey = ResolveSurvey(engine, ServerTexts(port));
        RunSurvey(engine, survey, Samples, [] { return true; });
        const double wall = (bench::NowUs() - start) / 1e6;
        const double cpuMs = (bench::ProcessCpuSeconds() - cpuBefore) * 1e3;
        const double slowest = SlowestExchangeSeconds(survey);
        const double polite = (Samples - 1) * SurveySpacingMs / 1000.0 + slowest;
        const bool wallMet = wall <= WallGoal * ((Samples - 1) * SurveySpacingMs / 1000.0) + slowest;
        const bool cpuMet = cpuMs < CpuGoalMs;
        const bool sound = AllTruechimers(survey);
        met = met && wallMet && cpuMet && sound;
        std::printf("  run %d: wall %.4f s = %.4f x the polite minimum %.4f s (slowest exchange %.3f ms); "
                    "goal <= %.1f x spacings + slowest: %s\n",
                    n + 1, wall, wall / polite, polite, slowest * 1e3, WallGoal, bench::Verdict(wallMet));
        std::printf("         CPU %.2f ms (goal < %.0f ms): %s; %s\n", cpuMs, CpuGoalMs, bench::Verdict(cpuMet),
                    sound ? "8 truechimers, every sample answered" : "NOT every server a truechimer");
    }

    std::vector<std::string> command = {bench::BuildDir(argv[0]) + "/horolab", "--survey"};
    for (const std::string& text : ServerTexts(port))
        command.push_back(text);
    const bench::ProcessRun whole = bench::RunProcess(command);
    std::printf("  whole process (horolab --survey ...): wall %.4f s, CPU %.2f ms, exit %s\n", whole.wallMs / 1e3,
                whole.cpuMs, whole.succeeded ? "0" : "not 0");
    bench::PrintLoad("after");
    return met && whole.succeeded ? 0 : 1;
}
