#include "platform/postgres/column_types.h"

#include <algorithm>

#include "platform/dao/dao.h"
#include "platform/error.h"

namespace platform::postgres {

PgType PostgresType(const access::ColumnInfo& column, int jetVersion) {
  using access::ColumnType;
  switch (static_cast<ColumnType>(column.type)) {
    case ColumnType::kBoolean:
      return {PgKind::kBoolean, "boolean"};
    case ColumnType::kByte:
    case ColumnType::kInteger:
      return {PgKind::kInt2, "smallint"};
    case ColumnType::kLong:
      return {PgKind::kInt4, "integer"};
    case ColumnType::kCurrency:
      return {PgKind::kNumeric, "numeric(19,4)"};
    case ColumnType::kDecimal: {
      const int precision = std::clamp(column.precision, 1, 38);
      const int scale = std::clamp(column.scale, 0, precision);
      return {PgKind::kNumeric,
              "numeric(" + std::to_string(precision) + "," + std::to_string(scale) + ")"};
    }
    case ColumnType::kSingle:
      return {PgKind::kFloat4, "real"};
    case ColumnType::kDouble:
      return {PgKind::kFloat8, "double precision"};
    case ColumnType::kDateTime:
      return {PgKind::kTimestamp, "timestamp"};
    case ColumnType::kText:
      return {PgKind::kText,
              "varchar(" + std::to_string(access::TextLength(column, jetVersion)) + ")"};
    case ColumnType::kMemo:
      return {PgKind::kText, "text"};
    case ColumnType::kBinary:
    case ColumnType::kOle:
      return {PgKind::kBytea, "bytea"};
    case ColumnType::kGuid:
      return {PgKind::kUuid, "uuid"};
  }
  throw Error(dao::err::kUnsupported, "PostgreSQL has no data type for column '" + column.name +
                                          "' (" + access::ColumnTypeName(column.type) + ").");
}

}  // namespace platform::postgres
