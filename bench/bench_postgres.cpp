// The transfer into PostgreSQL: COPY through libpq (binary and text) against psqlODBC with
// parameter arrays, on the same Access file, into the server the environment names (PGHOST,
// PGPORT, PGUSER, PGDATABASE, PGPASSWORD; bench/postgres.sh starts a private one).
// Usage: bench_postgres <file.mdb> [odbc table]   ("-": no psqlODBC runs)
// Prints "rows", "read_seconds" (every table read into memory), then per path the seconds and
// rows/s:
//   copy_binary_memory, copy_text_memory   rows already in memory, COPY in one transaction
//   transfer_copy_binary, transfer_copy_text   the whole transfer of every table (make the
//                                          table, read and COPY its rows, reading overlapped)
//   transfer_odbc_<options>                the whole transfer of the odbc table (default: the
//                                          largest) through psqlODBC: the engine's transfer,
//                                          one prepared insert with parameter arrays of up to
//                                          1024 rows, under each option set
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "platform/access/catalog.h"
#include "platform/access/rows.h"
#include "platform/access/transfer.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/odbc/odbc.h"
#include "platform/postgres/connection.h"
#include "platform/postgres/copy_writer.h"
#include "platform/postgres/table_copy.h"
#include "platform/quoting.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::access::Cell;
using platform::postgres::CopyFormat;
constexpr std::chrono::seconds kTimeout(600);

double Since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

void Print(const std::string& name, double seconds, std::uint64_t rows) {
  std::printf("%-40s %8.3f s %10.0f rows/s\n", name.c_str(), seconds,
              seconds > 0 ? static_cast<double>(rows) / seconds : 0);
  std::fflush(stdout);
}

std::string Env(const char* name) {
  const char* v = std::getenv(name);
  return v ? v : "";
}

struct Table {
  std::string name;
  std::vector<platform::access::ColumnInfo> columns;
  std::vector<std::vector<Cell>> rows;
};

void Drop(platform::postgres::Connection& c, const std::string& table) {
  c.Execute("DROP TABLE IF EXISTS " + platform::QuoteName(table));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: bench_postgres <file.mdb> [odbc table]\n";
    return 2;
  }
  const std::string mdb = argv[1];
  try {
    const auto catalog = platform::access::ReadCatalog(mdb, kTimeout);
    std::vector<std::string> names;
    for (const auto& t : catalog.tables)
      if (t.objectType == dao::ObjectType::kTable && !dao::IsSystemTable(t.name, t.flags))
        names.push_back(t.name);
    platform::postgres::Connection pg(platform::postgres::ServerAddress{});

    // Every table in memory, for the write side alone.
    std::vector<Table> tables;
    std::uint64_t total = 0;
    auto start = Clock::now();
    for (const std::string& name : names) {
      platform::access::RowStream in(mdb, name, kTimeout);
      Table t{name, in.Columns(), {}};
      for (std::vector<Cell> cells; in.Next(cells);) t.rows.push_back(cells);
      total += t.rows.size();
      tables.push_back(std::move(t));
    }
    std::printf("rows %llu\n", static_cast<unsigned long long>(total));
    Print("read_into_memory", Since(start), total);
    std::string odbcTable = argc == 3 ? argv[2] : "";
    std::size_t odbcRows = 0;
    for (const Table& t : tables)
      if (argc == 3 ? t.name == odbcTable : t.rows.size() > odbcRows) {
        odbcTable = t.name;
        odbcRows = t.rows.size();
      }
    for (const auto& [format, label] :
         {std::pair{CopyFormat::kBinary, "binary"}, std::pair{CopyFormat::kText, "text"}}) {
      for (const Table& t : tables) Drop(pg, t.name);
      start = Clock::now();
      for (const Table& t : tables) {
        pg.Execute("BEGIN");
        pg.Execute(platform::postgres::CreateTableSql(t.name, t.columns, catalog.jetVersion));
        platform::postgres::CopyWriter writer(pg, t.name, t.columns, catalog.jetVersion, format,
                                              t.rows.size());
        for (const auto& row : t.rows) writer.Add(row);
        writer.Finish();
        pg.Execute("COMMIT");
      }
      Print(std::string("copy_") + label + "_memory", Since(start), total);
    }
    tables.clear();
    tables.shrink_to_fit();

    for (const auto& [format, label] :
         {std::pair{CopyFormat::kBinary, "binary"}, std::pair{CopyFormat::kText, "text"}}) {
      for (const std::string& name : names) Drop(pg, name);
      start = Clock::now();
      std::uint64_t copied = 0;
      for (const std::string& name : names)
        copied += platform::postgres::CopyAccessTable(mdb, catalog.jetVersion, name, pg, name,
                                                      kTimeout, format);
      Print(std::string("transfer_copy_") + label, Since(start), copied);
    }

    // psqlODBC: the engine's own transfer (parameter arrays) under each option set.
    const std::string odbc = "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=" + Env("PGPORT") +
                             ";Database=" + Env("PGDATABASE") + ";Uid=" + Env("PGUSER") +
                             ";BoolsAsChar=0;";
    if (argc == 3 && std::string(argv[2]) == "-") {
      for (const std::string& name : names) Drop(pg, name);
      return 0;
    }
    std::printf("odbc_table %s (%zu rows)\n", odbcTable.c_str(), odbcRows);
    for (const char* options :
         {"UseServerSidePrepare=1;BatchSize=100;", "UseServerSidePrepare=1;BatchSize=1024;",
          "UseServerSidePrepare=0;BatchSize=1024;", "UseServerSidePrepare=1;BatchSize=1;"}) {
      Drop(pg, odbcTable);
      platform::odbc::Connection target(odbc + options, {std::chrono::seconds(60), kTimeout});
      start = Clock::now();
      const std::size_t n = platform::access::CopyTable(mdb, catalog.jetVersion, odbcTable, target,
                                                        odbcTable, kTimeout);
      Print(std::string("transfer_odbc ") + options, Since(start), n);
    }
    for (const std::string& name : names) Drop(pg, name);
  } catch (const platform::Error& e) {
    std::cerr << "bench_postgres: " << e.Description() << "\n";
    return 1;
  }
  return 0;
}
