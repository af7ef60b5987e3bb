#include "survey/Survey.h"

#include "query/KissCode.h"
#include "query/ServerText.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <unordered_map>

namespace {
// How long a wait goes before asking whether to stop: soon enough for
// "&Stop", seldom enough that waking costs next to nothing.
constexpr int64_t StopCheckUs = 500000;
// Requests sent in a row before the answers already queued are read, so a
// burst to hundreds of addresses never outgrows the socket's receive buffer.
constexpr int SendsPerTurn = 16;
constexpr int ReadsPerTurn = 64;

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

// The bytes that tell one endpoint from another, for looking a sender up.
std::string EndpointKey(const SockAddrIn& a)
{
    std::string key(reinterpret_cast<const char*>(&a.family), sizeof a.family);
    key.append(reinterpret_cast<const char*>(&a.port), sizeof a.port);
    key.append(reinterpret_cast<const char*>(&a.address), sizeof a.address);
    key.append(reinterpret_cast<const char*>(a.address6), sizeof a.address6);
    key.append(reinterpret_cast<const char*>(&a.scope), sizeof a.scope);
    return key;
}

// One thread's share of the addresses over one socket: each address gets
// its next request when it is due and nothing of its own is in flight, and
// every answer that comes in is matched to its request by sender and
// originate (the options' accept).
class CSurveyLane {
public:
    CSurveyLane(CExchangeEngine& engine, SocketHandle socket, int samples, const std::function<bool()>& keepGoing)
        : m_engine(engine), m_clock(engine.Clock()), m_socket(socket), m_samples(samples), m_keepGoing(keepGoing)
    {
        m_options.accept = EchoesTheRequest; // a stray answer must not pass for a sample
        m_options.sharedSocket = true;
    }

    void Add(SurveyAddress& address)
    {
        address.samples.reserve(static_cast<size_t>(m_samples)); // the one in flight stays put
        m_bySender[EndpointKey(address.address)] = m_slots.size();
        m_slots.push_back({&address});
    }

    void Run()
    {
        for (;;) {
            const int64_t now = m_clock.MonotonicMicroseconds();
            const bool going = m_keepGoing();
            // A wait that ends now may leave its address due at once.
            const int64_t nextDeadline = ExpireOverdue(now);
            const int64_t nextDue = going ? SendDue(now) : NoTime;
            const bool waiting = InFlightCount() > 0;
            if (nextDue == NoTime && !waiting)
                return;
            const int64_t wait = std::min({nextDue, nextDeadline, now + StopCheckUs}) - now;
            if (waiting)
                Receive(wait);
            else // nothing to hear: the clock's pause (a test's passes at once)
                m_clock.Sleep(static_cast<uint32_t>((wait + 999) / 1000));
        }
    }

private:
    static constexpr int64_t NoTime = INT64_MAX;
    struct Slot {
        SurveyAddress* address;
        int64_t due = 0; // monotonic microseconds of its next request
        int64_t deadline = NoTime; // of the request in flight, NoTime when none
    };

    // All its samples taken, or told by a kiss code to go away.
    bool Finished(const Slot& slot) const
    {
        const std::vector<NtpExchange>& samples = slot.address->samples;
        return static_cast<int>(samples.size()) == m_samples || (!samples.empty() && !KissCode(samples.back()).empty());
    }

    size_t InFlightCount() const
    {
        return static_cast<size_t>(
            std::count_if(m_slots.begin(), m_slots.end(), [](const Slot& s) { return s.deadline != NoTime; }));
    }

    // Sends what is due, a turn's worth at most; the time the next one falls
    // due (now when this turn left some), NoTime when nothing is left to send.
    int64_t SendDue(int64_t now)
    {
        int sent = 0;
        int64_t next = NoTime;
        for (Slot& slot : m_slots) {
            if (slot.deadline != NoTime || Finished(slot))
                continue;
            if (slot.due > now || sent == SendsPerTurn) {
                next = std::min(next, std::max(slot.due, now));
                continue;
            }
            Send(slot);
            ++sent;
            if (slot.deadline == NoTime && !Finished(slot)) // the send failed: due again later
                next = std::min(next, slot.due);
        }
        return next;
    }

