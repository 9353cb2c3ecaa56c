// The report of a migration: per table what arrived and whether it checks out.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "options/settings.h"
#include "platform/error.h"
#include "report/property_lines.h"
#include "report/table_check.h"

namespace reporting {

using TableReport = TableCheck;

struct MigrationReport {
  std::vector<TableReport> tables;
  platform::FailureLog runFailures;
  std::vector<std::string> toolErrors;    // what ivex and the command files printed as errors
  std::string verifyError;                // the check itself could not be made
  std::vector<PropertyLines> properties;  // per table: carried and not carried
  std::string accessFormat;  // the Access file's format and what this program does with it
  // The database on a server the migration went into ("PostgreSQL database 'Sales' on server
  // ..."); empty for a Norvane database file, whose report names no target.
  std::string serverTarget;

  bool Ok() const;
};

// Compares what the run left in the Access file and the new database with the Access file's
// tables as they were before the run.
class MigrationVerifier {
 public:
  virtual ~MigrationVerifier() = default;
  // Notes the Access file's tables before the run changes anything.
  virtual void BeforeRun(const MigrationSettings& settings) = 0;
  // The run has left the Access file as it stays: its side of the check may be read while
  // reload.bat finishes the new database, a table at each ReadNextAccessSide (false when none
  // is left). Verify takes what was read.
  virtual void ReadAccessAhead(const MigrationSettings&, const std::string& /*targetConnection*/) {}
  virtual bool ReadNextAccessSide() { return false; }
  // During the run, before the table `accessName` is linked: "" when the new table holds its
  // values (engine::ValuesCheck). A verifier that reads no values has nothing to compare.
  virtual std::string CompareValues(const MigrationSettings&,
                                    const std::string& /*targetConnection*/,
                                    const std::string& /*accessName*/) {
    return "";
  }
  // `targetConnection` is the ODBC connection string of the new database (without "ODBC;").
  virtual std::vector<TableReport> Verify(const MigrationSettings& settings,
                                          const std::string& targetConnection) = 0;
  // Keys of up to five rows of a table of the new database for which an SQL condition does not
  // hold (engine::KeysOfRowsBreaking).
  virtual std::string KeysOfRowsBreaking(const std::string& targetConnection,
                                         const std::string& table,
                                         const std::string& condition) = 0;
};

void PrintReport(const MigrationReport& report, std::ostream& out);

}  // namespace reporting
