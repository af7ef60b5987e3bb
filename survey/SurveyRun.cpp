#include "survey/Survey.h"

#include "query/KissCode.h"
#include "query/ServerText.h"

#include <algorithm>
#include <system_error>
#include <thread>

namespace {
// How often a wait between two requests asks whether to stop: soon enough
// for "&Stop", seldom enough that waking costs next to nothing.
constexpr uint32_t StopCheckMs = 500;

// The address as the server box would take it: the port only when it is not NTP's.
std::string ServerTextOf(const SockAddrIn& address, int32_t port)
{
    const std::string text = AddressText(address);
    const uint16_t low = static_cast<uint16_t>(port & 0xFFFF);
    return low == NtpPort ? text : BracketedHost(text) + ":" + std::to_string(low);
}

void AddAddress(SurveyResult& survey, const NtpExchange& whom, const SockAddrIn& address)
{
    for (SurveyAddress& known : survey.addresses) {
        if (known.address.family == address.family && known.address.SameEndpoint(address)) {
            if (!known.HasName(whom.host))
                known.names.push_back(whom.host);
            return;
        }
    }
    SurveyAddress added;
    added.names = {whom.host};
    added.address = address;
    added.addressText = ServerTextOf(address, whom.port);
    survey.addresses.push_back(added);
}

// Sleeps until the monotonic clock reaches `due`; false when told to stop first.
bool WaitUntil(IClock& clock, int64_t due, const std::function<bool()>& keepGoing)
{
    for (;;) {
        if (!keepGoing())
            return false;
        const int64_t left = due - clock.MonotonicMicroseconds();
        if (left <= 0)
            return true;
        clock.Sleep(static_cast<uint32_t>(std::min<int64_t>((left + 999) / 1000, StopCheckMs)));
    }
}

// One request at a time, the next one SurveySpacingMs after the start of the last.
void Sample(CExchangeEngine& engine, SurveyAddress& address, int samples, const std::function<bool()>& keepGoing)
{
    IClock& clock = engine.Clock();
    ExchangeOptions options;
    options.accept = EchoesTheRequest; // a stray answer must not pass for a sample
    int64_t due = clock.MonotonicMicroseconds();
    for (int n = 0; n < samples && WaitUntil(clock, due, keepGoing); ++n) {
        due = clock.MonotonicMicroseconds() + int64_t{SurveySpacingMs} * 1000;
        address.samples.push_back(engine.Query(address.address, options));
        if (!KissCode(address.samples.back()).empty())
            return; // the server has asked us to go away
    }
}
} // namespace

SurveyResult ResolveSurvey(CExchangeEngine& engine, const std::vector<std::string>& serverTexts)
{
    SurveyResult survey;
    for (const std::string& text : serverTexts) {
        NtpExchange whom;
        std::vector<SockAddrIn> addresses;
        if (!engine.ResolveEvery(text, whom, addresses))
            survey.unresolved.push_back(whom);
        for (const SockAddrIn& address : addresses)
            AddAddress(survey, whom, address);
    }
    return survey;
}

void RunSurvey(CExchangeEngine& engine, SurveyResult& survey, int samples, const std::function<bool()>& keepGoing)
{
    survey.samples = samples;
    std::vector<std::thread> workers;
    for (SurveyAddress& address : survey.addresses) {
        try {
            workers.emplace_back(Sample, std::ref(engine), std::ref(address), samples, std::cref(keepGoing));
        } catch (const std::system_error&) {
            Sample(engine, address, samples, keepGoing); // no thread to be had: its turn comes now
        }
    }
    for (std::thread& worker : workers)
        worker.join();

    for (SurveyAddress& address : survey.addresses)
        JudgeSamples(address);
    survey.stopped = !keepGoing() && std::any_of(survey.addresses.begin(), survey.addresses.end(), [&](const SurveyAddress& a) {
                         return static_cast<int>(a.samples.size()) < samples && a.kissCode.empty();
                     });
    SelectTruechimers(survey);
}
