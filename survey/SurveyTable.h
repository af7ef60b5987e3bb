#pragma once
// The survey as the operator reads it, in the log pane and the terminal.
#include "survey/Survey.h"

#include <string>

// The names that did not resolve, one line each, then the line that says
// what is being surveyed (nothing when no address was found).
std::string FormatSurveyStart(const SurveyResult& survey);
// The boxed table, one row per address, then the selection's outcome and
// what the rows' states mean.
std::string FormatSurveyTable(const SurveyResult& survey);
