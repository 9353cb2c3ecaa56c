// The Norvane SQL dialect on a SQLite connection.
//
// Owns: executing one statement of the dialect: commit, the alter-table forms the migration
// writes (modify ... not null, modify ... time, add primary key, add foreign key), create / call /
// drop procedure, begin ... end blocks, and plain SQL passed to SQLite with the catalog's names
// ("SYS.SYSCOLUMNS") and number(*) understood.
// A run of consecutive alter-table statements on one table is applied together (one rebuild at
// most) with the outcome, per statement, of executing them one by one.
// Failures: a refused or failing statement throws DbError with the reason; the statement has then
// changed nothing (each runs as one unit).
#pragma once

#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "norvane/lexer.h"
#include "norvane/sqlite.h"

namespace norvane {

class Session {
 public:
  // Rows of queries are written to `out`.
  Session(Connection& c, std::ostream& out);

  // Executes one statement (no closing ';').
  void Execute(std::string_view statement);
  // Executes every statement of a text in order; the first failure stops it and is thrown with
  // the statement it came from.
  void ExecuteText(std::string_view text);

  // How many statements from `first` on change the definition of one table (0: not such a one).
  std::size_t AlterRunLength(std::span<const std::string_view> statements, std::size_t first) const;
  // Executes such a run with the state and the errors (per statement, nullopt when it succeeded)
  // that executing them one by one gives; with stopAtFailure nothing after the first failure runs.
  std::vector<std::optional<std::string>> ExecuteAlterRun(std::span<const std::string_view> run,
                                                          bool stopAtFailure);

  Connection& connection() { return c_; }
  std::ostream& out() { return out_; }
  // Guards against a procedure that calls itself without end.
  int& callDepth() { return callDepth_; }

 private:
  void AlterTable(std::string_view statement, const std::vector<Token>& t);
  void PlainSql(std::string_view statement);
  std::optional<std::string> Try(std::string_view statement);

  Connection& c_;
  std::ostream& out_;
  int callDepth_ = 0;
};

// The statement with catalog names ("SYS.SYSCOLUMNS") quoted as the file stores them and number(*)
// written as SQLite's row_number() over ().
std::string RewriteDialect(std::string_view statement);

// Parsing helpers shared by the statement forms. A refused statement: DbError "Syntax error: ...".
[[noreturn]] void Syntax(const std::string& what);
// The word or symbol `word` at t[i]; advances i past it.
void Expect(const std::vector<Token>& t, std::size_t& i, std::string_view word);
// "(name, name, ...)" at t[i]; advances i past it.
std::vector<std::string> NameList(const std::vector<Token>& t, std::size_t& i);
std::string Join(const std::vector<std::string>& v, std::string_view sep);

// An object name at t[i] ("name", owner.name or SYS.name); advances i past it. Not a name: DbError.
std::string TakeObjectName(const std::vector<Token>& t, std::size_t& i);

}  // namespace norvane
