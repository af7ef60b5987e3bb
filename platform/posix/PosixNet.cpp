#include "platform/Net.h"
#include "platform/posix/AddressChoice.h"
#include "platform/posix/KernelTimestamps.h"
#include "platform/posix/PosixClock.h"
#include "platform/posix/WsaErrno.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int HostNotFound = 11001; // WSAHOST_NOT_FOUND
constexpr int NotSocket = 10038;    // WSAENOTSOCK
// A flood must not keep a drain loop going for ever.
constexpr int MaxDrained = 4096;
// Datagrams taken from the kernel per call: a burst of strays is read out
// faster than a sender can fill the receive buffer.
constexpr int BatchSize = 64;
// Bytes kept of each batched datagram; a longer read goes straight to the kernel.
constexpr int SlotSize = 128;
// Receive buffer asked for: room for a burst while the reader is busy.
constexpr int ReceiveBufferBytes = 1 << 20;

thread_local int t_lastError = 0;

int Fail(int wsaError)
{
    t_lastError = wsaError;
    return -1;
}

// Linux reports an ICMP port unreachable on a datagram socket as
// ECONNREFUSED; Windows Sockets reports the same event as WSAECONNRESET.
int FailDatagram(int error)
{
    return Fail(error == ECONNREFUSED ? WsaError::ConnectionReset : WsaErrorFromErrno(error));
}

// IPv4 destinations of a dual-stack socket are written as ::ffff:a.b.c.d.
sockaddr_in6 ToSockaddr6(const SockAddrIn& a)
{
    sockaddr_in6 s{};
    s.sin6_family = AF_INET6;
    s.sin6_port = a.port;
    if (a.family == AddressFamilyIPv6) {
        std::memcpy(&s.sin6_addr, a.address6, sizeof a.address6);
        s.sin6_scope_id = a.scope;
    } else {
        s.sin6_addr.s6_addr[10] = 0xFF;
        s.sin6_addr.s6_addr[11] = 0xFF;
        std::memcpy(&s.sin6_addr.s6_addr[12], &a.address, 4);
    }
    return s;
}

SockAddrIn FromSockaddr(const sockaddr_storage& storage)
{
    SockAddrIn a;
    if (storage.ss_family == AF_INET) {
        const auto& s = reinterpret_cast<const sockaddr_in&>(storage);
        a.family = AddressFamilyIPv4;
        a.port = s.sin_port;
        a.address = s.sin_addr.s_addr;
    } else if (storage.ss_family == AF_INET6) {
        const auto& s = reinterpret_cast<const sockaddr_in6&>(storage);
        a.port = s.sin6_port;
        if (IN6_IS_ADDR_V4MAPPED(&s.sin6_addr)) {
            a.family = AddressFamilyIPv4;
            std::memcpy(&a.address, &s.sin6_addr.s6_addr[12], 4);
        } else {
            a.family = AddressFamilyIPv6;
            std::memcpy(a.address6, &s.sin6_addr, sizeof a.address6);
            a.scope = s.sin6_scope_id;
        }
    }
    return a;
}

// A time the kernel stamped, if it did.
struct Stamp {
    bool taken = false;
    WallTime at;
};

// Datagrams read from the kernel in one batch and not yet handed out.
struct Batch {
    struct Slot {
        uint8_t bytes[SlotSize];
        int length; // the datagram's real length
        sockaddr_storage peer;
        alignas(cmsghdr) uint8_t control[StampControlBytes];
        Stamp arrival; // the kernel's receive time
    };
    Slot slots[BatchSize];
    int count = 0;
    int next = 0;
    bool Empty() const { return next >= count; }
};

struct SocketState {
    bool dualStack = false;
    std::unique_ptr<Batch> batch = std::make_unique<Batch>();
    uint32_t sends = 0;  // datagrams sent: the kernel numbers their stamps alike
    Stamp sent;          // of the datagram sent last
    Stamp arrival;       // of the datagram read last
    // An ICMP report taken off the error queue while looking for a stamp:
    // the kernel forgets it then, so the next read reports it.
    int pendingError = 0;
};

