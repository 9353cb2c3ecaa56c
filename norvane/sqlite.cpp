#include "norvane/sqlite.h"

#include <cstring>

#include "platform/error.h"
#include "platform/files.h"

namespace norvane {

Value Value::From(sqlite3_value* v) {
  switch (sqlite3_value_type(v)) {
    case SQLITE_INTEGER:
      return Value(Data(static_cast<std::int64_t>(sqlite3_value_int64(v))));
    case SQLITE_FLOAT:
      return Value(Data(sqlite3_value_double(v)));
    case SQLITE_TEXT: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
      return Value(Data(std::string(p, static_cast<std::size_t>(sqlite3_value_bytes(v)))));
    }
    case SQLITE_BLOB: {
      const auto* p = static_cast<const char*>(sqlite3_value_blob(v));
      const auto n = static_cast<std::size_t>(sqlite3_value_bytes(v));
      return Value(Data(Blob{n == 0 ? std::string() : std::string(p, n)}));
    }
    default:
      return Value();
  }
}

std::string Value::AsText() const {
  if (const auto* i = std::get_if<std::int64_t>(&data_)) return std::to_string(*i);
  if (const auto* d = std::get_if<double>(&data_)) {
    char* s = sqlite3_mprintf("%!.15g", *d);
    std::string out = s ? s : "";
    sqlite3_free(s);
    return out;
  }
  if (const auto* t = std::get_if<std::string>(&data_)) return *t;
  if (const auto* b = std::get_if<Blob>(&data_)) return b->bytes;
  return {};
}

void Value::BindTo(sqlite3_stmt* st, int index) const {
  int rc = SQLITE_OK;
  if (const auto* i = std::get_if<std::int64_t>(&data_)) {
    rc = sqlite3_bind_int64(st, index, *i);
  } else if (const auto* d = std::get_if<double>(&data_)) {
    rc = sqlite3_bind_double(st, index, *d);
  } else if (const auto* t = std::get_if<std::string>(&data_)) {
    rc = sqlite3_bind_text64(st, index, t->data(), t->size(), SQLITE_TRANSIENT, SQLITE_UTF8);
  } else if (const auto* b = std::get_if<Blob>(&data_)) {
    rc = sqlite3_bind_blob64(st, index, b->bytes.data(), b->bytes.size(), SQLITE_TRANSIENT);
  } else {
    rc = sqlite3_bind_null(st, index);
  }
  if (rc != SQLITE_OK) throw DbError(sqlite3_errstr(rc));
}

namespace {

bool Digits(const unsigned char* t, int max) {
  return t[0] >= '0' && t[0] <= '9' && t[1] >= '0' && t[1] <= '9' &&
         (t[0] - '0') * 10 + (t[1] - '0') <= max;
}

// norvane_time_of_day(v): "HH:MM:SS" of text "1899-12-30 HH:MM:SS" holding a valid time of day
// (the form the transfer stores), else NULL. What SQLite's date functions give for it, without
// their parsing.
void TimeOfDayFunction(sqlite3_context* context, int, sqlite3_value** argv) {
  if (sqlite3_value_type(argv[0]) != SQLITE_TEXT || sqlite3_value_bytes(argv[0]) != 19) return;
  const unsigned char* t = sqlite3_value_text(argv[0]);
  if (t == nullptr || std::memcmp(t, "1899-12-30 ", 11) != 0 || t[13] != ':' || t[16] != ':' ||
      !Digits(t + 11, 23) || !Digits(t + 14, 59) || !Digits(t + 17, 59))
    return;
  sqlite3_result_text(context, reinterpret_cast<const char*>(t) + 11, 8, SQLITE_TRANSIENT);
}

}  // namespace

bool IsLockedError(std::string_view what) {
  return what.find(sqlite3_errstr(SQLITE_BUSY)) != std::string_view::npos;
}

