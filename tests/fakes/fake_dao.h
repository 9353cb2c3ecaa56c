// An in-memory database engine for tests of the migration run and the pages that call it.
//
// Access files and ODBC data sources are plain records the test fills in. Every call is recorded
// as one line of text, and any call can be made to fail by the start of that line:
//
//   CreateWorkspace(<name>,<user>,<password>,Jet)
//   Workspace(<name>).OpenDatabase(<name>,<exclusive|shared>,<read-write|read-only>,<connect>)
//   Workspace(<name>).Close()
//   ChooseDataSource()
//   <db>.Connect  <db>.Relations()  <db>.Execute(<sql>)  <db>.CreateTableDef(<name>)  <db>.Close()
//   <db>.TableDefs.Count()  <db>.TableDefs.Item(<position>)  <db>.TableDefs.Item(<name>)
//   <db>.TableDefs.Refresh()  <db>.TableDefs.Append(<name>)  <db>.OpenRecordset(<table>)
//   <owner>.TableDef(<name>).SetName(<new name>)      .SetConnect(<c>)   .SetSourceTableName(<t>)
//   <owner>.TableDef(<name>).Indexes()   .CreateIndex(<name>)
//   <owner>.TableDef(<name>).AppendIndex(<name>,<fields>,unique=<0|1>,primary=<0|1>)
//
// <db> is "Access" or "Target"; <owner> is the database of the table, or "New" for a definition
// made by CreateTableDef and not yet appended.
//
// Behaviour: an exclusive open fails while the file is open elsewhere or here; the target open
// with "ODBC;dsn=" asks the chooser (cancel: error 3059), its Connect is "ODBC;" + the completed
// string of the chosen source; collections enumerate in insertion order and see appended entries
// (the target's only after Refresh); names compare without regard to letter case; Execute takes
// the transfer statement "select * into [<connect>].[<table>] from [<source>]" only; appending a
// link needs its source table on the data source its connect string names.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dao/dao.h"

namespace fakes {

struct TableData {
  std::string name;
  std::vector<std::string> columns;
  int rows = 0;
  std::vector<dao::Index> indexes;
  std::string connect;                  // a linked table: the connect string of its data source
  std::string sourceTableName;          // a linked table: the table on that source
  std::uint32_t attributes = 0;         // dao::kSystemObject for a hidden system table
  std::vector<dao::Field> fields = {};  // with properties (Fields()); `columns` alone has none
  std::string validationRule = {};
  // Row values by column, for OpenRecordset; when empty, row r (from 1) holds the text of r in
  // every column.
  std::vector<std::vector<std::optional<std::string>>> values{};
};

using Tables = std::vector<std::shared_ptr<TableData>>;

struct AccessFile {
  std::string path;
  Tables tables;
  std::vector<dao::Relation> relations;
  bool openElsewhere = false;  // another program holds the file
  int exclusiveOpens = 0;      // databases of this engine holding it exclusively
  int sharedOpens = 0;

  TableData& AddTable(const std::string& name, std::vector<std::string> columns = {"ID"},
                      std::vector<dao::Index> indexes = {}, int rows = 1);
  std::vector<std::string> TableNames() const;
  // The table of that name (letter case ignored), or null.
  std::shared_ptr<TableData> Find(std::string_view name) const;
  bool Held() const { return openElsewhere || exclusiveOpens > 0 || sharedOpens > 0; }
};

struct DataSource {
  std::string chosen;     // what the chooser returns for it ("DSN=Northwind")
  std::string completed;  // the completed connection string, without "ODBC;"
  Tables tables;

  std::vector<std::string> TableNames() const;
  std::shared_ptr<TableData> Find(std::string_view name) const;
};

// Answers the data-source question as the test set it up.
class ScriptedChooser : public dao::DataSourceChooser {
 public:
  explicit ScriptedChooser(std::optional<std::string> answer) : answer(std::move(answer)) {}
  std::optional<std::string> ChooseDataSource() override {
    ++asked;
    return answer;
  }
  std::optional<std::string> answer;
  int asked = 0;
};

struct FakeState;

class FakeEngine : public dao::Engine {
 public:
  explicit FakeEngine(dao::DataSourceChooser* chooser = nullptr);
  ~FakeEngine() override;

  void SetChooser(dao::DataSourceChooser* chooser);
  AccessFile& AddAccessFile(const std::string& path);
  DataSource& AddDataSource(const std::string& chosen, const std::string& completed);
  AccessFile& File(std::string_view path);
  DataSource& Source(std::string_view chosen);

  // Calls whose record starts with `callPrefix` throw platform::Error(number, description);
  // `times` limits how often (negative: every time).
  void FailWhen(std::string callPrefix, int number, std::string description, int times = -1);

  const std::vector<std::string>& Calls() const;
  std::vector<std::string> CallsStartingWith(std::string_view prefix) const;
  // The records of calls that change something: Execute, SetName, SetConnect,
  // SetSourceTableName, CreateTableDef, Append, AppendIndex, Close.
  std::vector<std::string> Changes() const;
  // Every statement given to Execute, in order.
  std::vector<std::string> Statements() const;
  // Workspaces and databases opened and not yet closed or released.
  int OpenObjects() const;

  // Called, once ReplaceAtClose gave it the paths, at the close of an Access database that was
  // renamed in or linked to since its open.
  void SetBeforeCatalogReplace(dao::BeforeCatalogReplace hook) override;
  void ReplaceAtClose(std::string backup, std::string changed);

  std::shared_ptr<dao::Workspace> CreateWorkspace(const std::string& name, const std::string& user,
                                                  const std::string& password,
                                                  dao::WorkspaceType type) override;

 private:
  std::shared_ptr<FakeState> state_;
};

}  // namespace fakes
