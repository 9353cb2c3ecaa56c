// A private PostgreSQL server for a C++ test, started by tests/support/private_postgres.py:
// a cluster of its own in a temporary folder, with a role that logs in by password. Stopped
// and removed with the object, and by the script's watcher when this process ends any other
// way (a crash, a kill).
#pragma once

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/postgres/connection.h"

extern char** environ;

namespace testing_support {

class PrivateServer {
 public:
  PrivateServer() {
    int out[2];
    if (pipe(out) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out[1], 2);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> args = {NORVANE_PYTHON, NORVANE_PRIVATE_POSTGRES, "start", "--owner",
                                     std::to_string(getpid())};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) output.append(buffer, n);
    close(out[0]);
    int status = 0;
    if (rc != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
      throw std::runtime_error("the private PostgreSQL server did not start: " + output);
    for (std::size_t at = 0; at < output.size();) {
      std::size_t end = output.find('\n', at);
      if (end == std::string::npos) end = output.size();
      const std::string line = output.substr(at, end - at);
      if (const std::size_t eq = line.find('='); eq != std::string::npos)
        env_[line.substr(0, eq)] = line.substr(eq + 1);
      at = end + 1;
    }
  }
  PrivateServer(const PrivateServer&) = delete;
  PrivateServer& operator=(const PrivateServer&) = delete;
  ~PrivateServer() {
    const std::string command = std::string(NORVANE_PYTHON) + " " + NORVANE_PRIVATE_POSTGRES +
                                " stop '" + Get("NORVANE_PG_DIR") + "'";
    if (std::system(command.c_str()) != 0) std::perror("stopping the private PostgreSQL server");
  }

  // PGHOST, PGPORT, PGUSER, PGDATABASE, PGPASSWORD, NORVANE_PG_DIR, NORVANE_PG_TCP_HOST, ...
  const std::string& Get(const std::string& key) const {
    static const std::string none;
    const auto it = env_.find(key);
    return it == env_.end() ? none : it->second;
  }
  const std::string& Password() const { return Get("PGPASSWORD"); }
  // The server's own folder (the cluster, its socket and its log).
  const std::string& Folder() const { return Get("NORVANE_PG_DIR"); }
  // Through the socket, or through the loopback port; the test role and its database.
  platform::postgres::ServerAddress Address(bool tcp = false,
                                            const std::string& database = "") const {
    return {tcp ? Get("NORVANE_PG_TCP_HOST") : Get("PGHOST"),
            Get("PGPORT"),
            database.empty() ? Get("PGDATABASE") : database,
            Get("PGUSER"),
            {}};
  }
  // A psqlODBC connection string for `database` (no password: libpq reads PGPASSWORD).
  std::string OdbcConnect(const std::string& database = "") const {
    return "Driver={PostgreSQL Unicode};Server=" + Get("NORVANE_PG_TCP_HOST") +
           ";Port=" + Get("PGPORT") +
           ";Database=" + (database.empty() ? Get("PGDATABASE") : database) +
           ";Uid=" + Get("PGUSER") + ";BoolsAsChar=0;";
  }
  // Puts the password where libpq and psqlODBC look for it: this process's PGPASSWORD.
  void ExportPassword() const { setenv("PGPASSWORD", Password().c_str(), 1); }

 private:
  std::map<std::string, std::string> env_;
};

// One server for every test of the program, started on first use.
inline PrivateServer& SharedServer() {
  static PrivateServer server;
  return server;
}

}  // namespace testing_support
