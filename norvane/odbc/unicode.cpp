// The wide (W) entry points: UTF-16 in and out around the driver's UTF-8 functions.
#include "norvane/odbc/unicode.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "norvane/odbc/core.h"
#include "norvane/odbc/diagnostics.h"

namespace norvane::odbc {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

template <typename T>
void SetIf(T* target, T value) {
  if (target != nullptr) *target = value;
}

template <typename T>
T Clamp(std::size_t n) {
  return static_cast<T>(std::min<std::size_t>(n, std::numeric_limits<T>::max()));
}

// Characters of a wide buffer that fit with the terminator, not splitting a surrogate pair.
std::size_t FittingChars(const std::u16string& value, SQLLEN capacityChars) {
  if (capacityChars <= 0) return 0;
  std::size_t n = std::min(value.size(), static_cast<std::size_t>(capacityChars) - 1);
  if (n > 0 && n < value.size() && value[n - 1] >= 0xD800 && value[n - 1] <= 0xDBFF) --n;
  return n;
}

void TruncationWarning(Handle& handle) {
  handle.Warn("01004", "String data, right truncated");
}

SQLRETURN WideOut(Handle& handle, const std::string& value, SQLWCHAR* buffer, SQLLEN capacityChars,
                  std::size_t& fullChars) {
  if (capacityChars < 0) throw DriverError{"HY090", "Invalid string or buffer length"};
  const std::u16string wide = Utf16Of(value);
  fullChars = wide.size();
  if (buffer == nullptr) return SQL_SUCCESS;
  if (CopyWide(wide, buffer, capacityChars)) {
    TruncationWarning(handle);
    return SQL_SUCCESS_WITH_INFO;
  }
  return SQL_SUCCESS;
}

}  // namespace

