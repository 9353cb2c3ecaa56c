// norvane-migrate --report-json: the report of every file of a call as one JSON document.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/preflight.h"
#include "report/migration_report.h"

namespace console {

// What one file's job leaves for the JSON report; the job fills what it reached.
struct JobRecord {
  std::string accessFile;
  int status = 1;
  std::optional<engine::PreflightResult> checks;
  std::optional<reporting::MigrationReport> report;
  std::string target;  // the PostgreSQL database the file went into; "" for Norvane
};

// {"report": "norvane-migrate", "files": [{"file", "status", "ok", "checks": [...],
//   "tables": [...], "runFailures": [...], "toolErrors": [...], "verifyError"}...],
//   "status": <overall>}
// The first key marks the file as ours: a later call may replace it (reports before it began
// with "files").
std::string ReportJson(const std::vector<JobRecord>& jobs, int status);

inline constexpr std::string_view kReportStart = "{\"report\":\"norvane-migrate\",";

// Text as a JSON string literal: quotes, backslashes and control characters escaped; bytes
// that are not valid UTF-8 become U+FFFD.
std::string JsonString(const std::string& text);

}  // namespace console
