#include "frontends/exporter/TargetCache.h"

#include "query/KissCode.h"

#include <system_error>
#include <thread>

namespace {

TargetSample Missing(const char* why)
{
    TargetSample sample;
    sample.missing = why;
    return sample;
}

} // namespace

CTargetCache::~CTargetCache()
{
    Stop();
    std::unique_lock lock(m_runningMutex);
    m_exchangeEnded.wait(lock, [this] { return m_running == 0; });
}

TargetSample CTargetCache::Sample(const TargetKey& target, bool nts, ScrapeDeadline deadline)
{
    const Key key{target.Text(), nts && m_nts};
    const std::shared_ptr<Entry> entry = EntryFor(key);
    if (!entry)
        return Missing("busy");
    std::unique_lock lock(entry->mutex);
    const int64_t now = m_engine.Clock().MonotonicMicroseconds();
    const bool fresh =
        entry->asked && (entry->sample.stopped || now - entry->askedAtUs < entry->intervalMs * 1000LL);
    if (!fresh && !entry->running && !StartExchange(key, entry))
        return Missing(m_stopping ? "stopping" : "busy");
    if (!entry->finished.wait_until(lock, deadline, [&] { return !entry->running || m_stopping; }))
        return Missing("scrape_timeout");
    if (entry->running)
        return Missing("stopping");
    TargetSample sample = entry->sample;
    sample.ageSeconds = (m_engine.Clock().MonotonicMicroseconds() - entry->askedAtUs) / 1e6;
    return sample;
}

// Called with the entry locked.
bool CTargetCache::StartExchange(const Key& key, const std::shared_ptr<Entry>& entry)
{
    {
        std::lock_guard lock(m_runningMutex);
        if (m_stopping || m_running >= MaxExchanges)
            return false;
        ++m_running;
    }
    entry->running = true;
    entry->askedAtUs = m_engine.Clock().MonotonicMicroseconds();
    try {
        std::thread([this, key, entry] {
            TargetSample sample = Exchange(key, entry->nts);
            {
                std::lock_guard lock(entry->mutex);
                Keep(*entry, std::move(sample));
            }
            entry->finished.notify_all();
            std::lock_guard lock(m_runningMutex);
            --m_running;
            m_exchangeEnded.notify_all();
        }).detach();
    } catch (const std::system_error&) { // no thread to be had: the scrape is answered busy
        entry->running = false;
        std::lock_guard lock(m_runningMutex);
        --m_running;
        return false;
    }
    return true;
}

TargetSample CTargetCache::Exchange(const Key& key, std::unique_ptr<CNtsSession>& session)
{
    const auto& [target, nts] = key;
    TargetSample sample;
    if (nts) {
        if (!session)
            session = std::make_unique<CNtsSession>();
        auto scrape = std::make_shared<CNtsSession::Scrape>(
            session->Next(*m_nts, m_engine, target, m_caFiles, m_ntpAllowed));
        sample.exchange = scrape->check.first.exchange;
        m_requests += scrape->check.first.run;
        sample.ntsScrape = std::move(scrape);
    } else {
        sample.exchange = m_engine.Query(target, ExchangeOptions{});
        m_requests += !sample.exchange.request.empty();
    }
    sample.kissCode = KissCode(sample.exchange);
    return sample;
}

// Called with the entry locked.
void CTargetCache::Keep(Entry& entry, TargetSample sample)
{
    entry.asked = true;
    entry.running = false;
    switch (ReactionToKiss(sample.kissCode)) {
    case KissReaction::SlowDown: entry.intervalMs = SlowedDownIntervalMs(entry.intervalMs); break;
    case KissReaction::Stop: sample.stopped = true; break;
    case KissReaction::None: break;
    }
    entry.sample = std::move(sample);
}

std::shared_ptr<CTargetCache::Entry> CTargetCache::EntryFor(const Key& key)
{
    std::lock_guard lock(m_mutex);
    if (auto it = m_entries.find(key); it != m_entries.end()) {
        m_recent.splice(m_recent.begin(), m_recent, it->second->recent);
        return it->second;
    }
    if (m_entries.size() >= m_maxTargets && !ForgetOne())
        return nullptr;
    auto entry = std::make_shared<Entry>();
    m_recent.push_front(key);
    entry->recent = m_recent.begin();
    m_entries.emplace(key, entry);
    return entry;
}

// Forgets the least recently asked-for target nobody is scraping now; false
// when the few at the end of the list are all in use. Called with m_mutex held.
bool CTargetCache::ForgetOne()
{
    constexpr int Looks = 64;
    auto it = m_recent.end();
    for (int i = 0; i < Looks && it != m_recent.begin(); ++i) {
        --it;
        const auto found = m_entries.find(*it);
        // Only the map holds it: no scrape waits on it and no exchange runs.
        if (found->second.use_count() == 1) {
            m_entries.erase(found);
            m_recent.erase(it);
            return true;
        }
    }
    return false;
}

void CTargetCache::Stop()
{
    m_stopping = true;
    std::vector<std::shared_ptr<Entry>> entries;
    {
        std::lock_guard lock(m_mutex);
        for (const auto& [key, entry] : m_entries)
            entries.push_back(entry);
    }
    for (const std::shared_ptr<Entry>& entry : entries) {
        std::lock_guard lock(entry->mutex); // a scrape between its check and its wait gets the call too
        entry->finished.notify_all();
    }
}

bool CTargetCache::WaitForExchanges(std::chrono::milliseconds wait)
{
    std::unique_lock lock(m_runningMutex);
    return m_exchangeEnded.wait_for(lock, wait, [this] { return m_running == 0; });
}

size_t CTargetCache::Size()
{
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}
