#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

#include "norvane/odbc/core.h"
#include "norvane/odbc/types.h"

namespace norvane::odbc {
namespace {

using Clock = std::chrono::steady_clock;

// The time limit of one call on `stmt`: lock waits and, with a query time limit, the work.
class CallLimit {
 public:
  explicit CallLimit(Stmt& stmt) : dbc_(*stmt.dbc) {
    dbc_.WaitAtMost(dbc_.WaitLimit(stmt.queryTimeout));
    dbc_.deadlinePassed = false;
    dbc_.hasDeadline = stmt.queryTimeout > 0;
    if (dbc_.hasDeadline) dbc_.deadline = Clock::now() + std::chrono::seconds(stmt.queryTimeout);
  }
  CallLimit(const CallLimit&) = delete;
  CallLimit& operator=(const CallLimit&) = delete;
  ~CallLimit() { dbc_.hasDeadline = false; }
  DriverError ErrorOf(int rc) const {
    DriverError e = SqliteError(dbc_.db, rc);
    if ((rc & 0xff) == SQLITE_INTERRUPT && dbc_.deadlinePassed) {
      e.state = "HYT00";
      e.message = "Timeout expired: the statement ran past its time limit";
    } else if (e.state == "HYT00") {
      e.message += " (database is locked: another program holds it; waited " +
                   std::to_string(dbc_.WaitLimit(0).count()) + " ms)";
    }
    return e;
  }

 private:
  Dbc& dbc_;
};

void RequireConnection(Stmt& stmt) {
  if (stmt.dbc->db == nullptr) throw DriverError{"08003", "Connection not open"};
}

struct Token {
  std::string text;
  bool name = false;               // an identifier (quoted or not)
  std::size_t begin = 0, end = 0;  // where it stands in the text
};

// The statement's tokens, roughly: identifiers (unquoted), punctuation, '?' markers.
std::vector<Token> Tokens(std::string_view sql) {
  std::vector<Token> out;
  for (std::size_t i = 0; i < sql.size();) {
    const char c = sql[i];
    const std::size_t before = out.size(), at = i;
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
      ++i;
    } else if (c == '"' || c == '[' || c == '`') {
      const char close = c == '[' ? ']' : c;
      std::string name;
      for (++i; i < sql.size(); ++i) {
        if (sql[i] == close) {
          if (close != ']' && i + 1 < sql.size() && sql[i + 1] == close) {
            name += close;
            ++i;
            continue;
          }
          ++i;
          break;
        }
        name += sql[i];
      }
      out.push_back({name, true});
    } else if (c == '\'') {
      for (++i; i < sql.size(); ++i)
        if (sql[i] == '\'' && !(i + 1 < sql.size() && sql[i + 1] == '\'' && ++i)) break;
      ++i;
      out.push_back({"'", false});
    } else if (std::isalnum(static_cast<unsigned char>(c)) || c == '_' ||
               static_cast<unsigned char>(c) >= 0x80) {
      std::size_t j = i;
      while (j < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[j])) || sql[j] == '_' ||
                                static_cast<unsigned char>(sql[j]) >= 0x80))
        ++j;
      out.push_back({std::string(sql.substr(i, j - i)), true});
      i = j;
    } else if ((c == '<' || c == '>' || c == '!') && i + 1 < sql.size() &&
               (sql[i + 1] == '=' || sql[i + 1] == '>')) {
      out.push_back({std::string(sql.substr(i, 2)), false});
      i += 2;
    } else {
      out.push_back({std::string(1, c), false});
      ++i;
    }
    if (out.size() > before) {
      out.back().begin = at;
      out.back().end = i;
    }
  }
  return out;
}

bool Is(const Token& t, const char* word) {
  return t.name && EqualsNoCase(t.text, word);
}

// Splits a text into its statements (SQLite's own idea of where one ends).
std::vector<std::string> SplitStatements(const std::string& sql) {
  std::vector<std::string> out;
  std::size_t start = 0;
  for (std::size_t i = 0; i < sql.size(); ++i) {
    if (sql[i] != ';') continue;
    std::string piece = sql.substr(start, i + 1 - start);
    if (!sqlite3_complete(piece.c_str())) continue;
    out.push_back(std::move(piece));
    start = i + 1;
  }
  std::string rest = sql.substr(start);
  if (rest.find_first_not_of(" \t\r\n") != std::string::npos) out.push_back(rest);
  return out;
}

sqlite3_stmt* PrepareOne(Dbc& dbc, const std::string& sql, bool persistent) {
  sqlite3_stmt* s = nullptr;
  const int rc = sqlite3_prepare_v3(dbc.db, sql.data(), static_cast<int>(sql.size()),
                                    persistent ? SQLITE_PREPARE_PERSISTENT : 0, &s, nullptr);
  if (rc != SQLITE_OK) {
    sqlite3_finalize(s);
    throw SqliteError(dbc.db, rc);
  }
  return s;
}

// The columns of `s` as the application sees them.
std::vector<ColumnInfo> ColumnsOf(sqlite3_stmt* s, SQLINTEGER odbcVersion) {
  std::vector<ColumnInfo> out;
  const int n = sqlite3_column_count(s);
  sqlite3* db = sqlite3_db_handle(s);
  for (int i = 0; i < n; ++i) {
    const char* declared = sqlite3_column_decltype(s, i);
    ColumnInfo c = ColumnOfDeclared(declared ? declared : "");
    const char* name = sqlite3_column_name(s, i);
    c.name = name ? name : "";
    const char* table = sqlite3_column_table_name(s, i);
    const char* origin = sqlite3_column_origin_name(s, i);
    c.table = table ? table : "";
    c.nullable = SQL_NULLABLE_UNKNOWN;
    if (table && origin) {
      int notNull = 0, primary = 0, autoinc = 0;
      if (sqlite3_table_column_metadata(db, sqlite3_column_database_name(s, i), table, origin,
                                        nullptr, nullptr, &notNull, &primary,
                                        &autoinc) == SQLITE_OK) {
        c.nullable = notNull ? SQL_NO_NULLS : SQL_NULLABLE;
        c.autoIncrement = autoinc != 0;
      }
    }
    if (odbcVersion == SQL_OV_ODBC2) {
      if (c.sqlType == SQL_TYPE_TIMESTAMP) c.sqlType = SQL_TIMESTAMP;
      if (c.sqlType == SQL_TYPE_DATE) c.sqlType = SQL_DATE;
      if (c.sqlType == SQL_TYPE_TIME) c.sqlType = SQL_TIME;
    }
    if (!declared) c.typeName.clear();  // refined by the first row
    out.push_back(std::move(c));
  }
  return out;
}

// An expression column (no declared type) takes its type from its first value.
void RefineUntyped(std::vector<ColumnInfo>& columns, sqlite3_stmt* s) {
  for (std::size_t i = 0; i < columns.size(); ++i) {
    ColumnInfo& c = columns[i];
    if (!c.typeName.empty()) continue;
    const char* type = "varchar";
    switch (sqlite3_column_type(s, static_cast<int>(i))) {
      case SQLITE_INTEGER:
        type = "bigint";
        break;
      case SQLITE_FLOAT:
        type = "double";
        break;
      case SQLITE_BLOB:
        type = "longvarbinary";
        break;
      case SQLITE_TEXT:
        type = "text";
        break;
      default:
        break;
    }
    ColumnInfo refined = ColumnOfDeclared(type);
    refined.name = c.name;
    refined.table = c.table;
    refined.nullable = SQL_NULLABLE_UNKNOWN;
    c = std::move(refined);
  }
}

bool IsDataAtExec(const SQLLEN* indicator) {
  return indicator != nullptr &&
         (*indicator == SQL_DATA_AT_EXEC || *indicator <= SQL_LEN_DATA_AT_EXEC_OFFSET);
}

