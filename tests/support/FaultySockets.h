#pragma once
// The real socket layer with failures injected on demand: chosen calls fail
// with chosen error codes, look-ups can be answered from the test, and every
// call is recorded. Thread-safe, so the monitor's worker may use it.
#include "fakes/FakeClock.h"
#include "platform/Net.h"

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

enum class SocketCall {
    Startup, Cleanup, CreateUdpSocket, Bind, SendTo, WaitReadable, RecvFrom,
    SentTime, ArrivalTime, DiscardPending, Close, InetAddr, ParseIPv6, Resolve, ResolveAll,
};

class FaultySockets : public ISocketLayer {
public:
    struct Sent {
        std::vector<uint8_t> bytes;
        SockAddrIn to;
    };
    using Resolver = std::function<bool(const std::string& host, uint32_t& address)>;
    using AddressResolver = std::function<bool(const std::string& host, SockAddrIn& address)>;
    using ListResolver = std::function<bool(const std::string& host, std::vector<SockAddrIn>& addresses)>;

    explicit FaultySockets(ISocketLayer& real = PosixSockets()) : m_real(real) {}

    // The next `times` calls of `call` fail with `error`; a negative count
    // makes every later call fail. Startup, CreateUdpSocket, Bind, SendTo,
    // WaitReadable and RecvFrom can fail; SentTime and ArrivalTime then hand
    // out no kernel time, as a kernel without stamps.
    void FailNext(SocketCall call, int error, int times = 1);
    void Heal(SocketCall call);
    // Look-ups go to `resolver` instead of the system's (nullptr: the system's).
    void SetResolver(Resolver resolver); // answers with IPv4 addresses only
    void SetResolver(AddressResolver resolver);
    // Every address of a name from `resolver` (nullptr: the system's).
    void SetAllResolver(ListResolver resolver);
    // A wait longer than `realMicroseconds` waits that long for real; when
    // nothing has come by then, the whole wait passes on `clock` instead.
    // Servers that answer at once are heard, silence costs no real seconds.
    void UseVirtualWaits(FakeClock& clock, int64_t realMicroseconds = 250000);

    int Count(SocketCall call);
    std::vector<SocketCall> Calls();
    std::vector<std::string> LookedUp();
    std::vector<Sent> Sends();
    std::vector<uint16_t> BoundPorts();

    // ISocketLayer
    bool Startup() override;
    void Cleanup() override;
    SocketHandle CreateUdpSocket() override;
    int Bind(SocketHandle s, uint16_t port) override;
    int SendTo(SocketHandle s, const uint8_t* data, int length, const SockAddrIn& to) override;
    int WaitReadable(SocketHandle s, int64_t timeoutMicroseconds) override;
    int RecvFrom(SocketHandle s, uint8_t* buffer, int capacity, SockAddrIn* from) override;
    bool SentTime(SocketHandle s, WallTime& at) override;
    bool ArrivalTime(SocketHandle s, WallTime& at) override;
    void DiscardPending(SocketHandle s) override;
    void Close(SocketHandle s) override;
    int LastError() override;
    uint32_t InetAddr(const std::string& text) override;
    bool ParseIPv6(const std::string& text, SockAddrIn& address) override;
    bool Resolve(const std::string& host, SockAddrIn& address) override;
    bool ResolveAll(const std::string& host, std::vector<SockAddrIn>& addresses) override;

private:
    struct Fault {
        int error = 0;
        int times = 0;
    };
    // Records the call; true (and the injected error set) when it must fail.
    bool Enter(SocketCall call);

    ISocketLayer& m_real;
    std::recursive_mutex m_mutex;
    std::map<SocketCall, Fault> m_faults;
    std::vector<SocketCall> m_calls;
    std::vector<std::string> m_lookedUp;
    std::vector<Sent> m_sends;
    std::vector<uint16_t> m_boundPorts;
    AddressResolver m_resolver;
    ListResolver m_allResolver;
    FakeClock* m_virtualClock = nullptr;
    int64_t m_realWaitMicroseconds = 0;
};