Connection::Connection(const std::string& posixPath, bool create) {
  const int flags = SQLITE_OPEN_READWRITE | (create ? SQLITE_OPEN_CREATE : 0);
  const int rc = sqlite3_open_v2(posixPath.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string why = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw DbError("cannot open database file " + posixPath + ": " + why);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, static_cast<int>(kBusyTimeout.count()));
  sqlite3_create_function(db_, "norvane_time_of_day", 1,
                          SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS, nullptr,
                          &TimeOfDayFunction, nullptr, nullptr);
}

Connection::~Connection() {
  sqlite3_close(db_);
}

void Connection::Exec(const std::string& sql) {
  char* msg = nullptr;
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &msg) != SQLITE_OK) {
    std::string why = msg ? msg : sqlite3_errmsg(db_);
    sqlite3_free(msg);
    throw DbError(why);
  }
}

void Connection::CommitWithoutSync() {
  Exec("PRAGMA synchronous = OFF");
}

void Connection::Flush() {
  const char* name = sqlite3_db_filename(db_, "main");
  if (name == nullptr || *name == '\0') return;  // a database in memory
  try {
    platform::files::SyncFileAndFolder(name, name);
  } catch (const platform::Error& e) {
    throw DbError(e.Description());
  }
}

void Connection::StartFlush() {
  const char* name = sqlite3_db_filename(db_, "main");
  if (name != nullptr && *name != '\0') platform::files::StartWriteBack(name);
}

Value Connection::Scalar(const std::string& sql, const std::vector<Value>& params) {
  Statement st(*this, sql);
  for (std::size_t i = 0; i < params.size(); ++i) st.Bind(static_cast<int>(i) + 1, params[i]);
  return st.Step() ? st.Column(0) : Value();
}

std::vector<std::vector<Value>> Connection::Rows(const std::string& sql,
                                                 const std::vector<Value>& params) {
  Statement st(*this, sql);
  for (std::size_t i = 0; i < params.size(); ++i) st.Bind(static_cast<int>(i) + 1, params[i]);
  std::vector<std::vector<Value>> rows;
  while (st.Step()) {
    std::vector<Value> row;
    for (int i = 0; i < st.ColumnCount(); ++i) row.push_back(st.Column(i));
    rows.push_back(std::move(row));
  }
  return rows;
}

Statement::Statement(Connection& c, std::string_view sql, std::string_view* tail) : c_(c) {
  const char* end = nullptr;
  if (sqlite3_prepare_v2(c.get(), sql.data(), static_cast<int>(sql.size()), &stmt_, &end) !=
      SQLITE_OK)
    throw DbError(sqlite3_errmsg(c.get()));
  if (tail) *tail = sql.substr(static_cast<std::size_t>(end - sql.data()));
}

void Statement::Bind(int index, const Value& v) {
  v.BindTo(stmt_, index);
}

bool Statement::Step() {
  if (!stmt_) return false;
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  throw DbError(sqlite3_errmsg(c_.get()));
}

std::string Statement::ColumnName(int i) const {
  const char* n = sqlite3_column_name(stmt_, i);
  return n ? n : "";
}

Savepoint::Savepoint(Connection& c, std::string name) : c_(c), name_(std::move(name)) {
  c_.Exec("SAVEPOINT " + QuoteId(name_));
}

Savepoint::~Savepoint() {
  if (done_) return;
  char* msg = nullptr;
  const std::string sql = "ROLLBACK TO " + QuoteId(name_) + "; RELEASE " + QuoteId(name_);
  sqlite3_exec(c_.get(), sql.c_str(), nullptr, nullptr, &msg);
  sqlite3_free(msg);
}

void Savepoint::Release() {
  c_.Exec("RELEASE " + QuoteId(name_));
  done_ = true;
}

std::string QuoteId(std::string_view name) {
  std::string out = "\"";
  for (char ch : name) {
    out += ch;
    if (ch == '"') out += '"';
  }
  return out + "\"";
}

std::string QuoteText(std::string_view text) {
  std::string out = "'";
  for (char ch : text) {
    out += ch;
    if (ch == '\'') out += '\'';
  }
  return out + "'";
}

}  // namespace norvane
