#include "platform/posix/KernelTimestamps.h"

#include <cerrno>
#include <linux/errqueue.h>
#include <linux/net_tstamp.h>
#include <netinet/in.h>

namespace {
bool SoftwareStamp(const cmsghdr* c, WallTime& at)
{
    if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPING ||
        c->cmsg_len < CMSG_LEN(sizeof(scm_timestamping)))
        return false;
    const auto* stamps = reinterpret_cast<const scm_timestamping*>(CMSG_DATA(c));
    const timespec& software = stamps->ts[0];
    if (software.tv_sec == 0 && software.tv_nsec == 0)
        return false;
    at = WallTime{static_cast<int64_t>(software.tv_sec), static_cast<uint32_t>(software.tv_nsec)};
    return true;
}

const sock_extended_err* ExtendedError(const cmsghdr* c)
{
    const bool recverr = (c->cmsg_level == SOL_IP && c->cmsg_type == IP_RECVERR) ||
                         (c->cmsg_level == SOL_IPV6 && c->cmsg_type == IPV6_RECVERR);
    if (!recverr || c->cmsg_len < CMSG_LEN(sizeof(sock_extended_err)))
        return nullptr;
    return reinterpret_cast<const sock_extended_err*>(CMSG_DATA(c));
}
} // namespace

bool EnableKernelTimestamps(int fd)
{
    // TSONLY: the stamp comes without a copy of the datagram.
    const int flags = SOF_TIMESTAMPING_SOFTWARE | SOF_TIMESTAMPING_RX_SOFTWARE | SOF_TIMESTAMPING_TX_SOFTWARE |
                      SOF_TIMESTAMPING_OPT_ID | SOF_TIMESTAMPING_OPT_TSONLY;
    return ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPING, &flags, sizeof flags) == 0;
}

bool ReceiveStamp(msghdr& message, WallTime& at)
{
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c))
        if (SoftwareStamp(c, at))
            return true;
    return false;
}

// A stamp is told from a report by the origin the kernel gives it, never
// by its errno alone: ENOMSG marks a stamp, and a report carries the ICMP
// error.
ErrorQueueEntry ClassifyErrorQueueEntry(msghdr& message)
{
    const sock_extended_err* error = nullptr;
    WallTime at;
    bool stamped = false;
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        stamped = SoftwareStamp(c, at) || stamped;
        if (const sock_extended_err* e = ExtendedError(c))
            error = e;
    }
    ErrorQueueEntry entry;
    if (error == nullptr)
        return entry;
    if (error->ee_origin == SO_EE_ORIGIN_TIMESTAMPING && error->ee_errno == ENOMSG &&
        error->ee_info == SCM_TSTAMP_SND && stamped) {
        entry.kind = ErrorQueueEntry::Kind::TransmitStamp;
        entry.key = error->ee_data;
        entry.at = at;
    } else if ((error->ee_origin == SO_EE_ORIGIN_ICMP || error->ee_origin == SO_EE_ORIGIN_ICMP6) &&
               error->ee_errno != 0) {
        entry.kind = ErrorQueueEntry::Kind::Report;
        entry.error = static_cast<int>(error->ee_errno);
    }
    return entry;
}
