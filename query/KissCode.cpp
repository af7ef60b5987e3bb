#include "query/KissCode.h"

#include <cstring>

std::string KissCode(const NtpExchange& e)
{
    if (!AnswersTheRequest(e) || e.reply.m_stratum != NtpStratumKiss)
        return "";
    const char* bytes = reinterpret_cast<const char*>(e.reply.m_refId);
    return std::string(bytes, strnlen(bytes, sizeof e.reply.m_refId));
}

std::string KissCodeMeaning(const std::string& code)
{
    struct Entry {
        const char* code;
        const char* meaning;
    };
    static const Entry table[] = {
        {"ACST", "the association belongs to a unicast server"},
        {"AUTH", "server authentication failed"},
        {"AUTO", "autokey sequence failed"},
        {"BCST", "the association belongs to a broadcast server"},
        {"CRYP", "cryptographic authentication or identification failed"},
        {"DENY", "access denied by the server"},
        {"DROP", "lost peer in symmetric mode"},
        {"RSTR", "access denied due to local policy"},
        {"INIT", "the association has not yet synchronized for the first time"},
        {"MCST", "the association belongs to a dynamically discovered server"},
        {"NKEY", "no key found"},
        {"NTSN", "NTS negative acknowledgement: the server cannot use the cookie"},
        {"RATE", "rate exceeded: the server asks the client to slow down"},
        {"RMOT", "alteration of association from a remote host"},
        {"STEP", "a step change in system time has occurred"},
    };
    for (const Entry& entry : table)
        if (code == entry.code)
            return entry.meaning;
    return "";
}

KissReaction ReactionToKiss(const std::string& code)
{
    if (code == "RATE")
        return KissReaction::SlowDown;
    if (code == "DENY" || code == "RSTR")
        return KissReaction::Stop;
    return KissReaction::None;
}

uint32_t SlowedDownIntervalMs(uint32_t intervalMs)
{
    return intervalMs >= MaxKissIntervalMs / 2 ? MaxKissIntervalMs : 2 * intervalMs;
}
