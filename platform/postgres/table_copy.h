// One Access table into a new table of a PostgreSQL database: the table made with the column
// types of column_types.h and filled through COPY, in one transaction.
//
// Owns: the table's creation and the copy; rows are read by the reader's child process while
// this process sends them, so reading and writing overlap.
// Failures: platform::Error, prefixed "Table '<source>' was not transferred: ". A failure rolls
// the transaction back, so no table or part of one is left; dao::err::kObjectExists when the
// table exists already; the reader's, the writer's and the server's errors otherwise.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/postgres/connection.h"
#include "platform/postgres/copy_writer.h"

namespace platform::postgres {

// "CREATE TABLE <name> (<column> <type>, ...)" for the Access columns.
std::string CreateTableSql(const std::string& name, const std::vector<access::ColumnInfo>& columns,
                           int jetVersion);

// Copies table `source` of the Access file at `mdbPath` into a new table `targetName`; returns
// the rows copied.
std::uint64_t CopyAccessTable(const std::string& mdbPath, int jetVersion, const std::string& source,
                              Connection& target, const std::string& targetName,
                              std::chrono::milliseconds timeout,
                              CopyFormat format = CopyFormat::kBinary);

}  // namespace platform::postgres
