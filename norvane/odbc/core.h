// What the entry points call: the driver's functions with UTF-8 strings in and out. The ANSI
// entry points (entry.cpp) and the wide ones (unicode.cpp) are thin wrappers around these.
//
// Failures: DriverError (see driver.h); a warning is added to the handle's diagnostics and
// SQL_SUCCESS_WITH_INFO returned by the caller when `Stmt::diag` / `Dbc::diag` holds records.
#pragma once

#include <string>
#include <string_view>

#include "norvane/odbc/driver.h"

namespace norvane::odbc {

// A string argument as the application passed it: null pointer, SQL_NTS or a length.
std::optional<std::string> ArgText(const SQLCHAR* text, SQLINTEGER length);

// Copies `value` (UTF-8) into `buffer` of `capacity` bytes with its terminator, never cutting a
// character in two; true when it did not fit.
bool CopyCut(const std::string& value, SQLCHAR* buffer, SQLLEN capacity);
// Copies `value` (UTF-8) out to an ANSI buffer of `capacity` bytes with its terminator;
// `length` gets the full length. Truncation adds 01004 to `handle` and returns
// SQL_SUCCESS_WITH_INFO.
SQLRETURN CopyOut(Handle& handle, const std::string& value, SQLCHAR* buffer, SQLLEN capacity,
                  SQLSMALLINT* length);
SQLRETURN CopyOut(Handle& handle, const std::string& value, SQLCHAR* buffer, SQLLEN capacity,
                  SQLINTEGER* length);

// ----- connections (connect.cpp)
// Opens the Norvane file that the connection string ("Driver=Norvane;Database=<path>",
// "DSN=<name>", "Timeout=<ms>"; UID/PWD accepted) names; the file must exist and carry the
// Norvane application id. Returns the completed connection string.
std::string DriverConnect(Dbc& dbc, const std::string& connectionString);
std::string Connect(Dbc& dbc, const std::string& dsn, const std::string& user,
                    const std::string& password);
void Disconnect(Dbc& dbc);
void EndTransaction(Dbc& dbc, SQLSMALLINT completion);
SQLRETURN SetConnectAttr(Dbc& dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length);
// String attributes (SQL_ATTR_CURRENT_CATALOG) come back in `text`, others in `value`.
SQLRETURN GetConnectAttr(Dbc& dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER capacity,
                         SQLINTEGER* length, std::string* text);

// ----- statements (statement.cpp)
void Prepare(Stmt& stmt, const std::string& sql);
SQLRETURN Execute(Stmt& stmt);
SQLRETURN ExecDirect(Stmt& stmt, const std::string& sql);
SQLRETURN ParamData(Stmt& stmt, SQLPOINTER* token);
SQLRETURN PutData(Stmt& stmt, SQLPOINTER data, SQLLEN length);
SQLSMALLINT NumParams(Stmt& stmt);
void DescribeParam(Stmt& stmt, SQLUSMALLINT param, SQLSMALLINT* type, SQLULEN* size,
                   SQLSMALLINT* digits, SQLSMALLINT* nullable);
void BindParameter(Stmt& stmt, SQLUSMALLINT param, SQLSMALLINT ioType, SQLSMALLINT cType,
                   SQLSMALLINT sqlType, SQLULEN size, SQLSMALLINT digits, SQLPOINTER value,
                   SQLLEN capacity, SQLLEN* indicator);
SQLSMALLINT NumResultCols(Stmt& stmt);
const ColumnInfo& Column(Stmt& stmt, SQLUSMALLINT col);  // from 1; 07009 out of range
// A numeric field of SQLColAttribute in `number`, a string field in `text`; returns false
// for a string field.
bool ColAttribute(Stmt& stmt, SQLUSMALLINT col, SQLUSMALLINT field, SQLLEN* number,
                  std::string* text);
void BindCol(Stmt& stmt, SQLUSMALLINT col, SQLSMALLINT cType, SQLPOINTER value, SQLLEN capacity,
             SQLLEN* indicator);
SQLRETURN Fetch(Stmt& stmt);
SQLRETURN FetchScroll(Stmt& stmt, SQLSMALLINT orientation, SQLLEN offset);
SQLRETURN GetData(Stmt& stmt, SQLUSMALLINT col, SQLSMALLINT cType, SQLPOINTER value,
                  SQLLEN capacity, SQLLEN* indicator);
SQLLEN RowCount(Stmt& stmt);
SQLRETURN MoreResults(Stmt& stmt);
void FreeStmt(Stmt& stmt, SQLUSMALLINT option);  // SQL_CLOSE, SQL_UNBIND, SQL_RESET_PARAMS
void Cancel(Stmt& stmt);
SQLRETURN SetStmtAttr(Stmt& stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length);
SQLRETURN GetStmtAttr(Stmt& stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER capacity,
                      SQLINTEGER* length);
// Descriptor fields; string fields (SQL_DESC_NAME, ...) in `text`.
SQLRETURN SetDescField(Desc& desc, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                       SQLINTEGER length);
SQLRETURN GetDescField(Desc& desc, SQLSMALLINT record, SQLSMALLINT field, SQLPOINTER value,
                       SQLINTEGER capacity, SQLINTEGER* length, std::string* text);

// ----- catalog functions and information (catalog.cpp, info.cpp). A null argument is "any";
// patterns use % and _ (escape \) where ODBC gives patterns.
using Arg = std::optional<std::string>;
void Tables(Stmt& stmt, const Arg& catalog, const Arg& schema, const Arg& table,
            const Arg& tableType);
void Columns(Stmt& stmt, const Arg& catalog, const Arg& schema, const Arg& table,
             const Arg& column);
void Statistics(Stmt& stmt, const Arg& catalog, const Arg& schema, const Arg& table,
                SQLUSMALLINT unique, SQLUSMALLINT reserved);
void PrimaryKeys(Stmt& stmt, const Arg& catalog, const Arg& schema, const Arg& table);
void ForeignKeys(Stmt& stmt, const Arg& pkCatalog, const Arg& pkSchema, const Arg& pkTable,
                 const Arg& fkCatalog, const Arg& fkSchema, const Arg& fkTable);
void SpecialColumns(Stmt& stmt, SQLUSMALLINT identifierType, const Arg& catalog, const Arg& schema,
                    const Arg& table, SQLUSMALLINT scope, SQLUSMALLINT nullable);
void GetTypeInfo(Stmt& stmt, SQLSMALLINT dataType);
// SQLGetInfo: a string answer in `text` (returns true), else the number written to `value`.
bool GetInfo(Dbc& dbc, SQLUSMALLINT infoType, SQLPOINTER value, SQLSMALLINT capacity,
             SQLSMALLINT* length, std::string* text);
void GetFunctions(SQLUSMALLINT function, SQLUSMALLINT* supported);

}  // namespace norvane::odbc
