// Rows of one Access table, read in the reader's child process and decoded into exact values.
//
// Owns: the child that walks the table with libmdb and the decoding of every column type into
// a value the target can store without loss: integers and floating-point values as numbers,
// Currency and Decimal as exact decimal text (every digit, never through a double), Date/Time
// as "YYYY-MM-DD HH:MM:SS" (times of day keep their date 1899-12-30), text and memo as UTF-8,
// binary and OLE values as their bytes, GUIDs as "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
// Failures: platform::Error kUnrecognizedFormat naming the file and table when a row or a long
// value is damaged or the reader stops; kUnsupported for a column type without a mapping.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/access/catalog.h"

namespace platform::access {

class IsolatedReader;

// One value of the current row. Which member holds it follows the column type: `integer` for
// Yes/No (0 or 1), Byte, Integer, Long; `real` for Single and Double; `bytes` for everything else
// (text as UTF-8 without terminator).
struct Cell {
  bool null = true;
  std::int64_t integer = 0;
  double real = 0;
  std::vector<char> bytes;
};

// Exact text forms, shared with the tests.
std::string CurrencyText(std::int64_t tenThousandths);
// A decimal number's one written form, for comparing values exactly: no leading or trailing
// zeros, no exponent, no sign on zero ("-012.50" and "-1.25e1" give "-12.5"). Text that is no
// number comes back unchanged.
std::string CanonicalDecimal(std::string_view number);
// The same form appended to `out`.
void AppendCanonicalDecimal(std::string& out, std::string_view number);
// False when the value lies outside the years 100 to 9999.
bool DateTimeText(double days, std::string& out);
std::string GuidText(const unsigned char* sixteenBytes);
// Decimal: sign byte (0x80 negative), then 16 bytes of magnitude (four 32-bit words, most
// significant first, each little-endian).
std::string DecimalText(const unsigned char* seventeenBytes, int scale);
// Jet 4 text: UTF-16LE, or "compressed" (0xFF 0xFE, then runs of one-byte characters toggled
// by 0x00) to UTF-8.
void Jet4TextToUtf8(const unsigned char* data, std::size_t size, std::string& out);

// The outcome of reading one table to its end.
struct TableCheck {
  std::string table;
  std::uint64_t rows = 0;
  int errorNumber = 0;  // 0: every row decoded
  std::string error;
};

// Reads every row of every local table in one child process, decoding each value as a
// transfer would, and sends back only the outcome per table. Throws like RowStream when the
// reader itself stops (crash, time limit).
std::vector<TableCheck> CheckAllTables(const std::string& posixPath,
                                       std::chrono::milliseconds timeout);

class RowStream {
 public:
  // With `only`, the columns of those names (in the table's order; a name the table does not
  // have is left out), otherwise every column. Values of the other columns are not decoded, so
  // damage in them goes unseen.
  RowStream(const std::string& posixPath, const std::string& tableName,
            std::chrono::milliseconds timeout, const std::vector<std::string>& only = {});
  ~RowStream();
  const std::vector<ColumnInfo>& Columns() const { return columns_; }
  // The number of rows the table's definition gives: for progress only, never trusted.
  std::uint32_t ExpectedRows() const { return expectedRows_; }
  // Reads the next row into `cells` (one per column); false at the end of the table.
  bool Next(std::vector<Cell>& cells);

 private:
  std::unique_ptr<IsolatedReader> in_;
  std::string table_;
  std::vector<ColumnInfo> columns_;
  std::uint32_t expectedRows_ = 0;
};

}  // namespace platform::access