// Size of one element of a column-wise bound array of `cType`.
SQLLEN ElementSize(SQLSMALLINT cType, SQLLEN octetLength) {
  switch (cType) {
    case SQL_C_CHAR:
    case SQL_C_WCHAR:
    case SQL_C_BINARY:
      return octetLength;
    case SQL_C_BIT:
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT:
    case SQL_C_TINYINT:
      return 1;
    case SQL_C_SSHORT:
    case SQL_C_USHORT:
    case SQL_C_SHORT:
      return 2;
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_LONG:
    case SQL_C_FLOAT:
      return 4;
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
    case SQL_C_DOUBLE:
      return 8;
    case SQL_C_NUMERIC:
      return sizeof(SQL_NUMERIC_STRUCT);
    case SQL_C_TYPE_DATE:
    case SQL_C_DATE:
      return sizeof(SQL_DATE_STRUCT);
    case SQL_C_TYPE_TIME:
    case SQL_C_TIME:
      return sizeof(SQL_TIME_STRUCT);
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_TIMESTAMP:
      return sizeof(SQL_TIMESTAMP_STRUCT);
    case SQL_C_GUID:
      return sizeof(SQLGUID);
    default:
      return octetLength;
  }
}

// Where element `row` of a bound buffer is.
template <typename T>
T* At(T* base, const Desc& desc, SQLULEN row, SQLLEN elementSize) {
  if (base == nullptr) return nullptr;
  using Byte = std::conditional_t<std::is_const_v<T>, const char, char>;
  Byte* p = reinterpret_cast<Byte*>(base);
  if (desc.bindOffsetPtr) p += *desc.bindOffsetPtr;
  p += desc.bindType == SQL_BIND_BY_COLUMN ? static_cast<SQLLEN>(row) * elementSize
                                           : static_cast<SQLLEN>(row * desc.bindType);
  return reinterpret_cast<T*>(p);
}

// The length of a text or binary parameter from its indicator.
SQLLEN LengthOf(SQLSMALLINT cType, const void* data, SQLLEN indicator) {
  if (indicator == SQL_NTS) {
    if (cType == SQL_C_WCHAR) {
      const auto* w = static_cast<const char16_t*>(data);
      SQLLEN n = 0;
      while (w[n] != 0) ++n;
      return n * 2;
    }
    return static_cast<SQLLEN>(std::strlen(static_cast<const char*>(data)));
  }
  return indicator;
}

// Binds parameter set `row` of the application's buffers to `s`. A query reads its parameters
// while it is fetched, after the call: it gets copies.
void BindRow(Stmt& stmt, sqlite3_stmt* s, int count, SQLULEN row, int first) {
  const bool inPlace = sqlite3_column_count(s) == 0;
  const Desc& apd = *stmt.apd;
  for (int i = 1; i <= count; ++i) {
    const DescRecord& a = apd.records[static_cast<std::size_t>(i)];
    const DescRecord& p = stmt.ipd.records[static_cast<std::size_t>(i)];
    const SQLLEN element = ElementSize(a.type, a.octetLength);
    const SQLLEN* indicator = At(a.indicatorPtr, apd, row, sizeof(SQLLEN));
    const SQLLEN* octets = At(a.octetLengthPtr, apd, row, sizeof(SQLLEN));
    const void* data = At(static_cast<const char*>(a.data), apd, row, element);
    if (indicator && *indicator == SQL_NULL_DATA) {
      sqlite3_bind_null(s, first + i);
      continue;
    }
    if (!stmt.putData.empty() && stmt.putData[static_cast<std::size_t>(i)]) {
      const std::string& piece = *stmt.putData[static_cast<std::size_t>(i)];
      SQLSMALLINT cType = a.type == SQL_C_WCHAR    ? SQL_C_WCHAR
                          : a.type == SQL_C_BINARY ? SQL_C_BINARY
                                                   : SQL_C_CHAR;
      BindIn(s, first + i, cType, p.type, -1, piece.data(), static_cast<SQLLEN>(piece.size()));
      continue;
    }
    if (data == nullptr) {
      sqlite3_bind_null(s, first + i);
      continue;
    }
    SQLLEN length = octets ? *octets : a.octetLength;
    if (a.type == SQL_C_CHAR || a.type == SQL_C_WCHAR || a.type == SQL_C_BINARY ||
        a.type == SQL_C_DEFAULT)
      length = LengthOf(a.type, data, octets ? *octets : SQL_NTS);
    if (length < 0) throw DriverError{"HY090", "Invalid string or buffer length"};
    BindIn(s, first + i, a.type, p.type, a.type == SQL_C_NUMERIC && a.precision > 0 ? a.scale : -1,
           data, length, inPlace);
  }
}

// Runs `s` to its first row or its end; true when it has a row.
bool StepFirst(Stmt& stmt, sqlite3_stmt* s, const CallLimit& limit) {
  const int rc = sqlite3_step(s);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  DriverError e = limit.ErrorOf(rc);
  sqlite3_reset(s);
  (void)stmt;
  throw e;
}

// Makes `s` the current result when it has columns.
void StartResult(Stmt& stmt, sqlite3_stmt* s, bool hasRow) {
  stmt.current = s;
  stmt.result = Stmt::Result::Live;
  stmt.columns = s == stmt.prepared
                     ? stmt.preparedColumns
                     : ColumnsOf(s, stmt.dbc->env ? stmt.dbc->env->odbcVersion : SQL_OV_ODBC3);
  if (hasRow) RefineUntyped(stmt.columns, s);
  stmt.pendingRow = hasRow;
  stmt.atEnd = !hasRow;
  stmt.haveRow = false;
  stmt.rowCount = -1;
}

// Runs the batch's later statements until one gives rows; false when none did.
bool RunLater(Stmt& stmt, const CallLimit& limit) {
  while (stmt.nextLater < stmt.later.size()) {
    sqlite3_stmt* s = PrepareOne(*stmt.dbc, stmt.later[stmt.nextLater++], false);
    try {
      const bool row = StepFirst(stmt, s, limit);
      if (sqlite3_column_count(s) > 0) {
        StartResult(stmt, s, row);
        return true;
      }
      stmt.rowCount = sqlite3_changes(stmt.dbc->db);
      sqlite3_finalize(s);
    } catch (...) {
      sqlite3_finalize(s);
      throw;
    }
  }
  return false;
}

// "INSERT ... VALUES (?, ..., ?)" with nothing after its one row: the text before the row and
// the row; false for any other statement.
bool SingleRowInsert(const std::string& sql, int count, std::string& head, std::string& row) {
  const std::vector<Token> t = Tokens(sql);
  if (count == 0 || t.empty() || !Is(t[0], "INSERT")) return false;
  auto punct = [&](std::size_t i, const char* p) { return !t[i].name && t[i].text == p; };
  std::size_t v = 0;
  while (v < t.size() && !Is(t[v], "VALUES")) ++v;
  if (v + 1 >= t.size() || !punct(v + 1, "(")) return false;
  int depth = 0, markers = 0;
  std::size_t close = 0;
  for (std::size_t i = v + 1; i < t.size() && close == 0; ++i) {
    if (punct(i, "(")) {
      ++depth;
    } else if (punct(i, ")")) {
      if (--depth == 0) close = i;
    } else if (punct(i, "?")) {
      if (i + 1 >= t.size() || !(punct(i + 1, ",") || punct(i + 1, ")"))) return false;
      ++markers;
    } else if (punct(i, ":") || punct(i, "@") || punct(i, "$")) {
      return false;
    }
  }
  if (close == 0 || markers != count) return false;
  for (std::size_t i = close + 1; i < t.size(); ++i)
    if (!punct(i, ";")) return false;
  head = sql.substr(0, t[v + 1].begin);
  row = sql.substr(t[v + 1].begin, t[close].end - t[v + 1].begin);
  return true;
}

