// The check before a migration: what in the Access file would make the run fail or do harm,
// found before anything is changed. It opens the Access file shared and read-only through the
// engine, reads its catalog and the key columns it needs, and closes it again.
//
// Findings that stop a run: the file cannot be opened as an Access database (not one, encrypted
// or password-protected, missing, in use), an earlier run already migrated and linked it, a path
// the command files or the new database cannot take, a read-only file or folder, and (with the
// link option) what the catalog writer would refuse of the link-back: a journal beside the file,
// prefixed names or a connect string the file cannot hold.
// Findings the user confirms: target names that collide, prefixed names that exist, names the
// target cannot take, primary keys over NULLs or duplicates, rows without their parent, tables
// without a unique index. Offending keys are listed, the first kListedKeys of each.
// Keys are compared in sorted order, at most keyMemory bytes of them in memory at once; beyond
// that they go through a temporary file (see platform/key_sort.h), whose failure is a finding.
// With streamKeys (the default), keys that come in order are tallied as they come, and a child
// table read after its parents, when these came in order and fit in a quarter of the memory, is
// looked up against them row by row; without it, every key is sorted. The findings are the same.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/dao/dao.h"

struct MigrationSettings;

namespace engine {

inline constexpr std::size_t kListedKeys = 10;
inline constexpr std::size_t kPreflightKeyMemory = 2u << 20;

enum class FindingKind {
  NotAccessFile,
  Encrypted,
  CannotOpen,
  AlreadyLinked,
  TargetNameCollision,
  PrefixCollision,
  UnwritableName,
  KeyNulls,
  KeyDuplicates,
  OrphanRows,
  NoUniqueIndex,
  RowsUnread,
  UnusablePath,
  ReadOnly,
  LinkBackRefused,
  UnusableTarget,  // the connection of the new database reaches no Norvane database
};

struct Finding {
  FindingKind kind;
  bool stops = false;             // the run must not start
  std::string text;               // one sentence for the user, paths in Windows form
  std::vector<std::string> keys;  // offending keys ("555", "1, NULL"), the first kListedKeys
};

struct PreflightRequest {
  std::string accessPath;  // as the pages keep it (Windows form) or a POSIX path
  std::string targetPath;  // the new database file, Windows form; empty when not known
  bool link = false;
  std::string prefix;
  // The links' connect string ("ODBC;..."); empty: the new file through the driver "Norvane".
  std::string targetConnect;
};

struct PreflightResult {
  std::string accessPath;  // Windows form
  std::vector<Finding> findings;
  std::vector<std::string> tables;  // the tables the run would transfer, in the file's order

  bool Stops() const;
  bool Clean() const { return findings.empty(); }
  // Every finding, one line each with its keys below it.
  std::string Text() const;
};

// What a front end does with a result before a run: go on, ask the user, or stop. Every
// finding that stops a run stops it, a file that cannot be opened (in use, unreadable) too:
// nothing is created for a run that cannot read its Access file.
enum class Gate { Go, Confirm, Stop };
Gate GateOf(const PreflightResult& result);

PreflightRequest PreflightRequestOf(const MigrationSettings& settings);

// Never throws for anything the Access file holds; every problem becomes a finding.
PreflightResult RunPreflight(dao::Engine& engine, const PreflightRequest& request,
                             std::size_t keyMemory = kPreflightKeyMemory, bool streamKeys = true);

}  // namespace engine
