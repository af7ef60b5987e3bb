#pragma once
// The exporter's answers per target: however often a target is scraped, at
// most one NTP request goes to it in any two seconds, fewer after each RATE
// kiss, and none more once it has said DENY or RSTR. Scrapes that come
// while the target's exchange runs share its result; none waits past its
// own deadline. The targets kept, the exchanges running and the memory they
// hold are bounded whatever the scrapes ask for.
#include "frontends/exporter/NtsSession.h"
#include "frontends/exporter/TargetKey.h"
#include "query/Exchange.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>

struct TargetSample {
    NtpExchange exchange; // the last exchange with the target (with NTS, its authenticated one)
    std::string kissCode; // its validated kiss code, if it sent one
    // Why there is no exchange to show: "scrape_timeout" (it still runs),
    // "busy" (too many run), "stopping"; "" when there is one.
    std::string missing;
    bool stopped = false; // DENY or RSTR: the target is not asked again
    double ageSeconds = 0.0; // how long ago the exchange was made
    // What an NTS scrape found; null for a plain one (held apart: most targets have none).
    std::shared_ptr<const CNtsSession::Scrape> ntsScrape;
};

using ScrapeDeadline = std::chrono::steady_clock::time_point;

class CTargetCache {
public:
    static constexpr uint32_t FreshMs = 2000;
    // Beyond this many targets, the one asked for least recently is forgotten.
    static constexpr size_t MaxTargets = 4096;
    // Exchanges running at once, each on a thread of its own.
    static constexpr int MaxExchanges = 64;

    explicit CTargetCache(CExchangeEngine& engine, size_t maxTargets = MaxTargets)
        : m_engine(engine), m_maxTargets(maxTargets)
    {
    }
    // Waits for the exchanges still running: they use the cache.
    ~CTargetCache();
    CTargetCache(const CTargetCache&) = delete;
    CTargetCache& operator=(const CTargetCache&) = delete;

    // Lets targets be checked with NTS, trusting `caFiles` besides the
    // system's certificate store, sending only to the NTP servers `allowed`.
    void UseNts(CNtsChecker& checker, std::vector<std::string> caFiles, CNtsSession::NtpAllowed allowed)
    {
        m_nts = &checker;
        m_caFiles = std::move(caFiles);
        m_ntpAllowed = std::move(allowed);
    }
    bool HasNts() const { return m_nts != nullptr; }

    // The target's sample: the kept one while it is fresh, else the result
    // of its next exchange (with `nts`, an authenticated one in the
    // target's NTS session, kept apart from the plain one) if that comes by
    // `deadline`.
    TargetSample Sample(const TargetKey& target, bool nts, ScrapeDeadline deadline);
    // Every waiting scrape answers now, and no exchange starts any more.
    void Stop();
    // Whether the running exchanges all ended within `wait`.
    bool WaitForExchanges(std::chrono::milliseconds wait);

    size_t Size();
    CExchangeEngine& Engine() { return m_engine; }
    uint64_t RequestsSent() const { return m_requests; }

private:
    using Key = std::pair<std::string, bool>; // the target's text, NTS or not
    struct Entry {
        std::mutex mutex;
        std::condition_variable finished;
        bool asked = false;
        bool running = false;
        int64_t askedAtUs = 0;
        uint32_t intervalMs = FreshMs;
        TargetSample sample;
        std::unique_ptr<CNtsSession> nts; // only the entry's running exchange uses it
        std::list<Key>::iterator recent;
    };
    std::shared_ptr<Entry> EntryFor(const Key& key);
    bool ForgetOne();
    bool StartExchange(const Key& key, const std::shared_ptr<Entry>& entry);
    TargetSample Exchange(const Key& key, std::unique_ptr<CNtsSession>& session);
    void Keep(Entry& entry, TargetSample sample);

    CExchangeEngine& m_engine;
    const size_t m_maxTargets;
    CNtsChecker* m_nts = nullptr;
    std::vector<std::string> m_caFiles;
    CNtsSession::NtpAllowed m_ntpAllowed;
    std::mutex m_mutex; // the map and the recency list
    std::map<Key, std::shared_ptr<Entry>> m_entries;
    std::list<Key> m_recent; // most recently asked for first
    std::mutex m_runningMutex; // taken last, after an entry's
    std::condition_variable m_exchangeEnded;
    int m_running = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<uint64_t> m_requests{0};
};
