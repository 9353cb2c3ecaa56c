// SQLGetDiagRec, SQLGetDiagField and SQLError (ANSI); the wide forms are in unicode.cpp.
#include "norvane/odbc/diagnostics.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#include "norvane/odbc/core.h"

namespace norvane::odbc {

// One field of SQLGetDiagField: text, or a number of `size` bytes (2, 4 or 8).
struct DiagValue {
  bool isText = false;
  std::string text;
  SQLLEN number = 0;
  int size = 0;
};
// SQL_SUCCESS with `out` filled, SQL_NO_DATA past the last record, SQL_ERROR for a field that
// does not exist or does not belong to this kind of handle.
SQLRETURN DiagField(Handle& handle, SQLSMALLINT record, SQLSMALLINT field, DiagValue& out);
// Writes a number of `value.size` bytes to `target`.
void StoreNumber(const DiagValue& value, SQLPOINTER target);

namespace {

// The ODBC file the handle's connection has open ("" when none).
std::string ServerOf(Handle& handle) {
  Dbc* dbc = nullptr;
  if (handle.kind == Kind::Dbc) dbc = static_cast<Dbc*>(&handle);
  if (handle.kind == Kind::Stmt) dbc = static_cast<Stmt&>(handle).dbc;
  if (handle.kind == Kind::Desc && static_cast<Desc&>(handle).owner != nullptr)
    dbc = static_cast<Desc&>(handle).owner->dbc;
  return dbc != nullptr ? dbc->file : std::string();
}

// Copies `value` into an ANSI buffer of `capacity` bytes with its terminator; true when cut.
bool CopyBytes(const std::string& value, SQLCHAR* buffer, SQLLEN capacity) {
  if (buffer == nullptr) return !value.empty();
  return CopyCut(value, buffer, capacity);
}

template <typename T>
void SetIf(T* target, T value) {
  if (target != nullptr) *target = value;
}

}  // namespace

const char* ClassOrigin(const std::string& state) {
  return state.rfind("IM", 0) == 0 ? "ODBC 3.0" : "ISO 9075";
}

const char* SubclassOrigin(const std::string& state) {
  static constexpr std::array<std::string_view, 13> kOdbc = {
      "HY095", "HY097", "HY098", "HY099", "HY100", "HY101", "HY105",
      "HY107", "HY109", "HY110", "HY111", "HYT00", "HYT01"};
  if (state.rfind("IM", 0) == 0) return "ODBC 3.0";
  if (state.size() == 5 && state[2] == 'S') return "ODBC 3.0";  // 01S00, 42S02, ...
  if (std::find(kOdbc.begin(), kOdbc.end(), state) != kOdbc.end()) return "ODBC 3.0";
  return "ISO 9075";
}

SQLRETURN DiagField(Handle& handle, SQLSMALLINT record, SQLSMALLINT field, DiagValue& out) {
  const bool isStmt = handle.kind == Kind::Stmt;
  auto number = [&](SQLLEN v, int size) {
    out.isText = false;
    out.number = v;
    out.size = size;
    return SQL_SUCCESS;
  };
  auto text = [&](std::string v) {
    out.isText = true;
    out.text = std::move(v);
    return SQL_SUCCESS;
  };
  // Header fields: the record number does not matter.
  switch (field) {
    case SQL_DIAG_NUMBER:
      return number(static_cast<SQLLEN>(handle.diag.size()), sizeof(SQLINTEGER));
    case SQL_DIAG_RETURNCODE:
      return number(handle.lastReturn, sizeof(SQLRETURN));
    case SQL_DIAG_ROW_COUNT:
      if (!isStmt) return SQL_ERROR;
      return number(handle.diagRowCount, sizeof(SQLLEN));
    case SQL_DIAG_CURSOR_ROW_COUNT: {
      if (!isStmt) return SQL_ERROR;
      auto& stmt = static_cast<Stmt&>(handle);
      const SQLLEN rows =
          stmt.result == Stmt::Result::Memory ? static_cast<SQLLEN>(stmt.memory.rows.size()) : 0;
      return number(rows, sizeof(SQLLEN));
    }
    case SQL_DIAG_DYNAMIC_FUNCTION:
      if (!isStmt) return SQL_ERROR;
      return text("");
    case SQL_DIAG_DYNAMIC_FUNCTION_CODE:
      if (!isStmt) return SQL_ERROR;
      return number(SQL_DIAG_UNKNOWN_STATEMENT, sizeof(SQLINTEGER));
    default:
      break;
  }
  switch (field) {
    case SQL_DIAG_SQLSTATE:
    case SQL_DIAG_NATIVE:
    case SQL_DIAG_MESSAGE_TEXT:
    case SQL_DIAG_CLASS_ORIGIN:
    case SQL_DIAG_SUBCLASS_ORIGIN:
    case SQL_DIAG_CONNECTION_NAME:
    case SQL_DIAG_SERVER_NAME:
    case SQL_DIAG_ROW_NUMBER:
    case SQL_DIAG_COLUMN_NUMBER:
      break;
    default:
      return SQL_ERROR;
  }
  if (record < 1) return SQL_ERROR;
  if (static_cast<std::size_t>(record) > handle.diag.size()) return SQL_NO_DATA;
  const DiagRecord& r = handle.diag[static_cast<std::size_t>(record) - 1];
  switch (field) {
    case SQL_DIAG_SQLSTATE:
      return text(r.state);
    case SQL_DIAG_NATIVE:
      return number(r.native, sizeof(SQLINTEGER));
    case SQL_DIAG_MESSAGE_TEXT:
      return text(r.message);
    case SQL_DIAG_CLASS_ORIGIN:
      return text(ClassOrigin(r.state));
    case SQL_DIAG_SUBCLASS_ORIGIN:
      return text(SubclassOrigin(r.state));
    case SQL_DIAG_CONNECTION_NAME:
      return text("");
    case SQL_DIAG_SERVER_NAME:
      return text(ServerOf(handle));
    case SQL_DIAG_ROW_NUMBER:
      return number(isStmt ? SQL_ROW_NUMBER_UNKNOWN : SQL_NO_ROW_NUMBER, sizeof(SQLLEN));
    default:  // SQL_DIAG_COLUMN_NUMBER
      return number(isStmt ? SQL_COLUMN_NUMBER_UNKNOWN : SQL_NO_COLUMN_NUMBER, sizeof(SQLINTEGER));
  }
}

void StoreNumber(const DiagValue& value, SQLPOINTER target) {
  if (target == nullptr) return;
  switch (value.size) {
    case 2: {
      const auto v = static_cast<SQLSMALLINT>(value.number);
      std::memcpy(target, &v, sizeof v);
      break;
    }
    case 4: {
      const auto v = static_cast<SQLINTEGER>(value.number);
      std::memcpy(target, &v, sizeof v);
      break;
    }
    default:
      std::memcpy(target, &value.number, sizeof value.number);
  }
}

SQLRETURN ReadDiagField(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT record,
                        SQLSMALLINT field, SQLPOINTER value, SQLSMALLINT capacity,
                        std::string& text) {
  Handle* h = HandleOf(handleType, handle);
  if (h == nullptr) return SQL_INVALID_HANDLE;
  DiagValue v;
  const SQLRETURN rc = DiagField(*h, record, field, v);
  if (rc != SQL_SUCCESS) return rc;
  if (!v.isText) {
    StoreNumber(v, value);
    return SQL_SUCCESS;
  }
  if (capacity < 0) return SQL_ERROR;
  text = std::move(v.text);
  return SQL_NEED_DATA;
}

SQLRETURN TakeFirstRecord(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, DiagRecord& out) {
  Handle* h = stmt != nullptr  ? HandleOf(SQL_HANDLE_STMT, stmt)
              : dbc != nullptr ? HandleOf(SQL_HANDLE_DBC, dbc)
                               : HandleOf(SQL_HANDLE_ENV, env);
  if (h == nullptr) return SQL_INVALID_HANDLE;
  if (h->diag.empty()) return SQL_NO_DATA;
  out = std::move(h->diag.front());
  h->diag.erase(h->diag.begin());
  return SQL_SUCCESS;
}

}  // namespace norvane::odbc