std::u16string Utf16Of(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    char32_t cp = 0;
    std::size_t extra = 0;
    char32_t least = 0;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      cp = b & 0x1F;
      extra = 1;
      least = 0x80;
    } else if ((b & 0xF0) == 0xE0) {
      cp = b & 0x0F;
      extra = 2;
      least = 0x800;
    } else if ((b & 0xF8) == 0xF0) {
      cp = b & 0x07;
      extra = 3;
      least = 0x10000;
    } else {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    bool ok = true;
    for (std::size_t k = 1; ok && k <= extra; ++k) {
      if (i + k >= utf8.size()) {
        ok = false;
        break;
      }
      const auto c = static_cast<unsigned char>(utf8[i + k]);
      if ((c & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok || cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      out.push_back(kReplacement);
      ++i;
      continue;
    }
    i += extra + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string Utf8Of(const char16_t* units, std::size_t count) {
  std::string out;
  out.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    char32_t cp = units[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count && units[i + 1] >= 0xDC00 &&
        units[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (units[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::optional<std::string> WideArg(const SQLWCHAR* text, SQLINTEGER chars) {
  if (text == nullptr) return std::nullopt;
  std::size_t n = 0;
  if (chars == SQL_NTS) {
    while (text[n] != 0) ++n;
  } else if (chars < 0) {
    throw DriverError{"HY090", "Invalid string or buffer length"};
  } else {
    n = static_cast<std::size_t>(chars);
  }
  static_assert(sizeof(SQLWCHAR) == sizeof(char16_t));
  std::u16string wide(n, u'\0');
  std::memcpy(wide.data(), text, n * sizeof(SQLWCHAR));
  return Utf8Of(wide.data(), wide.size());
}

bool CopyWide(const std::u16string& value, SQLWCHAR* buffer, SQLLEN capacityChars) {
  if (buffer == nullptr || capacityChars <= 0) return !value.empty() && buffer != nullptr;
  const std::size_t n = FittingChars(value, capacityChars);
  std::memcpy(buffer, value.data(), n * sizeof(SQLWCHAR));
  buffer[n] = 0;
  return n < value.size();
}

SQLRETURN WideOutChars(Handle& handle, const std::string& value, SQLWCHAR* buffer, SQLLEN capacity,
                       SQLSMALLINT* length) {
  std::size_t chars = 0;
  const SQLRETURN rc = WideOut(handle, value, buffer, capacity, chars);
  SetIf(length, Clamp<SQLSMALLINT>(chars));
  return rc;
}

SQLRETURN WideOutBytes(Handle& handle, const std::string& value, SQLPOINTER buffer, SQLLEN capacity,
                       SQLSMALLINT* length) {
  std::size_t chars = 0;
  const SQLRETURN rc = WideOut(handle, value, static_cast<SQLWCHAR*>(buffer),
                               capacity / static_cast<SQLLEN>(sizeof(SQLWCHAR)), chars);
  SetIf(length, Clamp<SQLSMALLINT>(chars * sizeof(SQLWCHAR)));
  return rc;
}

SQLRETURN WideOutBytes(Handle& handle, const std::string& value, SQLPOINTER buffer, SQLLEN capacity,
                       SQLINTEGER* length) {
  std::size_t chars = 0;
  const SQLRETURN rc = WideOut(handle, value, static_cast<SQLWCHAR*>(buffer),
                               capacity / static_cast<SQLLEN>(sizeof(SQLWCHAR)), chars);
  SetIf(length, Clamp<SQLINTEGER>(chars * sizeof(SQLWCHAR)));
  return rc;
}

}  // namespace norvane::odbc

// ----- the wide entry points

using namespace norvane::odbc;

namespace {

std::string OrEmpty(std::optional<std::string> s) {
  return s ? std::move(*s) : std::string();
}

// A wide string attribute or descriptor field: `bytes` long or SQL_NTS.
std::string WideValue(SQLPOINTER value, SQLINTEGER bytes) {
  const SQLINTEGER chars =
      bytes == SQL_NTS ? SQL_NTS : bytes / static_cast<SQLINTEGER>(sizeof(SQLWCHAR));
  return OrEmpty(WideArg(static_cast<const SQLWCHAR*>(value), chars));
}

bool IsTextConnectAttr(SQLINTEGER attribute) {
  return attribute == SQL_ATTR_CURRENT_CATALOG || attribute == SQL_ATTR_TRACEFILE ||
         attribute == SQL_ATTR_TRANSLATE_LIB;
}

bool IsTextDescField(SQLSMALLINT field) {
  switch (field) {
    case SQL_DESC_BASE_COLUMN_NAME:
    case SQL_DESC_BASE_TABLE_NAME:
    case SQL_DESC_CATALOG_NAME:
    case SQL_DESC_LABEL:
    case SQL_DESC_LITERAL_PREFIX:
    case SQL_DESC_LITERAL_SUFFIX:
    case SQL_DESC_LOCAL_TYPE_NAME:
    case SQL_DESC_NAME:
    case SQL_DESC_SCHEMA_NAME:
    case SQL_DESC_TABLE_NAME:
    case SQL_DESC_TYPE_NAME:
      return true;
    default:
      return false;
  }
}

// The diagnostic copy of a record's text: no record is added for a truncation.
SQLRETURN DiagTextOut(const std::string& value, SQLWCHAR* buffer, SQLLEN capacityChars,
                      SQLSMALLINT* length, bool lengthInBytes) {
  const std::u16string wide = Utf16Of(value);
  const std::size_t n = lengthInBytes ? wide.size() * sizeof(SQLWCHAR) : wide.size();
  SetIf(length, Clamp<SQLSMALLINT>(n));
  return CopyWide(wide, buffer, capacityChars) ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

void StateOut(const std::string& state, SQLWCHAR* buffer) {
  if (buffer != nullptr) CopyWide(Utf16Of(state), buffer, 6);
}

}  // namespace

extern "C" {

SQLRETURN SQL_API SQLConnectW(SQLHDBC h, SQLWCHAR* dsn, SQLSMALLINT dsnLength, SQLWCHAR* user,
                              SQLSMALLINT userLength, SQLWCHAR* password,
                              SQLSMALLINT passwordLength) {
  Dbc* dbc = DbcOf(h);
  return Guard(dbc, [&]() -> SQLRETURN {
    Connect(*dbc, OrEmpty(WideArg(dsn, dsnLength)), OrEmpty(WideArg(user, userLength)),
            OrEmpty(WideArg(password, passwordLength)));
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC h, SQLHWND /*window*/, SQLWCHAR* in,
                                    SQLSMALLINT inLength, SQLWCHAR* out, SQLSMALLINT capacity,
                                    SQLSMALLINT* outLength, SQLUSMALLINT /*completion*/) {
  Dbc* dbc = DbcOf(h);
  return Guard(dbc, [&]() -> SQLRETURN {
    const std::string completed = DriverConnect(*dbc, OrEmpty(WideArg(in, inLength)));
    return WideOutChars(*dbc, completed, out, capacity, outLength);
  });
}

SQLRETURN SQL_API SQLPrepareW(SQLHSTMT h, SQLWCHAR* text, SQLINTEGER length) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    Prepare(*s, OrEmpty(WideArg(text, length)));
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT h, SQLWCHAR* text, SQLINTEGER length) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN { return ExecDirect(*s, OrEmpty(WideArg(text, length))); });
}

SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT h, SQLUSMALLINT col, SQLWCHAR* name,
                                  SQLSMALLINT capacity, SQLSMALLINT* nameLength, SQLSMALLINT* type,
                                  SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    const ColumnInfo& c = Column(*s, col);
    const SQLRETURN rc = WideOutChars(*s, c.name, name, capacity, nameLength);
    SetIf(type, c.sqlType);
    SetIf(size, c.size);
    SetIf(digits, c.digits);
    SetIf(nullable, c.nullable);
    return rc;
  });
}

SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT h, SQLUSMALLINT col, SQLUSMALLINT field,
                                   SQLPOINTER text, SQLSMALLINT capacity, SQLSMALLINT* length,
                                   SQLLEN* number) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    SQLLEN n = 0;
    std::string t;
    if (ColAttribute(*s, col, field, &n, &t)) {
      SetIf(number, n);
      return SQL_SUCCESS;
    }
    return WideOutBytes(*s, t, text, capacity, length);
  });
}

SQLRETURN SQL_API SQLGetInfoW(SQLHDBC h, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT capacity,
                              SQLSMALLINT* length) {
  Dbc* dbc = DbcOf(h);
  return Guard(dbc, [&]() -> SQLRETURN {
    std::string text;
    if (!GetInfo(*dbc, type, value, capacity, length, &text)) return SQL_SUCCESS;
    return WideOutBytes(*dbc, text, value, capacity, length);
  });
}

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT record,
                                 SQLWCHAR* state, SQLINTEGER* native, SQLWCHAR* message,
                                 SQLSMALLINT capacity, SQLSMALLINT* length) {
  Handle* h = HandleOf(handleType, handle);
  if (h == nullptr) return SQL_INVALID_HANDLE;
  if (record < 1 || capacity < 0) return SQL_ERROR;
  if (static_cast<std::size_t>(record) > h->diag.size()) return SQL_NO_DATA;
  const DiagRecord& r = h->diag[static_cast<std::size_t>(record) - 1];
  StateOut(r.state, state);
  SetIf(native, r.native);
  return DiagTextOut(r.message, message, capacity, length, false);
}

SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT handleType, SQLHANDLE handle, SQLSMALLINT record,
                                   SQLSMALLINT field, SQLPOINTER value, SQLSMALLINT capacity,
                                   SQLSMALLINT* length) {
  std::string text;
  const SQLRETURN rc = ReadDiagField(handleType, handle, record, field, value, capacity, text);
  if (rc != SQL_NEED_DATA) return rc;
  return DiagTextOut(text, static_cast<SQLWCHAR*>(value),
                     capacity / static_cast<SQLSMALLINT>(sizeof(SQLWCHAR)), length, true);
}

SQLRETURN SQL_API SQLErrorW(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, SQLWCHAR* state,
                            SQLINTEGER* native, SQLWCHAR* message, SQLSMALLINT capacity,
                            SQLSMALLINT* length) {
  DiagRecord r;
  const SQLRETURN rc = TakeFirstRecord(env, dbc, stmt, r);
  if (rc != SQL_SUCCESS) return rc;
  StateOut(r.state, state);
  SetIf(native, r.native);
  return DiagTextOut(r.message, message, capacity, length, false);
}

SQLRETURN SQL_API SQLTablesW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                             SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* table,
                             SQLSMALLINT tableLength, SQLWCHAR* type, SQLSMALLINT typeLength) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    Tables(*s, WideArg(catalog, catalogLength), WideArg(schema, schemaLength),
           WideArg(table, tableLength), WideArg(type, typeLength));
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLColumnsW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                              SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* table,
                              SQLSMALLINT tableLength, SQLWCHAR* column, SQLSMALLINT columnLength) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    Columns(*s, WideArg(catalog, catalogLength), WideArg(schema, schemaLength),
            WideArg(table, tableLength), WideArg(column, columnLength));
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                                 SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* table,
                                 SQLSMALLINT tableLength, SQLUSMALLINT unique,
                                 SQLUSMALLINT reserved) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    Statistics(*s, WideArg(catalog, catalogLength), WideArg(schema, schemaLength),
               WideArg(table, tableLength), unique, reserved);
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT h, SQLWCHAR* catalog, SQLSMALLINT catalogLength,
                                  SQLWCHAR* schema, SQLSMALLINT schemaLength, SQLWCHAR* table,
                                  SQLSMALLINT tableLength) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    PrimaryKeys(*s, WideArg(catalog, catalogLength), WideArg(schema, schemaLength),
                WideArg(table, tableLength));
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT h, SQLWCHAR* pkCatalog, SQLSMALLINT pkCatalogLength,
                                  SQLWCHAR* pkSchema, SQLSMALLINT pkSchemaLength, SQLWCHAR* pkTable,
                                  SQLSMALLINT pkTableLength, SQLWCHAR* fkCatalog,
                                  SQLSMALLINT fkCatalogLength, SQLWCHAR* fkSchema,
                                  SQLSMALLINT fkSchemaLength, SQLWCHAR* fkTable,
                                  SQLSMALLINT fkTableLength) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    ForeignKeys(*s, WideArg(pkCatalog, pkCatalogLength), WideArg(pkSchema, pkSchemaLength),
                WideArg(pkTable, pkTableLength), WideArg(fkCatalog, fkCatalogLength),
                WideArg(fkSchema, fkSchemaLength), WideArg(fkTable, fkTableLength));
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLSpecialColumnsW(SQLHSTMT h, SQLUSMALLINT identifierType, SQLWCHAR* catalog,
                                     SQLSMALLINT catalogLength, SQLWCHAR* schema,
                                     SQLSMALLINT schemaLength, SQLWCHAR* table,
                                     SQLSMALLINT tableLength, SQLUSMALLINT scope,
                                     SQLUSMALLINT nullable) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    SpecialColumns(*s, identifierType, WideArg(catalog, catalogLength),
                   WideArg(schema, schemaLength), WideArg(table, tableLength), scope, nullable);
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLGetTypeInfoW(SQLHSTMT h, SQLSMALLINT dataType) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    GetTypeInfo(*s, dataType);
    return SQL_SUCCESS;
  });
}

SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC h, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER capacity, SQLINTEGER* length) {
  Dbc* dbc = DbcOf(h);
  return Guard(dbc, [&]() -> SQLRETURN {
    std::string text;
    const SQLRETURN rc = GetConnectAttr(*dbc, attribute, value, capacity, length, &text);
    if (!IsTextConnectAttr(attribute) || rc == SQL_ERROR) return rc;
    return WideOutBytes(*dbc, text, value, capacity, length);
  });
}

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC h, SQLINTEGER attribute, SQLPOINTER value,
                                     SQLINTEGER length) {
  Dbc* dbc = DbcOf(h);
  return Guard(dbc, [&]() -> SQLRETURN {
    if (!IsTextConnectAttr(attribute)) return SetConnectAttr(*dbc, attribute, value, length);
    std::string text = WideValue(value, length);
    return SetConnectAttr(*dbc, attribute, text.data(), static_cast<SQLINTEGER>(text.size()));
  });
}

SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value,
                                  SQLINTEGER capacity, SQLINTEGER* length) {
  Stmt* s = StmtOf(h);
  return Guard(s,
               [&]() -> SQLRETURN { return GetStmtAttr(*s, attribute, value, capacity, length); });
}

SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT h, SQLINTEGER attribute, SQLPOINTER value,
                                  SQLINTEGER length) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN { return SetStmtAttr(*s, attribute, value, length); });
}

