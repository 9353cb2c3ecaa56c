// SQLGetInfo and SQLGetFunctions: what the driver and the file it has open can do.
#include "norvane/odbc/info.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>

#include "norvane/odbc/core.h"
#include "norvane/odbc/diagnostics.h"

namespace norvane::odbc {

namespace {

// One value of the completed connection string ("DSN", "UID"), "" when it has none.
std::string ConnectionValue(const std::string& completed, std::string_view key) {
  std::size_t at = 0;
  while (at < completed.size()) {
    std::size_t eq = completed.find('=', at);
    if (eq == std::string::npos) break;
    std::string name = completed.substr(at, eq - at);
    std::erase_if(name, [](char c) { return c == ' '; });
    std::string value;
    std::size_t end = eq + 1;
    if (end < completed.size() && completed[end] == '{') {
      const std::size_t close = completed.find('}', end);
      value = completed.substr(end + 1,
                               close == std::string::npos ? std::string::npos : close - end - 1);
      end = close == std::string::npos ? completed.size() : close + 1;
      end = std::min(completed.find(';', end), completed.size());
    } else {
      end = std::min(completed.find(';', end), completed.size());
      value = completed.substr(eq + 1, end - eq - 1);
    }
    const bool same = name.size() == key.size() &&
                      std::equal(name.begin(), name.end(), key.begin(), [](char a, char b) {
                        return std::toupper(static_cast<unsigned char>(a)) == b;
                      });
    if (same) return value;
    at = end + 1;
  }
  return {};
}

constexpr const char* kKeywords =
    "ABORT,AFTER,ALWAYS,ANALYZE,ATTACH,AUTOINCREMENT,BEFORE,CALL,CONFLICT,DATABASE,DETACH,DO,"
    "EACH,EXCLUDE,EXCLUSIVE,EXPLAIN,FAIL,FILTER,FOLLOWING,GENERATED,GLOB,GROUPS,IF,IGNORE,"
    "INDEXED,INSTEAD,ISNULL,LIMIT,MATERIALIZED,MODIFY,NOTHING,NOTNULL,NULLS,OFFSET,OTHERS,OVER,"
    "PARTITION,PLAN,PRAGMA,PRECEDING,QUERY,RAISE,RANGE,RECURSIVE,REGEXP,REINDEX,RELEASE,RENAME,"
    "REPLACE,RETURNING,ROW,ROWS,SAVEPOINT,TEMP,TIES,TRIGGER,UNBOUNDED,VACUUM,VIRTUAL,WINDOW,"
    "WITHOUT";

bool Since(int version) {
  return sqlite3_libversion_number() >= version;
}

SQLUINTEGER NumericFunctions() {
  SQLUINTEGER f = SQL_FN_NUM_ABS | SQL_FN_NUM_ROUND;
  if (Since(3035000)) f |= SQL_FN_NUM_SIGN;
  if (sqlite3_compileoption_used("ENABLE_MATH_FUNCTIONS"))
    f |= SQL_FN_NUM_ACOS | SQL_FN_NUM_ASIN | SQL_FN_NUM_ATAN | SQL_FN_NUM_ATAN2 |
         SQL_FN_NUM_CEILING | SQL_FN_NUM_COS | SQL_FN_NUM_DEGREES | SQL_FN_NUM_EXP |
         SQL_FN_NUM_FLOOR | SQL_FN_NUM_LOG | SQL_FN_NUM_LOG10 | SQL_FN_NUM_MOD | SQL_FN_NUM_PI |
         SQL_FN_NUM_POWER | SQL_FN_NUM_RADIANS | SQL_FN_NUM_SIN | SQL_FN_NUM_SQRT | SQL_FN_NUM_TAN;
  return f;
}

SQLUINTEGER StringFunctions() {
  SQLUINTEGER f = SQL_FN_STR_LENGTH | SQL_FN_STR_LTRIM | SQL_FN_STR_RTRIM | SQL_FN_STR_REPLACE |
                  SQL_FN_STR_CHAR;
  if (Since(3034000)) f |= SQL_FN_STR_SUBSTRING;
  if (Since(3044000)) f |= SQL_FN_STR_CONCAT;
  return f;
}

SQLUINTEGER JoinCapabilities() {
  SQLUINTEGER f =
      SQL_OJ_LEFT | SQL_OJ_NESTED | SQL_OJ_NOT_ORDERED | SQL_OJ_INNER | SQL_OJ_ALL_COMPARISON_OPS;
  if (Since(3039000)) f |= SQL_OJ_RIGHT | SQL_OJ_FULL;
  return f;
}

// The 16-bit answers; every other number is 32 bits.
bool IsSmallInfo(SQLUSMALLINT type) {
  switch (type) {
    case SQL_ACTIVE_ENVIRONMENTS:
    case SQL_CATALOG_LOCATION:
    case SQL_CONCAT_NULL_BEHAVIOR:
    case SQL_CORRELATION_NAME:
    case SQL_CURSOR_COMMIT_BEHAVIOR:
    case SQL_CURSOR_ROLLBACK_BEHAVIOR:
    case SQL_FILE_USAGE:
    case SQL_GROUP_BY:
    case SQL_IDENTIFIER_CASE:
    case SQL_MAX_CATALOG_NAME_LEN:
    case SQL_MAX_COLUMN_NAME_LEN:
    case SQL_MAX_COLUMNS_IN_GROUP_BY:
    case SQL_MAX_COLUMNS_IN_INDEX:
    case SQL_MAX_COLUMNS_IN_ORDER_BY:
    case SQL_MAX_COLUMNS_IN_SELECT:
    case SQL_MAX_COLUMNS_IN_TABLE:
    case SQL_MAX_CONCURRENT_ACTIVITIES:
    case SQL_MAX_CURSOR_NAME_LEN:
    case SQL_MAX_DRIVER_CONNECTIONS:
    case SQL_MAX_IDENTIFIER_LEN:
    case SQL_MAX_PROCEDURE_NAME_LEN:
    case SQL_MAX_SCHEMA_NAME_LEN:
    case SQL_MAX_TABLE_NAME_LEN:
    case SQL_MAX_TABLES_IN_SELECT:
    case SQL_MAX_USER_NAME_LEN:
    case SQL_NON_NULLABLE_COLUMNS:
    case SQL_NULL_COLLATION:
    case SQL_QUOTED_IDENTIFIER_CASE:
    case SQL_TXN_CAPABLE:
    case SQL_ODBC_API_CONFORMANCE:
    case SQL_ODBC_SQL_CONFORMANCE:
    case SQL_ODBC_SAG_CLI_CONFORMANCE:
      return true;
    default:
      return false;
  }
}

// The numeric answers that do not depend on the connection.
std::optional<SQLUINTEGER> FixedNumber(SQLUSMALLINT type) {
  switch (type) {
    case SQL_ACTIVE_ENVIRONMENTS:
    case SQL_MAX_CONCURRENT_ACTIVITIES:  // SQL_ACTIVE_STATEMENTS
    case SQL_MAX_DRIVER_CONNECTIONS:     // SQL_ACTIVE_CONNECTIONS
    case SQL_MAX_ASYNC_CONCURRENT_STATEMENTS:
      return 0;  // no limit
    case SQL_CURSOR_COMMIT_BEHAVIOR:
    case SQL_CURSOR_ROLLBACK_BEHAVIOR:
      return SQL_CB_PRESERVE;
    case SQL_TXN_CAPABLE:
      return SQL_TC_ALL;
    case SQL_DEFAULT_TXN_ISOLATION:
    case SQL_TXN_ISOLATION_OPTION:
      return SQL_TXN_SERIALIZABLE;
    case SQL_ODBC_INTERFACE_CONFORMANCE:
      return SQL_OIC_CORE;
    case SQL_SQL_CONFORMANCE:
      return SQL_SC_SQL92_ENTRY;
    case SQL_ODBC_API_CONFORMANCE:
      return SQL_OAC_LEVEL1;
    case SQL_ODBC_SQL_CONFORMANCE:
      return SQL_OSC_CORE;
    case SQL_ODBC_SAG_CLI_CONFORMANCE:
      return SQL_OSCC_COMPLIANT;
    case SQL_STANDARD_CLI_CONFORMANCE:
      return SQL_SCC_ISO92_CLI;
    case SQL_GETDATA_EXTENSIONS:
      return SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER | SQL_GD_BOUND;
    case SQL_PARAM_ARRAY_ROW_COUNTS:
      return SQL_PARC_BATCH;
    case SQL_PARAM_ARRAY_SELECTS:
      return SQL_PAS_NO_SELECT;
    case SQL_MAX_IDENTIFIER_LEN:
    case SQL_MAX_COLUMN_NAME_LEN:
    case SQL_MAX_TABLE_NAME_LEN:
    case SQL_MAX_CURSOR_NAME_LEN:
    case SQL_MAX_PROCEDURE_NAME_LEN:
      return 128;
    case SQL_MAX_CATALOG_NAME_LEN:
    case SQL_MAX_SCHEMA_NAME_LEN:
    case SQL_MAX_USER_NAME_LEN:
    case SQL_MAX_COLUMNS_IN_GROUP_BY:
    case SQL_MAX_COLUMNS_IN_INDEX:
    case SQL_MAX_COLUMNS_IN_ORDER_BY:
    case SQL_MAX_COLUMNS_IN_SELECT:
    case SQL_MAX_COLUMNS_IN_TABLE:
    case SQL_MAX_TABLES_IN_SELECT:
    case SQL_MAX_BINARY_LITERAL_LEN:
    case SQL_MAX_CHAR_LITERAL_LEN:
    case SQL_MAX_INDEX_SIZE:
    case SQL_MAX_ROW_SIZE:
    case SQL_MAX_STATEMENT_LEN:
      return 0;  // no fixed limit
    case SQL_QUOTED_IDENTIFIER_CASE:
      return SQL_IC_SENSITIVE;
    case SQL_IDENTIFIER_CASE:
      return SQL_IC_MIXED;
    case SQL_CONCAT_NULL_BEHAVIOR:
      return SQL_CB_NULL;
    case SQL_NULL_COLLATION:
      return SQL_NC_LOW;
    case SQL_CORRELATION_NAME:
      return SQL_CN_ANY;
    case SQL_NON_NULLABLE_COLUMNS:
      return SQL_NNC_NON_NULL;
    case SQL_FILE_USAGE:
      return SQL_FILE_NOT_SUPPORTED;
    case SQL_CATALOG_LOCATION:
    case SQL_CATALOG_USAGE:
    case SQL_SCHEMA_USAGE:
      return 0;
    case SQL_SCROLL_OPTIONS:
      return SQL_SO_FORWARD_ONLY;
    case SQL_SCROLL_CONCURRENCY:
      return SQL_SCCO_READ_ONLY;
    case SQL_FETCH_DIRECTION:
      return SQL_FD_FETCH_NEXT;
    case SQL_CURSOR_SENSITIVITY:
      return SQL_UNSPECIFIED;
    case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1:
      return SQL_CA1_NEXT;
    case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2:
      return SQL_CA2_READ_ONLY_CONCURRENCY | SQL_CA2_MAX_ROWS_SELECT;
    case SQL_STATIC_CURSOR_ATTRIBUTES1:
    case SQL_STATIC_CURSOR_ATTRIBUTES2:
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES1:
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES2:
    case SQL_KEYSET_CURSOR_ATTRIBUTES1:
    case SQL_KEYSET_CURSOR_ATTRIBUTES2:
    case SQL_STATIC_SENSITIVITY:
    case SQL_POS_OPERATIONS:
    case SQL_POSITIONED_STATEMENTS:
    case SQL_LOCK_TYPES:
    case SQL_BOOKMARK_PERSISTENCE:
      return 0;
    case SQL_BATCH_SUPPORT:
      return SQL_BS_SELECT_EXPLICIT | SQL_BS_ROW_COUNT_EXPLICIT;
    case SQL_BATCH_ROW_COUNT:
      return SQL_BRC_EXPLICIT;
    case SQL_ALTER_TABLE:
      return SQL_AT_ADD_COLUMN | SQL_AT_ADD_COLUMN_SINGLE | SQL_AT_ADD_COLUMN_DEFAULT |
             SQL_AT_ADD_CONSTRAINT | SQL_AT_ADD_TABLE_CONSTRAINT |
             (Since(3035000) ? SQL_AT_DROP_COLUMN : 0);
    case SQL_CREATE_TABLE:
      return SQL_CT_CREATE_TABLE | SQL_CT_COLUMN_CONSTRAINT | SQL_CT_COLUMN_DEFAULT |
             SQL_CT_TABLE_CONSTRAINT | SQL_CT_CONSTRAINT_NAME_DEFINITION;
    case SQL_CREATE_VIEW:
      return SQL_CV_CREATE_VIEW;
    case SQL_DROP_VIEW:
      return SQL_DV_DROP_VIEW;
    case SQL_DDL_INDEX:
      return SQL_DI_CREATE_INDEX | SQL_DI_DROP_INDEX;
    case SQL_DROP_TABLE:
      return SQL_DT_DROP_TABLE;
    case SQL_INDEX_KEYWORDS:
      return SQL_IK_ASC | SQL_IK_DESC;
    case SQL_INSERT_STATEMENT:
      return SQL_IS_INSERT_LITERALS | SQL_IS_INSERT_SEARCHED;
    case SQL_GROUP_BY:
      return SQL_GB_NO_RELATION;
    case SQL_OJ_CAPABILITIES:
    case 65003:  // its number before ODBC 3.0
      return JoinCapabilities();
    case SQL_SQL92_RELATIONAL_JOIN_OPERATORS:
      return SQL_SRJO_CROSS_JOIN | SQL_SRJO_INNER_JOIN | SQL_SRJO_LEFT_OUTER_JOIN |
             SQL_SRJO_NATURAL_JOIN |
             (Since(3039000) ? SQL_SRJO_RIGHT_OUTER_JOIN | SQL_SRJO_FULL_OUTER_JOIN : 0);
    case SQL_UNION:
      return SQL_U_UNION | SQL_U_UNION_ALL;
    case SQL_SUBQUERIES:
      return SQL_SQ_CORRELATED_SUBQUERIES | SQL_SQ_COMPARISON | SQL_SQ_EXISTS | SQL_SQ_IN;
    case SQL_AGGREGATE_FUNCTIONS:
      return SQL_AF_ALL | SQL_AF_AVG | SQL_AF_COUNT | SQL_AF_DISTINCT | SQL_AF_MAX | SQL_AF_MIN |
             SQL_AF_SUM;
    case SQL_STRING_FUNCTIONS:
      return StringFunctions();
    case SQL_NUMERIC_FUNCTIONS:
      return NumericFunctions();
    case SQL_TIMEDATE_FUNCTIONS:
      return SQL_FN_TD_CURRENT_DATE | SQL_FN_TD_CURRENT_TIME | SQL_FN_TD_CURRENT_TIMESTAMP;
    case SQL_SYSTEM_FUNCTIONS:
      return SQL_FN_SYS_IFNULL;
    case SQL_CONVERT_FUNCTIONS:
      return SQL_FN_CVT_CAST;
    case SQL_SQL92_DATETIME_FUNCTIONS:
      return SQL_SDF_CURRENT_DATE | SQL_SDF_CURRENT_TIME | SQL_SDF_CURRENT_TIMESTAMP;
    case SQL_SQL92_STRING_FUNCTIONS:
      return SQL_SSF_LOWER | SQL_SSF_UPPER;
    case SQL_SQL92_VALUE_EXPRESSIONS:
      return SQL_SVE_CASE | SQL_SVE_CAST | SQL_SVE_COALESCE | SQL_SVE_NULLIF;
    case SQL_SQL92_PREDICATES:
      return SQL_SP_BETWEEN | SQL_SP_COMPARISON | SQL_SP_EXISTS | SQL_SP_IN | SQL_SP_ISNOTNULL |
             SQL_SP_ISNULL | SQL_SP_LIKE;
    case SQL_SQL92_FOREIGN_KEY_DELETE_RULE:
      return SQL_SFKD_CASCADE | SQL_SFKD_NO_ACTION | SQL_SFKD_SET_DEFAULT | SQL_SFKD_SET_NULL;
    case SQL_SQL92_FOREIGN_KEY_UPDATE_RULE:
      return SQL_SFKU_CASCADE | SQL_SFKU_NO_ACTION | SQL_SFKU_SET_DEFAULT | SQL_SFKU_SET_NULL;
    case SQL_SQL92_ROW_VALUE_CONSTRUCTOR:
      return SQL_SRVC_VALUE_EXPRESSION | SQL_SRVC_NULL | SQL_SRVC_DEFAULT;
    case SQL_SQL92_NUMERIC_VALUE_FUNCTIONS:
    case SQL_SQL92_GRANT:
    case SQL_SQL92_REVOKE:
    case SQL_TIMEDATE_ADD_INTERVALS:
    case SQL_TIMEDATE_DIFF_INTERVALS:
    case SQL_DATETIME_LITERALS:
    case SQL_INFO_SCHEMA_VIEWS:
    case SQL_CREATE_ASSERTION:
    case SQL_CREATE_CHARACTER_SET:
    case SQL_CREATE_COLLATION:
    case SQL_CREATE_DOMAIN:
    case SQL_CREATE_SCHEMA:
    case SQL_CREATE_TRANSLATION:
    case SQL_DROP_ASSERTION:
    case SQL_DROP_CHARACTER_SET:
    case SQL_DROP_COLLATION:
    case SQL_DROP_DOMAIN:
    case SQL_DROP_SCHEMA:
    case SQL_DROP_TRANSLATION:
    case SQL_ALTER_DOMAIN:
    case SQL_DTC_TRANSITION_COST:
      return 0;
    case SQL_ASYNC_MODE:
      return SQL_AM_NONE;
    case SQL_ASYNC_DBC_FUNCTIONS:
      return SQL_ASYNC_DBC_NOT_CAPABLE;
    case SQL_ASYNC_NOTIFICATION:
      return SQL_ASYNC_NOTIFICATION_NOT_CAPABLE;
    case SQL_DRIVER_AWARE_POOLING_SUPPORTED:
      return SQL_DRIVER_AWARE_POOLING_NOT_CAPABLE;
    default:
      break;
  }
  if ((type >= SQL_CONVERT_BIGINT && type <= SQL_CONVERT_LONGVARBINARY) ||
      (type >= SQL_CONVERT_WCHAR && type <= SQL_CONVERT_WVARCHAR) || type == SQL_CONVERT_GUID)
    return 0;  // no CONVERT
  return std::nullopt;
}

// The text answers that do not depend on the connection.
const char* FixedText(SQLUSMALLINT type) {
  switch (type) {
    case SQL_DRIVER_NAME:
      return "libnorvaneodbc.so";
    case SQL_DRIVER_VER:
      return "01.00.0000";
    case SQL_DRIVER_ODBC_VER:
      return "03.52";
    case SQL_ODBC_VER:
      return "03.52.0000";
    case SQL_DBMS_NAME:
      return "Norvane";
    case SQL_IDENTIFIER_QUOTE_CHAR:
      return "\"";
    case SQL_CATALOG_NAME:
      return "N";
    case SQL_CATALOG_NAME_SEPARATOR:
    case SQL_CATALOG_TERM:
    case SQL_SCHEMA_TERM:
    case SQL_SPECIAL_CHARACTERS:
    case SQL_COLLATION_SEQ:
      return "";
    case SQL_TABLE_TERM:
      return "table";
    case SQL_PROCEDURE_TERM:
      return "procedure";
    case SQL_SEARCH_PATTERN_ESCAPE:
      return "\\";
    case SQL_MULT_RESULT_SETS:
    case SQL_ACCESSIBLE_TABLES:
    case SQL_EXPRESSIONS_IN_ORDERBY:
    case SQL_OUTER_JOINS:
    case SQL_COLUMN_ALIAS:
    case SQL_LIKE_ESCAPE_CLAUSE:
    case SQL_MAX_ROW_SIZE_INCLUDES_LONG:
    case SQL_INTEGRITY:
    case SQL_DESCRIBE_PARAMETER:
      return "Y";
    case SQL_MULTIPLE_ACTIVE_TXN:
    case SQL_NEED_LONG_DATA_LEN:
    case SQL_PROCEDURES:
    case SQL_ACCESSIBLE_PROCEDURES:
    case SQL_ORDER_BY_COLUMNS_IN_SELECT:
    case SQL_ROW_UPDATES:
      return "N";
    case SQL_KEYWORDS:
      return kKeywords;
    case SQL_XOPEN_CLI_YEAR:
      return "1995";
    default:
      return nullptr;
  }
}

}  // namespace

bool GetInfo(Dbc& dbc, SQLUSMALLINT infoType, SQLPOINTER value, SQLSMALLINT /*capacity*/,
             SQLSMALLINT* length, std::string* text) {
  auto answer = [&](std::string s) {
    *text = std::move(s);
    return true;
  };
  if (const char* fixed = FixedText(infoType)) return answer(fixed);
  switch (infoType) {
    case SQL_DBMS_VER:
      return answer(std::string("01.00.0000 (SQLite ") + sqlite3_libversion() + ")");
    case SQL_DATA_SOURCE_NAME:
      return answer(ConnectionValue(dbc.completed, "DSN"));
    case SQL_USER_NAME:
      return answer(ConnectionValue(dbc.completed, "UID"));
    case SQL_DATABASE_NAME:
    case SQL_SERVER_NAME:
      return answer(dbc.file);
    case SQL_DATA_SOURCE_READ_ONLY:
      return answer(dbc.db != nullptr && sqlite3_db_readonly(dbc.db, "main") == 1 ? "Y" : "N");
    default:
      break;
  }
  const std::optional<SQLUINTEGER> number = FixedNumber(infoType);
  if (!number) throw DriverError{"HY096", "Information type out of range"};
  if (IsSmallInfo(infoType)) {
    const auto v = static_cast<SQLUSMALLINT>(*number);
    if (value != nullptr) std::memcpy(value, &v, sizeof v);
    if (length != nullptr) *length = sizeof v;
  } else {
    const SQLUINTEGER v = *number;
    if (value != nullptr) std::memcpy(value, &v, sizeof v);
    if (length != nullptr) *length = sizeof v;
  }
  return false;
}

namespace {

// Every ODBC function; `exported` is what the driver's export list holds (a test compares the
// two with the built library's dynamic symbols).
constexpr std::array kFunctions = {
    ApiFunction{SQL_API_SQLALLOCCONNECT, "SQLAllocConnect", true},
    ApiFunction{SQL_API_SQLALLOCENV, "SQLAllocEnv", true},
    ApiFunction{SQL_API_SQLALLOCSTMT, "SQLAllocStmt", true},
    ApiFunction{SQL_API_SQLBINDCOL, "SQLBindCol", true},
    ApiFunction{SQL_API_SQLCANCEL, "SQLCancel", true},
    ApiFunction{SQL_API_SQLCOLATTRIBUTE, "SQLColAttribute", true},
    ApiFunction{SQL_API_SQLCONNECT, "SQLConnect", true},
    ApiFunction{SQL_API_SQLDESCRIBECOL, "SQLDescribeCol", true},
    ApiFunction{SQL_API_SQLDISCONNECT, "SQLDisconnect", true},
    ApiFunction{SQL_API_SQLERROR, "SQLError", true},
    ApiFunction{SQL_API_SQLEXECDIRECT, "SQLExecDirect", true},
    ApiFunction{SQL_API_SQLEXECUTE, "SQLExecute", true},
    ApiFunction{SQL_API_SQLFETCH, "SQLFetch", true},
    ApiFunction{SQL_API_SQLFREECONNECT, "SQLFreeConnect", true},
    ApiFunction{SQL_API_SQLFREEENV, "SQLFreeEnv", true},
    ApiFunction{SQL_API_SQLFREESTMT, "SQLFreeStmt", true},
    ApiFunction{SQL_API_SQLGETCURSORNAME, "SQLGetCursorName", true},
    ApiFunction{SQL_API_SQLNUMRESULTCOLS, "SQLNumResultCols", true},
    ApiFunction{SQL_API_SQLPREPARE, "SQLPrepare", true},
    ApiFunction{SQL_API_SQLROWCOUNT, "SQLRowCount", true},
    ApiFunction{SQL_API_SQLSETCURSORNAME, "SQLSetCursorName", true},
    ApiFunction{SQL_API_SQLSETPARAM, "SQLSetParam", false},
    ApiFunction{SQL_API_SQLTRANSACT, "SQLTransact", true},
    ApiFunction{SQL_API_SQLBULKOPERATIONS, "SQLBulkOperations", false},
    ApiFunction{SQL_API_SQLCOLUMNS, "SQLColumns", true},
    ApiFunction{SQL_API_SQLDRIVERCONNECT, "SQLDriverConnect", true},
    ApiFunction{SQL_API_SQLGETCONNECTOPTION, "SQLGetConnectOption", false},
    ApiFunction{SQL_API_SQLGETDATA, "SQLGetData", true},
    ApiFunction{SQL_API_SQLGETFUNCTIONS, "SQLGetFunctions", true},
    ApiFunction{SQL_API_SQLGETINFO, "SQLGetInfo", true},
    ApiFunction{SQL_API_SQLGETSTMTOPTION, "SQLGetStmtOption", false},
    ApiFunction{SQL_API_SQLGETTYPEINFO, "SQLGetTypeInfo", true},
    ApiFunction{SQL_API_SQLPARAMDATA, "SQLParamData", true},
    ApiFunction{SQL_API_SQLPUTDATA, "SQLPutData", true},
    ApiFunction{SQL_API_SQLSETCONNECTOPTION, "SQLSetConnectOption", false},
    ApiFunction{SQL_API_SQLSETSTMTOPTION, "SQLSetStmtOption", false},
    ApiFunction{SQL_API_SQLSPECIALCOLUMNS, "SQLSpecialColumns", true},
    ApiFunction{SQL_API_SQLSTATISTICS, "SQLStatistics", true},
    ApiFunction{SQL_API_SQLTABLES, "SQLTables", true},
    ApiFunction{SQL_API_SQLBROWSECONNECT, "SQLBrowseConnect", false},
    ApiFunction{SQL_API_SQLCOLUMNPRIVILEGES, "SQLColumnPrivileges", false},
    ApiFunction{SQL_API_SQLDATASOURCES, "SQLDataSources", false},
    ApiFunction{SQL_API_SQLDESCRIBEPARAM, "SQLDescribeParam", true},
    ApiFunction{SQL_API_SQLEXTENDEDFETCH, "SQLExtendedFetch", false},
    ApiFunction{SQL_API_SQLFOREIGNKEYS, "SQLForeignKeys", true},
    ApiFunction{SQL_API_SQLMORERESULTS, "SQLMoreResults", true},
    ApiFunction{SQL_API_SQLNATIVESQL, "SQLNativeSql", true},
    ApiFunction{SQL_API_SQLNUMPARAMS, "SQLNumParams", true},
    ApiFunction{SQL_API_SQLPARAMOPTIONS, "SQLParamOptions", false},
    ApiFunction{SQL_API_SQLPRIMARYKEYS, "SQLPrimaryKeys", true},
    ApiFunction{SQL_API_SQLPROCEDURECOLUMNS, "SQLProcedureColumns", false},
    ApiFunction{SQL_API_SQLPROCEDURES, "SQLProcedures", false},
    ApiFunction{SQL_API_SQLSETPOS, "SQLSetPos", false},
    ApiFunction{SQL_API_SQLSETSCROLLOPTIONS, "SQLSetScrollOptions", false},
    ApiFunction{SQL_API_SQLTABLEPRIVILEGES, "SQLTablePrivileges", false},
    ApiFunction{SQL_API_SQLDRIVERS, "SQLDrivers", false},
    ApiFunction{SQL_API_SQLBINDPARAMETER, "SQLBindParameter", true},
    ApiFunction{SQL_API_SQLALLOCHANDLE, "SQLAllocHandle", true},
    ApiFunction{SQL_API_SQLBINDPARAM, "SQLBindParam", false},
    ApiFunction{SQL_API_SQLCLOSECURSOR, "SQLCloseCursor", true},
    ApiFunction{SQL_API_SQLCOPYDESC, "SQLCopyDesc", false},
    ApiFunction{SQL_API_SQLENDTRAN, "SQLEndTran", true},
    ApiFunction{SQL_API_SQLFREEHANDLE, "SQLFreeHandle", true},
    ApiFunction{SQL_API_SQLGETCONNECTATTR, "SQLGetConnectAttr", true},
    ApiFunction{SQL_API_SQLGETDESCFIELD, "SQLGetDescField", true},
    ApiFunction{SQL_API_SQLGETDESCREC, "SQLGetDescRec", false},
    ApiFunction{SQL_API_SQLGETDIAGFIELD, "SQLGetDiagField", true},
    ApiFunction{SQL_API_SQLGETDIAGREC, "SQLGetDiagRec", true},
    ApiFunction{SQL_API_SQLGETENVATTR, "SQLGetEnvAttr", true},
    ApiFunction{SQL_API_SQLGETSTMTATTR, "SQLGetStmtAttr", true},
    ApiFunction{SQL_API_SQLSETCONNECTATTR, "SQLSetConnectAttr", true},
    ApiFunction{SQL_API_SQLSETDESCFIELD, "SQLSetDescField", true},
    ApiFunction{SQL_API_SQLSETDESCREC, "SQLSetDescRec", false},
    ApiFunction{SQL_API_SQLSETENVATTR, "SQLSetEnvAttr", true},
    ApiFunction{SQL_API_SQLSETSTMTATTR, "SQLSetStmtAttr", true},
    ApiFunction{SQL_API_SQLFETCHSCROLL, "SQLFetchScroll", true},
    ApiFunction{SQL_API_SQLCANCELHANDLE, "SQLCancelHandle", false},
};

}  // namespace

std::span<const ApiFunction> ApiFunctions() {
  return kFunctions;
}

void GetFunctions(SQLUSMALLINT function, SQLUSMALLINT* supported) {
  if (supported == nullptr) throw DriverError{"HY009", "Invalid use of null pointer"};
  if (function == SQL_API_ODBC3_ALL_FUNCTIONS) {
    std::fill_n(supported, SQL_API_ODBC3_ALL_FUNCTIONS_SIZE, 0);
    for (auto& f : kFunctions)
      if (f.exported) supported[f.id >> 4] |= static_cast<SQLUSMALLINT>(1u << (f.id & 0xF));
    return;
  }
  if (function == SQL_API_ALL_FUNCTIONS) {
    std::fill_n(supported, 100, SQL_FALSE);
    for (auto& f : kFunctions)
      if (f.exported && f.id < 100) supported[f.id] = SQL_TRUE;
    return;
  }
  *supported = SQL_FALSE;
  for (auto& f : kFunctions)
    if (f.id == function && f.exported) *supported = SQL_TRUE;
}

}  // namespace norvane::odbc

using namespace norvane::odbc;

extern "C" {

SQLRETURN SQL_API SQLGetInfo(SQLHDBC h, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT capacity,
                             SQLSMALLINT* length) {
  Dbc* dbc = DbcOf(h);
  return Guard(dbc, [&]() -> SQLRETURN {
    std::string text;
    if (!GetInfo(*dbc, type, value, capacity, length, &text)) return SQL_SUCCESS;
    return CopyOut(*dbc, text, static_cast<SQLCHAR*>(value), capacity, length);
  });
}

SQLRETURN SQL_API SQLGetFunctions(SQLHDBC h, SQLUSMALLINT function, SQLUSMALLINT* supported) {
  Dbc* dbc = DbcOf(h);
  return Guard(dbc, [&]() -> SQLRETURN {
    GetFunctions(function, supported);
    return SQL_SUCCESS;
  });
}

}  // extern "C"
