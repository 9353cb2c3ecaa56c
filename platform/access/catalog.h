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
};

struct TableInfo {
  std::uint32_t id = 0;  // MSysObjects id: stable across renames
  std::string name;
  int objectType = 1;  // 1 local table, 4 ODBC link, 6 Access link
  bool system = false;
  std::string connect;          // links only
  std::string sourceTableName;  // links only
  std::vector<ColumnInfo> columns;
  std::vector<dao::Index> indexes;  // with the foreign side of each relationship
};

class IsolatedReader;

// Reads the column descriptions the reader's child sent for one table (see WriteColumns in
// mdb_handles.h); throws kUnrecognizedFormat naming `what` for an impossible count.
std::vector<ColumnInfo> ReadColumns(IsolatedReader& in, const std::string& what);

struct Catalog {
  int jetVersion = 0;  // 0 Jet 3, 1 Jet 4, 2+ ACE
  std::vector<TableInfo> tables;
  std::vector<dao::Relation> relations;
};

// Checks the file header before any reader sees the file: size, signature, page size.
// Throws kUnrecognizedFormat with the reason.
void CheckHeader(const std::string& posixPath);

Catalog ReadCatalog(const std::string& posixPath, std::chrono::milliseconds timeout);

}  // namespace platform::access
