#pragma once
// Port 123 itself, for the tests that send from it (they need root).
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

// A plain socket on 0.0.0.0:123; -1 with errno set when it cannot be had.
inline int HoldPort123()
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in a{AF_INET, htons(123), {htonl(INADDR_ANY)}, {}};
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0)
        return fd;
    const int error = errno;
    ::close(fd);
    errno = error;
    return -1;
}

// Why a test cannot bind port 123 here, or empty when it can.
inline std::string WhyPort123IsOutOfReach()
{
    if (::geteuid() != 0)
        return "binding port 123 needs root";
    const int probe = HoldPort123();
    if (probe < 0)
        return "port 123 is held by another program";
    ::close(probe);
    return {};
}
