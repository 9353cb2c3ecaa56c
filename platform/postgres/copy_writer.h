// Rows into a PostgreSQL table in bulk, through COPY ... FROM STDIN.
//
// Owns: the COPY of one table on a connection, from its start to its end, and the encoding of
// the rows platform::access::RowStream reads (platform::access::Cell, one per column) into
// COPY's binary or text format. Every value goes over exactly: numbers as their bits or their
// shortest round-trip text, Currency and Decimal from their exact decimal text, Date/Time with
// its fraction of a second when the text has one, text as UTF-8, bytes as they are, GUIDs as
// their 16 bytes. Rows are buffered and sent 256 KiB at a time; platform::ReportRows hears the
// rows sent after each send.
// Failures: platform::Error. dao::err::kUnsupported, before anything is sent for the row, for
// a value PostgreSQL cannot hold or that is not of its column's form (a NUL character in text,
// a malformed decimal, date or GUID), naming the row (counted from 1) and the column; the
// server's refusal (dao::err::kOdbcCallFailed) names the row as the server counts it ("COPY t,
// line 3"). A writer destroyed before Finish ends the COPY as failed, so nothing of it stays.
// The transaction is the caller's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/access/catalog.h"
#include "platform/access/rows.h"
#include "platform/postgres/column_types.h"
#include "platform/postgres/connection.h"

namespace platform::postgres {

enum class CopyFormat { kBinary, kText };

class CopyWriter {
 public:
  // Starts the COPY into `table`, whose columns are `columns` with the types PostgresType
  // gives, in this order. `expected` rows for progress.
  CopyWriter(Connection& connection, const std::string& table,
             const std::vector<access::ColumnInfo>& columns, int jetVersion, CopyFormat format,
             std::uint64_t expected = 0);
  CopyWriter(const CopyWriter&) = delete;
  CopyWriter& operator=(const CopyWriter&) = delete;
  ~CopyWriter();

  void Add(const std::vector<access::Cell>& cells);
  // Sends the rest and ends the COPY; returns the rows the server stored.
  std::uint64_t Finish();
  std::uint64_t Added() const { return added_; }

 private:
  void Binary(const access::Cell& cell, std::size_t column);
  void Text(const access::Cell& cell, std::size_t column);
  [[noreturn]] void Refuse(std::size_t column, const std::string& why) const;
  void Send();

  Connection& conn_;
  std::string table_;
  std::vector<access::ColumnInfo> columns_;
  std::vector<PgKind> kinds_;
  CopyFormat format_;
  std::uint64_t expected_;
  std::uint64_t added_ = 0;
  bool open_ = false;
  std::string buffer_;
  std::string scratch_;
};

}  // namespace platform::postgres
