// The driver's ANSI entry points for handles, connections and statements.
#include <cstring>

#include "norvane/odbc/core.h"

using namespace norvane::odbc;

namespace {

std::string Text(const SQLCHAR* text, SQLINTEGER length) {
  return ArgText(text, length).value_or("");
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  if (output == nullptr) return SQL_ERROR;
  *output = SQL_NULL_HANDLE;
  try {
    switch (type) {
      case SQL_HANDLE_ENV:
        *output = new Env;
        return SQL_SUCCESS;
      case SQL_HANDLE_DBC: {
        Env* env = EnvOf(input);
        if (!env) return SQL_INVALID_HANDLE;
        auto* dbc = new Dbc;
        dbc->env = env;
        *output = dbc;
        return SQL_SUCCESS;
      }
      case SQL_HANDLE_STMT: {
        Dbc* dbc = DbcOf(input);
        if (!dbc) return SQL_INVALID_HANDLE;
        return Guard(dbc, [&]() -> SQLRETURN {
          if (dbc->db == nullptr) throw DriverError{"08003", "Connection not open"};
          *output = new Stmt(dbc);
          return SQL_SUCCESS;
        });
      }
      case SQL_HANDLE_DESC: {
        Dbc* dbc = DbcOf(input);
        if (!dbc) return SQL_INVALID_HANDLE;
        return Guard(dbc, [&]() -> SQLRETURN {
          throw DriverError{"HYC00", "Descriptors the application allocates are not supported"};
        });
      }
      default:
        return SQL_ERROR;
    }
  } catch (...) {
    return SQL_ERROR;
  }
}

SQLRETURN SQL_API SQLAllocEnv(SQLHENV* env) {
  return SQLAllocHandle(SQL_HANDLE_ENV, nullptr, env);
}
SQLRETURN SQL_API SQLAllocConnect(SQLHENV env, SQLHDBC* dbc) {
  return SQLAllocHandle(SQL_HANDLE_DBC, env, dbc);
}
SQLRETURN SQL_API SQLAllocStmt(SQLHDBC dbc, SQLHSTMT* stmt) {
  return SQLAllocHandle(SQL_HANDLE_STMT, dbc, stmt);
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  switch (type) {
    case SQL_HANDLE_ENV:
      if (!EnvOf(handle)) return SQL_INVALID_HANDLE;
      delete EnvOf(handle);
      return SQL_SUCCESS;
    case SQL_HANDLE_DBC: {
      Dbc* dbc = DbcOf(handle);
      if (!dbc) return SQL_INVALID_HANDLE;
      if (dbc->db != nullptr) {
        dbc->diag = {{"HY010", 0, MessageText("Function sequence error: still connected")}};
        return SQL_ERROR;
      }
      delete dbc;
      return SQL_SUCCESS;
    }
    case SQL_HANDLE_STMT:
      if (!StmtOf(handle)) return SQL_INVALID_HANDLE;
      delete StmtOf(handle);
      return SQL_SUCCESS;
    default:
      return SQL_ERROR;
  }
}

SQLRETURN SQL_API SQLFreeEnv(SQLHENV env) {
  return SQLFreeHandle(SQL_HANDLE_ENV, env);
}
SQLRETURN SQL_API SQLFreeConnect(SQLHDBC dbc) {
  return SQLFreeHandle(SQL_HANDLE_DBC, dbc);
}

SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT handle, SQLUSMALLINT option) {
  if (option == SQL_DROP) return SQLFreeHandle(SQL_HANDLE_STMT, handle);
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN {
    FreeStmt(*stmt, option);
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value,
                                SQLINTEGER) {
  Env* env = EnvOf(handle);
  return Guard(env, [&]() -> SQLRETURN {
    const auto number = static_cast<SQLINTEGER>(reinterpret_cast<SQLLEN>(value));
    switch (attribute) {
      case SQL_ATTR_ODBC_VERSION:
        env->odbcVersion = number;
        return SQL_SUCCESS;
      case SQL_ATTR_CONNECTION_POOLING:
      case SQL_ATTR_CP_MATCH:
      case SQL_ATTR_OUTPUT_NTS:
        return SQL_SUCCESS;
      default:
        if (attribute >= 1000) return SQL_SUCCESS;  // the driver manager's own
        throw DriverError{"HY092", "Invalid attribute/option identifier"};
    }
  });
}

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV handle, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER,
                                SQLINTEGER* length) {
  Env* env = EnvOf(handle);
  return Guard(env, [&]() -> SQLRETURN {
    SQLINTEGER number = 0;
    switch (attribute) {
      case SQL_ATTR_ODBC_VERSION:
        number = env->odbcVersion;
        break;
      case SQL_ATTR_OUTPUT_NTS:
        number = SQL_TRUE;
        break;
      case SQL_ATTR_CONNECTION_POOLING:
        number = SQL_CP_OFF;
        break;
      case SQL_ATTR_CP_MATCH:
        number = SQL_CP_STRICT_MATCH;
        break;
      default:
        throw DriverError{"HY092", "Invalid attribute/option identifier"};
    }
    if (value) *static_cast<SQLINTEGER*>(value) = number;
    if (length) *length = sizeof number;
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLConnect(SQLHDBC handle, SQLCHAR* dsn, SQLSMALLINT dsnLength, SQLCHAR* user,
                             SQLSMALLINT userLength, SQLCHAR* password,
                             SQLSMALLINT passwordLength) {
  Dbc* dbc = DbcOf(handle);
  return Guard(dbc, [&]() -> SQLRETURN {
    Connect(*dbc, Text(dsn, dsnLength), Text(user, userLength), Text(password, passwordLength));
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLDriverConnect(SQLHDBC handle, SQLHWND, SQLCHAR* in, SQLSMALLINT inLength,
                                   SQLCHAR* out, SQLSMALLINT outCapacity, SQLSMALLINT* outLength,
                                   SQLUSMALLINT) {
  Dbc* dbc = DbcOf(handle);
  return Guard(dbc, [&]() -> SQLRETURN {
    const std::string completed = DriverConnect(*dbc, Text(in, inLength));
    return CopyOut(*dbc, completed, out, outCapacity, outLength);
  });
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC handle) {
  Dbc* dbc = DbcOf(handle);
  return Guard(dbc, [&]() -> SQLRETURN {
    Disconnect(*dbc);
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER length) {
  Dbc* dbc = DbcOf(handle);
  return Guard(dbc, [&]() -> SQLRETURN { return SetConnectAttr(*dbc, attribute, value, length); });
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC handle, SQLINTEGER attribute, SQLPOINTER value,
                                    SQLINTEGER capacity, SQLINTEGER* length) {
  Dbc* dbc = DbcOf(handle);
  return Guard(dbc, [&]() -> SQLRETURN {
    std::string text;
    bool isText = attribute == SQL_ATTR_CURRENT_CATALOG;
    const SQLRETURN rc = GetConnectAttr(*dbc, attribute, value, capacity, length, &text);
    if (!isText) return rc;
    return CopyOut(*dbc, text, static_cast<SQLCHAR*>(value), capacity, length);
  });
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
  if (type == SQL_HANDLE_DBC) {
    Dbc* dbc = DbcOf(handle);
    return Guard(dbc, [&]() -> SQLRETURN {
      EndTransaction(*dbc, completion);
      return SQL_SUCCESS;
    });
  }
  // An environment's connections are ended by the driver manager one by one.
  return type == SQL_HANDLE_ENV ? SQL_SUCCESS : SQL_ERROR;
}

SQLRETURN SQL_API SQLTransact(SQLHENV, SQLHDBC dbc, SQLUSMALLINT completion) {
  return SQLEndTran(SQL_HANDLE_DBC, dbc, static_cast<SQLSMALLINT>(completion));
}

SQLRETURN SQL_API SQLPrepare(SQLHSTMT handle, SQLCHAR* sql, SQLINTEGER length) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN {
    Prepare(*stmt, Text(sql, length));
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLExecute(SQLHSTMT handle) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN { return Execute(*stmt); });
}

SQLRETURN SQL_API SQLExecDirect(SQLHSTMT handle, SQLCHAR* sql, SQLINTEGER length) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN { return ExecDirect(*stmt, Text(sql, length)); });
}

SQLRETURN SQL_API SQLParamData(SQLHSTMT handle, SQLPOINTER* token) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN { return ParamData(*stmt, token); });
}

SQLRETURN SQL_API SQLPutData(SQLHSTMT handle, SQLPOINTER data, SQLLEN length) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN { return PutData(*stmt, data, length); });
}

SQLRETURN SQL_API SQLNumParams(SQLHSTMT handle, SQLSMALLINT* count) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN {
    const SQLSMALLINT n = NumParams(*stmt);
    if (count) *count = n;
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT handle, SQLUSMALLINT param, SQLSMALLINT* type,
                                   SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN {
    DescribeParam(*stmt, param, type, size, digits, nullable);
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLBindParameter(SQLHSTMT handle, SQLUSMALLINT param, SQLSMALLINT ioType,
                                   SQLSMALLINT cType, SQLSMALLINT sqlType, SQLULEN size,
                                   SQLSMALLINT digits, SQLPOINTER value, SQLLEN capacity,
                                   SQLLEN* indicator) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN {
    BindParameter(*stmt, param, ioType, cType, sqlType, size, digits, value, capacity, indicator);
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT handle, SQLSMALLINT* count) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN {
    if (count) *count = NumResultCols(*stmt);
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT handle, SQLUSMALLINT col, SQLCHAR* name,
                                 SQLSMALLINT capacity, SQLSMALLINT* nameLength, SQLSMALLINT* type,
                                 SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN {
    const ColumnInfo& c = Column(*stmt, col);
    if (type) *type = c.sqlType;
    if (size) *size = c.size;
    if (digits) *digits = c.digits;
    if (nullable) *nullable = c.nullable;
    return CopyOut(*stmt, c.name, name, capacity, nameLength);
  });
}

SQLRETURN SQL_API SQLColAttribute(SQLHSTMT handle, SQLUSMALLINT col, SQLUSMALLINT field,
                                  SQLPOINTER text, SQLSMALLINT capacity, SQLSMALLINT* length,
                                  SQLLEN* number) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN {
    std::string value;
    if (ColAttribute(*stmt, col, field, number, &value)) return SQL_SUCCESS;
    return CopyOut(*stmt, value, static_cast<SQLCHAR*>(text), capacity, length);
  });
}

