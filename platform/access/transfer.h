// The one Jet statement the Access side executes: "select * into [<connect>].[<table>] from
// [<source>]", which copies an Access table into a new table of an ODBC target.
//
// Owns: parsing the statement, choosing the target's column types, and the copy itself. Rows
// are read by the reader's child process while this process writes them, so reading and
// writing overlap on two cores; the pipe between them bounds the memory in flight.
//
// Column types come from the driver's SQLGetTypeInfo: for each Access type the first SQL type
// in the list below that the driver offers, written as its TYPE_NAME with "(n)" or "(p,s)" when
// its CREATE_PARAMS ask for them:
//   Yes/No         BIT, TINYINT, SMALLINT          Byte      TINYINT, SMALLINT, INTEGER
//   Integer        SMALLINT, INTEGER               Long      INTEGER, BIGINT
//   Single         REAL, FLOAT, DOUBLE             Double    DOUBLE, FLOAT
//   Date/Time      TYPE_TIMESTAMP, TIMESTAMP       Binary(n) VARBINARY(n), BINARY(n), LONGVARBINARY
//   Text(n)        VARCHAR(n), WVARCHAR(n), LONGVARCHAR
//   Memo           LONGVARCHAR, WLONGVARCHAR, VARCHAR       OLE Object LONGVARBINARY, VARBINARY
//   Replication ID GUID, CHAR(38), VARCHAR(38)
//   Currency       DECIMAL(19,4), NUMERIC(19,4)    Decimal(p,s) DECIMAL(p,s), NUMERIC(p,s)
// On Norvane, whose driver lists numeric_blob(p,s) as its DECIMAL, the table also gets the
// columns' default values that translate (platform/access_expressions.h) and, for each
// AutoNumber column, a trigger that numbers a row inserted without a value after the highest
// number in the table and after the last number Access gave (its counter).
// Values: NULL stays NULL; Currency and Decimal as exact decimal text, bound as DECIMAL(p,s)
// (the driver decides how it stores them); Date/Time as "YYYY-MM-DD HH:MM:SS" (a time of day
// keeps the date 1899-12-30); text as UTF-8.
// Rows go in through one prepared single-row insert executed with parameter arrays (bound by
// column, up to 1024 rows, fewer for wide or long rows; an array is sent early once its values
// hold 1 MiB, and long values' buffers are given back after their array). A row the driver
// refuses is named by its number in the table.
// The table is created and filled in one transaction; a failure rolls it back and drops a
// table that remains, so no partial table is left.
// Failures: platform::Error. kUnsupported for any other statement ("unsupported statement")
// or a column type the target cannot hold; kObjectExists when the target table exists;
// kItemNotFound for an unknown source table; the driver's and the reader's errors otherwise,
// each prefixed with the table's name.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/access/catalog.h"
#include "platform/odbc/odbc.h"

namespace platform::access {

struct TransferStatement {
  std::string connect;  // "ODBC;..."
  std::string table;    // target table
  std::string source;   // Access table
};

// The parts of a transfer statement; nothing when `sql` is any other text.
std::optional<TransferStatement> ParseTransferStatement(std::string_view sql);

struct TargetType {
  std::string ddl;          // "varchar(40)"
  SQLSMALLINT sqlType = 0;  // the driver's SQL type
  int precision = 0;        // of a DECIMAL or NUMERIC
  int scale = 0;
};

// Throws kUnsupported when the driver offers none of the candidates.
TargetType ChooseTargetType(const ColumnInfo& column, int jetVersion,
                            const std::vector<odbc::TypeInfo>& types);

// Copies table `source` of the Access file into a new table `targetName` of `target`.
// Returns the number of rows copied.
std::size_t CopyTable(const std::string& mdbPath, int jetVersion, const std::string& source,
                      odbc::Connection& target, const std::string& targetName,
                      std::chrono::milliseconds timeout);

}  // namespace platform::access