using namespace norvane::odbc;

extern "C" {

SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT record,
                                SQLCHAR* state, SQLINTEGER* native, SQLCHAR* message,
                                SQLSMALLINT capacity, SQLSMALLINT* length) {
  Handle* h = HandleOf(handleType, handle);
  if (h == nullptr) return SQL_INVALID_HANDLE;
  if (record < 1 || capacity < 0) return SQL_ERROR;
  if (static_cast<std::size_t>(record) > h->diag.size()) return SQL_NO_DATA;
  const DiagRecord& r = h->diag[static_cast<std::size_t>(record) - 1];
  if (state != nullptr) CopyBytes(r.state, state, 6);
  SetIf(native, r.native);
  SetIf(length, static_cast<SQLSMALLINT>(r.message.size()));
  return CopyBytes(r.message, message, capacity) ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT record,
                                  SQLSMALLINT field, SQLPOINTER value, SQLSMALLINT capacity,
                                  SQLSMALLINT* length) {
  std::string text;
  const SQLRETURN rc = ReadDiagField(handleType, handle, record, field, value, capacity, text);
  if (rc != SQL_NEED_DATA) return rc;
  SetIf(length, static_cast<SQLSMALLINT>(text.size()));
  return CopyBytes(text, static_cast<SQLCHAR*>(value), capacity) ? SQL_SUCCESS_WITH_INFO
                                                                 : SQL_SUCCESS;
}

SQLRETURN SQL_API SQLError(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, SQLCHAR* state,
                           SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT capacity,
                           SQLSMALLINT* length) {
  DiagRecord r;
  const SQLRETURN rc = TakeFirstRecord(env, dbc, stmt, r);
  if (rc != SQL_SUCCESS) return rc;
  if (state != nullptr) CopyBytes(r.state, state, 6);
  SetIf(native, r.native);
  SetIf(length, static_cast<SQLSMALLINT>(r.message.size()));
  return CopyBytes(r.message, message, capacity) ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

}  // extern "C"
