#pragma once
// A TCP server on loopback that accepts every connection and then sends one
// byte on each every interval, never more: a key-exchange server, say, that
// holds its client as long as the client lets it.
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

class CTricklingListener {
public:
    explicit CTricklingListener(std::chrono::milliseconds interval) : m_interval(interval)
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        ::bind(m_socket, reinterpret_cast<sockaddr*>(&at), sizeof at);
        ::listen(m_socket, 64);
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&at), &length);
        m_port = ntohs(at.sin_port);
        m_thread = std::thread([this] { Serve(); });
    }
    ~CTricklingListener()
    {
        m_stop = true;
        m_thread.join();
        for (const int c : m_clients)
            ::close(c);
        ::close(m_socket);
    }
    std::string ServerText() const { return "127.0.0.1:" + std::to_string(m_port); }
    int Accepted() const { return m_accepted; }

private:
    void Serve()
    {
        auto next = std::chrono::steady_clock::now();
        while (!m_stop) {
            pollfd p{m_socket, POLLIN, 0};
            if (::poll(&p, 1, 20) == 1) {
                m_clients.push_back(::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC));
                ++m_accepted;
            }
            if (std::chrono::steady_clock::now() < next)
                continue;
            next += m_interval;
            for (const int c : m_clients)
                ::send(c, "\x16", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        }
    }

    std::chrono::milliseconds m_interval;
    int m_socket = -1;
    uint16_t m_port = 0;
    std::vector<int> m_clients;
    std::atomic<int> m_accepted{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
