#include "support/FaultySockets.h"

#include <algorithm>

namespace {
using Lock = std::lock_guard<std::recursive_mutex>;
// The error of this thread's last injected failure; 0 after a real call.
thread_local int t_injected = 0;
} // namespace

void FaultySockets::FailNext(SocketCall call, int error, int times)
{
    Lock l(m_mutex);
    m_faults[call] = Fault{error, times};
}

void FaultySockets::Heal(SocketCall call) { Lock l(m_mutex); m_faults.erase(call); }
void FaultySockets::SetResolver(AddressResolver resolver) { Lock l(m_mutex); m_resolver = std::move(resolver); }
void FaultySockets::SetAllResolver(ListResolver resolver) { Lock l(m_mutex); m_allResolver = std::move(resolver); }

void FaultySockets::SetResolver(Resolver resolver)
{
    if (!resolver) {
        SetResolver(AddressResolver());
        return;
    }
    SetResolver([resolver](const std::string& host, SockAddrIn& address) {
        address.family = AddressFamilyIPv4;
        return resolver(host, address.address);
    });
}
std::vector<SocketCall> FaultySockets::Calls() { Lock l(m_mutex); return m_calls; }
std::vector<std::string> FaultySockets::LookedUp() { Lock l(m_mutex); return m_lookedUp; }
std::vector<FaultySockets::Sent> FaultySockets::Sends() { Lock l(m_mutex); return m_sends; }
std::vector<uint16_t> FaultySockets::BoundPorts() { Lock l(m_mutex); return m_boundPorts; }

int FaultySockets::Count(SocketCall call)
{
    Lock l(m_mutex);
    return static_cast<int>(std::count(m_calls.begin(), m_calls.end(), call));
}

bool FaultySockets::Enter(SocketCall call)
{
    Lock l(m_mutex);
    m_calls.push_back(call);
    t_injected = 0;
    auto it = m_faults.find(call);
    if (it == m_faults.end() || it->second.times == 0)
        return false;
    if (it->second.times > 0)
        --it->second.times;
    t_injected = it->second.error;
    return true;
}

bool FaultySockets::Startup() { return Enter(SocketCall::Startup) ? false : m_real.Startup(); }

void FaultySockets::Cleanup()
{
    Enter(SocketCall::Cleanup);
    m_real.Cleanup();
}

SocketHandle FaultySockets::CreateUdpSocket()
{
    return Enter(SocketCall::CreateUdpSocket) ? InvalidSocket : m_real.CreateUdpSocket();
}

int FaultySockets::Bind(SocketHandle s, uint16_t port)
{
    {
        Lock l(m_mutex);
        m_boundPorts.push_back(port);
    }
    return Enter(SocketCall::Bind) ? -1 : m_real.Bind(s, port);
}

int FaultySockets::SendTo(SocketHandle s, const uint8_t* data, int length, const SockAddrIn& to)
{
    {
        Lock l(m_mutex);
        m_sends.push_back(Sent{std::vector<uint8_t>(data, data + std::max(length, 0)), to});
    }
    return Enter(SocketCall::SendTo) ? -1 : m_real.SendTo(s, data, length, to);
}

void FaultySockets::UseVirtualWaits(FakeClock& clock, int64_t realMicroseconds)
{
    Lock l(m_mutex);
    m_virtualClock = &clock;
    m_realWaitMicroseconds = realMicroseconds;
}

int FaultySockets::WaitReadable(SocketHandle s, int64_t timeoutMicroseconds)
{
    if (Enter(SocketCall::WaitReadable))
        return -1;
    FakeClock* clock;
    int64_t realWait;
    {
        Lock l(m_mutex);
        clock = m_virtualClock;
        realWait = m_realWaitMicroseconds;
    }
    if (clock == nullptr || timeoutMicroseconds <= realWait)
        return m_real.WaitReadable(s, timeoutMicroseconds);
    const int ready = m_real.WaitReadable(s, realWait);
    if (ready == 0)
        clock->AdvanceMonotonic(timeoutMicroseconds - realWait); // nothing came: the rest of the wait passes
    return ready;
}

int FaultySockets::RecvFrom(SocketHandle s, uint8_t* buffer, int capacity, SockAddrIn* from)
{
    return Enter(SocketCall::RecvFrom) ? -1 : m_real.RecvFrom(s, buffer, capacity, from);
}

bool FaultySockets::SentTime(SocketHandle s, WallTime& at)
{
    return !Enter(SocketCall::SentTime) && m_real.SentTime(s, at);
}

bool FaultySockets::ArrivalTime(SocketHandle s, WallTime& at)
{
    return !Enter(SocketCall::ArrivalTime) && m_real.ArrivalTime(s, at);
}

void FaultySockets::DiscardPending(SocketHandle s)
{
    Enter(SocketCall::DiscardPending);
    m_real.DiscardPending(s);
}

void FaultySockets::Close(SocketHandle s)
{
    Enter(SocketCall::Close);
    m_real.Close(s);
}

int FaultySockets::LastError() { return t_injected != 0 ? t_injected : m_real.LastError(); }

uint32_t FaultySockets::InetAddr(const std::string& text)
{
    Enter(SocketCall::InetAddr);
    return m_real.InetAddr(text);
}

bool FaultySockets::ParseIPv6(const std::string& text, SockAddrIn& address)
{
    Enter(SocketCall::ParseIPv6);
    return m_real.ParseIPv6(text, address);
}

bool FaultySockets::Resolve(const std::string& host, SockAddrIn& address)
{
    AddressResolver resolver;
    {
        Lock l(m_mutex);
        m_lookedUp.push_back(host);
        resolver = m_resolver;
    }
    Enter(SocketCall::Resolve);
    return resolver ? resolver(host, address) : m_real.Resolve(host, address);
}

bool FaultySockets::ResolveAll(const std::string& host, std::vector<SockAddrIn>& addresses)
{
    ListResolver resolver;
    {
        Lock l(m_mutex);
        m_lookedUp.push_back(host);
        resolver = m_allResolver;
    }
    Enter(SocketCall::ResolveAll);
    return resolver ? resolver(host, addresses) : m_real.ResolveAll(host, addresses);
}