// How many sets of an array of `sets` one step takes (1: one at a time); prepares the
// statement with the row repeated when first needed.
SQLULEN MultiRowsFor(Stmt& stmt, int count, SQLULEN sets) {
  constexpr SQLULEN kRows = 64;
  if (sets < 2 || stmt.insertRow.empty()) return 1;
  const int limit = sqlite3_limit(stmt.dbc->db, SQLITE_LIMIT_VARIABLE_NUMBER, -1);
  const SQLULEN rows = std::min<SQLULEN>({kRows, sets, static_cast<SQLULEN>(limit / count)});
  if (rows < 2) return 1;
  if (stmt.multi == nullptr || stmt.multiRows != rows) {
    if (stmt.multi) sqlite3_finalize(stmt.multi);
    stmt.multi = nullptr;
    std::string sql = stmt.insertHead;
    for (SQLULEN r = 0; r < rows; ++r) sql += (r ? ", " : "") + stmt.insertRow;
    stmt.multi = PrepareOne(*stmt.dbc, sql, true);
    stmt.multiRows = rows;
  }
  return rows;
}

SQLRETURN ExecutePrepared(Stmt& stmt) {
  Dbc& dbc = *stmt.dbc;
  sqlite3_stmt* s = stmt.prepared;
  const int count = sqlite3_bind_parameter_count(s);
  for (int i = 1; i <= count; ++i) {
    const bool bound = static_cast<std::size_t>(i) < stmt.apd->records.size() &&
                       (stmt.apd->records[static_cast<std::size_t>(i)].data != nullptr ||
                        stmt.apd->records[static_cast<std::size_t>(i)].indicatorPtr != nullptr);
    if (!bound)
      throw DriverError{"07002",
                        "COUNT field incorrect: parameter " + std::to_string(i) + " is not bound"};
  }
  stmt.ipd.Record(static_cast<SQLUSMALLINT>(count));
  const SQLULEN sets = std::max<SQLULEN>(1, stmt.apd->arraySize);
  const bool columns = sqlite3_column_count(s) > 0;
  if (sets > 1 && columns)
    throw DriverError{"HYC00", "Parameter arrays are not supported for queries"};
  CallLimit limit(stmt);
  dbc.BeginIfManual();
  // A whole array is one transaction in autocommit mode: each set is still all or nothing.
  const bool wrap = sets > 1 && sqlite3_get_autocommit(dbc.db);
  if (wrap) {
    const int rc = sqlite3_exec(dbc.db, "BEGIN", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) throw limit.ErrorOf(rc);
  }
  SQLUSMALLINT* status = stmt.ipd.arrayStatusPtr;
  SQLULEN processed = 0, failed = 0;
  SQLLEN changes = 0;
  // One set through the statement as prepared; false when the rest must not run.
  auto runOne = [&](SQLULEN row) {
    if (stmt.paramOperationPtr && stmt.paramOperationPtr[row] == SQL_PARAM_IGNORE) {
      if (status) status[row] = SQL_PARAM_UNUSED;
      return true;
    }
    ++processed;
    try {
      BindRow(stmt, s, count, row, 0);
      const bool hasRow = StepFirst(stmt, s, limit);
      if (columns) {
        StartResult(stmt, s, hasRow);
      } else {
        changes += sqlite3_changes(dbc.db);
        sqlite3_reset(s);
      }
      if (status) status[row] = SQL_PARAM_SUCCESS;
    } catch (const DriverError& e) {
      sqlite3_reset(s);
      if (sets == 1) {
        if (status) status[row] = SQL_PARAM_ERROR;
        if (stmt.ipd.rowsProcessedPtr) *stmt.ipd.rowsProcessedPtr = processed;
        throw;
      }
      ++failed;
      if (status) status[row] = SQL_PARAM_ERROR;
      stmt.diag.push_back(
          {e.state, e.native,
           MessageText("Parameter set " + std::to_string(row + 1) + ": " + e.message)});
      if (e.state == "HYT00" || e.state == "HY008") {
        for (SQLULEN rest = row + 1; rest < sets; ++rest)
          if (status) status[rest] = SQL_PARAM_UNUSED;
        return false;
      }
    }
    return true;
  };
  // Several sets in one step of the INSERT with its row repeated; a step that fails runs its
  // sets again one by one, which finds the failing ones.
  const SQLULEN chunk = columns ? 1 : MultiRowsFor(stmt, count, sets);
  auto runChunk = [&](SQLULEN row) {
    for (SQLULEN j = 0; j < chunk; ++j)
      if (stmt.paramOperationPtr && stmt.paramOperationPtr[row + j] == SQL_PARAM_IGNORE)
        return false;
    sqlite3_stmt* m = stmt.multi;
    try {
      for (SQLULEN j = 0; j < chunk; ++j)
        BindRow(stmt, m, count, row + j, static_cast<int>(j) * count);
      StepFirst(stmt, m, limit);
    } catch (const DriverError&) {
      sqlite3_reset(m);
      return false;
    }
    changes += sqlite3_changes(dbc.db);
    sqlite3_reset(m);
    processed += chunk;
    for (SQLULEN j = 0; status && j < chunk; ++j) status[row + j] = SQL_PARAM_SUCCESS;
    return true;
  };
  for (SQLULEN row = 0; row < sets;) {
    if (chunk > 1 && row + chunk <= sets && runChunk(row)) {
      row += chunk;
      continue;
    }
    const SQLULEN end = chunk > 1 && row + chunk <= sets ? row + chunk : row + 1;
    bool go = true;
    for (; row < end && go; ++row) go = runOne(row);
    if (!go) break;
  }
  if (stmt.multi) sqlite3_clear_bindings(stmt.multi);
  if (stmt.ipd.rowsProcessedPtr) *stmt.ipd.rowsProcessedPtr = processed;
  // The application's buffers were bound in place: nothing may point at them after the call.
  if (!columns) sqlite3_clear_bindings(s);
  if (wrap) {
    // In autocommit mode an array is all or nothing.
    const int rc =
        sqlite3_exec(dbc.db, failed > 0 ? "ROLLBACK" : "COMMIT", nullptr, nullptr, nullptr);
    if (failed > 0) {
      for (SQLULEN row = 0; status && row < sets; ++row)
        if (status[row] == SQL_PARAM_SUCCESS) status[row] = SQL_PARAM_UNUSED;
      stmt.diag.push_back({"HY000", 0,
                           MessageText("No parameter set was applied: " + std::to_string(failed) +
                                       " of " + std::to_string(sets) + " failed")});
    } else if (rc != SQLITE_OK) {
      sqlite3_exec(dbc.db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw limit.ErrorOf(rc);
    }
  }
  stmt.executed = true;
  if (!columns) {
    stmt.rowCount = wrap && failed > 0 ? 0 : changes;
    stmt.result = Stmt::Result::None;
    if (RunLater(stmt, limit)) return SQL_SUCCESS;
  }
  // A failed set fails the call: the status array says which sets failed.
  return failed > 0 ? SQL_ERROR : SQL_SUCCESS;
}

}  // namespace

void Prepare(Stmt& stmt, const std::string& sql) {
  RequireConnection(stmt);
  stmt.Unprepare();
  std::vector<std::string> pieces = SplitStatements(sql);
  if (pieces.empty()) throw DriverError{"42000", "The statement is empty"};
  stmt.prepared = PrepareOne(*stmt.dbc, pieces.front(), true);
  if (stmt.prepared == nullptr) throw DriverError{"42000", "The statement is empty"};
  stmt.later.assign(pieces.begin() + 1, pieces.end());
  stmt.sql = pieces.front();
  if (stmt.later.empty())
    SingleRowInsert(stmt.sql, sqlite3_bind_parameter_count(stmt.prepared), stmt.insertHead,
                    stmt.insertRow);
  stmt.preparedColumns =
      ColumnsOf(stmt.prepared, stmt.dbc->env ? stmt.dbc->env->odbcVersion : SQL_OV_ODBC3);
  stmt.columns = stmt.preparedColumns;
  stmt.rowCount = -1;
}

