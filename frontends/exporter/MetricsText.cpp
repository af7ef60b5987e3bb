#include "frontends/exporter/MetricsText.h"

#include "ntp/Format.h"

#include <cmath>

namespace {

class CMetricsText {
public:
    void Gauge(const char* name, const char* help, double value, const std::string& labels = {})
    {
        Add(name, help, "gauge", value, labels);
    }
    void Counter(const char* name, const char* help, double value) { Add(name, help, "counter", value, {}); }
    std::string Take() { return std::move(m_text); }

private:
    void Add(const char* name, const char* help, const char* type, double value, const std::string& labels)
    {
        m_text += Format("# HELP %s %s\n# TYPE %s %s\n%s", name, help, name, type, name);
        if (!labels.empty())
            m_text += "{" + labels + "}";
        m_text += Format(" %.15g\n", value);
    }

    std::string m_text;
};

std::string Label(const char* name, const std::string& value)
{
    return Format("%s=\"%s\"", name, MetricLabelValue(value).c_str());
}

// What the NTS scrape found: the verdict, the cookies kept, and the last
// key exchange with the server's certificate.
void AddNtsFigures(CMetricsText& m, const CNtsSession::Scrape& nts)
{
    const NtsKeyExchange& ke = nts.check.keyExchange;
    m.Gauge("horolab_ntp_nts_authenticated",
            "1 when NTS works: a verified certificate, keys from its key exchange, an authenticated answer with new "
            "cookies",
            nts.verdict.Works() ? 1 : 0);
    m.Gauge("horolab_ntp_nts_verdict_info", "The NTS check's verdict", 1, Label("verdict", nts.verdict.code));
    m.Gauge("horolab_ntp_nts_cookies", "Cookies kept for the next scrapes", static_cast<double>(nts.cookies));
    m.Gauge("horolab_ntp_nts_key_exchange_age_seconds",
            "How long ago the last key exchange was made: one an hour, or when the cookies run out or after a NAK",
            nts.keyExchangeAgeSeconds);
    m.Gauge("horolab_ntp_nts_key_exchange_duration_seconds", "Time the last key exchange took", ke.totalMicros / 1e6);
    if (!ke.tls.hasCertificate)
        return;
    const TlsCertificateFacts& certificate = ke.tls.certificate;
    m.Gauge("horolab_ntp_nts_certificate_verified",
            "1 when the server's certificate is trusted, valid now and for the server's name",
            certificate.verified && certificate.nameMatches ? 1 : 0);
    m.Gauge("horolab_ntp_nts_certificate_expiry_timestamp_seconds",
            "When the server's certificate expires, since 1970 (days left: (this - time()) / 86400)",
            static_cast<double>(certificate.notAfter));
}

} // namespace

