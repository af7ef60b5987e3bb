#include "frontends/terminal/RecordingSockets.h"

#include <ctime>

int CRecordingSockets::SendTo(SocketHandle s, const uint8_t* data, int length, const SockAddrIn& to)
{
    m_sent.assign(data, data + length);
    return m_real.SendTo(s, data, length, to);
}

int CRecordingSockets::RecvFrom(SocketHandle s, uint8_t* buffer, int capacity, SockAddrIn* from)
{
    const int got = m_real.RecvFrom(s, buffer, capacity, from);
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    if (got > 0) {
        m_received.assign(buffer, buffer + got);
        m_arrival.Seconds = static_cast<uint32_t>(now.tv_sec + 2208988800LL);
        m_arrival.Fraction = static_cast<uint32_t>(now.tv_nsec * 4294967296.0 / 1e9);
    }
    return got;
}
