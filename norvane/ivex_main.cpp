// ivex / ivexw: connects to a Norvane database file and executes a script.
//   ivex.exe -c "uid=<user>;pwd=<password>;dbf=<database file>" [-q] read <script>
// The script's path comes unquoted: the words after "read" are joined with single blanks into it,
// so a folder name with blanks works. Failures are printed as platform/shell/tool_output.h gives.
// Exit status: 0 when every statement succeeded, 1 when any failed, 2 when refused.
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "norvane/catalog.h"
#include "norvane/dialect.h"
#include "norvane/lexer.h"
#include "platform/database_lock.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/shell/tool_output.h"
#include "platform/text.h"

namespace {

constexpr int kRefused = 2;

struct Arguments {
  std::string connection;
  bool quiet = false;
  std::string script;
};

class Refusal : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

Arguments Parse(int argc, char** argv) {
  Arguments a;
  bool haveConnection = false;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-c" || arg == "-C") {
      if (++i >= argc) throw Refusal("-c needs a connection string");
      a.connection = argv[i];
      haveConnection = true;
    } else if (arg == "-q" || arg == "-Q") {
      a.quiet = true;
    } else if (platform::EqualsNoCase(arg, "read")) {
      if (++i >= argc) throw Refusal("read needs a script file");
      a.script = argv[i];
      while (++i < argc) a.script += std::string(" ") + argv[i];
      break;
    } else {
      throw Refusal("unknown argument '" + arg + "'");
    }
  }
  if (!haveConnection) throw Refusal("no connection string (-c \"uid=...;pwd=...;dbf=...\")");
  if (a.script.empty()) throw Refusal("no script (read <file>)");
  return a;
}

std::map<std::string, std::string> ConnectionParameters(const std::string& text) {
  std::map<std::string, std::string> out;
  std::size_t start = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find(';', start), text.size());
    const std::string part = platform::Trim(text.substr(start, end - start));
    start = end + 1;
    if (part.empty()) continue;
    const std::size_t eq = part.find('=');
    if (eq == std::string::npos) throw Refusal("connection parameter without a value: " + part);
    std::string key = platform::LowerAscii(platform::Trim(part.substr(0, eq)));
    if (key == "userid") key = "uid";
    if (key == "password") key = "pwd";
    if (key == "databasefile") key = "dbf";
    if (key != "uid" && key != "pwd" && key != "dbf")
      throw Refusal("unknown connection parameter '" + key + "'");
    out[key] = platform::Trim(part.substr(eq + 1));
  }
  for (const char* needed : {"uid", "pwd", "dbf"})
    if (!out.count(needed))
      throw Refusal(std::string("the connection string has no ") + needed + "=");
  return out;
}

std::filesystem::path ExistingFile(const std::string& windowsPath, const char* what) {
  std::filesystem::path p;
  try {
    p = platform::paths::ToPosix(windowsPath);
  } catch (const platform::Error& e) {
    throw Refusal(std::string(what) + " " + windowsPath + " not found: " + e.Description());
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(p, ec))
    throw Refusal(std::string(what) + " " + windowsPath + " not found");
  return p;
}

std::string FirstLine(const std::string& text) {
  const std::size_t nl = text.find_first_of("\r\n");
  return nl == std::string::npos ? text : text.substr(0, nl) + " ...";
}

}  // namespace

