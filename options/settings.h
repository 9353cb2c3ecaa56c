// The options of one migration: what the wizard's pages and norvane-migrate's command line choose.
#pragma once

#include <cstdint>
#include <string>

struct MigrationSettings {
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
