#pragma once
// A small HTTP/1.1 client for the loopback servers of tests and benchmarks:
// GET only, one connection kept alive between requests, bodies by length,
// in chunks or up to the connection's end.
#include <arpa/inet.h>
#include <cstdint>
#include <cstdlib>
#include <netinet/in.h>
#include <string>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

class CHttpClient {
public:
    struct Response {
        int status = 0; // 0: no answer
        std::string headers;
        std::string body;
    };

    explicit CHttpClient(uint16_t port, const std::string& address = "127.0.0.1") : m_port(port), m_address(address) {}
    ~CHttpClient() { Disconnect(); }
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    Response Get(const std::string& path)
    {
        if (m_socket < 0 && !Connect())
            return {};
        const std::string request = "GET " + path + " HTTP/1.1\r\nHost: " + m_address + ":" + std::to_string(m_port) +
                                    "\r\nUser-Agent: horolab-tests\r\n\r\n";
        if (::send(m_socket, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
            Disconnect();
            return {};
        }
        Response response;
        const size_t end = ReadUntil("\r\n\r\n");
        if (end == std::string::npos) {
            Disconnect();
            return {};
        }
        response.headers = m_buffer.substr(0, end);
        m_buffer.erase(0, end + 4);
        response.status = std::atoi(response.headers.c_str() + response.headers.find(' ') + 1);
        const std::string length = Header(response.headers, "Content-Length");
        if (!length.empty()) {
            const size_t size = std::strtoul(length.c_str(), nullptr, 10);
            while (m_buffer.size() < size && Fill())
                ;
            response.body = m_buffer.substr(0, size);
            m_buffer.erase(0, size);
        } else if (strcasecmp(Header(response.headers, "Transfer-Encoding").c_str(), "chunked") == 0) {
            response.body = ReadChunks();
        } else {
            while (Fill())
                ;
            response.body.swap(m_buffer);
            Disconnect();
        }
        if (strcasecmp(Header(response.headers, "Connection").c_str(), "close") == 0)
            Disconnect();
        return response;
    }

private:
    static std::string Header(const std::string& headers, const std::string& name)
    {
        for (size_t at = headers.find("\r\n"); at != std::string::npos; at = headers.find("\r\n", at + 2)) {
            const size_t line = at + 2;
            if (strncasecmp(headers.c_str() + line, (name + ":").c_str(), name.size() + 1) == 0) {
                const size_t value = headers.find_first_not_of(' ', line + name.size() + 1);
                return headers.substr(value, headers.find("\r\n", value) - value);
            }
        }
        return {};
    }

    bool Connect()
    {
        m_socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(m_port);
        inet_pton(AF_INET, m_address.c_str(), &to.sin_addr);
        if (m_socket >= 0 && ::connect(m_socket, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0)
            return true;
        Disconnect();
        return false;
    }

    void Disconnect()
    {
        if (m_socket >= 0)
            ::close(m_socket);
        m_socket = -1;
        m_buffer.clear();
    }

    bool Fill()
    {
        char chunk[16384];
        const ssize_t got = m_socket < 0 ? -1 : ::recv(m_socket, chunk, sizeof chunk, 0);
        if (got <= 0)
            return false;
        m_buffer.append(chunk, static_cast<size_t>(got));
        return true;
    }

    size_t ReadUntil(const char* mark)
    {
        size_t at;
        while ((at = m_buffer.find(mark)) == std::string::npos)
            if (!Fill())
                return std::string::npos;
        return at;
    }

    std::string ReadChunks()
    {
        std::string body;
        for (;;) {
            const size_t line = ReadUntil("\r\n");
            if (line == std::string::npos)
                return body;
            const size_t size = std::strtoul(m_buffer.c_str(), nullptr, 16);
            m_buffer.erase(0, line + 2);
            while (m_buffer.size() < size + 2 && Fill())
                ;
            if (size == 0) {
                ReadUntil("\r\n"); // the end of the trailer
                m_buffer.erase(0, m_buffer.find("\r\n") + 2);
                return body;
            }
            body += m_buffer.substr(0, size);
            m_buffer.erase(0, size + 2);
        }
    }

    uint16_t m_port;
    std::string m_address;
    int m_socket = -1;
    std::string m_buffer;
};
