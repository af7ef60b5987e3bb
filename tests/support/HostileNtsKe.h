#pragma once
// A hostile NTS key-exchange server for the tests: TLS 1.3 with ALPN ntske/1
// on 127.0.0.1 (GnuTLS, server side), on a thread of its own, answering
// every key exchange with records that misbehave in one way.
#include <atomic>
#include <cstdint>
#include <string>
#include <thread>

enum class HostileKeMode {
    Sound,          // what a good server sends
    Trickle,        // the sound records, one byte a second
    BigCookies,     // cookies of 30,000 bytes
    NoEndOfMessage, // the records without their End of Message, then the connection closed
    EscapeText,     // an NTPv4 Server record of terminal escape sequences
    PortZero,       // an NTPv4 Port record of 0
};

class CHostileNtsKe {
public:
    // Serves with the PEM certificate and key; the records name `ntpHost`
    // at `ntpPort` as the NTP server, unless the mode puts other values there.
    CHostileNtsKe(HostileKeMode mode, const std::string& cert, const std::string& key, std::string ntpHost,
                  uint16_t ntpPort);
    ~CHostileNtsKe();
    CHostileNtsKe(const CHostileNtsKe&) = delete;
    CHostileNtsKe& operator=(const CHostileNtsKe&) = delete;

    bool IsListening() const { return m_listener >= 0; }
    std::string ServerText() const { return "127.0.0.1:" + std::to_string(m_port); }

private:
    void Run();
    void Serve(int fd);

    HostileKeMode m_mode;
    std::string m_ntpHost;
    uint16_t m_ntpPort;
    void* m_credentials = nullptr;
    int m_listener = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};