SQLRETURN SQL_API SQLBindCol(SQLHSTMT handle, SQLUSMALLINT col, SQLSMALLINT cType, SQLPOINTER value,
                             SQLLEN capacity, SQLLEN* indicator) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN {
    BindCol(*stmt, col, cType, value, capacity, indicator);
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLFetch(SQLHSTMT handle) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN { return Fetch(*stmt); });
}

SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT handle, SQLSMALLINT orientation, SQLLEN offset) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN { return FetchScroll(*stmt, orientation, offset); });
}

SQLRETURN SQL_API SQLGetData(SQLHSTMT handle, SQLUSMALLINT col, SQLSMALLINT cType, SQLPOINTER value,
                             SQLLEN capacity, SQLLEN* indicator) {
  Stmt* stmt = StmtOf(handle);
  return Guard(
      stmt, [&]() -> SQLRETURN { return GetData(*stmt, col, cType, value, capacity, indicator); });
}

SQLRETURN SQL_API SQLRowCount(SQLHSTMT handle, SQLLEN* count) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN {
    if (count) *count = RowCount(*stmt);
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLMoreResults(SQLHSTMT handle) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN { return MoreResults(*stmt); });
}

SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT handle) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN {
    if (stmt->result == Stmt::Result::None) throw DriverError{"24000", "Invalid cursor state"};
    stmt->CloseCursor();
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLCancel(SQLHSTMT handle) {
  Stmt* stmt = StmtOf(handle);
  if (stmt == nullptr) return SQL_INVALID_HANDLE;
  // Called from another thread while a statement runs: only the interrupt, no diagnostics.
  Cancel(*stmt);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value,
                                 SQLINTEGER length) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN { return SetStmtAttr(*stmt, attribute, value, length); });
}

SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT handle, SQLINTEGER attribute, SQLPOINTER value,
                                 SQLINTEGER capacity, SQLINTEGER* length) {
  Stmt* stmt = StmtOf(handle);
  return Guard(
      stmt, [&]() -> SQLRETURN { return GetStmtAttr(*stmt, attribute, value, capacity, length); });
}

SQLRETURN SQL_API SQLSetDescField(SQLHDESC handle, SQLSMALLINT record, SQLSMALLINT field,
                                  SQLPOINTER value, SQLINTEGER length) {
  Desc* desc = DescOf(handle);
  return Guard(desc,
               [&]() -> SQLRETURN { return SetDescField(*desc, record, field, value, length); });
}

SQLRETURN SQL_API SQLGetDescField(SQLHDESC handle, SQLSMALLINT record, SQLSMALLINT field,
                                  SQLPOINTER value, SQLINTEGER capacity, SQLINTEGER* length) {
  Desc* desc = DescOf(handle);
  return Guard(desc, [&]() -> SQLRETURN {
    std::string text;
    const SQLRETURN rc = GetDescField(*desc, record, field, value, capacity, length, &text);
    if (text.empty() || rc != SQL_SUCCESS) return rc;
    return CopyOut(*desc, text, static_cast<SQLCHAR*>(value), capacity, length);
  });
}

SQLRETURN SQL_API SQLNativeSql(SQLHDBC handle, SQLCHAR* in, SQLINTEGER inLength, SQLCHAR* out,
                               SQLINTEGER capacity, SQLINTEGER* outLength) {
  Dbc* dbc = DbcOf(handle);
  return Guard(dbc, [&]() -> SQLRETURN {
    return CopyOut(*dbc, Text(in, inLength), out, capacity, outLength);
  });
}

SQLRETURN SQL_API SQLGetCursorName(SQLHSTMT handle, SQLCHAR* name, SQLSMALLINT capacity,
                                   SQLSMALLINT* length) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN {
    if (stmt->cursorName.empty())
      stmt->cursorName = "SQL_CUR" + std::to_string(reinterpret_cast<std::uintptr_t>(stmt));
    return CopyOut(*stmt, stmt->cursorName, name, capacity, length);
  });
}

SQLRETURN SQL_API SQLSetCursorName(SQLHSTMT handle, SQLCHAR* name, SQLSMALLINT length) {
  Stmt* stmt = StmtOf(handle);
  return Guard(stmt, [&]() -> SQLRETURN {
    stmt->cursorName = Text(name, length);
    return SQL_SUCCESS;
  });
}

}  // extern "C"
