#pragma once
// The one line that ends an NTS check: the first thing that failed, in words
// an operator acts on, or that all is well.
#include "nts/NtsCheck.h"

#include <string>

struct NtsVerdict {
    std::string code; // short and stable, for scripts: "works", "ke-refused", ...
    std::string text; // the sentence after "Verdict: "
    bool Works() const { return code == "works"; }
};

NtsVerdict JudgeNtsCheck(const NtsCheck& check);
// The key exchange's first fault; the code is "" when it is to be trusted.
NtsVerdict JudgeNtsKeyExchange(const NtsKeyExchange& ke);

// Why an answer of this check must not set the clock ("" when it may): the
// certificate must have been verified for the server's name, and the answer
// authenticated.
std::string NtsClockRefusal(const NtsCheck& check);
// The answer to set the clock from: the last authenticated one, or null.
const NtpExchange* NtsClockAnswer(const NtsCheck& check);
