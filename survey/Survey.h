#pragma once
// A survey: every address of one or more server names, each sampled a few
// times, politely, then compared with the others. The values here are what
// the table, the JSON and the window render.
#include "query/Exchange.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

enum class SurveyState {
    Truechimer,     // in the majority whose intervals share a point
    FalseTicker,    // outside it
    Undecided,      // answered well, but no majority agrees on the time
    Unreachable,    // requests sent, no answer at all
    NotSent,        // not one request left this computer (no socket, no route, stopped)
    KissCode,       // told us to stop (or slow down)
    Unsynchronised, // answered, but not with a time to use
};

// "truechimer", "false ticker", ...
const char* SurveyStateName(SurveyState state);

// One address of a surveyed name and what its samples showed.
struct SurveyAddress {
    std::vector<std::string> names; // the host parts of the server texts that gave it
    SockAddrIn address;
    std::string addressText;
    std::vector<NtpExchange> samples; // every exchange, in order

    // Filled from the samples once they are in (see JudgeSamples).
    SurveyState state = SurveyState::Unreachable;
    int usable = 0;        // answers with a time to use
    NtpExchange best;      // of those, the one with the smallest delay
    double offset = 0;     // seconds, of the best answer
    double delay = 0;
    std::optional<double> jitter; // RMS of the others' offsets about the best's; two answers at least
    double rootDistance = 0;      // delay / 2 + root delay / 2 + root dispersion
    std::string kissCode; // as PrintableText shows it
    std::string why; // unreachable or unsynchronised: the last failure, or what is wrong with the answer

    bool HasName(const std::string& name) const;
    bool IsIPv6() const { return address.family == AddressFamilyIPv6; }
    bool Usable() const { return usable > 0 && kissCode.empty(); }
    // Whether any answer came back (its stratum and reference are then the best's).
    bool Answered() const { return state != SurveyState::Unreachable && state != SurveyState::NotSent; }
    double Low() const { return offset - rootDistance; }
    double High() const { return offset + rootDistance; }
};

// Two addresses of one name, one of each family, whose intervals share no point.
struct FamilyDisagreement {
    size_t ipv4 = 0; // indices into the survey's addresses
    size_t ipv6 = 0;
};

struct SurveySelection {
    int candidates = 0; // addresses with usable answers
    int agreeing = 0;   // the largest set of them whose intervals share a point
    bool majority = false;
    double low = 0; // seconds: what the majority's intervals share
    double high = 0;
    std::vector<FamilyDisagreement> disagreements;
};

struct SurveyResult {
    std::vector<NtpExchange> unresolved; // the names that gave no address, with why
    std::vector<SurveyAddress> addresses;
    int samples = 0; // asked for, per address
    bool stopped = false;
    SurveySelection selection;
};

// Least time between two requests to one address, start to start.
constexpr uint32_t SurveySpacingMs = 2000;
constexpr int SurveyDefaultSamples = 4;
// Threads, each with one socket, that sample all addresses between them:
// however many addresses a name has, it sets neither count.
constexpr int SurveyLanes = 2;

// Every address of every server text ("name[:port]"), an address reached by
// several names only once; what did not resolve goes to `unresolved`.
SurveyResult ResolveSurvey(CExchangeEngine& engine, const std::vector<std::string>& serverTexts);

// Samples every address `samples` times, all addresses at once from
// SurveyLanes threads and sockets: one request at a time to each address,
// SurveySpacingMs apart, none after a kiss code, none once `keepGoing`
// (asked from several threads) says no. Then judges and selects.
void RunSurvey(CExchangeEngine& engine, SurveyResult& survey, int samples, const std::function<bool()>& keepGoing);

// The address's state and figures from its samples (the candidates' state
// waits for the selection).
void JudgeSamples(SurveyAddress& address);
// Marzullo's intersection over the candidates: truechimers and false
// tickers, or undecided without a majority; and IPv4/IPv6 disagreements.
void SelectTruechimers(SurveyResult& survey);
