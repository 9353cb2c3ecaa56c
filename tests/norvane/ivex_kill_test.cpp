// ivex killed (SIGKILL) at moments spread over a script of the forms reload.sql and
// properties.sql hold: the database passes integrity_check and holds the changes of the
// statements before some point, each whole, and none after it.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "norvane/sqlite.h"
#include "support/tool_process.h"

using namespace tools_test;
using testing_support::TempDir;
using testing_support::WriteBytes;
namespace fs = std::filesystem;

namespace {

constexpr int kTables = 4;

// A statement of the script and how to see its change in the database.
struct Step {
  std::string sql;
  std::function<bool(norvane::Connection&)> done;  // empty for commit
};

std::string Text(norvane::Connection& c, const std::string& sql) {
  return c.Scalar(sql).AsText();
}

// The definition of table `table` holds `part`.
bool Defined(norvane::Connection& c, const std::string& table, const std::string& part) {
  return Text(c, "SELECT sql FROM sqlite_schema WHERE name = '" + table + "'").find(part) !=
         std::string::npos;
}

// A trigger whose text is like `pattern` exists.
bool Trigger(norvane::Connection& c, const std::string& pattern) {
  return Text(c, "SELECT count(*) FROM sqlite_schema WHERE type = 'trigger' AND sql LIKE " +
                     norvane::QuoteText(pattern)) != "0";
}

std::vector<Step> Script() {
  std::vector<Step> steps;
  for (int i = 1; i <= kTables; ++i) {
    const std::string p = "p" + std::to_string(i);
    steps.push_back({"alter table \"" + p + "\" modify \"x\" not null", [p](auto& c) {
                       return Text(c, "SELECT \"notnull\" FROM pragma_table_info('" + p +
                                          "') WHERE name = 'x'") == "1";
                     }});
    steps.push_back({"alter table \"" + p + "\" add primary key (\"id\")", [p](auto& c) {
                       return Text(c, "SELECT pk FROM pragma_table_info('" + p +
                                          "') WHERE name = 'id'") == "1";
                     }});
    steps.push_back({"update t set a = a + 1",
                     [i](auto& c) { return std::stoi(Text(c, "SELECT min(a) FROM t")) >= i; }});
    steps.push_back({"insert into marks values (" + std::to_string(i) + ")", [i](auto& c) {
                       return Text(c, "SELECT count(*) FROM marks WHERE k = " +
                                          std::to_string(i)) == "1";
                     }});
    if (i > 1)  // reload2.sql's form, on a key that exists by now
      steps.push_back(
          {"alter table \"" + p + "\" add foreign key (\"x\") references \"p1\" (\"id\")",
           [p](auto& c) { return Defined(c, p, "REFERENCES \"p1\""); }});
    steps.push_back({"commit", {}});
  }
  // The properties step's forms.
  for (int i = 1; i <= kTables; ++i) {
    const std::string p = "p" + std::to_string(i);
    steps.push_back({"alter table \"" + p + "\" add check (\"x\" >= 0)",
                     [p](auto& c) { return Defined(c, p, "CHECK"); }});
    if (i > 1)
      steps.push_back(
          {"alter table \"" + p +
               "\" modify foreign key (\"x\") references \"p1\" (\"id\") on delete cascade",
           [p](auto& c) { return Trigger(c, "%DELETE FROM \"" + p + "\"%"); }});
  }
  steps.push_back({"commit", {}});
  return steps;
}

std::string ScriptText(const std::vector<Step>& steps) {
  std::string text;
  for (const Step& s : steps) text += s.sql + ";\r\n";
  return text;
}

// A database file as the transfer leaves one: tables without keys, filled.
void Fill(const fs::path& db) {
  norvane::Connection c(db.string(), false);
  c.Exec(
      "BEGIN; CREATE TABLE t (id INTEGER, a INTEGER, b VARCHAR(40)); CREATE TABLE marks (k "
      "INTEGER);"
      "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40000) "
      "INSERT INTO t SELECT i, 0, printf('row %08d', i) FROM n;");
  for (int i = 1; i <= kTables; ++i)
    c.Exec("CREATE TABLE p" + std::to_string(i) +
           " (id INTEGER, x INTEGER, y VARCHAR(40));"
           "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 20000) "
           "INSERT INTO p" +
           std::to_string(i) + " SELECT i, i % 97 + 1, printf('value %d', i) FROM n;");
  c.Exec("COMMIT");
}

// Starts ivex on the script and kills it after `delay` (never, when negative); the exit status,
// or 128 + the signal.
int RunIvex(const fs::path& db, const fs::path& script, std::chrono::microseconds delay) {
  const fs::path tool = kToolsDir / "ivex.exe";
  std::vector<std::string> owned = {tool.string(), "-c",   "uid=dba;pwd=KWZ;dbf=" + db.string(),
                                    "-q",          "read", script.string()};
  std::vector<char*> argv;
  for (auto& a : owned) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, tool.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return -1;
  if (delay.count() >= 0) {
    std::this_thread::sleep_for(delay);
    kill(pid, SIGKILL);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// How many statements left their change, when they form a prefix of the script each whole;
// -1 (with a test failure) otherwise.
int StatementsDone(const fs::path& db, const std::vector<Step>& steps) {
  norvane::Connection c(db.string(), false);  // the first read rolls back a left journal
  EXPECT_EQ(Text(c, "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(Text(c, "SELECT min(a) = max(a) FROM t"), "1") << "an update was split";
  int prefix = 0;
  bool gap = false;
  for (std::size_t k = 0; k < steps.size(); ++k) {
    if (!steps[k].done) continue;
    const bool done = steps[k].done(c);
    if (done && gap) {
      ADD_FAILURE() << "statement " << k + 1 << " (" << steps[k].sql
                    << ") left its change although an earlier one did not";
      return -1;
    }
    if (done) prefix = static_cast<int>(k) + 1;
    gap = gap || !done;
  }
  return prefix;
}

}  // namespace

TEST(IvexKilled, at_any_moment_keeps_each_statement_whole_or_absent_and_the_file_sound) {
  TempDir dir;
  const fs::path base = NewDatabase(dir, "base.db");
  Fill(base);
  const std::vector<Step> steps = Script();
  const fs::path script = dir.path() / "reload.sql";
  WriteBytes(script, ScriptText(steps));

  // The whole script, not killed: every change is there.
  const fs::path db = dir.path() / "Sales.db";
  fs::copy_file(base, db);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(RunIvex(db, script, std::chrono::microseconds(-1)), 0);
  const auto whole = std::chrono::duration_cast<std::chrono::microseconds>(
      std::chrono::steady_clock::now() - start);
  const int all = StatementsDone(db, steps);
  ASSERT_EQ(all, static_cast<int>(steps.size()) - 1);  // the last commit has no change to see
  EXPECT_FALSE(fs::exists(dir.path() / "Sales.db-journal"));

  // Kills at moments spread over the run, each moved by a random part of its slot.
  constexpr int kKills = 12;
  std::mt19937 random(std::random_device{}());
  int between = 0;
  for (int k = 0; k < kKills; ++k) {
    fs::copy_file(base, db, fs::copy_options::overwrite_existing);
    fs::remove(dir.path() / "Sales.db-journal");
    std::uniform_real_distribution<double> part(0.0, 1.0);
    const auto delay = std::chrono::microseconds(
        static_cast<long>(static_cast<double>(whole.count()) * (k + part(random)) / kKills));
    const int status = RunIvex(db, script, delay);
    const int done = StatementsDone(db, steps);
    SCOPED_TRACE("kill after " + std::to_string(delay.count()) + " us, status " +
                 std::to_string(status));
    ASSERT_GE(done, 0);
    if (status == 128 + SIGKILL && done > 0 && done < all) ++between;
  }
  // The sweep proved something only if some kills fell inside the script.
  EXPECT_GE(between, 2) << "the kills missed the script (whole run " << whole.count() << " us)";
}
