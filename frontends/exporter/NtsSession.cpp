#include "frontends/exporter/NtsSession.h"

#include "ntp/PrintableText.h"

#include <algorithm>

namespace {

// What a kept key exchange needs for the metrics and no more: a hostile
// server could fill the records and the certificate's names.
void Strip(NtsKeyExchange& ke)
{
    ke.records = {};
    ke.tls.certificate.dnsNames = {};
    ke.tls.certificate.ipAddresses = {};
    ke.tls.certificate.subject.clear();
    ke.tls.certificate.issuer.clear();
    // The verdict asks only whether there were any.
    ke.response.cookies.resize(std::min<size_t>(ke.response.cookies.size(), 1));
}

} // namespace

bool CNtsSession::NeedsKeyExchange(int64_t nowUs) const
{
    const int64_t age = nowUs - m_keyExchangeAtUs;
    if (!m_asked)
        return true;
    if (!m_usable)
        return age >= FailedRetryUs;
    return age >= KeyExchangeLifeUs || m_cookies.empty() || m_nak;
}

void CNtsSession::KeyExchange(CNtsChecker& nts, CExchangeEngine& engine, const std::string& target,
                              const std::vector<std::string>& caFiles, const NtpAllowed& allowed)
{
    m_asked = true;
    m_usable = m_nak = false;
    m_refusal = {};
    m_cookies.clear();
    m_kept = NtsCheck{};
    m_keyExchangeAtUs = engine.Clock().MonotonicMicroseconds();
    NtpExchange where;
    engine.Resolve(target, where, NtsKePort);
    m_kept.keyExchange = nts.KeyExchange(where, caFiles);
    NtsKeyExchange& ke = m_kept.keyExchange;
    if (NtsKeyExchangeTrusted(ke)) {
        m_kept.ntp = NtsNtpServerOf(ke);
        if (!allowed(m_kept.ntp))
            m_refusal = {"ntp-not-allowed", "the NTP server " + PrintableText(m_kept.ntp.host) +
                                                " named by the key exchange is not one of the exporter's targets"};
        else
            m_usable = m_kept.ntpResolved = nts.ResolveNtpServer(m_kept.ntp, m_ntpAddress);
        if (m_usable)
            AddCookies(ke.response.cookies);
    }
    Strip(ke);
}

void CNtsSession::AddCookies(const std::vector<std::vector<uint8_t>>& cookies)
{
    for (size_t i = 0; i < cookies.size() && m_cookies.size() < MaxCookies; ++i)
        m_cookies.push_back(cookies[i]);
}

CNtsSession::Scrape CNtsSession::Next(CNtsChecker& nts, CExchangeEngine& engine, const std::string& target,
                                      const std::vector<std::string>& caFiles, const NtpAllowed& allowed)
{
    if (NeedsKeyExchange(engine.Clock().MonotonicMicroseconds()))
        KeyExchange(nts, engine, target, caFiles, allowed);
    Scrape scrape;
    scrape.check = m_kept;
    scrape.keyExchangeAgeSeconds = (engine.Clock().MonotonicMicroseconds() - m_keyExchangeAtUs) / 1e6;
    if (!m_usable) {
        scrape.verdict = m_refusal.code.empty() ? JudgeNtsCheck(scrape.check) : m_refusal;
        return scrape;
    }
    NtsTimeExchange& exchange = scrape.check.first;
    exchange = nts.TimeExchange(m_ntpAddress, m_cookies.back(), m_kept.keyExchange.keys);
    m_cookies.pop_back();
    if (exchange.Authenticated())
        AddCookies(exchange.answer.cookies);
    m_nak = exchange.Nak();
    // One exchange a scrape: it stands for the check's two.
    NtsCheck judged = scrape.check;
    judged.second = judged.first;
    scrape.verdict = JudgeNtsCheck(judged);
    scrape.time = NtsClockRefusal(scrape.check).empty();
    scrape.cookies = m_cookies.size();
    return scrape;
}
