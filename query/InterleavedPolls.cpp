#include "query/InterleavedPolls.h"

void CInterleavedPolls::Prepare(CNtpMsg& request) const
{
    if (!AsksInterleaved())
        return;
    request.m_originate = m_last.t2;
    // The mode is NTPv4's: chronyd answers a version 3 request in basic mode.
    request.m_version = NtpVersion4;
}

void CInterleavedPolls::Settle(NtpExchange& exchange)
{
    if (!AnswersTheRequest(exchange))
        return;
    const ExchangeTimes own = MeasuredTimes(exchange); // the answer's own: not yet marked interleaved
    const bool interleavedForm = exchange.requestReceive != NtpTimestamp{};
    if (interleavedForm && exchange.reply.m_originate == exchange.requestReceive) {
        exchange.mode = ExchangeMode::Interleaved;
        exchange.previous = m_last;
        m_basicInRow = 0;
    } else if (interleavedForm && ++m_basicInRow >= BasicAnswersToGiveUp) {
        m_basicOnly = true;
    }
    m_last = own;
    m_named = exchange.reply.m_receive != NtpTimestamp{};
}