SQLRETURN Execute(Stmt& stmt) {
  RequireConnection(stmt);
  if (stmt.prepared == nullptr)
    throw DriverError{"HY010", "Function sequence error: no statement prepared"};
  stmt.CloseCursor();
  stmt.nextLater = 0;
  stmt.putData.clear();
  const int count = sqlite3_bind_parameter_count(stmt.prepared);
  for (int i = 1; i <= count; ++i) {
    if (static_cast<std::size_t>(i) >= stmt.apd->records.size()) break;
    if (IsDataAtExec(At(stmt.apd->records[static_cast<std::size_t>(i)].indicatorPtr, *stmt.apd, 0,
                        sizeof(SQLLEN)))) {
      if (stmt.apd->arraySize > 1)
        throw DriverError{"HYC00", "Data at execution is not supported with parameter arrays"};
      stmt.putData.assign(static_cast<std::size_t>(count) + 1, std::nullopt);
      stmt.needDataParam = 0;
      return SQL_NEED_DATA;
    }
  }
  return ExecutePrepared(stmt);
}

SQLRETURN ExecDirect(Stmt& stmt, const std::string& sql) {
  Prepare(stmt, sql);
  return Execute(stmt);
}

SQLRETURN ParamData(Stmt& stmt, SQLPOINTER* token) {
  if (stmt.putData.empty()) throw DriverError{"HY010", "Function sequence error"};
  const int count = sqlite3_bind_parameter_count(stmt.prepared);
  for (int i = stmt.needDataParam + 1; i <= count; ++i) {
    const DescRecord& a = stmt.apd->records[static_cast<std::size_t>(i)];
    if (!IsDataAtExec(At(a.indicatorPtr, *stmt.apd, 0, sizeof(SQLLEN)))) continue;
    stmt.needDataParam = static_cast<SQLUSMALLINT>(i);
    stmt.putData[static_cast<std::size_t>(i)] = std::string();
    if (token) *token = At(static_cast<char*>(a.data), *stmt.apd, 0, 0);
    return SQL_NEED_DATA;
  }
  stmt.needDataParam = 0;
  try {
    const SQLRETURN rc = ExecutePrepared(stmt);
    stmt.putData.clear();
    return rc;
  } catch (...) {
    stmt.putData.clear();
    throw;
  }
}

SQLRETURN PutData(Stmt& stmt, SQLPOINTER data, SQLLEN length) {
  if (stmt.putData.empty() || stmt.needDataParam == 0)
    throw DriverError{"HY010", "Function sequence error"};
  std::string& into = *stmt.putData[stmt.needDataParam];
  if (length == SQL_NULL_DATA) {
    stmt.putData[stmt.needDataParam].reset();
    return SQL_SUCCESS;
  }
  const DescRecord& a = stmt.apd->records[stmt.needDataParam];
  if (length == SQL_NTS) length = LengthOf(a.type, data, SQL_NTS);
  if (length < 0) throw DriverError{"HY090", "Invalid string or buffer length"};
  if (a.type != SQL_C_CHAR && a.type != SQL_C_WCHAR && a.type != SQL_C_BINARY &&
      a.type != SQL_C_DEFAULT)
    length = ElementSize(a.type, length);
  into.append(static_cast<const char*>(data), static_cast<std::size_t>(length));
  return SQL_SUCCESS;
}

SQLSMALLINT NumParams(Stmt& stmt) {
  if (stmt.prepared == nullptr) throw DriverError{"HY010", "Function sequence error"};
  return static_cast<SQLSMALLINT>(sqlite3_bind_parameter_count(stmt.prepared));
}

namespace {

// Declared types of `table`'s columns by name, in order.
std::vector<std::pair<std::string, std::string>> TableColumns(sqlite3* db,
                                                              const std::string& table) {
  std::vector<std::pair<std::string, std::string>> out;
  sqlite3_stmt* s = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT name, type FROM pragma_table_info(?)", -1, &s, nullptr) !=
      SQLITE_OK)
    return out;
  sqlite3_bind_text(s, 1, table.c_str(), -1, SQLITE_TRANSIENT);
  while (sqlite3_step(s) == SQLITE_ROW)
    out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(s, 0)),
                     reinterpret_cast<const char*>(sqlite3_column_text(s, 1)));
  sqlite3_finalize(s);
  return out;
}

// The declared type of each '?' of an INSERT (by the column list) or of "column <op> ?"
// elsewhere; "" where the statement does not tell.
std::vector<std::string> ParameterTypes(sqlite3* db, const std::string& sql, int count) {
  std::vector<std::string> types(static_cast<std::size_t>(count));
  const std::vector<Token> t = Tokens(sql);
  std::string table;
  for (std::size_t i = 0; i + 1 < t.size() && table.empty(); ++i)
    if ((Is(t[i], "INTO") || Is(t[i], "UPDATE") || Is(t[i], "FROM")) && t[i + 1].name)
      table = t[i + 1].text;
  if (table.empty()) return types;
  const auto columns = TableColumns(db, table);
  auto typeOf = [&](const std::string& name) -> std::string {
    for (const auto& [n, type] : columns)
      if (EqualsNoCase(n, name)) return type;
    return "";
  };
  // INSERT INTO t [(a, b)] VALUES (?, ?)
  std::vector<std::string> insertColumns;
  std::size_t values = 0;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (Is(t[i], "VALUES")) {
      values = i + 1;
      break;
    }
  }
  if (values > 0) {
    bool inList = false;
    for (std::size_t i = 0; i < values; ++i) {
      if (t[i].text == "(" && !t[i].name)
        inList = true;
      else if (t[i].text == ")" && !t[i].name)
        inList = false;
      else if (inList && t[i].name)
        insertColumns.push_back(t[i].text);
    }
    if (insertColumns.empty())
      for (const auto& c : columns) insertColumns.push_back(c.first);
  }
  int marker = 0;
  std::size_t position = 0;  // of the current item in VALUES (...)
  int depth = 0;
  for (std::size_t i = 0; i < t.size() && marker < count; ++i) {
    if (values > 0 && i >= values) {
      if (t[i].text == "(" && !t[i].name) {
        if (++depth == 1) position = 0;
        continue;
      }
      if (t[i].text == ")" && !t[i].name) {
        --depth;
        continue;
      }
      if (t[i].text == "," && !t[i].name && depth == 1) {
        ++position;
        continue;
      }
    }
    if (t[i].text != "?" || t[i].name) continue;
    std::string type;
    const bool alone = i > 0 && i + 1 < t.size() &&
                       (t[i - 1].text == "(" || t[i - 1].text == ",") &&
                       (t[i + 1].text == ")" || t[i + 1].text == ",");
    if (values > 0 && i >= values && depth == 1 && alone && position < insertColumns.size())
      type = typeOf(insertColumns[position]);
    else if (i >= 2 && !t[i - 1].name && t[i - 2].name &&
             (t[i - 1].text == "=" || t[i - 1].text == "<" || t[i - 1].text == ">" ||
              t[i - 1].text == "<=" || t[i - 1].text == ">=" || t[i - 1].text == "<>" ||
              t[i - 1].text == "!="))
      type = typeOf(t[i - 2].text);
    types[static_cast<std::size_t>(marker++)] = type;
  }
  return types;
}

}  // namespace

void DescribeParam(Stmt& stmt, SQLUSMALLINT param, SQLSMALLINT* type, SQLULEN* size,
                   SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  const int count = NumParams(stmt);
  if (param < 1 || param > count) throw DriverError{"07009", "Invalid descriptor index"};
  if (stmt.parameterTypes.empty())
    stmt.parameterTypes = ParameterTypes(stmt.dbc->db, stmt.sql, count);
  const std::string& declared = stmt.parameterTypes[param - 1u];
  const ColumnInfo c = ColumnOfDeclared(declared.empty() ? "varchar(255)" : declared);
  if (type) *type = c.sqlType;
  if (size) *size = c.size;
  if (digits) *digits = c.digits;
  if (nullable) *nullable = SQL_NULLABLE_UNKNOWN;
}

