// Rows of a table: the column descriptions rows are laid out by, and decoding and encoding of
// one row's values.
//
// Owns: the fixed area, variable-column offsets and null mask of Jet 3 and Jet 4 rows.
// Failures: a malformed row throws kUnrecognizedFormat; a row the writer will not write (too long,
// a value of the wrong size) throws kUnsupported.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/jetwriter/jet_version.h"
#include "platform/jetwriter/page_file.h"

namespace jetwriter {

// A column of a table definition, as far as rows are concerned.
struct Column {
  std::string name;
  int type = 0;
  int number = 0;
  int varIndex = 0;
  int fixedOffset = 0;
  int length = 0;
  int flags = 0;
  int sortOrder = 0;
  int sortVersion = 0;  // text columns of Jet 4 and later
  bool fixed() const { return (flags & 0x01) != 0; }
};

inline constexpr int kTypeBool = 1, kTypeByte = 2, kTypeInt = 3, kTypeLong = 4, kTypeMoney = 5,
                     kTypeFloat = 6, kTypeDouble = 7, kTypeDateTime = 8, kTypeBinary = 9,
                     kTypeText = 10, kTypeOle = 11, kTypeMemo = 12, kTypeGuid = 15,
                     kTypeNumeric = 16;

// One row's values by column number; nullopt is null. Fixed values are the stored bytes.
struct RowValues {
  int columnCount = 0;  // as stored in the row
  std::vector<std::optional<Bytes>> values;
};

RowValues DecodeRow(const Bytes& row, const Format& f, const std::vector<Column>& columns);
Bytes EncodeRow(const RowValues& v, const Format& f, const std::vector<Column>& columns);

// Now as an OLE date (days since 1899-12-30), as stored in a DATETIME column.
Bytes OleDateNow();

}  // namespace jetwriter
