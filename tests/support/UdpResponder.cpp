#include "support/UdpResponder.h"

#include <algorithm>
#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
constexpr int PollSliceMs = 20;

int BoundSocket(uint32_t address, uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = address;
    a.sin_port = htons(port);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

uint16_t LocalPort(int fd)
{
    sockaddr_in a{};
    socklen_t length = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
    return ntohs(a.sin_port);
}

// A second loopback address: 127.0.0.2 beside 127.0.0.1, else 127.0.0.1.
uint32_t OtherLoopbackAddress(uint32_t address)
{
    const uint32_t host = ntohl(address);
    return htonl(host == 0x7F000002u ? 0x7F000001u : 0x7F000002u);
}

void PutTimestamp(uint8_t* at, const NtpTimestamp& t)
{
    const uint32_t words[2] = {t.Seconds, t.Fraction};
    for (int w = 0; w < 2; ++w)
        for (int i = 0; i < 4; ++i)
            at[w * 4 + i] = static_cast<uint8_t>(words[w] >> (24 - 8 * i));
}

void CloseIfOpen(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}
} // namespace

CUdpResponder::CUdpResponder(Answer answer, const std::string& address, uint16_t port)
    : m_answer(std::move(answer)), m_address(::inet_addr(address.c_str()))
{
    m_socket = BoundSocket(m_address, port);
    if (m_socket < 0)
        return;
    m_port = LocalPort(m_socket);
    m_otherPortSocket = BoundSocket(m_address, 0);
    // The same port at another address, so that only the address differs.
    const uint32_t other = OtherLoopbackAddress(m_address);
    m_otherAddressSocket = BoundSocket(other, m_port);
    if (m_otherAddressSocket < 0)
        m_otherAddressSocket = BoundSocket(other, 0);
    m_thread = std::thread([this] { Run(); });
}

CUdpResponder::~CUdpResponder() { Stop(); }

void CUdpResponder::Stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    CloseIfOpen(m_socket);
    CloseIfOpen(m_otherPortSocket);
    CloseIfOpen(m_otherAddressSocket);
}

SockAddrIn CUdpResponder::Endpoint() const
{
    SockAddrIn a;
    a.family = AF_INET;
    a.port = htons(m_port);
    a.address = m_address;
    return a;
}

std::string CUdpResponder::ServerText() const
{
    in_addr a{};
    a.s_addr = m_address;
    return std::string(::inet_ntoa(a)) + ":" + std::to_string(m_port);
}

std::vector<CUdpResponder::Request> CUdpResponder::Requests()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

bool CUdpResponder::WaitForRequests(size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_requests.size() >= count; });
}

void CUdpResponder::Run()
{
    uint8_t buffer[2048];
    while (!m_stop) {
        pollfd entry{m_socket, POLLIN, 0};
        if (::poll(&entry, 1, PollSliceMs) <= 0)
            continue;
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = ::recvfrom(m_socket, buffer, sizeof buffer, MSG_DONTWAIT,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0)
            continue;
        Request request;
        request.at = std::chrono::steady_clock::now();
        request.received = CurrentNtpTime();
        request.bytes.assign(buffer, buffer + length);
        request.from.family = AF_INET;
        request.from.port = from.sin_port;
        request.from.address = from.sin_addr.s_addr;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_requests.push_back(request);
        }
        m_changed.notify_all();
        Serve(request);
    }
}

void CUdpResponder::Serve(const Request& request)
{
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = request.from.port;
    to.sin_addr.s_addr = request.from.address;
    for (const Datagram& datagram : m_answer(request)) {
        if (!PauseFor(datagram.delayMs))
            return;
        ::sendto(SocketFor(datagram.source), datagram.bytes.data(), datagram.bytes.size(), 0,
                 reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
}

int CUdpResponder::SocketFor(Source source)
{
    switch (source) {
    case Source::OtherPort: return m_otherPortSocket;
    case Source::OtherAddress: return m_otherAddressSocket;
    default: return m_socket;
    }
}

bool CUdpResponder::PauseFor(int delayMs)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::milliseconds(delayMs), [&] { return m_stop.load(); });
    return !m_stop;
}

CUdpResponder::Answer CUdpResponder::Silence()
{
    return [](const Request&) { return std::vector<Datagram>(); };
}

CUdpResponder::Answer CUdpResponder::Always(std::vector<Datagram> datagrams)
{
    return [datagrams](const Request&) { return datagrams; };
}

CUdpResponder::Answer CUdpResponder::Script(std::vector<std::vector<Datagram>> perRequest)
{
    auto served = std::make_shared<size_t>(0); // the answer runs on one thread only
    return [perRequest, served](const Request&) {
        const size_t n = (*served)++;
        return n < perRequest.size() ? perRequest[n] : std::vector<Datagram>();
    };
}

CUdpResponder::Answer CUdpResponder::NtpServer()
{
    return [](const Request& request) { return std::vector<Datagram>{Message(ServerReply(request))}; };
}

CUdpResponder::Datagram CUdpResponder::Bytes(size_t count, int delayMs, Source source)
{
    Datagram d;
    d.bytes.assign(count, 0);
    if (count > 0)
        d.bytes[0] = 0x24; // leap 0, version 4, mode 4
    if (count > 1)
        d.bytes[1] = 1;
    d.delayMs = delayMs;
    d.source = source;
    return d;
}

CUdpResponder::Datagram CUdpResponder::Message(const CNtpMsg& message, int delayMs, Source source)
{
    Datagram d;
    d.bytes.assign(NtpHeaderSize, 0);
    message.Encode(d.bytes.data(), false);
    // A server sends its timestamps whole; the client's encoder puts noise
    // into their last bytes.
    PutTimestamp(d.bytes.data() + 16, message.m_reference);
    PutTimestamp(d.bytes.data() + 24, message.m_originate);
    PutTimestamp(d.bytes.data() + 32, message.m_receive);
    PutTimestamp(d.bytes.data() + 40, message.m_transmit);
    d.delayMs = delayMs;
    d.source = source;
    return d;
}

void CUdpResponder::EchoOriginate(std::vector<uint8_t>& answer, const Request& request)
{
    if (answer.size() >= 32 && request.bytes.size() >= NtpHeaderSize)
        std::copy(request.bytes.begin() + 40, request.bytes.begin() + 48, answer.begin() + 24);
}

CNtpMsg CUdpResponder::KissReply(const Request& request, const char* code)
{
    CNtpMsg reply = ServerReply(request);
    reply.m_stratum = NtpStratumKiss;
    reply.m_leap = NtpLeapNotSynchronised;
    std::copy(code, code + sizeof reply.m_refId, reply.m_refId);
    return reply;
}

CNtpMsg CUdpResponder::ServerReply(const Request& request)
{
    CNtpMsg reply;
    reply.m_leap = 0;
    reply.m_version = 3;
    reply.m_mode = 4;
    reply.m_stratum = 2;
    reply.m_poll = 6;
    reply.m_precision = -20;
    const uint8_t refId[4] = {127, 127, 1, 1};
    std::copy(refId, refId + 4, reply.m_refId);
    if (request.bytes.size() >= NtpHeaderSize)
        reply.m_originate = CNtpMsg(request.bytes.data()).m_transmit;
    reply.m_reference = request.received;
    reply.m_receive = request.received;
    reply.m_transmit = request.received;
    return reply;
}
