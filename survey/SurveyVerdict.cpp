#include "survey/Intersection.h"
#include "survey/Survey.h"

#include "ntp/PrintableText.h"
#include "query/ClockSetting.h"
#include "query/KissCode.h"

#include <algorithm>
#include <cmath>

const char* SurveyStateName(SurveyState state)
{
    switch (state) {
    case SurveyState::Truechimer: return "truechimer";
    case SurveyState::FalseTicker: return "false ticker";
    case SurveyState::Undecided: return "undecided";
    case SurveyState::Unreachable: return "unreachable";
    case SurveyState::NotSent: return "not sent";
    case SurveyState::KissCode: return "kiss code";
    case SurveyState::Unsynchronised: return "unsynchronised";
    }
    return "";
}

bool SurveyAddress::HasName(const std::string& name) const
{
    return std::find(names.begin(), names.end(), name) != names.end();
}

namespace {
// The best answer's figures; the jitter as the clock filter takes it, the
// RMS of the other offsets' differences to the best one's.
void Measure(SurveyAddress& a, const std::vector<const NtpExchange*>& usable)
{
    const NtpExchange* best = *std::min_element(usable.begin(), usable.end(), [](auto x, auto y) {
        return RoundTripSeconds(*x) < RoundTripSeconds(*y);
    });
    a.best = *best;
    a.offset = ClockOffsetSeconds(*best);
    a.delay = RoundTripSeconds(*best);
    a.rootDistance = RootDistanceSeconds(*best);
    if (usable.size() < 2)
        return;
    double squares = 0;
    for (const NtpExchange* e : usable) {
        const double difference = ClockOffsetSeconds(*e) - a.offset;
        squares += difference * difference;
    }
    a.jitter = std::sqrt(squares / static_cast<double>(usable.size() - 1));
}

bool SharesAName(const SurveyAddress& a, const SurveyAddress& b)
{
    return std::any_of(a.names.begin(), a.names.end(), [&](const std::string& name) { return b.HasName(name); });
}
} // namespace

void JudgeSamples(SurveyAddress& a)
{
    std::vector<const NtpExchange*> usable;
    const NtpExchange* lastAnswer = nullptr;
    const NtpExchange* kiss = nullptr;
    for (const NtpExchange& e : a.samples) {
        if (!kiss && !KissCode(e).empty())
            kiss = &e;
        if (e.Answered())
            lastAnswer = &e;
        if (IsTrustedAnswer(e))
            usable.push_back(&e);
    }
    a.usable = static_cast<int>(usable.size());
    a.jitter.reset();
    if (kiss) {
        a.state = SurveyState::KissCode;
        a.best = *kiss;
        const std::string code = KissCode(*kiss);
        a.kissCode = PrintableText(code); // the server's bytes, shown wherever the survey is
        a.why = KissCodeMeaning(code);
    } else if (!usable.empty()) {
        a.state = SurveyState::Undecided; // until the selection has spoken
        Measure(a, usable);
    } else if (lastAnswer) {
        a.state = SurveyState::Unsynchronised;
        a.best = *lastAnswer;
        a.why = UnsoundAnswerReason(lastAnswer->reply, lastAnswer->requestTransmit);
    } else {
        // Unreachable only once a request has left: a local failure says nothing of the server.
        const bool sent = std::any_of(a.samples.begin(), a.samples.end(), [](const NtpExchange& e) {
            return !e.request.empty() && e.outcome != ExchangeOutcome::SendFailed;
        });
        a.state = sent ? SurveyState::Unreachable : SurveyState::NotSent;
        a.why = a.samples.empty() ? "stopped before the first request" : ExchangeFailureText(a.samples.back());
    }
}

void SelectTruechimers(SurveyResult& survey)
{
    std::vector<size_t> candidates;
    std::vector<CorrectnessInterval> intervals;
    for (size_t n = 0; n < survey.addresses.size(); ++n) {
        const SurveyAddress& a = survey.addresses[n];
        if (!a.Usable())
            continue;
        candidates.push_back(n);
        intervals.push_back({a.Low(), a.High()});
    }
    const IntersectionResult intersection = Intersect(intervals);
    SurveySelection& selection = survey.selection;
    selection = SurveySelection{};
    selection.candidates = static_cast<int>(candidates.size());
    selection.agreeing = intersection.agreeing;
    selection.majority = intersection.majority;
    selection.low = intersection.low;
    selection.high = intersection.high;
    for (size_t k = 0; k < candidates.size(); ++k) {
        SurveyState& state = survey.addresses[candidates[k]].state;
        state = !intersection.majority ? SurveyState::Undecided
                : intersection.agrees[k] ? SurveyState::Truechimer
                                         : SurveyState::FalseTicker;
    }
    for (size_t i : candidates) {
        for (size_t j : candidates) {
            const SurveyAddress& v4 = survey.addresses[i];
            const SurveyAddress& v6 = survey.addresses[j];
            if (!v4.IsIPv6() && v6.IsIPv6() && SharesAName(v4, v6) && (v4.High() < v6.Low() || v6.High() < v4.Low()))
                selection.disagreements.push_back({i, j});
        }
    }
}
