#pragma once
// One table of audited servers: each row's server and options, its expected
// check results and grade; all audited at once, as the audit runs addresses.
#include "support/NtsChrony.h"
#include "support/UdpResponder.h"

#include "audit/Audit.h"
#include "audit/AuditText.h"
#include "audit/Beside.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

struct AuditRow {
    const char* what;
    std::string server;
    AuditOptions options;
    std::vector<AuditResult> results; // answers, leap, exposure, rate limiting, NTS, families
    AuditGrade grade;
    CUdpResponder* scripted = nullptr; // whose requests must match the traffic counted
};

inline void ExpectAudit(const AuditReport& report, const AuditRow& row)
{
    ASSERT_EQ(report.addresses.size(), 1u) << row.what << ": " << report.failure;
    const AuditAddress& a = report.addresses[0];
    std::vector<AuditResult> results;
    std::string checks;
    for (const AuditCheck& c : a.checks) {
        results.push_back(c.result);
        checks += std::string(AuditCheckName(c.id)) + ": " + c.summary + "\n";
    }
    EXPECT_EQ(results, row.results) << row.what << "\n" << checks;
    EXPECT_EQ(a.grade, row.grade) << row.what << "\n" << checks;
    EXPECT_LE(a.traffic.datagrams, MaxAuditDatagrams) << row.what;
    EXPECT_LE(a.traffic.connections, MaxAuditConnections) << row.what;
    if (row.scripted) {
        EXPECT_EQ(static_cast<int>(row.scripted->Requests().size()), a.traffic.datagrams) << row.what;
    }
    EXPECT_LT(report.seconds, AuditBudgetSeconds) << row.what;
}

// A fixed clock makes the local clock synchronised to within half a second.
inline AuditOptions AuditOptionsFor(int ntsPort = FreeLoopbackPort(), std::vector<std::string> caFiles = {},
                                    bool fixedClock = false)
{
    AuditOptions options;
    options.ntsPort = ntsPort;
    options.caFiles = caFiles;
    if (fixedClock)
        options.localClock = [] { return LocalClockState{true, 0.5}; };
    return options;
}

inline void AuditAll(const std::vector<AuditRow>& rows)
{
    CExchangeEngine engine(PosixSockets(), SystemClock());
    CAuditor auditor(engine, SystemTls(), SystemCrypto());
    std::vector<AuditReport> reports(rows.size());
    std::vector<std::function<void()>> audits;
    for (size_t n = 0; n < rows.size(); ++n)
        audits.push_back([&, n] { reports[n] = auditor.Audit(rows[n].server, rows[n].options); });
    RunTogether(audits);
    for (size_t n = 0; n < rows.size(); ++n) {
        ExpectAudit(reports[n], rows[n]);
        // HOROLAB_AUDIT_REPORTS=1 shows each configuration's report as the
        // operator reads it.
        if (std::getenv("HOROLAB_AUDIT_REPORTS"))
            std::cout << "==== " << rows[n].what << "\n" << FormatAuditReport(reports[n]);
    }
}