std::string MetricLabelValue(const std::string& text)
{
    std::string out;
    for (const unsigned char c : text) {
        if (c == '\\' || c == '"')
            out += {'\\', static_cast<char>(c)};
        else if (c == '\n')
            out += "\\n";
        else
            out += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return out;
}

namespace {

// Why a scrape shows no time, as a label: the kiss code the server sent,
// the NTS verdict, or what became of the exchange.
std::string UnreachableLabels(const TargetSample& sample)
{
    if (!sample.missing.empty())
        return Label("reason", sample.missing);
    if (!sample.kissCode.empty())
        return Label("kiss_code", sample.kissCode);
    if (sample.ntsScrape)
        return Label("reason", "nts") + "," + Label("verdict", sample.ntsScrape->verdict.code);
    switch (sample.exchange.outcome) {
    case ExchangeOutcome::Answered: return Label("reason", "not_this_request");
    case ExchangeOutcome::TimedOut: return Label("reason", "no_answer");
    case ExchangeOutcome::ClosedPort: return Label("reason", "port_closed");
    case ExchangeOutcome::WrongSize: return Label("reason", "wrong_size");
    case ExchangeOutcome::NoHost:
    case ExchangeOutcome::InvalidPort:
    case ExchangeOutcome::HostNotFound: return Label("reason", "host_not_found");
    default: return Label("reason", "network_error");
    }
}

} // namespace

std::string TargetMetricsText(const TargetSample& sample, double scrapeSeconds)
{
    CMetricsText m;
    const NtpExchange& e = sample.exchange;
    // A datagram that does not echo the request is no answer to it; with
    // NTS, only an authenticated answer after a verified key exchange is.
    const bool gaveTime = sample.missing.empty() && AnswersTheRequest(e) && sample.kissCode.empty() &&
                          (!sample.ntsScrape || sample.ntsScrape->time);
    m.Gauge("horolab_ntp_reachable",
            "1 when the server answered the last request with the time; else why not is the label: a kiss code "
            "(after DENY or RSTR it is not asked again), the NTS verdict, or a reason",
            gaveTime ? 1 : 0, gaveTime ? std::string() : UnreachableLabels(sample));
    if (gaveTime) {
        const CNtpMsg& r = e.reply;
        const double delay = RoundTripSeconds(e);
        m.Gauge("horolab_ntp_offset_seconds", "Server clock minus local clock, ((T2 - T1) + (T3 - T4)) / 2",
                ClockOffsetSeconds(e));
        m.Gauge("horolab_ntp_delay_seconds", "Round trip of the exchange, (T4 - T1) - (T3 - T2)", delay);
        m.Gauge("horolab_ntp_root_delay_seconds", "Round trip to the primary reference the server reports",
                r.m_rootDelay);
        m.Gauge("horolab_ntp_root_dispersion_seconds", "Dispersion to the primary reference the server reports",
                r.m_rootDispersion);
        m.Gauge("horolab_ntp_root_distance_seconds",
                "(Root delay + round trip) / 2 + root dispersion: how far the local clock may be from the reference "
                "when set from this server",
                RootDistanceSeconds(e));
        m.Gauge("horolab_ntp_stratum", "Stratum of the server: 1 primary, 2-15 secondary, 16 unsynchronised",
                r.m_stratum);
        m.Gauge("horolab_ntp_leap",
                "Leap indicator: 0 no warning, 1 the day's last minute has 61 s, 2 it has 59 s, 3 unsynchronised",
                r.m_leap);
        m.Gauge("horolab_ntp_precision_seconds", "Precision of the server's clock", std::ldexp(1.0, r.m_precision));
        m.Gauge("horolab_ntp_reference_info", "The server's reference identifier", 1,
                Label("reference_id", r.GetRefIdText()));
    }
    if (sample.ntsScrape)
        AddNtsFigures(m, *sample.ntsScrape);
    if (sample.missing.empty())
        m.Gauge("horolab_ntp_sample_age_seconds",
            "How long ago the request was sent: answers are kept 2 s, longer after RATE", sample.ageSeconds);
    m.Gauge("horolab_ntp_scrape_duration_seconds", "Time taken to answer this scrape", scrapeSeconds);
    return m.Take();
}

std::string ExporterMetricsText(const ExporterFigures& f)
{
    CMetricsText m;
    m.Counter("process_cpu_seconds_total", "User and system CPU time spent", f.process.cpuSeconds);
    m.Gauge("process_resident_memory_bytes", "Resident memory size", f.process.residentBytes);
    m.Gauge("process_virtual_memory_bytes", "Virtual memory size", f.process.virtualBytes);
    m.Gauge("process_open_fds", "Open file descriptors", f.process.openFds);
    m.Gauge("process_max_fds", "Most file descriptors the process may open", f.process.maxFds);
    m.Gauge("process_start_time_seconds", "Start time of the process since 1970", f.startTimeSeconds);
    m.Counter("horolab_exporter_ntp_requests_total", "NTP requests sent to targets",
              static_cast<double>(f.requestsSent));
    m.Gauge("horolab_exporter_targets", "Targets whose answers are kept", static_cast<double>(f.targets));
    return m.Take();
}
