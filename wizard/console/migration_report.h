// The report of a console migration: per table what arrived and whether it checks out.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "platform/error.h"
#include "wizard/settings.h"

namespace console {

struct TableReport {
  std::string accessName;
  std::string targetName;
  long long accessRows = -1;  // -1: could not be counted
  long long targetRows = -1;
  bool checksumsEqual = false;
  std::string checksumNote;  // what differs, when something does
  int indexesExpected = 0;
  int indexesCreated = 0;
  bool primaryKeyExpected = false;
  bool primaryKeyPresent = false;
  int foreignKeysExpected = 0;
  int foreignKeysPresent = 0;
  std::vector<std::string> timeColumns;  // columns that arrived as time
  bool linkExpected = false;
  bool linked = false;  // the Access file holds the prefixed table and the link

  bool Ok() const;
};

struct MigrationReport {
  std::vector<TableReport> tables;
  platform::FailureLog runFailures;
  std::vector<std::string> toolErrors;  // what ivex and the command files printed as errors
  std::string verifyError;              // the check itself could not be made

  bool Ok() const;
};

// Compares what the run left in the Access file and the new database with the Access file's
// tables as they were before the run.
class MigrationVerifier {
 public:
  virtual ~MigrationVerifier() = default;
  // `targetConnection` is the ODBC connection string of the new database (without "ODBC;").
  virtual std::vector<TableReport> Verify(const MigrationSettings& settings,
                                          const std::string& targetConnection) = 0;
};

void PrintReport(const MigrationReport& report, std::ostream& out);

}  // namespace console
