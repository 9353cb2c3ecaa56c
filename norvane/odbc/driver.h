// The Norvane ODBC driver: the handles the driver manager holds, and what they share.
//
// Owns: an Env per environment handle, a Dbc per connection (its sqlite3 connection and its
// statements), a Stmt per statement (its prepared sqlite3 statement or an in-memory result,
// its four descriptors), a Desc per descriptor. The driver manager frees what it allocated;
// a Dbc closes its statements when it disconnects.
// Failures: the internals throw DriverError (SQLSTATE, message, native code); each entry point
// catches it, adds a diagnostic record to the handle and returns SQL_ERROR (see Guard).
// Strings inside are UTF-8; the wide entry points convert at the edge (unicode.h).
#pragma once

#include <sql.h>
#include <sqlext.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace norvane::odbc {

struct DiagRecord {
  std::string state;  // five characters
  SQLINTEGER native = 0;
  std::string message;
};

struct DriverError {
  std::string state;
  std::string message;
  SQLINTEGER native = 0;
};

// "[Norvane][ODBC] <message>": the prefix applications see on every message of the driver.
std::string MessageText(std::string_view message);
// The error for a failed SQLite call on `db`: its SQLSTATE (23000 constraint, 42S02 no such
// table, 42S22 no such column, 42000 syntax, HYT00 busy past the time limit, HY008 interrupted,
// 08001 cannot open) and SQLite's own message.
DriverError SqliteError(sqlite3* db, int rc);

enum class Kind { Env, Dbc, Stmt, Desc };

struct Handle {
  explicit Handle(Kind k) : kind(k) {}
  virtual ~Handle() = default;
  const Kind kind;
  std::vector<DiagRecord> diag;
  SQLRETURN lastReturn = SQL_SUCCESS;  // SQL_DIAG_RETURNCODE
  SQLLEN diagRowCount = 0;             // SQL_DIAG_ROW_COUNT
  void Warn(std::string state, std::string message) {
    diag.push_back({std::move(state), 0, MessageText(message)});
  }
};

struct Stmt;
struct Dbc;

struct Env : Handle {
  Env() : Handle(Kind::Env) {}
  SQLINTEGER odbcVersion = SQL_OV_ODBC3;
};

// One record of a descriptor (the fields SQLBindParameter, SQLBindCol and Sql[GS]etDescField
// read and write). Record 0 is unused; records count from 1.
struct DescRecord {
  SQLSMALLINT type = SQL_C_DEFAULT;             // SQL_DESC_CONCISE_TYPE
  SQLSMALLINT parameterType = SQL_PARAM_INPUT;  // IPD only
  SQLULEN length = 0;                           // SQL_DESC_LENGTH / column size of a parameter
  SQLSMALLINT precision = 0;
  SQLSMALLINT scale = 0;
  SQLPOINTER data = nullptr;         // SQL_DESC_DATA_PTR
  SQLLEN octetLength = 0;            // SQL_DESC_OCTET_LENGTH (buffer length)
  SQLLEN* octetLengthPtr = nullptr;  // SQL_DESC_OCTET_LENGTH_PTR
  SQLLEN* indicatorPtr = nullptr;    // SQL_DESC_INDICATOR_PTR
};

struct Desc : Handle {
  explicit Desc(Stmt* owner = nullptr) : Handle(Kind::Desc), owner(owner) {}
  Stmt* owner;                         // null for one the application allocated
  std::vector<DescRecord> records{1};  // [0] unused
  SQLULEN arraySize = 1;
  SQLUSMALLINT* arrayStatusPtr = nullptr;
  SQLULEN* rowsProcessedPtr = nullptr;
  SQLLEN* bindOffsetPtr = nullptr;
  SQLULEN bindType = SQL_BIND_BY_COLUMN;  // or the size of one row's structure
  DescRecord& Record(SQLUSMALLINT n) {
    if (records.size() <= n) records.resize(n + 1u);
    return records[n];
  }
  SQLSMALLINT Count() const;  // the highest bound record
};

