#include "platform/verify/file_rows.h"

#include <sqlite3.h>

#include <locale.h>
#include <stdlib.h>

#include "platform/dao/dao.h"
#include "platform/database_lock.h"
#include "platform/error.h"
#include "platform/odbc/odbc.h"
#include "platform/quoting.h"

namespace platform::verify {

FileRows::FileRows(const std::string& posixPath, const std::string& table,
                   std::chrono::milliseconds busy)
    : table_(table), path_(posixPath), busy_(busy) {
  if (const std::string earlier = GaveUpEarlier(posixPath); !earlier.empty())
    throw DatabaseLocked(dao::err::kOdbcCallFailed,
                         "Reading " + table + ": " + earlier + " earlier in this run.");
  const std::string sql = "SELECT * FROM " + platform::QuoteName(table);
  try {
    if (sqlite3_open_v2(posixPath.c_str(), &db_, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX,
                        nullptr) != SQLITE_OK)
      Fail("opening the database file");
    sqlite3_busy_timeout(db_, static_cast<int>(busy.count()));
    if (sqlite3_prepare_v2(db_, sql.c_str(), static_cast<int>(sql.size()), &statement_, nullptr) !=
        SQLITE_OK)
      Fail("reading");
  } catch (...) {
    sqlite3_close(db_);  // the destructor does not run for a constructor that throws
    throw;
  }
}

FileRows::~FileRows() {
  sqlite3_finalize(statement_);
  sqlite3_close(db_);
}

void FileRows::Fail(const std::string& what) const {
  const std::string message = db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory";
  if (db_ != nullptr && (sqlite3_errcode(db_) & 0xff) == SQLITE_BUSY) {
    NoteGaveUpWaiting(path_, busy_);
    throw DatabaseLocked(dao::err::kOdbcCallFailed, "Reading " + table_ + " (" + what +
                                                        "): " + LockedDatabaseText(path_, busy_));
  }
  throw Error(dao::err::kOdbcCallFailed, "Reading " + table_ + " (" + what + "): " + message);
}

int FileRows::Columns() const {
  return sqlite3_column_count(statement_);
}

bool FileRows::Next() {
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  Fail("reading");
}

bool FileRows::Text(int c, std::string& out) const {
  const int type = sqlite3_column_type(statement_, c);
  if (type == SQLITE_NULL) return false;
  if (type == SQLITE_BLOB) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(statement_, c));
    const int size = sqlite3_column_bytes(statement_, c);
    out.assign("X'");
    for (int i = 0; i < size; ++i) {
      out += kHex[bytes[i] >> 4];
      out += kHex[bytes[i] & 15];
    }
    out += '\'';
    return true;
  }
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, c));
  out.assign(text != nullptr ? text : "",
             static_cast<std::size_t>(sqlite3_column_bytes(statement_, c)));
  return true;
}

bool FileRows::Bytes(int c, std::string& out) const {
  if (sqlite3_column_type(statement_, c) == SQLITE_NULL) return false;
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, c));
  const auto size = static_cast<std::size_t>(sqlite3_column_bytes(statement_, c));
  out.assign(bytes != nullptr ? bytes : "", size);
  return true;
}

bool FileRows::Real(int c, double& out) const {
  // As the driver converts: the number the value's text starts with (a stored double keeps 15
  // significant digits), NULL when it starts with none; bytes are never a number.
  const int type = sqlite3_column_type(statement_, c);
  if (type == SQLITE_NULL || type == SQLITE_BLOB) return false;
  static const locale_t c_locale = newlocale(LC_NUMERIC_MASK, "C", locale_t{});
  const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, c));
  if (text == nullptr) return false;
  char* end = nullptr;
  out = strtod_l(text, &end, c_locale);
  return end != text;
}

}  // namespace platform::verify
