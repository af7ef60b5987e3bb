#pragma once
// A TCP server on loopback that accepts every connection and then sends one
// byte on each every second, never more: a key-exchange server, say, that
// holds its client as long as the client lets it.
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

class CTricklingListener {
public:
    CTricklingListener()
    {
        sockaddr_in at{};
        at.sin_family = AF_INET;
        at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof at;
        ::bind(m_socket, reinterpret_cast<sockaddr*>(&at), length);
        ::listen(m_socket, 64);
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&at), &length);
        m_text = "127.0.0.1:" + std::to_string(ntohs(at.sin_port));
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
    const std::string& ServerText() const { return m_text; }
    int Accepted() const { return m_accepted; }

private:
    void Serve()
    {
        for (auto next = std::chrono::steady_clock::now(); !m_stop;) {
            pollfd p{m_socket, POLLIN, 0};
            if (::poll(&p, 1, 20) == 1) {
                m_clients.push_back(::accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC));
                ++m_accepted;
            }
            if (std::chrono::steady_clock::now() < next)
                continue;
            next += std::chrono::seconds(1);
            for (const int c : m_clients)
                ::send(c, "\x16", 1, MSG_NOSIGNAL | MSG_DONTWAIT);
        }
    }

    int m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    std::string m_text;
    std::vector<int> m_clients;
    std::atomic<int> m_accepted{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
