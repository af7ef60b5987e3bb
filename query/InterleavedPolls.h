#pragma once
// A run of polls to one server in interleaved mode (RFC 9769). Each request
// after an answer names that answer (its Originate Timestamp carries the
// answer's Receive Timestamp); a server that keeps the precise transmit time
// of its answers sends that one back, and it completes the exchange before.
#include "query/Exchange.h"

class CInterleavedPolls {
public:
    // Basic answers in a row to interleaved requests after which the server
    // is asked in basic form for the rest of the run. chronyd answers the
    // first interleaved request in basic mode (no transmit time saved yet),
    // and so does a server just restarted.
    static constexpr int BasicAnswersToGiveUp = 4;

    // Puts the request into interleaved form when there is an answer to name.
    void Prepare(CNtpMsg& request) const;
    // After the poll: an interleaved answer is marked so, with the times of
    // the exchange it completes; an answer's own times are kept for the next.
    // A poll without an answer leaves the last answer named.
    void Settle(NtpExchange& exchange);
    bool AsksInterleaved() const { return m_named && !m_basicOnly; }

private:
    ExchangeTimes m_last; // of the last exchange answered (its T3 is the next answer's)
    bool m_named = false; // whether it can be named (it carried a receive time)
    int m_basicInRow = 0;
    bool m_basicOnly = false;
};
