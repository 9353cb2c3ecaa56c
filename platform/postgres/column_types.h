// The PostgreSQL column type of each Access column type, and the form its values take.
//
//   Yes/No     boolean            Byte, Integer  smallint        Long      integer
//   Currency   numeric(19,4)      Decimal(p,s)   numeric(p,s)    Single    real
//   Double     double precision   Date/Time      timestamp       Text(n)   varchar(n)
//   Memo       text               OLE, Binary    bytea           GUID      uuid
// psqlODBC shows boolean as SQL_BIT, which Access links as Yes/No, when the connection sets
// BoolsAsChar=0 (its default, 1, shows it as text); see docs/postgresql.md.
// Failures: platform::Error dao::err::kUnsupported for a column type without a mapping.
#pragma once

#include <string>

#include "platform/access/catalog.h"

namespace platform::postgres {

// How a value of the column travels (the members of platform::access::Cell it uses).
enum class PgKind {
  kBoolean,
  kInt2,
  kInt4,
  kFloat4,
  kFloat8,
  kNumeric,
  kTimestamp,
  kText,
  kBytea,
  kUuid
};

struct PgType {
  PgKind kind;
  std::string ddl;  // "numeric(19,4)", "varchar(50)"
};

PgType PostgresType(const access::ColumnInfo& column, int jetVersion);

}  // namespace platform::postgres
