#pragma once
// A survey as JSON, for `--survey --json`: the table's rows as objects, with
// the selection's outcome beside them.
#include "survey/Survey.h"

#include <nlohmann/json.hpp>

nlohmann::json SurveyJson(const SurveyResult& survey);