// Reads the error queue: the last send's stamp into `state`, older stamps
// dropped, and an ICMP report kept for the next read unless that read has
// reported it already (`reported`).
void ReadErrorQueue(int fd, SocketState& state, bool reported)
{
    for (int n = 0; n < MaxDrained; ++n) {
        alignas(cmsghdr) uint8_t control[StampControlBytes];
        msghdr message{};
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        if (::recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0)
            return;
        const ErrorQueueEntry entry = ClassifyErrorQueueEntry(message);
        if (entry.kind == ErrorQueueEntry::Kind::TransmitStamp && entry.key == state.sends - 1)
            state.sent = Stamp{true, entry.at};
        else if (entry.kind == ErrorQueueEntry::Kind::Report && !reported && state.pendingError == 0)
            state.pendingError = entry.error;
    }
}

// The socket's error left by the kernel (SO_ERROR reads and clears it).
int TakeSocketError(int fd)
{
    int error = 0;
    socklen_t length = sizeof error;
    return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 ? error : 0;
}

class CPosixSockets : public ISocketLayer {
public:
    bool Startup() override { return true; }
    // No reference count to drop: a release can never close a socket.
    void Cleanup() override {}
    SocketHandle CreateUdpSocket() override;
    int Bind(SocketHandle s, uint16_t port) override;
    int SendTo(SocketHandle s, const uint8_t* data, int length, const SockAddrIn& to) override;
    int WaitReadable(SocketHandle s, int64_t timeoutMicroseconds) override;
    int RecvFrom(SocketHandle s, uint8_t* buffer, int capacity, SockAddrIn* from) override;
    bool SentTime(SocketHandle s, WallTime& at) override;
    bool ArrivalTime(SocketHandle s, WallTime& at) override;
    void DiscardPending(SocketHandle s) override;
    void Close(SocketHandle s) override;
    int LastError() override { return t_lastError; }
    uint32_t InetAddr(const std::string& text) override;
    bool ParseIPv6(const std::string& text, SockAddrIn& address) override;
    bool Resolve(const std::string& host, SockAddrIn& address) override;
    bool ResolveAll(const std::string& host, std::vector<SockAddrIn>& addresses) override;

private:
    // Only descriptors this layer opened and has not closed count as sockets.
    // A handle kept after its close must never reach a descriptor number the
    // process has since reused for something else. Null when not open.
    SocketState* StateOf(SocketHandle s);
    // Reads the next batch into an empty `batch`; false with the error set
    // when the kernel has nothing or fails.
    static bool Refill(int fd, SocketState& state);
    static int ReadDirect(int fd, SocketState& state, uint8_t* buffer, int capacity, SockAddrIn* from);
    // A failed read: the error, with the error queue read behind it.
    static int FailRead(int fd, SocketState& state, int error);

    std::mutex m_mutex;
    std::map<SocketHandle, SocketState> m_open;
};

SocketState* CPosixSockets::StateOf(SocketHandle s)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto it = m_open.find(s);
    if (it != m_open.end())
        return &it->second;
    Fail(NotSocket);
    return nullptr;
}

SocketHandle CPosixSockets::CreateUdpSocket()
{
    bool dualStack = true;
    int fd = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd < 0 && errno == EAFNOSUPPORT) { // a kernel without IPv6
        dualStack = false;
        fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    }
    if (fd < 0) {
        Fail(WsaErrorFromErrno(errno));
        return InvalidSocket;
    }
    const int on = 1;
    const int off = 0;
    if (dualStack) {
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on);
    }
    // Without it Linux never tells an unconnected socket that the server's
    // port is closed, and the wait would run to its time-out.
    ::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &ReceiveBufferBytes, sizeof ReceiveBufferBytes);
    // Without stamps every time is read in user space instead.
    EnableKernelTimestamps(fd);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_open[fd].dualStack = dualStack;
    return fd;
}

