#pragma once
// Kiss-o'-death answers: a server that says "stop" or "slow down" instead of
// giving the time answers with stratum 0 and a four-letter code in its
// reference identifier.
#include "query/Exchange.h"

#include <cstdint>
#include <string>

// The code of an answer that is a kiss-o'-death to this very request (its
// Originate Timestamp is the request's Transmit Timestamp): "RATE", "DENY",
// "RSTR", "NTSN", ...; "" for any other outcome. A forged kiss, which does
// not know the request, is not one.
std::string KissCode(const NtpExchange& exchange);
// What the code means, in the words of the protocol's table; "" for a code
// outside it.
std::string KissCodeMeaning(const std::string& code);

// What a client owes a server that kissed it: RATE asks it to poll less
// often, DENY and RSTR to stop asking it; the other codes ask for nothing.
enum class KissReaction { None, SlowDown, Stop };
KissReaction ReactionToKiss(const std::string& code);

// The interval between requests after a RATE: twice as long, at most 64 s.
constexpr uint32_t MaxKissIntervalMs = 64000;
uint32_t SlowedDownIntervalMs(uint32_t intervalMs);