    void Send(Slot& slot)
    {
        SurveyAddress& a = *slot.address;
        a.samples.emplace_back();
        NtpExchange& exchange = a.samples.back();
        const bool sent = m_engine.Send(m_socket, a.address, m_engine.NewRequest(false), m_options, exchange) >= 0;
        // Counted from after the send, so that no two sends are nearer than the spacing.
        const int64_t after = m_clock.MonotonicMicroseconds();
        slot.due = after + int64_t{SurveySpacingMs} * 1000;
        if (sent)
            slot.deadline = after + int64_t{m_options.timeoutSeconds} * 1000000;
    }

    // Waits up to `wait` for the first datagram, then reads what is queued behind it.
    void Receive(int64_t wait)
    {
        const std::function<NtpExchange*(const SockAddrIn&)> inFlight = [this](const SockAddrIn& from) {
            Slot* slot = SlotOf(from);
            return slot != nullptr && slot->deadline != NoTime ? &slot->address->samples.back() : nullptr;
        };
        for (int n = 0; n < ReadsPerTurn; ++n, wait = 0) {
            const NtpExchange* settled = m_engine.ReceiveAny(m_socket, m_options, wait, inFlight);
            if (settled == nullptr)
                return;
            SlotOf(settled->server)->deadline = NoTime;
        }
    }

    // The slot a datagram from `from` is for. A report without a sender
    // belongs to the one request in flight, when there is only one.
    Slot* SlotOf(const SockAddrIn& from)
    {
        if (from.family == 0 && InFlightCount() == 1)
            return &*std::find_if(m_slots.begin(), m_slots.end(), [](const Slot& s) { return s.deadline != NoTime; });
        const auto it = m_bySender.find(EndpointKey(from));
        return it == m_bySender.end() ? nullptr : &m_slots[it->second];
    }

    // Ends the waits that are over; the earliest deadline still to come.
    int64_t ExpireOverdue(int64_t now)
    {
        int64_t next = NoTime;
        for (Slot& slot : m_slots) {
            if (slot.deadline == NoTime)
                continue;
            if (slot.deadline > now) {
                next = std::min(next, slot.deadline);
                continue;
            }
            slot.address->samples.back().outcome = ExchangeOutcome::TimedOut;
            slot.deadline = NoTime;
        }
        return next;
    }

    CExchangeEngine& m_engine;
    IClock& m_clock;
    SocketHandle m_socket;
    int m_samples;
    const std::function<bool()>& m_keepGoing;
    ExchangeOptions m_options;
    std::vector<Slot> m_slots;
    std::unordered_map<std::string, size_t> m_bySender;
};

// Every lane's socket, fewer when the system gives fewer; with none at all,
// each address keeps the failure as its one sample, never sent.
std::vector<SocketHandle> OpenLaneSockets(CExchangeEngine& engine, SurveyResult& survey)
{
    std::vector<SocketHandle> sockets;
    NtpExchange failure;
    const size_t wanted = std::min<size_t>(SurveyLanes, survey.addresses.size());
    while (sockets.size() < wanted) {
        const SocketHandle socket = engine.OpenSocket(failure);
        if (socket == InvalidSocket)
            break;
        sockets.push_back(socket);
    }
    if (sockets.empty()) {
        for (SurveyAddress& a : survey.addresses) {
            a.samples = {failure};
            a.samples.back().server = a.address;
        }
    }
    return sockets;
}

void RunLanes(std::vector<CSurveyLane>& lanes)
{
    std::vector<std::thread> workers;
    for (size_t n = 1; n < lanes.size(); ++n) {
        try {
            workers.emplace_back(&CSurveyLane::Run, &lanes[n]);
        } catch (const std::system_error&) {
            lanes[n].Run(); // no thread to be had: its turn comes now
        }
    }
    if (!lanes.empty())
        lanes[0].Run();
    for (std::thread& worker : workers)
        worker.join();
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
    std::vector<SocketHandle> sockets = OpenLaneSockets(engine, survey);
    std::vector<CSurveyLane> lanes;
    for (SocketHandle socket : sockets)
        lanes.emplace_back(engine, socket, samples, keepGoing);
    for (size_t n = 0; n < survey.addresses.size() && !lanes.empty(); ++n)
        lanes[n % lanes.size()].Add(survey.addresses[n]);
    RunLanes(lanes);
    for (SocketHandle& socket : sockets)
        engine.CloseSocket(socket);

    for (SurveyAddress& address : survey.addresses)
        JudgeSamples(address);
    survey.stopped = !keepGoing() && std::any_of(survey.addresses.begin(), survey.addresses.end(), [&](const SurveyAddress& a) {
                         return static_cast<int>(a.samples.size()) < samples && a.kissCode.empty();
                     });
    SelectTruechimers(survey);
}
