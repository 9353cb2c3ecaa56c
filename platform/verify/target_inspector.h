// The new database as restore and the undo record see it: a Norvane (SQLite) file read directly,
// its locks, its tables' digests, and its removal while its locks are held.
//
// Owns: read-only SQLite connections of its own, each closed before the call returns.
// Failures: Tables and Remove throw platform::Error dao::err::kOdbcCallFailed naming the file and
// SQLite's or the system's reason (a lock held past the busy limit among them).
#pragma once

#include <chrono>

#include "engine/restore.h"

namespace platform::verify {

class NorvaneTargetInspector : public engine::TargetDatabaseInspector {
 public:
  explicit NorvaneTargetInspector(std::chrono::milliseconds busy = std::chrono::seconds(5))
      : busy_(busy) {}
  bool IsNorvaneDatabase(const std::string& posixPath) override;
  long ProgramHolding(const std::string& posixPath) override;
  std::vector<engine::TableState> Tables(const std::string& posixPath) override;
  std::vector<std::string> TablesLinkedTo(const std::string& accessPosixPath,
                                          const std::string& databasePosixPath) override;
  void Remove(const std::string& posixPath) override;

 private:
  std::chrono::milliseconds busy_;
};

}  // namespace platform::verify
