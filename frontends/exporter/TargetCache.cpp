#include "frontends/exporter/TargetCache.h"

#include "query/KissCode.h"

TargetSample CTargetCache::Sample(const std::string& target, bool nts)
{
    nts = nts && m_nts;
    // A space cannot begin a server text: the NTS entry is one of its own.
    const std::shared_ptr<Entry> entry = EntryFor(nts ? " nts " + target : target);
    std::lock_guard lock(entry->mutex);
    const int64_t now = m_engine.Clock().MonotonicMicroseconds();
    const bool fresh = entry->asked && (entry->sample.stopped || now - entry->askedAtUs < entry->intervalMs * 1000LL);
    if (!fresh)
        Ask(target, nts, *entry, now);
    TargetSample sample = entry->sample;
    sample.ageSeconds = (m_engine.Clock().MonotonicMicroseconds() - entry->askedAtUs) / 1e6;
    return sample;
}

void CTargetCache::Ask(const std::string& target, bool nts, Entry& entry, int64_t nowUs)
{
    entry.asked = true;
    entry.askedAtUs = nowUs;
    TargetSample& sample = entry.sample;
    sample.nts = nts;
    if (nts) {
        sample.ntsCheck = m_nts->Check(target, m_caFiles);
        sample.ntsVerdict = JudgeNtsCheck(sample.ntsCheck);
        const NtpExchange* answer = NtsClockAnswer(sample.ntsCheck);
        sample.exchange = answer ? *answer : sample.ntsCheck.first.exchange;
        m_requests += sample.ntsCheck.first.run + sample.ntsCheck.second.run + sample.ntsCheck.plainRun;
    } else {
        sample.exchange = m_engine.Query(target, ExchangeOptions{});
        m_requests += !sample.exchange.request.empty();
    }
    sample.kissCode = KissCode(sample.exchange);
    switch (ReactionToKiss(sample.kissCode)) {
    case KissReaction::SlowDown: entry.intervalMs = SlowedDownIntervalMs(entry.intervalMs); break;
    case KissReaction::Stop: sample.stopped = true; break;
    case KissReaction::None: break;
    }
}

std::shared_ptr<CTargetCache::Entry> CTargetCache::EntryFor(const std::string& target)
{
    std::lock_guard lock(m_mutex);
    auto it = m_entries.find(target);
    if (it != m_entries.end())
        return it->second;
    if (m_entries.size() >= MaxTargets)
        ForgetIdle(m_engine.Clock().MonotonicMicroseconds());
    return m_entries.emplace(target, std::make_shared<Entry>()).first->second;
}

// Forgets the targets nobody is scraping now whose answer has gone stale
// anyway; a slowed-down or stopped target is kept, or it would be asked again.
void CTargetCache::ForgetIdle(int64_t nowUs)
{
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        const Entry& e = *it->second;
        const bool idle = it->second.use_count() == 1 && !e.sample.stopped && e.intervalMs == FreshMs &&
                          nowUs - e.askedAtUs >= FreshMs * 1000LL;
        it = idle ? m_entries.erase(it) : std::next(it);
    }
}

size_t CTargetCache::Size()
{
    std::lock_guard lock(m_mutex);
    return m_entries.size();
}