void BindParameter(Stmt& stmt, SQLUSMALLINT param, SQLSMALLINT ioType, SQLSMALLINT cType,
                   SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits, SQLPOINTER value,
                   SQLLEN capacity, SQLLEN* indicator) {
  if (param < 1) throw DriverError{"07009", "Invalid descriptor index"};
  if (ioType != SQL_PARAM_INPUT) throw DriverError{"HYC00", "Only input parameters are supported"};
  if (capacity < 0 && (cType == SQL_C_CHAR || cType == SQL_C_WCHAR || cType == SQL_C_BINARY))
    throw DriverError{"HY090", "Invalid string or buffer length"};
  DescRecord& a = stmt.apd->Record(param);
  a.type = cType;
  a.data = value;
  a.octetLength = capacity;
  a.indicatorPtr = indicator;
  a.octetLengthPtr = indicator;
  a.precision = 0;
  a.scale = 0;
  DescRecord& p = stmt.ipd.Record(param);
  p.type = sqlType;
  p.parameterType = ioType;
  p.length = size;
  p.precision = static_cast<SQLSMALLINT>(size);
  p.scale = digits;
}

SQLSMALLINT NumResultCols(Stmt& stmt) {
  return static_cast<SQLSMALLINT>(stmt.columns.size());
}

const ColumnInfo& Column(Stmt& stmt, SQLUSMALLINT col) {
  if (col < 1 || col > stmt.columns.size())
    throw DriverError{"07009", "Invalid descriptor index " + std::to_string(col)};
  return stmt.columns[col - 1u];
}

namespace {

SQLLEN DisplaySize(const ColumnInfo& c) {
  switch (c.sqlType) {
    case SQL_BIT:
      return 1;
    case SQL_TINYINT:
      return 3;
    case SQL_SMALLINT:
      return 6;
    case SQL_INTEGER:
      return 11;
    case SQL_BIGINT:
      return 20;
    case SQL_REAL:
      return 14;
    case SQL_DOUBLE:
    case SQL_FLOAT:
      return 24;
    case SQL_DECIMAL:
    case SQL_NUMERIC:
      return static_cast<SQLLEN>(c.size) + 2;
    case SQL_GUID:
      return 36;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return static_cast<SQLLEN>(std::min<SQLULEN>(c.size * 2, 2147483647));
    default:
      return static_cast<SQLLEN>(c.size);
  }
}

SQLSMALLINT VerboseType(SQLSMALLINT t) {
  switch (t) {
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
      return SQL_DATETIME;
    default:
      return t;
  }
}

SQLSMALLINT DatetimeCode(SQLSMALLINT t) {
  switch (t) {
    case SQL_TYPE_DATE:
      return SQL_CODE_DATE;
    case SQL_TYPE_TIME:
      return SQL_CODE_TIME;
    case SQL_TYPE_TIMESTAMP:
      return SQL_CODE_TIMESTAMP;
    default:
      return 0;
  }
}

const char* PrefixOf(SQLSMALLINT t) {
  switch (t) {
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIME:
    case SQL_TYPE_TIMESTAMP:
    case SQL_GUID:
      return "'";
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return "X'";
    default:
      return "";
  }
}

}  // namespace

bool ColAttribute(Stmt& stmt, SQLUSMALLINT col, SQLUSMALLINT field, SQLLEN* number,
                  std::string* text) {
  if (field == SQL_DESC_COUNT || field == SQL_COLUMN_COUNT) {
    if (number) *number = NumResultCols(stmt);
    return true;
  }
  const ColumnInfo& c = Column(stmt, col);
  auto str = [&](std::string v) {
    if (text) *text = std::move(v);
    return false;
  };
  auto num = [&](SQLLEN v) {
    if (number) *number = v;
    return true;
  };
  const bool exact = c.sqlType == SQL_DECIMAL || c.sqlType == SQL_NUMERIC;
  const bool textual =
      c.sqlType == SQL_WCHAR || c.sqlType == SQL_WVARCHAR || c.sqlType == SQL_WLONGVARCHAR;
  switch (field) {
    case SQL_DESC_NAME:
    case SQL_DESC_LABEL:
    case SQL_DESC_BASE_COLUMN_NAME:
    case SQL_COLUMN_NAME:
      return str(c.name);
    case SQL_DESC_TABLE_NAME:
    case SQL_DESC_BASE_TABLE_NAME:
      return str(c.table);
    case SQL_DESC_CATALOG_NAME:
    case SQL_DESC_SCHEMA_NAME:
      return str("");
    case SQL_DESC_TYPE_NAME:
    case SQL_DESC_LOCAL_TYPE_NAME:
      return str(c.typeName);
    case SQL_DESC_LITERAL_PREFIX:
      return str(PrefixOf(c.sqlType));
    case SQL_DESC_LITERAL_SUFFIX:
      return str(PrefixOf(c.sqlType)[0] ? "'" : "");
    case SQL_DESC_CONCISE_TYPE:
      return num(c.sqlType);
    case SQL_DESC_TYPE:
      return num(VerboseType(c.sqlType));
    case SQL_DESC_DATETIME_INTERVAL_CODE:
      return num(DatetimeCode(c.sqlType));
    case SQL_DESC_LENGTH:
    case SQL_COLUMN_LENGTH:
      return num(exact ? static_cast<SQLLEN>(c.size) + 2 : static_cast<SQLLEN>(c.size));
    case SQL_DESC_PRECISION:
    case SQL_COLUMN_PRECISION:
      return num(static_cast<SQLLEN>(c.size));
    case SQL_DESC_SCALE:
    case SQL_COLUMN_SCALE:
      return num(c.digits);
    case SQL_DESC_DISPLAY_SIZE:
      return num(DisplaySize(c));
    case SQL_DESC_OCTET_LENGTH:
      return num(c.octetLength);
    case SQL_DESC_NULLABLE:
    case SQL_COLUMN_NULLABLE:
      return num(c.nullable);
    case SQL_DESC_UNSIGNED:
      return num(c.sqlType == SQL_TINYINT || c.sqlType == SQL_BIT || !(c.radix || exact)
                     ? SQL_TRUE
                     : SQL_FALSE);
    case SQL_DESC_FIXED_PREC_SCALE:
      return num(SQL_FALSE);
    case SQL_DESC_AUTO_UNIQUE_VALUE:
      return num(c.autoIncrement ? SQL_TRUE : SQL_FALSE);
    case SQL_DESC_CASE_SENSITIVE:
      return num(textual ? SQL_TRUE : SQL_FALSE);
    case SQL_DESC_SEARCHABLE:
      return num(c.sqlType == SQL_LONGVARBINARY ? SQL_PRED_NONE
                 : textual                      ? SQL_PRED_SEARCHABLE
                                                : SQL_PRED_BASIC);
    case SQL_DESC_UPDATABLE:
      return num(c.table.empty() ? SQL_ATTR_READONLY : SQL_ATTR_READWRITE_UNKNOWN);
    case SQL_DESC_NUM_PREC_RADIX:
      return num(c.radix);
    case SQL_DESC_UNNAMED:
      return num(c.name.empty() ? SQL_UNNAMED : SQL_NAMED);
    default:
      throw DriverError{"HY091", "Invalid descriptor field identifier " + std::to_string(field)};
  }
}

