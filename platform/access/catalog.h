// The catalog of an Access file as the engine keeps it: tables with their columns and indexes,
// and the relationships, read once per open (and again after a catalog change).
//
// Owns: plain values only; reading happens in a child process (isolated_reader.h).
// Failures: ReadCatalog throws platform::Error: kUnrecognizedFormat for a file that is not an
// Access database, is truncated, damaged, encrypted or cannot be decoded, naming the file.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/dao/dao.h"

namespace platform::access {

// Access column types, as stored in the file.
enum class ColumnType : int {
  kBoolean = 0x01,
  kByte = 0x02,
  kInteger = 0x03,
  kLong = 0x04,
  kCurrency = 0x05,
  kSingle = 0x06,
  kDouble = 0x07,
  kDateTime = 0x08,
  kBinary = 0x09,
  kText = 0x0a,
  kOle = 0x0b,
  kMemo = 0x0c,
  kGuid = 0x0f,
  kDecimal = 0x10,
};

const char* ColumnTypeName(int type);

struct ColumnInfo {
  std::string name;
  int type = 0;
  int size = 0;       // bytes in the row (Text: characters)
  int precision = 0;  // Decimal only
  int scale = 0;      // Decimal only
  // The column's properties as Access stores them (expressions in Access's own syntax).
  bool autoNumber = false;
  // An AutoNumber column's table counter: the last number Access gave (next: counter + 1).
  std::uint32_t autoNumberCounter = 0;
  bool required = false;
  bool allowZeroLength = true;
  std::string defaultValue;
  std::string validationRule;
  // The display and lookup properties the column has (Caption, Format, RowSource, ...), by name.
  std::vector<std::string> displayProperties;
  std::string rowSource;  // a lookup's row source: a table, a query or an SQL statement
  // The column's properties a link leaves behind (platform::LeftOffLinks), by name.
  std::vector<std::string> propertiesLeftOff;
};

// The characters a Text column holds: its size, which Jet 4 and later count in bytes of UTF-16.
int TextLength(const ColumnInfo& column, int jetVersion);

// Where the rows of a link to another Access file (type 6) are.
struct BackEnd {
  std::string path;   // the file's POSIX path
  std::string table;  // the table's name there, as that file spells it
  int jetVersion = 0;
  // Why the back-end table cannot be read (the file is missing, damaged, not an Access file,
  // has no such table); 0 when it can.
  int errorNumber = 0;
  std::string error;
};

struct TableInfo {
  std::uint32_t id = 0;  // MSysObjects id: stable across renames
  std::string name;
  dao::ObjectType objectType = dao::ObjectType::kTable;
  std::uint32_t flags = 0;      // MSysObjects.Flags; see dao::IsSystemTable
  std::string connect;          // links only; an Access link's is ";DATABASE=<path>"
  std::string sourceTableName;  // links only
  std::string database;         // Access links: the back-end's path as stored (Windows form)
  BackEnd backEnd;              // Access links only
  // Local tables: the names of the table's own properties (OrderBy, GUID, ...), sorted.
  std::vector<std::string> properties;
  // ODBC links: the display and lookup properties the link holds, per column name (the
  // table's own under "").
  std::vector<std::pair<std::string, std::vector<std::string>>> linkProperties;
  // An Access link shows its back-end table's columns and indexes (empty when it cannot be
  // read; backEnd.error says why).
  std::vector<ColumnInfo> columns;
  std::vector<dao::Index> indexes;  // with the foreign side of each relationship
  // Relationships the table's definition declares (a foreign-side index) that could not be
  // read from the catalog: neither they nor their indexes are in `relations` and `indexes`.
  int unreadRelationships = 0;
  std::string validationRule;  // the table's own rule (over several columns)
};

class IsolatedReader;

// Reads the column descriptions the reader's child sent for one table (see WriteColumns in
// mdb_handles.h), and the table's validation rule into `tableRule` and the names of its own
// properties into `tableProperties` when given; throws kUnrecognizedFormat naming `what` for an
// impossible count.
std::vector<ColumnInfo> ReadColumns(IsolatedReader& in, const std::string& what,
                                    std::string* tableRule = nullptr,
                                    std::vector<std::string>* tableProperties = nullptr);

struct Catalog {
  int jetVersion = 0;  // 0 Jet 3, 1 Jet 4, 2+ ACE
  std::vector<TableInfo> tables;
  std::vector<dao::Relation> relations;
};

// Checks the file header before any reader sees the file: size, signature, page size.
// Throws kUnrecognizedFormat with the reason.
void CheckHeader(const std::string& posixPath);

// Reads the catalog; for each link to another Access file it then reads that file's catalog
// (each back-end once, in a reader child of its own, so a damaged back-end harms only its
// links) and gives the link the back-end table's columns and indexes, with the relationship
// indexes of the back-end's relationships. A back-end that cannot be read is no failure here:
// the link's backEnd.error holds the reason, for whoever reads the table's rows.
Catalog ReadCatalog(const std::string& posixPath, std::chrono::milliseconds timeout);

// Finds the back-end of the Access link `link` (name, connect, sourceTableName and database
// set) and gives it the back-end table's columns and indexes; throws what makes the back-end
// table unreachable.
void ResolveAccessLink(TableInfo& link, std::chrono::milliseconds timeout);

}  // namespace platform::access