int main(int argc, char** argv) {
  using platform::shell::ToolErrorLine;
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::cout << "Usage: ivex.exe -c \"uid=<user>;pwd=<password>;dbf=<database file>\" [-q] read "
                 "<script>\n"
                 "Executes every statement of the script against the Norvane database file, in\n"
                 "order; a failing statement is reported with its line number and the script goes\n"
                 "on. -q: do not print the statements.\n"
                 "Exit status: 0 all succeeded, 1 a statement failed, 2 refused (wrong user or\n"
                 "password, missing database file or script).\n";
    return 0;
  }
  // ivex uses SQLite from its one thread only: SQLite need not lock anything. (Sort helpers
  // would need the locks, and would take the core on which the migration reads the Access file
  // for its check after meanwhile.)
  sqlite3_config(SQLITE_CONFIG_SINGLETHREAD);
  std::optional<norvane::Connection> connection;
  std::string scriptText;
  bool quiet = false;
  std::filesystem::path database;
  // What a failure because another program keeps the database locked says.
  const auto locked = [&] { return platform::LockedDatabaseText(database, norvane::kBusyTimeout); };
  try {
    const Arguments args = Parse(argc, argv);
    quiet = args.quiet;
    const auto params = ConnectionParameters(args.connection);
    database = ExistingFile(params.at("dbf"), "Database file");
    connection.emplace(database.string(), false);
    norvane::CheckIsNorvaneFile(*connection, params.at("dbf"));
    norvane::CheckLogin(*connection, params.at("uid"), params.at("pwd"));
    const std::filesystem::path script = ExistingFile(args.script, "Script file");
    std::ifstream in(script, std::ios::binary);
    scriptText.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) throw Refusal("cannot read the script file " + args.script);
    connection->Exec("PRAGMA foreign_keys = OFF");
    // Every statement stays one unit a kill cannot split; the disk is written once, at the end.
    connection->CommitWithoutSync();
  } catch (const std::exception& e) {
    const std::string why = norvane::IsLockedError(e) ? locked() : e.what();
    std::cerr << ToolErrorLine("ivex", "refused: " + why) << "\n";
    return kRefused;
  }

  // What a statement returns is held and shown once it is done, as ordinary output.
  std::ostringstream results;
  norvane::Session session(*connection, results);
  const auto showResults = [&results] {
    std::cout << platform::shell::OrdinaryOutput(results.str());
    results.str("");
  };
  int failures = 0;
  const auto report = [&](const norvane::ScriptStatement& st, const std::string& error) {
    ++failures;
    std::cout.flush();
    std::cerr << ToolErrorLine("ivex", "statement at line " + std::to_string(st.line) + " (" +
                                           FirstLine(st.text) + "): " + error)
              << "\n";
  };
  const auto statements = norvane::SplitScript(scriptText);
  std::vector<std::string_view> texts;
  for (const auto& st : statements) texts.push_back(st.text);
  // A database another program keeps locked ends the script: each statement would wait as long.
  bool stopped = false;
  const auto stopLocked = [&](const norvane::ScriptStatement& st, std::size_t next) {
    report(st, locked());
    const std::size_t left = statements.size() - next;
    if (left > 0)
      std::cerr << ToolErrorLine("ivex", "the script's last " + std::to_string(left) +
                                             " statements were not executed")
                << "\n";
    stopped = true;
  };
  for (std::size_t k = 0; k < statements.size() && !stopped;) {
    connection->StartFlush();  // what the statements before committed
    // Consecutive changes of one table's definition are applied together.
    const std::size_t run = session.AlterRunLength(texts, k);
    if (run > 1) {
      const auto errors = session.ExecuteAlterRun({texts.begin() + k, run}, false);
      for (std::size_t j = 0; j < run; ++j) {
        const auto& st = statements[k + j];
        if (!quiet)
          std::cout << platform::shell::OrdinaryOutput("line " + std::to_string(st.line) + ": " +
                                                       st.text + "\n");
        if (errors[j] && norvane::IsLockedError(*errors[j])) {
          stopLocked(st, k + run);
          break;
        }
        if (errors[j]) report(st, *errors[j]);
      }
      k += run;
      continue;
    }
    const auto& st = statements[k++];
    if (!quiet)
      std::cout << platform::shell::OrdinaryOutput("line " + std::to_string(st.line) + ": " +
                                                   st.text + "\n");
    try {
      session.Execute(st.text);
      showResults();
    } catch (const std::exception& e) {
      showResults();
      if (norvane::IsLockedError(e))
        stopLocked(st, k);
      else
        report(st, e.what());
    }
  }
  try {
    if (connection->InTransaction()) connection->Exec("COMMIT");
  } catch (const std::exception& e) {
    ++failures;
    std::cout.flush();
    std::cerr << ToolErrorLine(
                     "ivex",
                     std::string("the open transaction could not be committed: ") + e.what())
              << "\n";
  }
  try {
    connection->Flush();
  } catch (const std::exception& e) {
    ++failures;
    std::cout.flush();
    std::cerr << ToolErrorLine("ivex", std::string("the changes may be lost: ") + e.what()) << "\n";
  }
  if (!quiet) std::cout << "ivex: " << failures << " of the script's statements failed\n";
  return failures == 0 ? 0 : 1;
}