void BindCol(Stmt& stmt, SQLUSMALLINT col, SQLSMALLINT cType, SQLPOINTER value, SQLLEN capacity,
             SQLLEN* indicator) {
  if (col < 1) throw DriverError{"07009", "Bookmarks are not supported"};
  if (capacity < 0) throw DriverError{"HY090", "Invalid string or buffer length"};
  DescRecord& r = stmt.ard->Record(col);
  r.type = cType;
  r.data = value;
  r.octetLength = capacity;
  r.indicatorPtr = indicator;
  r.octetLengthPtr = indicator;
  if (value == nullptr && indicator == nullptr) r = DescRecord{};
}

namespace {

// Moves to the next row; false at the end. `limit`: the time limit of the fetch under way, for
// a live query.
bool Advance(Stmt& stmt, const CallLimit* limit) {
  if (stmt.result == Stmt::Result::Memory) {
    if (stmt.memoryRow >= stmt.memory.rows.size()) {
      stmt.memoryRow = stmt.memory.rows.size() + 1;
      return false;
    }
    ++stmt.memoryRow;
    return true;
  }
  if (stmt.pendingRow) {
    stmt.pendingRow = false;
    return true;
  }
  if (stmt.atEnd) return false;
  const int rc = sqlite3_step(stmt.current);
  if (rc == SQLITE_ROW) return true;
  stmt.atEnd = true;
  if (rc == SQLITE_DONE) return false;
  throw limit->ErrorOf(rc);
}

// A bound column of the ARD, as one fetch writes it.
struct BoundColumn {
  std::size_t col;  // from 1
  const DescRecord* record;
  SQLLEN element;  // size of one element of its column-wise array
};

std::vector<BoundColumn> BoundColumns(const Stmt& stmt) {
  std::vector<BoundColumn> bound;
  const Desc& ard = *stmt.ard;
  for (std::size_t col = 1; col < ard.records.size() && col <= stmt.columns.size(); ++col) {
    const DescRecord& r = ard.records[col];
    if (r.data == nullptr && r.indicatorPtr == nullptr) continue;
    bound.push_back({col, &r, ElementSize(r.type, r.octetLength)});
  }
  return bound;
}

// Writes the current row into the bound columns at `row` of their arrays.
SQLUSMALLINT FillBound(Stmt& stmt, const std::vector<BoundColumn>& bound, SQLULEN row) {
  SQLUSMALLINT status = SQL_ROW_SUCCESS;
  const Desc& ard = *stmt.ard;
  for (const BoundColumn& b : bound) {
    const DescRecord& r = *b.record;
    SQLLEN* indicator = At(r.indicatorPtr, ard, row, sizeof(SQLLEN));
    SQLPOINTER target = At(static_cast<char*>(r.data), ard, row, b.element);
    std::size_t offset = 0;
    const SQLRETURN rc =
        ConvertOut(stmt, stmt.ColumnValue(static_cast<int>(b.col - 1)), stmt.columns[b.col - 1],
                   r.type, target, r.octetLength, indicator, offset, stmt.fillScratch, &r);
    if (rc == SQL_SUCCESS_WITH_INFO) status = SQL_ROW_SUCCESS_WITH_INFO;
  }
  return status;
}

}  // namespace

SQLRETURN Fetch(Stmt& stmt) {
  if (stmt.result == Stmt::Result::None)
    throw DriverError{"24000", "Invalid cursor state: no result to fetch from"};
  stmt.getDataColumn = 0;
  stmt.getDataOffset = 0;
  const SQLULEN size = std::max<SQLULEN>(1, stmt.ard->arraySize);
  stmt.blockFetched = size > 1;
  // One time limit for the whole block, as for any other call.
  std::optional<CallLimit> limit;
  if (stmt.result == Stmt::Result::Live) limit.emplace(stmt);
  const std::vector<BoundColumn> bound = BoundColumns(stmt);
  SQLULEN fetched = 0;
  SQLRETURN rc = SQL_SUCCESS;
  for (SQLULEN row = 0; row < size; ++row) {
    if (stmt.maxRows > 0 && stmt.rowsRead >= stmt.maxRows) break;
    if (!Advance(stmt, limit ? &*limit : nullptr)) break;
    ++stmt.rowsRead;
    stmt.haveRow = true;
    SQLUSMALLINT status = SQL_ROW_SUCCESS;
    try {
      status = FillBound(stmt, bound, row);
    } catch (const DriverError& e) {
      if (size == 1) throw;
      stmt.diag.push_back({e.state, e.native, MessageText(e.message)});
      status = SQL_ROW_ERROR;
    }
    if (status != SQL_ROW_SUCCESS) rc = SQL_SUCCESS_WITH_INFO;
    if (stmt.ird.arrayStatusPtr) stmt.ird.arrayStatusPtr[row] = status;
    ++fetched;
  }
  if (stmt.ird.rowsProcessedPtr) *stmt.ird.rowsProcessedPtr = fetched;
  if (stmt.ird.arrayStatusPtr)
    for (SQLULEN row = fetched; row < size; ++row) stmt.ird.arrayStatusPtr[row] = SQL_ROW_NOROW;
  if (fetched == 0) {
    stmt.haveRow = false;
    return SQL_NO_DATA;
  }
  return rc;
}

SQLRETURN FetchScroll(Stmt& stmt, SQLSMALLINT orientation, SQLLEN) {
  if (orientation != SQL_FETCH_NEXT)
    throw DriverError{"HY106", "Fetch type out of range: the cursor is forward-only"};
  return Fetch(stmt);
}

SQLRETURN GetData(Stmt& stmt, SQLUSMALLINT col, SQLSMALLINT cType, SQLPOINTER value,
                  SQLLEN capacity, SQLLEN* indicator) {
  if (!stmt.haveRow || stmt.result == Stmt::Result::None)
    throw DriverError{"24000", "Invalid cursor state: no current row"};
  // The driver cannot position on one row of a block (no SQLSetPos): long values are read with
  // a row array size of 1.
  if (stmt.blockFetched)
    throw DriverError{"HYC00",
                      "Optional feature not implemented: SQLGetData after fetching a block of "
                      "rows (the row array size is above 1)"};
  if (col < 1 || col > stmt.columns.size())
    throw DriverError{"07009", "Invalid descriptor index " + std::to_string(col)};
  if (col != stmt.getDataColumn) {
    stmt.getDataColumn = col;
    stmt.getDataOffset = 0;
  }
  const DescRecord* numeric = col < stmt.ard->records.size() ? &stmt.ard->records[col] : nullptr;
  if (cType == SQL_ARD_TYPE) {
    if (numeric == nullptr) throw DriverError{"07009", "Invalid descriptor index"};
    cType = numeric->type;
  }
  return ConvertOut(stmt, stmt.ColumnValue(col - 1), stmt.columns[col - 1u], cType, value, capacity,
                    indicator, stmt.getDataOffset, stmt.getDataScratch,
                    cType == SQL_C_NUMERIC ? numeric : nullptr);
}

SQLLEN RowCount(Stmt& stmt) {
  return stmt.rowCount;
}

SQLRETURN MoreResults(Stmt& stmt) {
  if (stmt.prepared == nullptr) return SQL_NO_DATA;
  if (stmt.current != nullptr && stmt.current != stmt.prepared) sqlite3_finalize(stmt.current);
  stmt.current = nullptr;
  if (stmt.prepared) sqlite3_reset(stmt.prepared);
  stmt.result = Stmt::Result::None;
  stmt.memory = {};
  stmt.haveRow = stmt.pendingRow = stmt.atEnd = false;
  if (stmt.nextLater >= stmt.later.size()) return SQL_NO_DATA;
  CallLimit limit(stmt);
  stmt.dbc->BeginIfManual();
  RunLater(stmt, limit);
  return SQL_SUCCESS;
}

void FreeStmt(Stmt& stmt, SQLUSMALLINT option) {
  switch (option) {
    case SQL_CLOSE:
      stmt.CloseCursor();
      break;
    case SQL_UNBIND:
      stmt.ard->records.assign(1, DescRecord{});
      break;
    case SQL_RESET_PARAMS:
      stmt.apd->records.assign(1, DescRecord{});
      stmt.ipd.records.assign(1, DescRecord{});
      break;
    default:
      throw DriverError{"HY092", "Invalid attribute/option identifier"};
  }
}

