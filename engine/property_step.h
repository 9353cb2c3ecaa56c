// The step after reload.bat: what an Access application relies on beyond columns and keys.
//
// Owns: reading the fields' properties, the tables' rules and the relationships' cascades
// through the engine before the run; after reload.bat, asking the new database which rows
// would break each of them, and writing what they all keep into properties.sql (ivex's
// "modify ... not null", "add check (...)", "modify foreign key ... on update / on delete"),
// started by properties.bat with the query tool, as reload.bat is; and a list per table of what
// was carried and what was not, and why.
// Defaults and AutoNumber are carried when the transfer creates the table; they are listed here.
// For the PostgreSQL target (settings.Target) the statements are the server's ("alter column ...
// set not null", "add check (...)" in its dialect, defaults as "set default", each AutoNumber
// an identity column numbering after the highest number and Access's counter), run by psql from
// properties.bat; the cascades are reload2.sql's and only listed here.
// Failures: each failing step (reading, asking the database, writing or starting the files) is
// recorded in Failures() and the step goes on; a property the data breaks is no failure: it is
// listed as not carried with the keys of up to five of the rows that break it. A question that
// throws platform::DatabaseLocked (another program keeps the database locked) ends the step:
// it is recorded, nothing is written or started.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/shell_start.h"
#include "report/property_lines.h"

struct MigrationSettings;

namespace engine {

using reporting::PropertyLines;

// Keys of up to five rows of a target table for which an SQL condition does not hold, as
// "(k1), (k2)"; empty when every row keeps it. Throws platform::Error when it cannot ask.
using KeysOfRowsBreaking =
    std::function<std::string(const std::string& table, const std::string& sql)>;

class PropertyStep {
 public:
  // Reads the Access file named by the settings (read only) through `engine`. Before the run.
  void ReadBefore(dao::Engine& engine, const MigrationSettings& settings);
  // Plans against the new database, writes properties.sql and properties.bat into the work
  // folder and starts the batch; its task id, or nothing when there is nothing to run (or it
  // could not be started: see Failures()).
  std::optional<int> Start(const MigrationSettings& settings,
                           const KeysOfRowsBreaking& rowsBreaking,
                           platform::CommandStarter& commands);
  // Deletes the two files once the batch has ended.
  void RemoveFiles(const MigrationSettings& settings);

  const std::vector<PropertyLines>& Lines() const { return lines_; }
  const platform::FailureLog& Failures() const { return failures_; }

  // The statements of properties.sql, as Start writes them (for tests).
  const std::vector<std::string>& Statements() const { return statements_; }

 private:
  struct Table {
    std::string accessName;
    std::vector<dao::Field> fields;
    std::string rule;
  };
  std::vector<Table> tables_;
  std::vector<dao::Relation> relations_;
  std::vector<PropertyLines> lines_;
  std::vector<std::string> statements_;
  platform::FailureLog failures_;
};

}  // namespace engine
