#pragma once
// One scripted NTP server answering for every 127.0.0.0/8 address: bound to
// 0.0.0.0, it learns each request's destination (IP_PKTINFO) and answers
// from it, so a survey of a thousand loopback addresses needs one process.
// It runs in a child process of its own, so that its thread and memory are
// not those of the program under test or measurement.
#include <arpa/inet.h>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

class CLoopbackResponder {
public:
    CLoopbackResponder()
    {
        const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        const int buffer = 8 << 20; // a survey's burst of requests waits here
        setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &buffer, sizeof buffer);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        socklen_t length = sizeof any;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&any), &length) != 0) {
            ::close(fd);
            return;
        }
        m_port = ntohs(any.sin_port);
        m_pid = fork();
        if (m_pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlives a parent that crashed
            Serve(fd);
        }
        ::close(fd);
    }
    ~CLoopbackResponder()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
    }
    CLoopbackResponder(const CLoopbackResponder&) = delete;
    CLoopbackResponder& operator=(const CLoopbackResponder&) = delete;

    uint16_t Port() const { return m_port; } // 0 when it could not start

private:
    static void PutTimestamp(uint8_t* p, const timespec& t)
    {
        const uint32_t seconds = static_cast<uint32_t>(t.tv_sec + 2208988800LL);
        const uint32_t fraction = static_cast<uint32_t>((static_cast<uint64_t>(t.tv_nsec) << 32) / 1000000000u);
        for (int i = 0; i < 4; ++i) {
            p[i] = static_cast<uint8_t>(seconds >> (24 - 8 * i));
            p[4 + i] = static_cast<uint8_t>(fraction >> (24 - 8 * i));
        }
    }

    // A synchronised stratum-2 server on the local clock: leap 0, version 4,
    // mode 4, the request's transmit time echoed as originate.
    [[noreturn]] static void Serve(int fd)
    {
        for (;;) {
            uint8_t packet[128];
            sockaddr_in client{};
            char control[CMSG_SPACE(sizeof(in_pktinfo))];
            iovec vector{packet, sizeof packet};
            msghdr message{};
            message.msg_name = &client;
            message.msg_namelen = sizeof client;
            message.msg_iov = &vector;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            const ssize_t got = recvmsg(fd, &message, 0);
            if (got < 48)
                continue;
            in_pktinfo destination{};
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c))
                if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO)
                    std::memcpy(&destination, CMSG_DATA(c), sizeof destination);
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            uint8_t answer[48] = {0x24, 2, 6, static_cast<uint8_t>(-20)};
            answer[12] = 127, answer[13] = 127, answer[14] = 1, answer[15] = 1;
            std::memcpy(answer + 24, packet + 40, 8);
            PutTimestamp(answer + 16, now);
            PutTimestamp(answer + 32, now);
            PutTimestamp(answer + 40, now);
            // From the address the request went to.
            in_pktinfo from{};
            from.ipi_spec_dst = destination.ipi_addr;
            std::memcpy(CMSG_DATA(CMSG_FIRSTHDR(&message)), &from, sizeof from);
            message.msg_controllen = CMSG_SPACE(sizeof from);
            CMSG_FIRSTHDR(&message)->cmsg_level = IPPROTO_IP;
            CMSG_FIRSTHDR(&message)->cmsg_type = IP_PKTINFO;
            CMSG_FIRSTHDR(&message)->cmsg_len = CMSG_LEN(sizeof from);
            vector = {answer, sizeof answer};
            sendmsg(fd, &message, 0);
        }
    }

    uint16_t m_port = 0;
    pid_t m_pid = -1;
};
