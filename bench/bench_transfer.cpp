// Times the engine's table transfer and the bare ODBC write ceiling on the same rows.
// Usage: bench_transfer <file.mdb> <work folder> [table ...]   (no tables: every user table)
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "norvane/catalog.h"
#include "platform/access/access_engine.h"
#include "platform/access/rows.h"
#include "platform/error.h"
#include "platform/odbc/odbc.h"
#include "platform/quoting.h"

namespace {

using Clock = std::chrono::steady_clock;

long RssKb(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  return 0;
}

// Resident memory of this process plus its children (the reader), in KiB.
long TreeRssKb() {
  long total = RssKb(getpid());
  std::ifstream children("/proc/self/task/" + std::to_string(getpid()) + "/children");
  pid_t child;
  while (children >> child) total += RssKb(child);
  return total;
}

struct Sample {
  double seconds;
  long kb;
};

class MemoryWatch {
 public:
  MemoryWatch() : start_(Clock::now()), thread_([this] { Run(); }) {}
  ~MemoryWatch() { Stop(); }
  void Stop() {
    if (stop_.exchange(true)) return;
    thread_.join();
  }
  // Peak within the first `fraction` of the run.
  long PeakUntil(double fraction) const {
    const double end = samples_.empty() ? 0 : samples_.back().seconds * fraction;
    long peak = 0;
    for (const Sample& s : samples_)
      if (s.seconds <= end) peak = std::max(peak, s.kb);
    return peak;
  }

 private:
  void Run() {
    while (!stop_) {
      samples_.push_back(
          {std::chrono::duration<double>(Clock::now() - start_).count(), TreeRssKb()});
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  Clock::time_point start_;
  std::atomic<bool> stop_{false};
  std::vector<Sample> samples_;
  std::thread thread_;
};

class Chooser : public dao::DataSourceChooser {
 public:
  explicit Chooser(std::string s) : s_(std::move(s)) {}
  std::optional<std::string> ChooseDataSource() override { return s_; }

 private:
  std::string s_;
};

// The ceiling: the same rows, already in memory, through a bare prepared insert in one
// transaction, on a table made like the engine's.
double Ceiling(const std::string& mdb, const std::string& table, const std::string& createSql,
               const std::filesystem::path& db, std::size_t& rowsOut) {
  platform::access::RowStream stream(mdb, table, std::chrono::seconds(600));
  std::vector<std::vector<platform::access::Cell>> rows;
  std::vector<platform::access::Cell> cells;
  while (stream.Next(cells)) rows.push_back(cells);
  const auto& columns = stream.Columns();
  platform::odbc::Connection target("Driver=Norvane;Database=" + db.string());
  target.ExecDirect(createSql);
  std::string insert = "INSERT INTO " + platform::QuoteName(table) + " VALUES (";
  for (std::size_t i = 0; i < columns.size(); ++i) insert += i ? ",?" : "?";
  insert += ")";
  const auto start = Clock::now();
  target.SetAutoCommit(false);
  platform::odbc::Statement statement(target);
  statement.Check(SQLPrepare(statement.get(), reinterpret_cast<SQLCHAR*>(insert.data()), SQL_NTS),
                  "prepare");
  std::vector<SQLLEN> indicators(columns.size());
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < columns.size(); ++i) {
      const auto& cell = row[i];
      const auto n = static_cast<SQLUSMALLINT>(i + 1);
      SQLLEN& ind = indicators[i];
      ind = cell.null ? SQL_NULL_DATA : 0;
      switch (columns[i].type) {
        case 1:
        case 2:
        case 3:
        case 4:
          SQLBindParameter(statement.get(), n, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0,
                           const_cast<std::int64_t*>(&cell.integer), 0, &ind);
          break;
        case 6:
        case 7:
          SQLBindParameter(statement.get(), n, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0,
                           const_cast<double*>(&cell.real), 0, &ind);
          break;
        default:
          if (!cell.null) ind = static_cast<SQLLEN>(cell.bytes.size());
          SQLBindParameter(statement.get(), n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                           cell.bytes.size() + 1, 0, const_cast<char*>(cell.bytes.data()),
                           static_cast<SQLLEN>(cell.bytes.size()), &ind);
          break;
      }
    }
    statement.Check(SQLExecute(statement.get()), "insert");
  }
  target.Commit();
  rowsOut = rows.size();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string CreateSqlOf(const std::filesystem::path& db, const std::string& table) {
  sqlite3* h = nullptr;
  sqlite3_open(db.c_str(), &h);
  sqlite3_stmt* st = nullptr;
  std::string sql;
  sqlite3_prepare_v2(h, "SELECT sql FROM sqlite_master WHERE name = ?", -1, &st, nullptr);
  sqlite3_bind_text(st, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(st) == SQLITE_ROW)
    sql = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
  sqlite3_finalize(st);
  sqlite3_close(h);
  return sql;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: bench_transfer <file.mdb> <work folder> [table ...]\n";
    return 2;
  }
  const std::string mdb = argv[1];
  const std::filesystem::path work = argv[2];
  const auto engineDb = work / "engine.db";
  const auto ceilingDb = work / "ceiling.db";
  std::filesystem::remove(engineDb);
  std::filesystem::remove(ceilingDb);
  try {
    // The driver opens only Norvane files that exist, as vorlin makes them.
    norvane::CreateDatabase(engineDb);
    norvane::CreateDatabase(ceilingDb);
    Chooser chooser("Driver=Norvane;Database=" + engineDb.string());
    auto engine = platform::access::CreateEngine({&chooser, nullptr, std::chrono::seconds(600)});
    auto access = engine->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet)
                      ->OpenDatabase(mdb, {true, false}, "");
    auto target = engine->CreateWorkspace("NewODBCWorkspace", "admin", "", dao::WorkspaceType::Jet)
                      ->OpenDatabase("", {false, false}, "ODBC;dsn=");
    std::vector<std::string> tables(argv + 3, argv + argc);
    if (tables.empty())
      for (int i = 0; i < access->TableDefs().Count(); ++i) {
        const auto table = access->TableDefs().Item(i);
        if (!dao::IsSystemTable(*table)) tables.push_back(table->Name());
      }
    MemoryWatch watch;
    const auto start = Clock::now();
    for (const std::string& t : tables)
      access->Execute("select * into [" + target->Connect() + "].[" + t + "] from [" + t + "]");
    const double engineSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    watch.Stop();
    access->Close();
    double ceilingSeconds = 0;
    std::size_t rows = 0;
    for (const std::string& t : tables) {
      std::size_t n = 0;
      ceilingSeconds += Ceiling(mdb, t, CreateSqlOf(engineDb, t), ceilingDb, n);
      rows += n;
    }
    std::printf("rows %zu\nengine_seconds %.3f\nceiling_seconds %.3f\n", rows, engineSeconds,
                ceilingSeconds);
    std::printf("peak_kb_first_tenth %ld\npeak_kb_whole %ld\n", watch.PeakUntil(0.1),
                watch.PeakUntil(1.0));
  } catch (const platform::Error& e) {
    std::cerr << "error " << e.Number() << ": " << e.Description() << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cerr << "error: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