void Cancel(Stmt& stmt) {
  if (!stmt.putData.empty()) {
    stmt.putData.clear();
    stmt.needDataParam = 0;
    return;
  }
  if (stmt.dbc->db) sqlite3_interrupt(stmt.dbc->db);
}

void Stmt::Materialize() {
  if (result != Result::Live || current == nullptr) return;
  RowSet rows;
  rows.columns = columns;
  const int n = static_cast<int>(columns.size());
  auto copyRow = [&] {
    std::vector<Cell> row(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
      const Value v = ColumnValue(i);
      Cell& c = row[static_cast<std::size_t>(i)];
      c.type = v.type;
      c.integer = v.integer;
      c.real = v.real;
      if (v.bytes) c.bytes.assign(v.bytes, v.size);
    }
    rows.rows.push_back(std::move(row));
  };
  std::size_t position = 0;
  if (haveRow && !pendingRow) {
    copyRow();
    position = 1;
  }
  if (pendingRow) copyRow();
  if (!atEnd)
    while (sqlite3_step(current) == SQLITE_ROW) copyRow();
  const bool had = haveRow;
  const SQLLEN count = rowCount;
  const SQLULEN read = rowsRead;
  CloseCursor();
  memory = std::move(rows);
  memoryRow = position;
  result = Result::Memory;
  haveRow = had;
  rowCount = count;
  rowsRead = read;
}

SQLRETURN SetStmtAttr(Stmt& stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  const auto number = reinterpret_cast<SQLULEN>(value);
  switch (attribute) {
    case SQL_ATTR_QUERY_TIMEOUT:
      stmt.queryTimeout = number;
      return SQL_SUCCESS;
    case SQL_ATTR_MAX_ROWS:
      stmt.maxRows = number;
      return SQL_SUCCESS;
    case SQL_ATTR_PARAMSET_SIZE:
      if (number == 0) throw DriverError{"HY024", "Invalid attribute value"};
      stmt.apd->arraySize = number;
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_BIND_TYPE:
      stmt.apd->bindType = number;
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_BIND_OFFSET_PTR:
      stmt.apd->bindOffsetPtr = static_cast<SQLLEN*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_OPERATION_PTR:
      stmt.paramOperationPtr = static_cast<SQLUSMALLINT*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAM_STATUS_PTR:
      stmt.ipd.arrayStatusPtr = static_cast<SQLUSMALLINT*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_PARAMS_PROCESSED_PTR:
      stmt.ipd.rowsProcessedPtr = static_cast<SQLULEN*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_ROW_ARRAY_SIZE:
    case SQL_ROWSET_SIZE:
      if (number == 0) throw DriverError{"HY024", "Invalid attribute value"};
      stmt.ard->arraySize = number;
      return SQL_SUCCESS;
    case SQL_ATTR_ROW_BIND_TYPE:
      stmt.ard->bindType = number;
      return SQL_SUCCESS;
    case SQL_ATTR_ROW_BIND_OFFSET_PTR:
      stmt.ard->bindOffsetPtr = static_cast<SQLLEN*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_ROW_STATUS_PTR:
      stmt.ird.arrayStatusPtr = static_cast<SQLUSMALLINT*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_ROWS_FETCHED_PTR:
      stmt.ird.rowsProcessedPtr = static_cast<SQLULEN*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_ROW_OPERATION_PTR:
      stmt.rowOperationPtr = static_cast<SQLUSMALLINT*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_APP_PARAM_DESC:
      stmt.apd = value ? static_cast<Desc*>(value) : &stmt.implicitApd;
      return SQL_SUCCESS;
    case SQL_ATTR_APP_ROW_DESC:
      stmt.ard = value ? static_cast<Desc*>(value) : &stmt.implicitArd;
      return SQL_SUCCESS;
    case SQL_ATTR_CURSOR_TYPE:
      if (number != SQL_CURSOR_FORWARD_ONLY) {
        stmt.Warn("01S02", "Option value changed: the cursor is forward-only");
        stmt.cursorType = SQL_CURSOR_FORWARD_ONLY;
        return SQL_SUCCESS_WITH_INFO;
      }
      stmt.cursorType = number;
      return SQL_SUCCESS;
    case SQL_ATTR_CONCURRENCY:
      if (number != SQL_CONCUR_READ_ONLY) {
        stmt.Warn("01S02", "Option value changed: the cursor is read-only");
        return SQL_SUCCESS_WITH_INFO;
      }
      return SQL_SUCCESS;
    case SQL_ATTR_RETRIEVE_DATA:
      stmt.retrieveData = number;
      return SQL_SUCCESS;
    case SQL_ATTR_NOSCAN:
      stmt.noscan = number;
      return SQL_SUCCESS;
    case SQL_ATTR_CURSOR_SCROLLABLE:
    case SQL_ATTR_CURSOR_SENSITIVITY:
    case SQL_ATTR_ASYNC_ENABLE:
    case SQL_ATTR_MAX_LENGTH:
    case SQL_ATTR_USE_BOOKMARKS:
    case SQL_ATTR_ENABLE_AUTO_IPD:
    case SQL_ATTR_KEYSET_SIZE:
    case SQL_ATTR_SIMULATE_CURSOR:
    case SQL_ATTR_METADATA_ID:
      return SQL_SUCCESS;
    default:
      throw DriverError{"HY092",
                        "Invalid attribute/option identifier " + std::to_string(attribute)};
  }
}

SQLRETURN GetStmtAttr(Stmt& stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER,
                      SQLINTEGER* length) {
  SQLULEN number = 0;
  switch (attribute) {
    case SQL_ATTR_APP_PARAM_DESC:
    case SQL_ATTR_APP_ROW_DESC:
    case SQL_ATTR_IMP_PARAM_DESC:
    case SQL_ATTR_IMP_ROW_DESC: {
      Desc* d = attribute == SQL_ATTR_APP_PARAM_DESC   ? stmt.apd
                : attribute == SQL_ATTR_APP_ROW_DESC   ? stmt.ard
                : attribute == SQL_ATTR_IMP_PARAM_DESC ? &stmt.ipd
                                                       : &stmt.ird;
      if (value) *static_cast<SQLHANDLE*>(value) = d;
      if (length) *length = sizeof(SQLHANDLE);
      return SQL_SUCCESS;
    }
    case SQL_ATTR_QUERY_TIMEOUT:
      number = stmt.queryTimeout;
      break;
    case SQL_ATTR_MAX_ROWS:
      number = stmt.maxRows;
      break;
    case SQL_ATTR_PARAMSET_SIZE:
      number = stmt.apd->arraySize;
      break;
    case SQL_ATTR_PARAM_BIND_TYPE:
      number = stmt.apd->bindType;
      break;
    case SQL_ATTR_ROW_ARRAY_SIZE:
    case SQL_ROWSET_SIZE:
      number = stmt.ard->arraySize;
      break;
    case SQL_ATTR_ROW_BIND_TYPE:
      number = stmt.ard->bindType;
      break;
    case SQL_ATTR_PARAM_STATUS_PTR:
      number = reinterpret_cast<SQLULEN>(stmt.ipd.arrayStatusPtr);
      break;
    case SQL_ATTR_PARAMS_PROCESSED_PTR:
      number = reinterpret_cast<SQLULEN>(stmt.ipd.rowsProcessedPtr);
      break;
    case SQL_ATTR_ROW_STATUS_PTR:
      number = reinterpret_cast<SQLULEN>(stmt.ird.arrayStatusPtr);
      break;
    case SQL_ATTR_ROWS_FETCHED_PTR:
      number = reinterpret_cast<SQLULEN>(stmt.ird.rowsProcessedPtr);
      break;
    case SQL_ATTR_CURSOR_TYPE:
      number = stmt.cursorType;
      break;
    case SQL_ATTR_CONCURRENCY:
      number = SQL_CONCUR_READ_ONLY;
      break;
    case SQL_ATTR_CURSOR_SCROLLABLE:
      number = SQL_NONSCROLLABLE;
      break;
    case SQL_ATTR_CURSOR_SENSITIVITY:
      number = SQL_INSENSITIVE;
      break;
    case SQL_ATTR_RETRIEVE_DATA:
      number = stmt.retrieveData;
      break;
    case SQL_ATTR_NOSCAN:
      number = stmt.noscan;
      break;
    case SQL_ATTR_ASYNC_ENABLE:
      number = SQL_ASYNC_ENABLE_OFF;
      break;
    case SQL_ATTR_USE_BOOKMARKS:
      number = SQL_UB_OFF;
      break;
    case SQL_ATTR_MAX_LENGTH:
    case SQL_ATTR_KEYSET_SIZE:
    case SQL_ATTR_ROW_NUMBER:
      number = attribute == SQL_ATTR_ROW_NUMBER ? stmt.rowsRead : 0;
      break;
    case SQL_ATTR_ENABLE_AUTO_IPD:
    case SQL_ATTR_METADATA_ID:
      number = SQL_FALSE;
      break;
    default:
      throw DriverError{"HY092",
                        "Invalid attribute/option identifier " + std::to_string(attribute)};
  }
  if (value) std::memcpy(value, &number, sizeof number);
  if (length) *length = sizeof number;
  return SQL_SUCCESS;
}

