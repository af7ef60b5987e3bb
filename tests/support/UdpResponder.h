#pragma once
// A UDP server on a loopback address, run by a thread of its own, that
// answers each request as the test scripts it: any bytes, an encoded
// CNtpMsg, after a delay, from another port or another 127.x address first,
// or not at all. Requests are recorded with their arrival time.
#include "ntp/NtpMsg.h"
#include "platform/Net.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CUdpResponder {
public:
    struct Request {
        std::vector<uint8_t> bytes;
        SockAddrIn from;
        NtpTimestamp received; // the local UTC clock at arrival
        std::chrono::steady_clock::time_point at;
    };
    enum class Source { Self, OtherPort, OtherAddress };
    struct Datagram {
        std::vector<uint8_t> bytes;
        int delayMs = 0; // pause before this datagram goes out
        Source source = Source::Self;
    };
    // Called on the responder's thread for every request; the datagrams are
    // sent in order to the request's sender. An empty list is silence.
    using Answer = std::function<std::vector<Datagram>(const Request&)>;

    // Binds `address` (dotted) at `port`, 0 for any free one.
    explicit CUdpResponder(Answer answer, const std::string& address = "127.0.0.1", uint16_t port = 0);
    ~CUdpResponder();
    CUdpResponder(const CUdpResponder&) = delete;
    CUdpResponder& operator=(const CUdpResponder&) = delete;

    bool IsListening() const { return m_socket >= 0; }
    uint16_t Port() const { return m_port; }
    SockAddrIn Endpoint() const;
    std::string ServerText() const; // "address:port", as typed into the server box
    std::vector<Request> Requests();
    bool WaitForRequests(size_t count, std::chrono::milliseconds timeout);
    // Ends the thread and closes every socket; the port is closed afterwards.
    void Stop();

    // Ready-made answers.
    static Answer Silence();
    static Answer Always(std::vector<Datagram> datagrams);
    // The n-th request gets the n-th list; requests beyond the script get silence.
    static Answer Script(std::vector<std::vector<Datagram>> perRequest);
    // An NTP server's answer to each request (ServerReply), sent at once.
    static Answer NtpServer();

    // `count` bytes that begin like a server's answer (0x24, stratum 1).
    static Datagram Bytes(size_t count, int delayMs = 0, Source source = Source::Self);
    // The message as a server sends it: every timestamp exact to the last bit.
    static Datagram Message(const CNtpMsg& message, int delayMs = 0, Source source = Source::Self);
    // Mode 4, version 3, stratum 2, reference 127.127.1.1, originate = the
    // request's transmit time, receive and transmit = its arrival time.
    static CNtpMsg ServerReply(const Request& request);
    // The same as a kiss-o'-death: stratum 0, leap 3, the four-letter code
    // as the reference identifier.
    static CNtpMsg KissReply(const Request& request, const char* code);
    // Puts the request's Transmit Timestamp into the answer's Originate
    // Timestamp, as a server does.
    static void EchoOriginate(std::vector<uint8_t>& answer, const Request& request);

private:
    void Run();
    void Serve(const Request& request);
    int SocketFor(Source source);
    bool PauseFor(int delayMs); // false when stopping

    Answer m_answer;
    int m_socket = -1;
    int m_otherPortSocket = -1;
    int m_otherAddressSocket = -1;
    uint32_t m_address = 0; // network order
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Request> m_requests;
    std::thread m_thread;
};
