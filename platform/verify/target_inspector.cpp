#include "platform/verify/target_inspector.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/access/linked_targets.h"
#include "platform/access/target_file.h"
#include "platform/dao/dao.h"
#include "platform/database_lock.h"
#include "platform/error.h"
#include "platform/fnv1a.h"
#include "platform/odbc/odbc.h"
#include "platform/quoting.h"

namespace platform::verify {
namespace {

[[noreturn]] void Fail(const std::string& path, const std::string& why) {
  throw Error(dao::err::kOdbcCallFailed, "Reading the database " + path + ": " + why);
}

// One read-only connection, closed on every path out.
class ReadOnly {
 public:
  ReadOnly(const std::string& path, std::chrono::milliseconds busy) : path_(path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr) !=
        SQLITE_OK)
      Fail(path_, db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
    sqlite3_busy_timeout(db_, static_cast<int>(busy.count()));
  }
  ~ReadOnly() {
    sqlite3_finalize(statement_);
    sqlite3_close(db_);
  }
  ReadOnly(const ReadOnly&) = delete;
  ReadOnly& operator=(const ReadOnly&) = delete;

  sqlite3_stmt* Prepare(const std::string& sql) {
    sqlite3_finalize(std::exchange(statement_, nullptr));
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement_, nullptr) !=
        SQLITE_OK)
      Fail(path_, sqlite3_errmsg(db_));
    return statement_;
  }
  bool Step() {
    const int rc = sqlite3_step(statement_);
    if (rc == SQLITE_ROW) return true;
    if (rc != SQLITE_DONE) Fail(path_, sqlite3_errmsg(db_));
    return false;
  }

 private:
  std::string path_;
  sqlite3* db_ = nullptr;
  sqlite3_stmt* statement_ = nullptr;
};

// One value's kind and bytes, into the table's digest.
void AddValue(Fnv1a& digest, sqlite3_stmt* s, int c) {
  const auto kind = static_cast<unsigned char>(sqlite3_column_type(s, c));
  digest.Add(&kind, 1);
  if (kind == SQLITE_INTEGER) {
    const sqlite3_int64 v = sqlite3_column_int64(s, c);
    digest.Add(&v, sizeof v);
  } else if (kind == SQLITE_FLOAT) {
    const double v = sqlite3_column_double(s, c);
    digest.Add(&v, sizeof v);
  } else if (kind != SQLITE_NULL) {
    const void* bytes = kind == SQLITE_BLOB ? sqlite3_column_blob(s, c) : sqlite3_column_text(s, c);
    const int size = sqlite3_column_bytes(s, c);
    digest.Add(&size, sizeof size);
    if (size > 0) digest.Add(bytes, static_cast<std::size_t>(size));
  }
}

}  // namespace

bool NorvaneTargetInspector::IsNorvaneDatabase(const std::string& posixPath) {
  return access::KindOfTargetFile(posixPath) == access::TargetFileKind::kNorvane;
}

long NorvaneTargetInspector::ProgramHolding(const std::string& posixPath) {
  return platform::ProgramHoldingLock(posixPath);
}

std::vector<engine::TableState> NorvaneTargetInspector::Tables(const std::string& posixPath) {
  ReadOnly db(posixPath, busy_);
  std::vector<std::string> names;
  for (sqlite3_stmt* s = db.Prepare(
           "SELECT name FROM sqlite_master WHERE type = 'table' AND name NOT LIKE 'sqlite\\_%' "
           "ESCAPE '\\' ORDER BY name");
       db.Step();)
    names.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)));
  std::vector<engine::TableState> tables;
  for (const std::string& name : names) {
    engine::TableState table{name, 0, 0};
    Fnv1a digest;
    sqlite3_stmt* s = db.Prepare("SELECT * FROM " + platform::QuoteName(name));
    const int columns = sqlite3_column_count(s);
    while (db.Step()) {
      ++table.rows;
      for (int c = 0; c < columns; ++c) AddValue(digest, s, c);
    }
    table.digest = digest.Value();
    tables.push_back(std::move(table));
  }
  return tables;
}

std::vector<std::string> NorvaneTargetInspector::TablesLinkedTo(
    const std::string& accessPosixPath, const std::string& databasePosixPath) {
  return access::TablesLinkedTo(accessPosixPath, databasePosixPath, std::chrono::seconds(60));
}

void NorvaneTargetInspector::Remove(const std::string& posixPath) {
  const int fd = ::open(posixPath.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0)
    throw Error(dao::err::kOdbcCallFailed,
                "Cannot open " + posixPath + ": " + std::strerror(errno));
  if (!platform::LockAgainstEveryProgram(fd)) {
    ::close(fd);
    throw Error(dao::err::kOdbcCallFailed,
                posixPath + " is in use by another program (process " +
                    std::to_string(platform::ProgramHoldingLock(posixPath)) + ")");
  }
  // While the locks hold, no program can start to use a journal of the file either.
  for (const char* ending : {"-journal", "-wal", "-shm"}) ::unlink((posixPath + ending).c_str());
  const bool removed = ::unlink(posixPath.c_str()) == 0;
  const int why = errno;
  ::close(fd);
  if (!removed)
    throw Error(dao::err::kOdbcCallFailed,
                "Cannot remove " + posixPath + ": " + std::strerror(why));
}

}  // namespace platform::verify
