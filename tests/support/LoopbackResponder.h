#pragma once
// One scripted NTP server for every 127.0.0.0/8 address, answering from the
// address each request went to: a survey of a thousand loopback addresses
// needs one, in a child process so its thread and memory are not the caller's.
#include "ntp/NtpTimestamp.h"
#include "support/NtpSamples.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstring>
#include <ctime>
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
    // A synchronised stratum-2 server on the local clock: leap 0, version 4,
    // mode 4, the request's transmit time echoed as originate. The request's
    // IP_PKTINFO, sent back with the answer, answers from the address the
    // request went to (its ipi_spec_dst).
    [[noreturn]] static void Serve(int fd)
    {
        for (;;) {
            uint8_t packet[128];
            sockaddr_in client{};
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
            iovec vector{packet, sizeof packet};
            msghdr message{&client, sizeof client, &vector, 1, control, sizeof control, 0};
            if (recvmsg(fd, &message, 0) < 48)
                continue;
            timespec now{};
            clock_gettime(CLOCK_REALTIME, &now);
            const NtpTimestamp t = NtpPreciseTime(now.tv_sec, static_cast<uint32_t>(now.tv_nsec));
            uint8_t answer[48] = {0x24, 2, 6, static_cast<uint8_t>(-20), 0, 0, 0, 0, 0, 0, 0, 0, 127, 127, 1, 1};
            std::memcpy(answer + 24, packet + 40, 8);
            for (const int at : {16, 32, 40})
                PutTimestamp(answer + at, t.Seconds, t.Fraction);
            vector = {answer, sizeof answer};
            sendmsg(fd, &message, 0);
        }
    }

    uint16_t m_port = 0;
    pid_t m_pid = -1;
};