int CPosixSockets::Bind(SocketHandle s, uint16_t port)
{
    const SocketState* state = StateOf(s);
    if (state == nullptr)
        return -1;
    int result = 0;
    if (state->dualStack) {
        sockaddr_in6 any{};
        any.sin6_family = AF_INET6;
        any.sin6_port = htons(port);
        result = ::bind(s, reinterpret_cast<const sockaddr*>(&any), sizeof any);
    } else {
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(port);
        result = ::bind(s, reinterpret_cast<const sockaddr*>(&any), sizeof any);
    }
    return result == 0 ? 0 : Fail(WsaErrorFromErrno(errno));
}

int CPosixSockets::SendTo(SocketHandle s, const uint8_t* data, int length, const SockAddrIn& to)
{
    SocketState* state = StateOf(s);
    if (state == nullptr)
        return -1;
    if (length < 0)
        return Fail(WsaError::Invalid);
    ssize_t sent = -1;
    if (state->dualStack) {
        const sockaddr_in6 address = ToSockaddr6(to);
        sent = ::sendto(s, data, static_cast<size_t>(length), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), sizeof address);
    } else if (to.family == AddressFamilyIPv6) {
        return Fail(WsaError::AddressFamily);
    } else {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = to.port;
        address.sin_addr.s_addr = to.address;
        sent = ::sendto(s, data, static_cast<size_t>(length), MSG_NOSIGNAL,
                        reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    if (sent < 0)
        return FailDatagram(errno);
    ++state->sends;
    state->sent = Stamp{};
    return static_cast<int>(sent);
}

int CPosixSockets::WaitReadable(SocketHandle s, int64_t timeoutMicroseconds)
{
    SocketState* state = StateOf(s);
    if (state == nullptr)
        return -1;
    const int64_t deadline = MonotonicNowMicroseconds() + std::max<int64_t>(timeoutMicroseconds, 0);
    for (;;) {
        if (!state->batch->Empty() || state->pendingError != 0)
            return 1;
        const int64_t us = std::max<int64_t>(deadline - MonotonicNowMicroseconds(), 0);
        const timespec wait{static_cast<time_t>(us / 1000000), static_cast<long>(us % 1000000) * 1000L};
        pollfd entry{s, POLLIN, 0};
        const int ready = ::ppoll(&entry, 1, &wait, nullptr);
        if (ready < 0 && errno == EINTR)
            return 0; // the caller's deadline says whether to wait on
        if (ready < 0)
            return Fail(WsaErrorFromErrno(errno));
        if (ready == 0)
            return 0;
        if (entry.revents & POLLNVAL)
            return Fail(NotSocket);
        if (entry.revents & POLLIN)
            return 1;
        // Only the error queue: a transmit stamp is no reason to wake the
        // caller, a report or an error of the socket is one the read gives.
        ReadErrorQueue(s, *state, false);
        if (state->pendingError == 0)
            state->pendingError = TakeSocketError(s);
    }
}

bool CPosixSockets::Refill(int fd, SocketState& state)
{
    Batch& batch = *state.batch;
    mmsghdr messages[BatchSize]{};
    iovec vectors[BatchSize];
    for (int i = 0; i < BatchSize; ++i) {
        vectors[i] = {batch.slots[i].bytes, SlotSize};
        messages[i].msg_hdr.msg_iov = &vectors[i];
        messages[i].msg_hdr.msg_iovlen = 1;
        messages[i].msg_hdr.msg_name = &batch.slots[i].peer;
        messages[i].msg_hdr.msg_namelen = sizeof batch.slots[i].peer;
        messages[i].msg_hdr.msg_control = batch.slots[i].control;
        messages[i].msg_hdr.msg_controllen = sizeof batch.slots[i].control;
    }
    // MSG_TRUNC: each length is the datagram's real one, so a longer one is
    // seen instead of being cut. A failure after the first datagram stays
    // pending for the next call.
    const int count = ::recvmmsg(fd, messages, BatchSize, MSG_TRUNC | MSG_DONTWAIT, nullptr);
    if (count <= 0) {
        FailRead(fd, state, count < 0 ? errno : EWOULDBLOCK);
        return false;
    }
    for (int i = 0; i < count; ++i) {
        Batch::Slot& slot = batch.slots[i];
        slot.length = static_cast<int>(messages[i].msg_len);
        slot.arrival.taken = ReceiveStamp(messages[i].msg_hdr, slot.arrival.at);
    }
    batch.count = count;
    batch.next = 0;
    return true;
}

// A report read as an error leaves its copy in the error queue, and a
// queued report keeps the socket readable while reads would block; a
// stamp queued there is kept.
int CPosixSockets::FailRead(int fd, SocketState& state, int error)
{
    const bool reported = error != EAGAIN && error != EWOULDBLOCK;
    ReadErrorQueue(fd, state, reported);
    if (!reported && state.pendingError != 0)
        error = std::exchange(state.pendingError, 0);
    return FailDatagram(error);
}

int CPosixSockets::ReadDirect(int fd, SocketState& state, uint8_t* buffer, int capacity, SockAddrIn* from)
{
    sockaddr_storage peer{};
    iovec vector{buffer, static_cast<size_t>(capacity)};
    alignas(cmsghdr) uint8_t control[StampControlBytes];
    msghdr message{};
    message.msg_name = &peer;
    message.msg_namelen = sizeof peer;
    message.msg_iov = &vector;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t length = ::recvmsg(fd, &message, MSG_TRUNC | MSG_DONTWAIT);
    if (length < 0)
        return FailRead(fd, state, errno);
    state.arrival.taken = ReceiveStamp(message, state.arrival.at);
    if (from != nullptr)
        *from = FromSockaddr(peer);
    if (length > capacity)
        return Fail(WsaError::MessageSize);
    return static_cast<int>(length);
}

int CPosixSockets::RecvFrom(SocketHandle s, uint8_t* buffer, int capacity, SockAddrIn* from)
{
    SocketState* state = StateOf(s);
    if (state == nullptr)
        return -1;
    if (capacity < 0)
        return Fail(WsaError::Invalid);
    state->arrival = Stamp{};
    if (state->pendingError != 0)
        return FailDatagram(std::exchange(state->pendingError, 0));
    Batch& batch = *state->batch;
    if (batch.Empty() && capacity > SlotSize)
        return ReadDirect(s, *state, buffer, capacity, from);
    // Never blocks: a readiness that vanished must not hold the caller for ever.
    if (batch.Empty() && !Refill(s, *state))
        return -1;
    const Batch::Slot& slot = batch.slots[batch.next++];
    state->arrival = slot.arrival;
    // A consumed datagram names its sender, also when it was too long.
    if (from != nullptr)
        *from = FromSockaddr(slot.peer);
    // A slot holds only the start of a longer datagram: too long either way.
    if (slot.length > capacity || slot.length > SlotSize)
        return Fail(WsaError::MessageSize);
    std::memcpy(buffer, slot.bytes, static_cast<size_t>(slot.length));
    return slot.length;
}

bool CPosixSockets::SentTime(SocketHandle s, WallTime& at)
{
    SocketState* state = StateOf(s);
    if (state == nullptr)
        return false;
    if (!state->sent.taken)
        ReadErrorQueue(s, *state, false);
    at = state->sent.at;
    return state->sent.taken;
}

bool CPosixSockets::ArrivalTime(SocketHandle s, WallTime& at)
{
    const SocketState* state = StateOf(s);
    if (state == nullptr)
        return false;
    at = state->arrival.at;
    return state->arrival.taken;
}

void CPosixSockets::DiscardPending(SocketHandle s)
{
    SocketState* state = StateOf(s);
    if (state == nullptr)
        return;
    Batch& batch = *state->batch;
    batch.next = batch.count;
    // Every error but "would block" is a report read out of the queue; the
    // datagrams behind it still wait.
    for (int n = 0; n < MaxDrained / BatchSize; ++n) {
        if (!Refill(s, *state) && t_lastError == WsaError::WouldBlock)
            break;
        batch.next = batch.count;
    }
    // What was pending belongs to exchanges that are over.
    ReadErrorQueue(s, *state, true);
    state->pendingError = 0;
}

void CPosixSockets::Close(SocketHandle s)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_open.erase(s) == 0) {
            Fail(NotSocket);
            return;
        }
    }
    ::close(s);
}

