#pragma once
// The NTS check as the operator reads it in the log pane: the key-exchange
// box, each authenticated exchange as the usual Result and Packet Content
// boxes with what NTS made of it, the plain query when one was needed, and
// the verdict.
#include "nts/NtsCheck.h"
#include "nts/NtsVerdict.h"

#include <string>
#include <vector>

// The boxed key exchange; dates in local time, days left counted from `now`
// (seconds since 1970).
std::string FormatNtsKeyExchangeBox(const NtsKeyExchange& ke, int64_t now);
// A certificate's days: "N days left", or "expired N days ago".
std::string DaysLeft(int64_t notAfter, int64_t now);
// Every block of the report after its first line, in order, for AppendLog.
std::vector<std::string> NtsReportBlocks(const NtsCheck& check, const NtsVerdict& verdict, int64_t now);
// The line a check ends with.
std::string FormatNtsVerdict(const NtsVerdict& verdict);
