// The wizard's settings record: what the pages choose and the engine objects of a run.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/dao/dao.h"

struct MigrationSettings {
  std::shared_ptr<dao::Workspace> JetWorkspace;
  std::shared_ptr<dao::Database> AccessDb;
  std::shared_ptr<dao::Workspace> OdbcWorkspace;
  std::shared_ptr<dao::Database> TargetDb;
  std::string TablePrefix;
  std::int16_t LinkTablesFlag = 0;
  std::string AccessDbPath;
  std::string TargetDbFileName;
  std::string WorkFolder;  // short form, ends with a backslash
  std::string QueryToolFileName;
  std::string QueryToolPath;  // short form, ends with a backslash
  std::string AppFolder;
};

// The program's one record, zeroed at start, alive until the program ends.
MigrationSettings& ProgramSettings();