struct Dbc : Handle {
  Dbc() : Handle(Kind::Dbc) {}
  ~Dbc() override;
  Env* env = nullptr;
  sqlite3* db = nullptr;
  std::string file;       // the POSIX path of the open Norvane file
  std::string completed;  // the completed connection string
  bool autocommit = true;
  SQLUINTEGER loginTimeout = 0;                        // seconds, 0: none
  SQLUINTEGER connectionTimeout = 0;                   // seconds, 0: none
  std::optional<std::chrono::milliseconds> busyLimit;  // "Timeout=" of the connection string
  std::set<Stmt*> statements;
  // The statement time limit of the call under way: the progress handler, set when the file is
  // opened, ends a call past it (HYT00).
  std::chrono::steady_clock::time_point deadline{};
  bool hasDeadline = false;
  bool deadlinePassed = false;
  static int PastDeadline(void* dbc);
  // Sets SQLite's busy time limit, when it changes.
  void WaitAtMost(std::chrono::milliseconds limit);
  int busyMs = -1;
  // How long a call waits on a database that another program holds: `querySeconds` when the
  // statement sets one, else "Timeout=", else the connection time limit, else 60 s.
  std::chrono::milliseconds WaitLimit(SQLULEN querySeconds) const;
  // In manual-commit mode, opens the transaction the next statement runs in.
  void BeginIfManual();
  void Close();
};

// A column of a result set as the application sees it (SQLDescribeCol, SQLColAttribute).
struct ColumnInfo {
  std::string name;
  std::string table;     // base table, "" for an expression
  std::string typeName;  // TYPE_NAME: the declared type's name, lower case
  SQLSMALLINT sqlType = SQL_WVARCHAR;
  SQLULEN size = 0;        // COLUMN_SIZE
  SQLSMALLINT digits = 0;  // DECIMAL_DIGITS (scale, fraction digits)
  SQLLEN octetLength = 0;  // BUFFER_LENGTH / SQL_DESC_OCTET_LENGTH
  SQLSMALLINT nullable = SQL_NULLABLE_UNKNOWN;
  SQLSMALLINT radix = 0;  // NUM_PREC_RADIX: 10 exact, 2 approximate, 0 else
  bool autoIncrement = false;
};

// One value as SQLite holds it: from a live statement or an in-memory result.
struct Value {
  int type = SQLITE_NULL;  // SQLITE_INTEGER, SQLITE_FLOAT, SQLITE_TEXT, SQLITE_BLOB, SQLITE_NULL
  std::int64_t integer = 0;
  double real = 0;
  const char* bytes = nullptr;  // text (UTF-8, not terminated) or blob
  std::size_t size = 0;
};

// A value owned by an in-memory result.
struct Cell {
  int type = SQLITE_NULL;
  std::int64_t integer = 0;
  double real = 0;
  std::string bytes;
  static Cell Null() { return {}; }
  static Cell Int(std::int64_t v) { return {SQLITE_INTEGER, v, 0, {}}; }
  static Cell Text(std::string v) { return {SQLITE_TEXT, 0, 0, std::move(v)}; }
  Value View() const { return {type, integer, real, bytes.data(), bytes.size()}; }
};

// A result built by the driver (catalog functions, SQLGetTypeInfo), served like a query's.
struct RowSet {
  std::vector<ColumnInfo> columns;
  std::vector<std::vector<Cell>> rows;
};

struct Stmt : Handle {
  explicit Stmt(Dbc* d);
  ~Stmt() override;
  Dbc* dbc;
  Desc implicitApd{this}, implicitIpd{this}, implicitArd{this}, implicitIrd{this};
  Desc* apd = &implicitApd;
  Desc* ard = &implicitArd;
  Desc& ipd = implicitIpd;
  Desc& ird = implicitIrd;
  SQLULEN queryTimeout = 0;  // seconds
  SQLULEN maxRows = 0;
  SQLUSMALLINT* paramOperationPtr = nullptr;  // SQL_ATTR_PARAM_OPERATION_PTR
  SQLUSMALLINT* rowOperationPtr = nullptr;
  SQLULEN cursorType = SQL_CURSOR_FORWARD_ONLY;
  SQLULEN concurrency = SQL_CONCUR_READ_ONLY;
  SQLULEN retrieveData = SQL_RD_ON;
  SQLULEN noscan = SQL_NOSCAN_OFF;
  std::string cursorName;

