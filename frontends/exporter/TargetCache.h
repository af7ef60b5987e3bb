#pragma once
// The exporter's answers per target: however often a target is scraped, at
// most one NTP request goes to it in any two seconds, fewer after each RATE
// kiss, and none more once it has said DENY or RSTR.
#include "nts/NtsCheck.h"
#include "nts/NtsVerdict.h"
#include "query/Exchange.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

struct TargetSample {
    NtpExchange exchange; // the last exchange with the target (with NTS, its authenticated one)
    std::string kissCode; // its validated kiss code, if it sent one
    bool stopped = false; // DENY or RSTR: the target is not asked again
    double ageSeconds = 0.0; // how long ago the exchange was made
    bool nts = false;        // a whole NTS check was made, its facts here
    NtsCheck ntsCheck;
    NtsVerdict ntsVerdict;
};

class CTargetCache {
public:
    static constexpr uint32_t FreshMs = 2000;
    // Beyond this many targets, those not asked for a while are forgotten.
    static constexpr size_t MaxTargets = 10000;

    explicit CTargetCache(CExchangeEngine& engine) : m_engine(engine) {}
    // Lets targets be checked with NTS, trusting `caFiles` besides the
    // system's certificate store.
    void UseNts(CNtsChecker& checker, std::vector<std::string> caFiles)
    {
        m_nts = &checker;
        m_caFiles = std::move(caFiles);
    }
    bool HasNts() const { return m_nts != nullptr; }

    // The target's sample: the kept one while it is fresh, else a new
    // exchange (with `nts`, a whole NTS check, kept apart from the plain
    // one). Scrapes of one target wait for each other's exchange.
    TargetSample Sample(const std::string& target, bool nts = false);
    size_t Size();
    CExchangeEngine& Engine() { return m_engine; }
    uint64_t RequestsSent() const { return m_requests; }

private:
    struct Entry {
        std::mutex mutex;
        bool asked = false;
        int64_t askedAtUs = 0;
        uint32_t intervalMs = FreshMs;
        TargetSample sample;
    };
    std::shared_ptr<Entry> EntryFor(const std::string& target);
    void ForgetIdle(int64_t nowUs);
    void Ask(const std::string& target, bool nts, Entry& entry, int64_t nowUs);

    CExchangeEngine& m_engine;
    CNtsChecker* m_nts = nullptr;
    std::vector<std::string> m_caFiles;
    std::mutex m_mutex;
    std::map<std::string, std::shared_ptr<Entry>> m_entries;
    std::atomic<uint64_t> m_requests{0};
};
