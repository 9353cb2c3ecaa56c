#include "platform/access/target_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <thread>

#include <odbcinst.h>

#include <filesystem>

#include "platform/access/linked_targets.h"
#include "platform/access_format.h"
#include "platform/dao/dao.h"
#include "platform/database_lock.h"
#include "platform/error.h"
#include "platform/odbc/odbc.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace platform::access {
namespace {

constexpr std::uint32_t kNorvaneApplicationId = 0x4E4F5256;  // "NORV"

bool LooksLikeText(const unsigned char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned char c = bytes[i];
    if (c == 0 || (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f')) return false;
  }
  return true;
}

std::string WhatItIs(TargetFileKind kind, const std::string& reason) {
  switch (kind) {
    case TargetFileKind::kNorvane:
      return "a Norvane database";
    case TargetFileKind::kMissing:
      return "not there (\"Create DB\" creates the database first)";
    case TargetFileKind::kFolder:
      return "a folder";
    case TargetFileKind::kEmpty:
      return "an empty file";
    case TargetFileKind::kUnreadable:
      return "a file that cannot be read (" + reason + ")";
    case TargetFileKind::kAccess:
      return "an Access database";
    case TargetFileKind::kZip:
      return "a ZIP archive";
    case TargetFileKind::kOtherSqlite:
      return "a SQLite database of another program";
    case TargetFileKind::kText:
      return "a text file";
    case TargetFileKind::kOther:
      break;
  }
  return "a file of another kind";
}

}  // namespace

TargetFileKind KindOfTargetFile(const std::string& posixPath, std::string* reason) {
  struct stat st {};
  if (::stat(posixPath.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return TargetFileKind::kMissing;
    if (reason) *reason = std::strerror(errno);
    return TargetFileKind::kUnreadable;
  }
  if (S_ISDIR(st.st_mode)) return TargetFileKind::kFolder;
  if (!S_ISREG(st.st_mode)) return TargetFileKind::kOther;
  if (st.st_size == 0) return TargetFileKind::kEmpty;
  const int fd = ::open(posixPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    if (reason) *reason = std::strerror(errno);
    return TargetFileKind::kUnreadable;
  }
  std::array<unsigned char, 512> head{};
  const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
  const int readErrno = errno;
  ::close(fd);
  if (got < 0) {
    if (reason) *reason = std::strerror(readErrno);
    return TargetFileKind::kUnreadable;
  }
  const auto size = static_cast<std::size_t>(got);
  if (size >= 100 && std::memcmp(head.data(), "SQLite format 3", 16) == 0) {
    const std::uint32_t id = (std::uint32_t{head[68]} << 24) | (std::uint32_t{head[69]} << 16) |
                             (std::uint32_t{head[70]} << 8) | std::uint32_t{head[71]};
    return id == kNorvaneApplicationId ? TargetFileKind::kNorvane : TargetFileKind::kOtherSqlite;
  }
  if (DescribeAccessFormat({head.begin(), head.begin() + got}).accessFile)
    return TargetFileKind::kAccess;
  if (size >= 4 && head[0] == 'P' && head[1] == 'K' &&
      ((head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6)))
    return TargetFileKind::kZip;
  if (LooksLikeText(head.data(), size)) return TargetFileKind::kText;
  return TargetFileKind::kOther;
}

std::string TargetFilePath(const std::string& connectionString) {
  return paths::PosixPathOf(DatabaseFileOf(connectionString)).string();
}

void CheckTargetFile(const std::string& connectionString, std::chrono::milliseconds lockWait) {
  const std::string named = DatabaseFileOf(connectionString);
  if (named.empty()) return;
  const std::string path = paths::PosixPathOf(named).string();
  std::string reason;
  const TargetFileKind kind = KindOfTargetFile(path, &reason);
  if (kind != TargetFileKind::kNorvane)
    throw Error(dao::err::kOdbcCallFailed,
                "ODBC--connection to '" + named + "' refused: the database file is " +
                    WhatItIs(kind, reason) + ", not a Norvane database.");
  const auto until = std::chrono::steady_clock::now() + lockWait;
  while (const long pid = platform::WriterHoldingLock(path)) {
    if (std::chrono::steady_clock::now() >= until)
      throw Error(dao::err::kOdbcCallFailed,
                  "ODBC--connection to '" + named + "' refused: another program (process " +
                      std::to_string(pid) +
                      ") holds the database locked. Close it or wait until it has finished, "
                      "then try again.");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

namespace {

// The data source a connection string names ("" for none).
std::string DataSourceOf(const std::string& connectionString) {
  for (const auto& [key, value] : odbc::ParseConnectionString(connectionString))
    if (EqualsNoCase(key, "dsn")) return Trim(value);
  return "";
}

bool SamePath(const std::string& a, const std::string& b) {
  std::error_code ec;
  return !a.empty() && !b.empty() &&
         std::filesystem::weakly_canonical(a, ec) == std::filesystem::weakly_canonical(b, ec);
}

}  // namespace

std::string TargetConnectionRefusal(const std::string& connectionString,
                                    const std::string& createdPosixPath) {
  const std::string named = DatabaseFileOf(connectionString);
  const std::string dsn = DataSourceOf(connectionString);
  if (named.empty() && !dsn.empty()) {
    char driver[1024] = {};
    SQLGetPrivateProfileString(dsn.c_str(), "Driver", "", driver, sizeof driver, "odbc.ini");
    if (driver[0] == '\0')
      return "The ODBC data source \"" + dsn +
             "\" does not exist: the driver manager knows no data source of that name "
             "(odbcinst -q -s lists them).";
    return "The ODBC data source \"" + dsn +
           "\" names no database file (its setting Database is empty), so it reaches no Norvane "
           "database.";
  }
  if (named.empty())
    return "The connection \"" + connectionString +
           "\" names no database file (Database=...), so it reaches no Norvane database.";
  std::string path;
  try {
    path = paths::PosixPathOf(named).string();
  } catch (const Error& e) {
    return "The database " + named + " of the connection cannot be reached: " + e.Description();
  }
  if (SamePath(path, createdPosixPath)) return "";
  std::string reason;
  const TargetFileKind kind = KindOfTargetFile(path, &reason);
  if (kind == TargetFileKind::kNorvane) return "";
  const std::string via = dsn.empty() ? "the connection" : "the data source \"" + dsn + "\"";
  if (kind == TargetFileKind::kMissing)
    return "The database " + named + " that " + via +
           " names does not exist; only the database beside the Access file is created.";
  return "The database " + named + " that " + via + " names is " + WhatItIs(kind, reason) +
         ", not a Norvane database.";
}

}  // namespace platform::access
