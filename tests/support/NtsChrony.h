#pragma once
// A real chronyd serving NTS on a loopback address, for the system tests:
// certificates made with certtool (a test CA, and server certificates that
// are good, expired, or for another name), the daemon started with -x -d on
// free ports, stopped and restarted with its key store kept or fresh.
#include <string>
#include <sys/types.h>

// The test CA and server certificates in `dir`, made once.
struct NtsCertificates {
    std::string dir;
    std::string ca;           // the CA's certificate, for --nts-ca
    std::string good, goodKey; // for localhost, 127.0.0.1 and 127.0.0.2
    std::string expired, expiredKey;
    std::string otherName, otherNameKey; // for other.example only
    std::string clientOnly, clientOnlyKey; // for localhost, but for TLS clients only
    bool ok = false;
    std::string error;
};
NtsCertificates MakeNtsCertificates(const std::string& dir);

struct NtsChronySetUp {
    std::string address = "127.0.0.1"; // where chronyd listens for NTP and NTS-KE
    std::string cert, key;
    std::string ntsNtpServer;          // ntsntpserver, "" for none
};

class CNtsChrony {
public:
    explicit CNtsChrony(std::string dir) : m_dir(std::move(dir)) {}
    ~CNtsChrony() { Stop(); }
    CNtsChrony(const CNtsChrony&) = delete;
    CNtsChrony& operator=(const CNtsChrony&) = delete;

    // Picks free ports once, then starts chronyd and waits until its key
    // exchange accepts connections; false with the log in `Error()`.
    bool Start(const NtsChronySetUp& setUp);
    void Stop();
    // Stops and starts again on the same ports, with the saved server keys
    // or, with `freshKeys`, an empty key store.
    bool Restart(bool freshKeys);

    int KePort() const { return m_kePort; }
    int NtpPort() const { return m_ntpPort; }
    std::string KeServerText() const { return m_setUp.address + ":" + std::to_string(m_kePort); }
    const std::string& Error() const { return m_error; }

private:
    bool Launch();

    std::string m_dir;
    NtsChronySetUp m_setUp;
    int m_kePort = 0;
    int m_ntpPort = 0;
    pid_t m_pid = -1;
    std::string m_error;
};

// A TCP and UDP port that nothing uses on loopback right now.
int FreeLoopbackPort();