SQLRETURN SQL_API SQLGetDescFieldW(SQLHDESC h, SQLSMALLINT record, SQLSMALLINT field,
                                   SQLPOINTER value, SQLINTEGER capacity, SQLINTEGER* length) {
  Desc* d = DescOf(h);
  return Guard(d, [&]() -> SQLRETURN {
    std::string text;
    const SQLRETURN rc = GetDescField(*d, record, field, value, capacity, length, &text);
    if (!IsTextDescField(field) || rc == SQL_ERROR || rc == SQL_NO_DATA) return rc;
    return WideOutBytes(*d, text, value, capacity, length);
  });
}

SQLRETURN SQL_API SQLSetDescFieldW(SQLHDESC h, SQLSMALLINT record, SQLSMALLINT field,
                                   SQLPOINTER value, SQLINTEGER length) {
  Desc* d = DescOf(h);
  return Guard(d, [&]() -> SQLRETURN {
    if (!IsTextDescField(field)) return SetDescField(*d, record, field, value, length);
    std::string text = WideValue(value, length);
    return SetDescField(*d, record, field, text.data(), static_cast<SQLINTEGER>(text.size()));
  });
}

}  // extern "C"

extern "C" {

SQLRETURN SQL_API SQLNativeSqlW(SQLHDBC h, SQLWCHAR* in, SQLINTEGER inLength, SQLWCHAR* out,
                                SQLINTEGER capacity, SQLINTEGER* outLength) {
  Dbc* dbc = DbcOf(h);
  return Guard(dbc, [&]() -> SQLRETURN {
    SQLSMALLINT chars = 0;
    const SQLRETURN rc = WideOutChars(*dbc, OrEmpty(WideArg(in, inLength)), out, capacity, &chars);
    SetIf(outLength, static_cast<SQLINTEGER>(chars));
    return rc;
  });
}

SQLRETURN SQL_API SQLGetCursorNameW(SQLHSTMT h, SQLWCHAR* name, SQLSMALLINT capacity,
                                    SQLSMALLINT* length) {
  Stmt* s = StmtOf(h);
  if (s == nullptr) return SQL_INVALID_HANDLE;
  // The ANSI call gives an unnamed statement its name.
  SQLGetCursorName(h, nullptr, 0, nullptr);
  return Guard(
      s, [&]() -> SQLRETURN { return WideOutChars(*s, s->cursorName, name, capacity, length); });
}

SQLRETURN SQL_API SQLSetCursorNameW(SQLHSTMT h, SQLWCHAR* name, SQLSMALLINT length) {
  Stmt* s = StmtOf(h);
  return Guard(s, [&]() -> SQLRETURN {
    s->cursorName = OrEmpty(WideArg(name, length));
    return SQL_SUCCESS;
  });
}

}  // extern "C"
