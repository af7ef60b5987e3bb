#pragma once
// An audit as JSON, for `--audit --json`: every address with its grade,
// traffic and checks (result, summary, evidence, the grade each caps at).
#include "audit/Audit.h"

#include <nlohmann/json.hpp>

nlohmann::json AuditJson(const AuditReport& report, AuditGrade minGrade);
// Whether every address reaches `minGrade` (and there is one at all).
bool AuditReaches(const AuditReport& report, AuditGrade minGrade);
