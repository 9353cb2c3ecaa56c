// Rows into a prepared single-row INSERT through ODBC parameter arrays.
//
// Owns: one buffer per column (bound by column: numbers as arrays of their C type, text and bytes
// at a fixed stride per value), the status array and the statement's array attributes. Up to
// 1024 rows go in one execute, fewer for wide or long rows (the buffers of an array stay within
// 4 MiB unless one row alone needs more); an array is sent early once its values hold 1 MiB, and
// a column whose values grew beyond 16 KiB gives its buffer back after its array, so memory stays
// flat with long values. Rows are reported to platform::ReportRows after each array.
// Failures: platform::Error with the driver's diagnostics; a row the driver refuses is named by
// its number among the rows added ("inserting row N"), or the array by its rows ("inserting rows
// N to M") when the driver marks none. The transaction is the caller's.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/access/rows.h"
#include "platform/odbc/odbc.h"

namespace platform::access {

// How one column's values are bound.
struct ParamBinding {
  SQLSMALLINT cType = SQL_C_CHAR;  // SQL_C_SBIGINT, SQL_C_FLOAT, SQL_C_DOUBLE, _CHAR, _BINARY
  SQLSMALLINT sqlType = SQL_VARCHAR;
  SQLULEN size = 0;  // column size of a number or decimal parameter; 0: the value's buffer
  SQLSMALLINT digits = 0;
  std::size_t initialStride = 256;  // bytes per text or bytes value to start with, terminator
};

class InsertArray {
 public:
  // `statement` is prepared with one parameter per binding; `expected` rows for progress.
  InsertArray(odbc::Statement& statement, const std::vector<ParamBinding>& bindings,
              std::uint32_t expected);
  InsertArray(const InsertArray&) = delete;
  InsertArray& operator=(const InsertArray&) = delete;

  // Adds a row (one cell per binding, filled as platform::access::RowStream fills them); the
  // array is executed first when the row's long values need more room than it has left, and
  // after the row when it is full.
  void Add(const std::vector<Cell>& cells);
  // Inserts the rows added since the last execute.
  void Execute();
  // Rows inserted so far.
  std::size_t Written() const { return written_; }
  // The bytes the value buffers hold now, and the most they held at once.
  std::size_t BufferBytes() const;
  std::size_t PeakBufferBytes() const { return peak_; }

 private:
  struct Column {
    ParamBinding binding;
    std::size_t stride = 0;  // 0 for a number
    std::vector<std::int64_t> integers;
    std::vector<float> singles;
    std::vector<double> reals;
    std::vector<char> bytes;
    std::vector<SQLLEN> indicators;
  };
  void Attr(SQLINTEGER attribute, SQLULEN value);
  std::size_t CapacityFor(const std::vector<std::size_t>& strides) const;
  void Layout(const std::vector<std::size_t>& strides);

  odbc::Statement& st_;
  std::vector<Column> columns_;
  std::vector<SQLUSMALLINT> status_;
  SQLULEN processed_ = 0;
  std::uint32_t expected_;
  std::size_t capacity_ = 0;
  std::size_t filled_ = 0;
  std::size_t filledBytes_ = 0;
  std::size_t written_ = 0;
  SQLULEN paramsetSize_ = 1;
  std::size_t peak_ = 0;
};

}  // namespace platform::access
