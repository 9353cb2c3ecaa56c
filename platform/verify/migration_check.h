// Checking a finished migration: what the Access file held before the run against what the new
// database and the Access file hold after it.
//
// Owns: reading both sides, value by value: the Access rows through the engine's reader (the
// same decoding the transfer uses; a table linked to another Access file is read from its
// back-end, as the transfer reads it), then the target's rows read back through ODBC as an
// application reads them (decimals as their exact text, floating-point values as doubles, bit
// for bit; dates, times, GUIDs, texts and bytes as the driver gives them), in blocks of rows
// fetched into bound columns (a range with a value longer than its buffer again value by value),
// on two connections, a long table in ranges of its row ids that both share;
// the target's indexes, keys and column types through the ODBC catalog functions. The Access side
// of the first 64 tables can be read ahead, while reload.bat runs. Both sides are streamed into
// fixed-size digests: memory does not grow with the rows (the digests of at most 64 tables are held
// at once). Failures: BeforeRun and Check throw platform::Error when a side cannot be read at all
// (the Access file, the data source) and platform::DatabaseLocked when another program keeps the
// new database locked past `lockWait` (the check stops there); a table that cannot be read
// otherwise is reported in its TableCheck.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dao/dao.h"
#include "report/table_check.h"

namespace platform::access {
struct Catalog;
}

namespace platform::verify {

struct AccessSide;

using TableCheck = reporting::TableCheck;

struct CheckRequest {
  std::string accessPath;        // POSIX path of the Access file
  std::string targetConnection;  // ODBC connection string (without "ODBC;")
  bool linked = false;           // the run linked the tables back
  std::string prefix;            // the prefix of the renamed tables
  std::function<std::string(const std::string&)> targetNameOf;
  std::chrono::milliseconds timeout{60000};  // the Access reader's silence
  // How long the target's reads wait for a database another program holds locked.
  std::chrono::milliseconds lockWait{60000};
  // A long table's rows are read in ranges of about this many row ids, shared by the check's two
  // connections; 0: every table read whole on one.
  long long rowsPerRange = 65536;
};

class MigrationChecker {
 public:
  MigrationChecker();
  ~MigrationChecker();
  // Notes the user tables, their indexes and relationships before the run changes anything.
  void BeforeRun(const std::string& accessPath, std::chrono::milliseconds timeout);
  // The tables BeforeRun noted, in the file's order: those the check compares.
  std::vector<std::string> TableNames() const;
  // Reading the Access side ahead, once the run has left the Access file as it stays (while
  // reload.bat finishes the new database): ReadAccessAhead reads the file's catalog, each
  // ReadNextAccessSide one more of the first 64 tables (false when none is left). The next Check
  // takes what was read and reads the rest. Without them, Check reads both sides itself.
  void ReadAccessAhead(const CheckRequest& request);
  bool ReadNextAccessSide();
  std::vector<TableCheck> Check(const CheckRequest& request);
  // Between a table's transfer and its link: "" when the new table `request.targetNameOf(name)`
  // holds the values the Access table `name` held before the run (as BeforeRun noted the file),
  // else what differs. Throws platform::Error when the values cannot be compared. It starts a
  // reader process: call it from the run's thread while no other thread of ours works.
  std::string CompareValues(const CheckRequest& request, const std::string& name);

 private:
  struct ReadAhead;
  // Access sides read and held at once (a digest is 64 KiB).
  static constexpr std::size_t kTablesAtOnce = 64;
  struct TableBefore {
    std::string name;
    dao::ObjectType objectType = dao::ObjectType::kTable;  // a local table or an Access link
    std::vector<dao::Index> indexes;
    int foreignKeys = 0;
    int unreadRelationships = 0;  // declared by the table's definition, not readable
  };
  AccessSide ReadAccessSide(const TableBefore& table, const access::Catalog& after,
                            const CheckRequest& request) const;
  // Completes `sides` to the tables begin .. begin + kTablesAtOnce.
  void ReadAccessSides(const access::Catalog& after, const CheckRequest& request, std::size_t begin,
                       std::vector<AccessSide>& sides) const;

  std::vector<TableBefore> tables_;
  std::unique_ptr<access::Catalog> before_;  // the file's catalog as BeforeRun read it
  std::unique_ptr<ReadAhead> ahead_;
};

}  // namespace platform::verify