uint32_t CPosixSockets::InetAddr(const std::string& text)
{
    if (text.find('\0') != std::string::npos)
        return InaddrNone;
    return ::inet_addr(text.c_str());
}

// Hands the list getaddrinfo finds for `text` in `family` to `use`, which
// says whether it found what it wanted there; false with "host not found"
// when the look-up fails or `use` found nothing.
bool WithAddresses(const std::string& text, int family, int flags, const std::function<bool(const addrinfo*)>& use)
{
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_flags = flags;
    addrinfo* list = nullptr;
    if (text.find('\0') != std::string::npos || ::getaddrinfo(text.c_str(), nullptr, &hints, &list) != 0) {
        Fail(HostNotFound);
        return false;
    }
    const bool found = use(list);
    ::freeaddrinfo(list);
    if (!found)
        Fail(HostNotFound);
    return found;
}

SockAddrIn AddressOf(const addrinfo* entry)
{
    sockaddr_storage storage{};
    std::memcpy(&storage, entry->ai_addr, entry->ai_addrlen);
    return FromSockaddr(storage);
}

// The first IPv4 address found for `text`, else the first IPv6 one, into
// `address` with its port kept.
bool LookUp(const std::string& text, int family, int flags, SockAddrIn& address)
{
    return WithAddresses(text, family, flags, [&](const addrinfo* list) {
        const addrinfo* chosen = FirstIPv4ElseIPv6(list);
        if (chosen == nullptr)
            return false;
        const uint16_t port = address.port;
        address = AddressOf(chosen);
        address.port = port;
        return true;
    });
}