SQLRETURN SetDescField(Desc& desc, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                       SQLINTEGER) {
  const auto number = reinterpret_cast<SQLLEN>(value);
  switch (field) {
    case SQL_DESC_ARRAY_SIZE:
      desc.arraySize = static_cast<SQLULEN>(number);
      return SQL_SUCCESS;
    case SQL_DESC_ARRAY_STATUS_PTR:
      desc.arrayStatusPtr = static_cast<SQLUSMALLINT*>(value);
      return SQL_SUCCESS;
    case SQL_DESC_ROWS_PROCESSED_PTR:
      desc.rowsProcessedPtr = static_cast<SQLULEN*>(value);
      return SQL_SUCCESS;
    case SQL_DESC_BIND_OFFSET_PTR:
      desc.bindOffsetPtr = static_cast<SQLLEN*>(value);
      return SQL_SUCCESS;
    case SQL_DESC_BIND_TYPE:
      desc.bindType = static_cast<SQLULEN>(number);
      return SQL_SUCCESS;
    case SQL_DESC_COUNT:
      desc.records.resize(static_cast<std::size_t>(number) + 1);
      return SQL_SUCCESS;
    default:
      break;
  }
  if (record < 1) throw DriverError{"07009", "Invalid descriptor index"};
  DescRecord& r = desc.Record(static_cast<SQLUSMALLINT>(record));
  switch (field) {
    case SQL_DESC_TYPE:
    case SQL_DESC_CONCISE_TYPE:
      r.type = static_cast<SQLSMALLINT>(number);
      // Setting the type unbinds the data, as ODBC says; precision and scale reset.
      r.data = nullptr;
      r.precision = 0;
      r.scale = 0;
      break;
    case SQL_DESC_DATA_PTR:
      r.data = value;
      break;
    case SQL_DESC_INDICATOR_PTR:
      r.indicatorPtr = static_cast<SQLLEN*>(value);
      break;
    case SQL_DESC_OCTET_LENGTH_PTR:
      r.octetLengthPtr = static_cast<SQLLEN*>(value);
      break;
    case SQL_DESC_OCTET_LENGTH:
      r.octetLength = number;
      break;
    case SQL_DESC_LENGTH:
      r.length = static_cast<SQLULEN>(number);
      break;
    case SQL_DESC_PRECISION:
      r.precision = static_cast<SQLSMALLINT>(number);
      break;
    case SQL_DESC_SCALE:
      r.scale = static_cast<SQLSMALLINT>(number);
      break;
    case SQL_DESC_PARAMETER_TYPE:
      r.parameterType = static_cast<SQLSMALLINT>(number);
      break;
    case SQL_DESC_DATETIME_INTERVAL_CODE:
    case SQL_DESC_NAME:
    case SQL_DESC_UNNAMED:
    case SQL_DESC_NULLABLE:
      break;
    default:
      throw DriverError{"HY091", "Invalid descriptor field identifier " + std::to_string(field)};
  }
  return SQL_SUCCESS;
}

SQLRETURN GetDescField(Desc& desc, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                       SQLINTEGER, SQLINTEGER* length, std::string* text) {
  auto put = [&](auto v) {
    if (value) std::memcpy(value, &v, sizeof v);
    if (length) *length = sizeof v;
    return SQL_SUCCESS;
  };
  // The row descriptor of a result describes its columns.
  if (desc.owner && &desc == &desc.owner->ird && record >= 1 &&
      field != SQL_DESC_ARRAY_STATUS_PTR && field != SQL_DESC_ROWS_PROCESSED_PTR) {
    SQLLEN number = 0;
    if (ColAttribute(*desc.owner, static_cast<SQLUSMALLINT>(record),
                     static_cast<SQLUSMALLINT>(field), &number, text))
      return field == SQL_DESC_LENGTH         ? put(static_cast<SQLULEN>(number))
             : field == SQL_DESC_OCTET_LENGTH ? put(number)
                                              : put(static_cast<SQLSMALLINT>(number));
    return SQL_SUCCESS;
  }
  switch (field) {
    case SQL_DESC_ARRAY_SIZE:
      return put(desc.arraySize);
    case SQL_DESC_ARRAY_STATUS_PTR:
      return put(desc.arrayStatusPtr);
    case SQL_DESC_ROWS_PROCESSED_PTR:
      return put(desc.rowsProcessedPtr);
    case SQL_DESC_BIND_OFFSET_PTR:
      return put(desc.bindOffsetPtr);
    case SQL_DESC_BIND_TYPE:
      return put(static_cast<SQLINTEGER>(desc.bindType));
    case SQL_DESC_COUNT:
      return put(desc.owner && &desc == &desc.owner->ird
                     ? static_cast<SQLSMALLINT>(desc.owner->columns.size())
                     : desc.Count());
    case SQL_DESC_ALLOC_TYPE:
      return put(static_cast<SQLSMALLINT>(desc.owner ? SQL_DESC_ALLOC_AUTO : SQL_DESC_ALLOC_USER));
    default:
      break;
  }
  if (record < 1 || static_cast<std::size_t>(record) >= desc.records.size()) return SQL_NO_DATA;
  const DescRecord& r = desc.records[static_cast<std::size_t>(record)];
  switch (field) {
    case SQL_DESC_TYPE:
    case SQL_DESC_CONCISE_TYPE:
      return put(r.type);
    case SQL_DESC_DATA_PTR:
      return put(r.data);
    case SQL_DESC_INDICATOR_PTR:
      return put(r.indicatorPtr);
    case SQL_DESC_OCTET_LENGTH_PTR:
      return put(r.octetLengthPtr);
    case SQL_DESC_OCTET_LENGTH:
      return put(r.octetLength);
    case SQL_DESC_LENGTH:
      return put(r.length);
    case SQL_DESC_PRECISION:
      return put(r.precision);
    case SQL_DESC_SCALE:
      return put(r.scale);
    case SQL_DESC_PARAMETER_TYPE:
      return put(r.parameterType);
    case SQL_DESC_NULLABLE:
      return put(static_cast<SQLSMALLINT>(SQL_NULLABLE_UNKNOWN));
    default:
      throw DriverError{"HY091", "Invalid descriptor field identifier " + std::to_string(field)};
  }
}

}  // namespace norvane::odbc
