#pragma once
// The kernel's software timestamps of a datagram socket: a receive stamp on
// every datagram read, and a transmit stamp of every datagram sent, queued
// on the socket's error queue beside the ICMP reports of IP_RECVERR.
#include "platform/Clock.h"

#include <cstdint>
#include <sys/socket.h>

// Asks for receive and transmit stamps, each send's numbered by a counter
// from 0; false when the kernel offers none.
bool EnableKernelTimestamps(int fd);

// Room for the control messages of one datagram read.
constexpr int StampControlBytes = 256;

// The receive stamp among a read's control messages; false without one.
bool ReceiveStamp(msghdr& message, WallTime& at);

// One entry of the error queue: the transmit stamp of the send numbered
// `key`, or an ICMP report of `error` (an errno value), or neither.
struct ErrorQueueEntry {
    enum class Kind { Other, TransmitStamp, Report } kind = Kind::Other;
    uint32_t key = 0;
    WallTime at;
    int error = 0;
};
ErrorQueueEntry ClassifyErrorQueueEntry(msghdr& message);
