#pragma once
// The audit as the operator reads it in the log pane and the terminal: per
// address its grade, one line per check with its result, the evidence under
// it, and every deduction naming its check; then the name's grade. CR LF
// lines of at most AuditTextWidth columns, the default pane's width.
#include "audit/Audit.h"

#include <string>

constexpr size_t AuditTextWidth = 64;

std::string FormatAuditStart(const AuditReport& report);
std::string FormatAuditReport(const AuditReport& report);
