#pragma once
// One NTP server for a whole fleet of loopback addresses: a socket bound to
// 0.0.0.0 at one port answers a request to any 127.x.y.z from the very
// address it was sent to (IP_PKTINFO), as that many servers would.
#include "support/UdpResponder.h"

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

class CAnyAddressResponder {
public:
    CAnyAddressResponder()
    {
        m_socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(m_socket, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        socklen_t length = sizeof at;
        ::bind(m_socket, reinterpret_cast<sockaddr*>(&at), sizeof at);
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&at), &length);
        m_port = ntohs(at.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CAnyAddressResponder()
    {
        m_stop = true;
        m_thread.join();
        ::close(m_socket);
    }
    uint16_t Port() const { return m_port; }
    uint64_t Answered() const { return m_answered; }

private:
    void Serve()
    {
        while (!m_stop) {
            pollfd p{m_socket, POLLIN, 0};
            if (::poll(&p, 1, 50) == 1)
                AnswerOne();
        }
    }
    void AnswerOne()
    {
        CUdpResponder::Request request;
        request.bytes.resize(NtpHeaderSize);
        sockaddr_in from{};
        iovec data{request.bytes.data(), request.bytes.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        msghdr message{&from, sizeof from, &data, 1, control, sizeof control, 0};
        if (::recvmsg(m_socket, &message, 0) != NtpHeaderSize)
            return;
        request.received = CurrentNtpTime();
        cmsghdr* info = CMSG_FIRSTHDR(&message);
        if (!info || info->cmsg_type != IP_PKTINFO)
            return;
        // The answer leaves from the address the request went to.
        auto* pktinfo = reinterpret_cast<in_pktinfo*>(CMSG_DATA(info));
        pktinfo->ipi_spec_dst = pktinfo->ipi_addr;
        pktinfo->ipi_ifindex = 0;
        auto answer = CUdpResponder::Message(CUdpResponder::ServerReply(request));
        iovec out{answer.bytes.data(), answer.bytes.size()};
        msghdr reply{&from, sizeof from, &out, 1, control, sizeof control, 0};
        m_answered += ::sendmsg(m_socket, &reply, 0) > 0;
    }

    int m_socket = -1;
    uint16_t m_port = 0;
    std::atomic<uint64_t> m_answered{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
