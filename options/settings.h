// The options of one migration: what the wizard's pages and norvane-migrate's command line choose.
#pragma once

#include <cstdint>
#include <string>

// The database the migration goes into.
enum class TargetKind {
  Norvane,     // one database file, made by vorlin (the default)
  PostgreSql,  // a database on a PostgreSQL server, made with createdb and psql
};

struct MigrationSettings {
  std::string TablePrefix;
  std::int16_t LinkTablesFlag = 0;
  std::string AccessDbPath;
  std::string TargetDbFileName;
  std::string WorkFolder;  // short form, ends with a backslash
  std::string QueryToolFileName;
  std::string QueryToolPath;  // short form, ends with a backslash
  std::string AppFolder;

  TargetKind Target = TargetKind::Norvane;
  // The PostgreSQL target's server; an empty field is left to libpq (PGHOST, PGPORT, PGUSER,
  // then its defaults). Never a password: libpq and psqlODBC take it from PGPASSWORD or ~/.pgpass.
  std::string ServerHost;
  std::string ServerPort;
  std::string ServerDatabase;
  std::string ServerUser;
  // The psqlODBC driver the links name (the name its Windows installer registers).
  std::string ServerOdbcDriver = "PostgreSQL Unicode";
};

// The program's one record, zeroed at start, alive until the program ends.
MigrationSettings& ProgramSettings();