  // The prepared statement (the first of a batch), the batch's later statements, and the
  // statement whose rows are being read (`prepared` or one of the later ones).
  sqlite3_stmt* prepared = nullptr;
  std::string sql;                          // the text of `prepared`
  std::vector<std::string> parameterTypes;  // declared type of each '?', "" unknown
  std::vector<std::string> later;
  // An INSERT of one VALUES row takes several sets of an array per step: the text before the
  // row, the row, and the statement with the row repeated `multiRows` times.
  std::string insertHead, insertRow;
  sqlite3_stmt* multi = nullptr;
  SQLULEN multiRows = 0;
  std::size_t nextLater = 0;  // the next of `later` to run
  sqlite3_stmt* current = nullptr;
  bool executed = false;
  // The current result: a live query (prepared, stepped), an in-memory one, or none.
  enum class Result { None, Live, Memory } result = Result::None;
  std::vector<ColumnInfo> columns;          // of the current result (the IRD)
  std::vector<ColumnInfo> preparedColumns;  // of `prepared`, as its declared types give them
  RowSet memory;
  std::size_t memoryRow = 0;  // next row of `memory`
  bool haveRow = false;       // a row is current (SQLGetData may read it)
  bool pendingRow = false;    // a live query stepped to a row not yet fetched
  bool atEnd = false;
  SQLLEN rowCount = -1;  // SQLRowCount
  SQLULEN rowsRead = 0;  // rows fetched from the current result
  // SQLGetData in pieces: the column read last and how far.
  SQLUSMALLINT getDataColumn = 0;
  std::size_t getDataOffset = 0;
  std::string getDataScratch;  // the converted text of that column
  std::string fillScratch;     // a value's text on its way into a bound column
  bool blockFetched = false;   // the last fetch filled a block of more than one row
  // Data at execution (SQLParamData / SQLPutData).
  SQLUSMALLINT needDataParam = 0;
  std::vector<std::optional<std::string>> putData;  // per parameter, from 1

  // The value of column `col` (from 0) of the current row.
  Value ColumnValue(int col) const;
  // Ends the current result; the prepared statement stays.
  void CloseCursor();
  // Drops the prepared statement too.
  void Unprepare();
  // Reads the rest of a live result into memory (it outlives a rollback then).
  void Materialize();
  // Serves `rows` as the statement's result (catalog functions).
  void SetResult(RowSet rows);
};

// The driver's handle behind `handle` when it is one of `type` (SQL_HANDLE_ENV, ...), else null;
// and the same for each kind.
Handle* HandleOf(SQLSMALLINT type, SQLHANDLE handle);
inline Env* EnvOf(SQLHANDLE h) {
  return static_cast<Env*>(HandleOf(SQL_HANDLE_ENV, h));
}
inline Dbc* DbcOf(SQLHANDLE h) {
  return static_cast<Dbc*>(HandleOf(SQL_HANDLE_DBC, h));
}
inline Stmt* StmtOf(SQLHANDLE h) {
  return static_cast<Stmt*>(HandleOf(SQL_HANDLE_STMT, h));
}
inline Desc* DescOf(SQLHANDLE h) {
  return static_cast<Desc*>(HandleOf(SQL_HANDLE_DESC, h));
}

// Runs `body` for an entry point on `handle`: clears its diagnostics, turns a DriverError into
// a record and SQL_ERROR, and an unexpected exception into HY000 or HY001.
template <typename Body>
SQLRETURN Guard(Handle* handle, Body&& body);

}  // namespace norvane::odbc

#include "norvane/odbc/guard.inl"
