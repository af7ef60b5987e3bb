#pragma once
// A secured target kept as an NTS client keeps its server: one key exchange,
// then its cookies spent one per scrape on an authenticated exchange and
// replenished by the answers. A new key exchange only after an hour, when
// the cookies have run out or the server answered with a NAK; one that
// failed is tried again after a minute. The time comes only from an
// authenticated answer after a trusted key exchange.
#include "nts/NtsCheck.h"
#include "nts/NtsVerdict.h"

#include <functional>
#include <string>
#include <vector>

class CNtsSession {
public:
    static constexpr int64_t KeyExchangeLifeUs = 3600 * 1000000LL;
    static constexpr int64_t FailedRetryUs = 60 * 1000000LL;
    static constexpr size_t MaxCookies = 8;
    // Whether the NTP server a key exchange names may be sent to.
    using NtpAllowed = std::function<bool(const NtsNtpServer&)>;

    struct Scrape {
        NtsCheck check; // the kept key exchange and this scrape's exchange as `first`
        NtsVerdict verdict;
        bool time = false; // `check.first` is an authenticated answer after a trusted key exchange
        double keyExchangeAgeSeconds = 0.0;
        size_t cookies = 0; // kept for the next scrapes
    };
    Scrape Next(CNtsChecker& nts, CExchangeEngine& engine, const std::string& target,
                const std::vector<std::string>& caFiles, const NtpAllowed& allowed);

private:
    bool NeedsKeyExchange(int64_t nowUs) const;
    void KeyExchange(CNtsChecker& nts, CExchangeEngine& engine, const std::string& target,
                     const std::vector<std::string>& caFiles, const NtpAllowed& allowed);
    void AddCookies(const std::vector<std::vector<uint8_t>>& cookies);

    bool m_asked = false;
    bool m_usable = false; // trusted, its NTP server allowed and found
    bool m_nak = false;
    int64_t m_keyExchangeAtUs = 0;
    NtsCheck m_kept; // the key exchange, stripped of what the metrics do not show
    NtsVerdict m_refusal; // why its NTP server is not asked, when the verdict cannot say
    SockAddrIn m_ntpAddress;
    std::vector<std::vector<uint8_t>> m_cookies;
};