bool CPosixSockets::ParseIPv6(const std::string& text, SockAddrIn& address)
{
    return LookUp(text, AF_INET6, AI_NUMERICHOST, address);
}

bool CPosixSockets::Resolve(const std::string& host, SockAddrIn& address)
{
    return LookUp(host, AF_UNSPEC, 0, address);
}

bool CPosixSockets::ResolveAll(const std::string& host, std::vector<SockAddrIn>& addresses)
{
    return WithAddresses(host, AF_UNSPEC, 0, [&](const addrinfo* list) {
        const size_t before = addresses.size();
        for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
            if (entry->ai_family != AF_INET && entry->ai_family != AF_INET6)
                continue;
            SockAddrIn address = AddressOf(entry);
            address.port = 0;
            bool known = false;
            for (size_t n = before; n < addresses.size() && !known; ++n)
                known = addresses[n].family == address.family && addresses[n].SameEndpoint(address);
            if (!known)
                addresses.push_back(address);
        }
        return addresses.size() > before;
    });
}
} // namespace

std::string AddressText(const SockAddrIn& address)
{
    char text[INET6_ADDRSTRLEN + IF_NAMESIZE + 1] = {};
    if (address.family != AddressFamilyIPv6) {
        ::inet_ntop(AF_INET, &address.address, text, sizeof text);
        return text;
    }
    ::inet_ntop(AF_INET6, address.address6, text, sizeof text);
    std::string result = text;
    if (address.scope != 0) {
        char name[IF_NAMESIZE] = {};
        result += "%";
        result += ::if_indextoname(address.scope, name) ? name : std::to_string(address.scope);
    }
    return result;
}

ISocketLayer& PosixSockets()
{
    static CPosixSockets layer;
    return layer;
}
