// Running the built tools as processes, and reading a Norvane file back for comparison.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "norvane/sqlite.h"
#include "support/temp_dir.h"

extern char** environ;

namespace tools_test {

inline const std::filesystem::path kToolsDir = NORVANE_TOOLS_DIR;
inline const std::filesystem::path kCmdshell = NORVANE_CMDSHELL;

struct Outcome {
  int status = -1;
  std::string output;  // standard output and standard error together, or apart:
  std::string errors;  // standard error, when RunProgramApart kept it apart
};

enum class Streams { Together, Apart };

// Runs `program` with `args` in folder `cwd` and waits for it.
inline Outcome RunProgram(const std::filesystem::path& program,
                          const std::vector<std::string>& args,
                          const std::filesystem::path& cwd = std::filesystem::current_path(),
                          Streams streams = Streams::Together) {
  testing_support::TempDir capture("capture");
  const std::filesystem::path log = capture.path() / "output.txt";
  const std::filesystem::path errors = capture.path() / "errors.txt";
  std::vector<std::string> owned = {program.string()};
  owned.insert(owned.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (auto& a : owned) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (streams == Streams::Apart)
    posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  else
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  pid_t pid = 0;
  Outcome out;
  if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    waitpid(pid, &status, 0);
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  posix_spawn_file_actions_destroy(&actions);
  out.output = testing_support::ReadBytes(log);
  if (streams == Streams::Apart) out.errors = testing_support::ReadBytes(errors);
  return out;
}

// The same with standard output in `output` and standard error in `errors`.
inline Outcome RunProgramApart(const std::filesystem::path& program,
                               const std::vector<std::string>& args,
                               const std::filesystem::path& cwd) {
  return RunProgram(program, args, cwd, Streams::Apart);
}

inline Outcome Ivex(const std::filesystem::path& db, const std::filesystem::path& script,
                    const std::string& user = "dba", const std::string& password = "KWZ") {
  return RunProgram(
      kToolsDir / "ivex.exe",
      {"-c", "uid=" + user + ";pwd=" + password + ";dbf=" + db.string(), "read", script.string()});
}

// Writes `sql` into a script beside the database and has ivex execute it.
inline Outcome IvexText(const std::filesystem::path& db, const std::string& sql) {
  const std::filesystem::path script = db.parent_path() / "script.sql";
  testing_support::WriteBytes(script, sql);
  return Ivex(db, script);
}

inline std::filesystem::path NewDatabase(const testing_support::TempDir& dir,
                                         const std::string& name = "Sales.db") {
  const std::filesystem::path db = dir.path() / name;
  RunProgram(kToolsDir / "vorlin.exe", {db.string()});
  return db;
}

// Every schema entry and every row of every table, as text: equal dumps, equal databases.
inline std::string Dump(const std::filesystem::path& db) {
  norvane::Connection c(db.string(), false);
  std::string out;
  for (const auto& row : c.Rows("SELECT type, name, sql FROM sqlite_schema ORDER BY type, name")) {
    out += row[0].AsText() + " " + row[1].AsText() + ": " + row[2].AsText() + "\n";
    if (row[0].AsText() != "table") continue;
    for (const auto& r : c.Rows("SELECT * FROM " + norvane::QuoteId(row[1].AsText()))) {
      out += "  ";
      for (const auto& v : r) out += (v.IsNull() ? "NULL" : "'" + v.AsText() + "'") + " ";
      out += "\n";
    }
  }
  return out;
}

// One value from the database, as text ("NULL" for none).
inline std::string Query(const std::filesystem::path& db, const std::string& sql) {
  norvane::Connection c(db.string(), false);
  const auto v = c.Scalar(sql);
  return v.IsNull() ? "NULL" : v.AsText();
}

}  // namespace tools_test
