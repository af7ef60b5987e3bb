#pragma once
// The NTS check as JSON, for the terminal's --nts with --json: the same
// facts as the report, the answers as AnswerJson gives them.
#include "nts/NtsCheck.h"
#include "nts/NtsVerdict.h"

#include <nlohmann/json.hpp>

nlohmann::json NtsCheckJson(const NtsCheck& check, const NtsVerdict& verdict, int64_t now);
