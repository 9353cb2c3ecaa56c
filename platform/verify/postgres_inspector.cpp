#include "platform/verify/postgres_inspector.h"

#include <algorithm>
#include <chrono>

#include "platform/access/catalog.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/fnv1a.h"
#include "platform/quoting.h"
#include "platform/text.h"

namespace platform::verify {
namespace {

SQLCHAR* Sql(std::string& s) {
  return reinterpret_cast<SQLCHAR*>(s.data());
}

// The value of `key` in a connect string, braces taken off; "" when it is not there.
std::string ValueOf(const std::string& connect, const std::string& key) {
  for (auto [k, v] : odbc::ParseConnectionString(WithoutOdbcPrefix(connect))) {
    if (!EqualsNoCase(k, key)) continue;
    v = Trim(v);
    if (v.size() >= 2 && v.front() == '{' && v.back() == '}') v = v.substr(1, v.size() - 2);
    return v;
  }
  return "";
}

// Mixes a row's hash so that the sum of many does not cancel out.
std::uint64_t Mixed(std::uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  return h ^ (h >> 33);
}

}  // namespace

bool SamePostgresDatabase(const std::string& a, const std::string& b) {
  const auto port = [](const std::string& c) {
    const std::string p = ValueOf(c, "Port");
    return p.empty() ? std::string("5432") : p;
  };
  return EqualsNoCase(ValueOf(a, "Server"), ValueOf(b, "Server")) && port(a) == port(b) &&
         !ValueOf(a, "Database").empty() && ValueOf(a, "Database") == ValueOf(b, "Database");
}

std::string WithDatabase(const std::string& connect, const std::string& database) {
  std::string out;
  bool named = false;
  for (const auto& [key, value] : odbc::ParseConnectionString(WithoutOdbcPrefix(connect))) {
    if (EqualsNoCase(key, "Database")) {
      out += key + "=" + database + ";";
      named = true;
    } else {
      out += key + "=" + value + ";";
    }
  }
  if (!named) out += "Database=" + database + ";";
  return out;
}

PostgresDatabase PostgresDatabaseOf(const std::string& connect, odbc::Limits limits) {
  const std::string database = ValueOf(connect, "Database");
  try {
    odbc::Connection db(WithDatabase(connect, "postgres"), limits);
    odbc::Statement st(db);
    std::string sql = "SELECT 1 FROM pg_database WHERE datname = ?";
    SQLLEN length = static_cast<SQLLEN>(database.size());
    st.Check(
        SQLBindParameter(st.get(), 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, database.size() + 1,
                         0, const_cast<char*>(database.c_str()), length, &length),
        "Naming the database");
    st.Check(SQLExecDirect(st.get(), Sql(sql), SQL_NTS), "Looking for the database");
    const SQLRETURN rc = SQLFetch(st.get());
    if (rc == SQL_NO_DATA) return PostgresDatabase::kMissing;
    st.Check(rc, "Looking for the database");
    return PostgresDatabase::kPresent;
  } catch (const Error&) {
    return PostgresDatabase::kUnreachable;
  }
}

bool PostgresTargetInspector::IsNorvaneDatabase(const std::string& connect) {
  try {
    odbc::Connection db(WithoutOdbcPrefix(connect), limits_);
    return EqualsNoCase(db.DbmsName(), "PostgreSQL");
  } catch (const Error&) {
    return false;
  }
}

long PostgresTargetInspector::ProgramHolding(const std::string& connect) {
  odbc::Connection db(WithoutOdbcPrefix(connect), limits_);
  odbc::Statement st(db);
  std::string sql =
      "SELECT pid FROM pg_stat_activity WHERE datname = current_database() AND pid <> "
      "pg_backend_pid() AND backend_type = 'client backend' ORDER BY pid LIMIT 1";
  st.Check(SQLExecDirect(st.get(), Sql(sql), SQL_NTS), "Reading the sessions of the database");
  const SQLRETURN rc = SQLFetch(st.get());
  if (rc == SQL_NO_DATA) return 0;
  st.Check(rc, "Reading the sessions of the database");
  std::string pid;
  return st.GetText(1, pid) ? std::stol(pid) : 0;
}

std::vector<engine::TableState> PostgresTargetInspector::Tables(const std::string& connect) {
  odbc::Connection db(WithoutOdbcPrefix(connect), limits_);
  // The tables on the search path, as the links and the check find them (psqlODBC's SQLTables
  // would list those of every schema).
  std::vector<std::string> names;
  {
    odbc::Statement st(db);
    std::string sql =
        "SELECT DISTINCT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
        "WHERE c.relkind IN ('r', 'p') AND n.nspname = ANY (current_schemas(false))";
    st.Check(SQLExecDirect(st.get(), Sql(sql), SQL_NTS), "Listing the tables");
    std::string name;
    for (SQLRETURN rc; (rc = SQLFetch(st.get())) != SQL_NO_DATA;) {
      st.Check(rc, "Listing the tables");
      if (st.GetText(1, name)) names.push_back(name);
    }
  }
  std::sort(names.begin(), names.end());
  std::vector<engine::TableState> tables;
  for (const std::string& name : names) {
    engine::TableState table{name, 0, 0};
    odbc::Statement st(db);
    std::string sql = "SELECT * FROM " + QuoteName(name);
    st.Check(SQLExecDirect(st.get(), Sql(sql), SQL_NTS), "Reading " + name);
    SQLSMALLINT columns = 0;
    st.Check(SQLNumResultCols(st.get(), &columns), "Reading " + name);
    std::string value;
    for (;;) {
      const SQLRETURN rc = SQLFetch(st.get());
      if (rc == SQL_NO_DATA) break;
      st.Check(rc, "Reading " + name);
      Fnv1a row;
      for (SQLSMALLINT c = 1; c <= columns; ++c) {
        const bool present = st.GetText(static_cast<SQLUSMALLINT>(c), value);
        const unsigned char kind = present ? 1 : 0;
        row.Add(&kind, 1);
        const std::uint64_t size = value.size();
        row.Add(&size, sizeof size);
        row.Add(value.data(), value.size());
      }
      // A sum over the rows: the server may give them in another order after an update.
      table.digest += Mixed(row.Value());
      ++table.rows;
    }
    tables.push_back(std::move(table));
  }
  return tables;
}

std::vector<std::string> PostgresTargetInspector::TablesLinkedTo(const std::string& accessPosixPath,
                                                                 const std::string& connect) {
  std::vector<std::string> names;
  for (const access::TableInfo& table :
       access::ReadCatalog(accessPosixPath, std::chrono::seconds(60)).tables)
    if (table.objectType == dao::ObjectType::kOdbcLink &&
        SamePostgresDatabase(table.connect, connect))
      names.push_back(table.name);
  return names;
}

void PostgresTargetInspector::Remove(const std::string& connect) {
  const std::string database = ValueOf(connect, "Database");
  if (database.empty())
    throw Error(dao::err::kOdbcCallFailed, "The connect string names no database to remove.");
  odbc::Connection db(WithDatabase(connect, "postgres"), limits_);
  db.ExecDirect("DROP DATABASE " + QuoteName(database));
}

}  // namespace platform::verify
