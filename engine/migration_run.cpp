#include "engine/migration_run.h"

#include <limits>
#include <utility>
#include <vector>

#include "engine/names.h"
#include "engine/script_lines.h"
#include "engine/table_progress.h"
#include "options/settings.h"
#include "platform/text.h"
#include "target/postgres_target.h"

namespace engine {
namespace {

// The object behind a pointer that an earlier, skipped step should have set.
template <class T>
T& Need(const std::shared_ptr<T>& object, const char* what) {
  if (!object)
    throw platform::Error(dao::err::kObjectClosed,
                          std::string("Object invalid or no longer set: ") + what);
  return *object;
}

std::int16_t TableCount(int count) {
  if (count < 0 || count > std::numeric_limits<std::int16_t>::max())
    throw platform::Error(
        platform::err::kOverflow,
        "Overflow: the Access file reports " + std::to_string(count) + " table definitions");
  return static_cast<std::int16_t>(count);
}

}  // namespace

MigrationRun::MigrationRun(MigrationSettings& settings, RunView& view,
                           platform::CommandStarter& commands, EngineFactory makeEngine)
    : settings_(settings), view_(view), commands_(commands), makeEngine_(std::move(makeEngine)) {}

RunOutcome MigrationRun::lsfinish_migrate() {
  if (running_) return RunOutcome::AlreadyRunning;
  running_ = true;
  struct Leave {
    bool& running;
    ~Leave() { running = false; }
  } leave{running_};
  return Run();
}

RunOutcome MigrationRun::Run() {
  MigrationSettings& s = settings_;
  failures_.clear();
  err_.Clear();
  targetConnect_.clear();
  reloadTask_.reset();
  tableCount_ = 0;
  linkedTables_ = 0;
  // Each run makes its own engine objects; those of an earlier run were closed at its end.
  connections_.TargetDb.reset();
  connections_.AccessDb.reset();
  connections_.OdbcWorkspace.reset();
  connections_.JetWorkspace.reset();

  // Connecting to Access.
  view_.SetStatusText("Connecting to Access Database ...");
  if (!engine_) {
    err_.Run("Starting the database engine", [&] {
      engine_ = makeEngine_();
      Need(engine_, "the database engine");
    });
  }
  err_.Run("Creating the Jet workspace", [&] {
    Need(engine_, "the database engine").SetBeforeCatalogReplace(GuardedBeforeReplace());
    connections_.JetWorkspace = engine_->CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet);
  });
  err_.Clear();
  err_.Run("Opening " + s.AccessDbPath, [&] {
    connections_.AccessDb =
        Need(connections_.JetWorkspace, "the Jet workspace")
            .OpenDatabase(s.AccessDbPath, {.exclusive = true, .readOnly = false}, "");
    Need(connections_.AccessDb, "the Access database");
  });
  if (err_.Number() != 0) {
    const std::string message = kAccessOpenMessage + err_.Description();
    ReleaseAfterFailedOpen();
    view_.ShowMessage(message);
    return RunOutcome::AccessOpenFailed;
  }
  // A file that takes no change is refused here, once, before anything is copied.
  if (s.LinkTablesFlag == 1) {
    err_.Run("Preparing the links of " + s.AccessDbPath,
             [&] { connections_.AccessDb->PrepareChanges(); });
    if (err_.Number() != 0) {
      const std::string message = kLinkBackRefusedMessage + err_.Description();
      ReleaseAfterFailedOpen();
      view_.ShowMessage(message);
      return RunOutcome::AccessOpenFailed;
    }
  }

  // Connecting to the target.
  view_.SetStatusText(s.Target == TargetKind::PostgreSql
                          ? "Connecting to the PostgreSQL database ..."
                          : "Connecting to Norvane DB ... Create a Norvane DataSource if one does "
                            "not exist.");
  err_.Run("Creating the ODBC workspace", [&] {
    connections_.OdbcWorkspace =
        Need(engine_, "the database engine")
            .CreateWorkspace("NewODBCWorkspace", "admin", "", dao::WorkspaceType::Jet);
  });
  view_.SetProgress(0);
  view_.SetProgressVisible(true);
  err_.Clear();
  err_.Run("Opening the target data source", [&] {
    connections_.TargetDb =
        Need(connections_.OdbcWorkspace, "the ODBC workspace")
            .OpenDatabase("", {.exclusive = false, .readOnly = false}, kTargetOpenConnect);
    Need(connections_.TargetDb, "the target database");
  });
  if (err_.Number() != 0) {
    const std::string message = kTargetOpenMessage + err_.Description();
    ReleaseAfterFailedOpen();
    view_.ShowMessage(message);
    return RunOutcome::TargetOpenFailed;
  }
  view_.SetProgress(5);
  view_.Repaint();
  view_.YieldToEventLoop();

  err_.Run("Reading the target's connect string",
           [&] { targetConnect_ = connections_.TargetDb->Connect(); });
  view_.ShowTargetConnect(targetConnect_);

  // Preparing the scripts.
  err_.Run("Counting the tables of the Access file", [&] {
    tableCount_ =
        TableCount(Need(connections_.AccessDb, "the Access database").TableDefs().Count());
  });
  walkPosition_ = 1;
  const std::string reload1 = s.WorkFolder + "reload1.sql";
  const std::string reload2 = s.WorkFolder + "reload2.sql";
  err_.Run("Opening " + reload1, [&] { reload1_.Open(reload1); });
  err_.Run("Opening " + reload2, [&] { reload2_.Open(reload2); });
  view_.SetProgress(10);
  view_.SetStatusText("Checking for existing relationships in Access db ...");
  view_.Repaint();

  WriteForeignKeys();
  if (reload2_.IsOpen()) err_.Run("Closing " + reload2, [&] { reload2_.Close(); });
  view_.SetProgress(30);
  view_.SetStatusText("Transferring tables to ODBC datasource ...");
  view_.Repaint();

  TransferTables();
  RunReloadScripts();
  view_.ShowRunFailures(failures_);
  return RunOutcome::Finished;
}

void MigrationRun::WriteForeignKeys() {
  std::vector<dao::Relation> relations;
  err_.Run("Reading the relationships of the Access file",
           [&] { relations = Need(connections_.AccessDb, "the Access database").Relations(); });
  for (const dao::Relation& relation : relations) {
    const std::string context =
        "Writing the foreign key of " + relation.ForeignTable + " to " + relation.Table;
    std::string line;
    bool system = false;
    if (err_.Run(context, [&] { system = RelatesSystemTable(*connections_.AccessDb, relation); }) &&
        !system &&
        err_.Run(context, [&] { line = ForeignKeyLineOf(settings_.Target, relation); }) &&
        !line.empty())
      WriteScriptLine(reload2_, line, context);
    view_.SetProgress(20);
  }
}

void MigrationRun::TransferTables() {
  const std::shared_ptr<dao::Database> access = connections_.AccessDb;
  const std::shared_ptr<dao::Database> target = connections_.TargetDb;
  // By position, the count read anew each time: entries appended during the walk come last and
  // are visited (the bar advances for them) but never transferred, as walkPosition_ has passed
  // tableCount_ by then.
  for (int position = 0;; ++position) {
    int count = 0;
    if (!err_.Run("Counting the tables of the Access file",
                  [&] { count = Need(access, "the Access database").TableDefs().Count(); }))
      break;
    if (position >= count) break;

    std::shared_ptr<dao::TableDef> table;
    std::string name;
    const bool read = err_.Run("Reading table definition " + std::to_string(position + 1), [&] {
      table = access->TableDefs().Item(position);
      name = Need(table, "the table definition").Name();
    });
    if (read && !dao::IsSystemTable(*table) && walkPosition_ <= tableCount_) {
      const std::string t = TargetNameOf(name);
      view_.SetStatusText("Transferring " + t + " table ...");
      view_.YieldToEventLoop();
      TableProgress rows(view_, t, BarValueAfter(walkPosition_ - 1), BarValueAfter(walkPosition_));
      const platform::RowProgressScope listening(rows);
      const bool transferred = err_.Run("Transferring " + name, [&] {
        access->Execute("select * into [" + targetConnect_ + "].[" + t + "] from [" + name + "]");
      });
      view_.SetStatusText("Creating Index on table " + t + " ...");
      view_.YieldToEventLoop();
      err_.Run("Refreshing the tables of the target",
               [&] { Need(target, "the target database").TableDefs().Refresh(); });
      CopyTableIndexes(*table, t);
      // A link to a table this run did not fill would show other rows, or none.
      if (settings_.LinkTablesFlag == 1 && transferred && ValuesAllowLink(name, t))
        LinkBackTable(name);
      if (settings_.LinkTablesFlag == 1 && !transferred)
        failures_.push_back({"Linking " + name, 0, "not linked, because its transfer failed"});
    }
    const int k = walkPosition_;
    ++walkPosition_;
    WalkProgress(k);
  }
}

void MigrationRun::CopyTableIndexes(dao::TableDef& table, const std::string& targetName) {
  const std::shared_ptr<dao::Database> target = connections_.TargetDb;
  std::vector<dao::Index> indexes;
  if (!err_.Run("Reading the indexes of " + targetName, [&] { indexes = table.Indexes(); })) return;
  for (const dao::Index& index : indexes) {
    // On PostgreSQL the primary index is made as the table's key constraint, so that its link,
    // made next, takes the key the server reports.
    err_.Run("Creating index " + index.Name + " on " + targetName, [&] {
      dao::TableDefCollection& defs = Need(target, "the target database").TableDefs();
      dao::Index created = Need(defs.Item(targetName), "the target table")
                               .CreateIndex(platform::LowerAscii(index.Name));
      created.Fields = index.Fields;
      created.Unique = index.Unique;
      created.Primary = index.Primary;
      Need(defs.Item(platform::LowerAscii(targetName)), "the target table").AppendIndex(created);
    });
    if (!index.Primary) continue;
    // Derived from the Access index alone: written whether or not the target took the index.
    const std::string context = "Writing the primary key of " + targetName;
    std::vector<std::string> lines;
    if (err_.Run(context,
                 [&] { lines = PrimaryKeyLinesOf(settings_.Target, index.Fields, targetName); }))
      for (const std::string& line : lines) WriteScriptLine(reload1_, line, context);
  }
}

dao::BeforeCatalogReplace MigrationRun::GuardedBeforeReplace() {
  return [this, hook = beforeReplace_](const std::string& backup, const std::string& changed) {
    // At the close, renames that were all undone after failed links leave nothing to keep.
    if (closingAccess_ && linkedTables_ == 0)
      throw platform::Error(platform::err::kPathFileAccess,
                            "no table was linked, so the Access file was left as it was");
    if (hook) hook(backup, changed);
  };
}

bool MigrationRun::ValuesAllowLink(const std::string& name, const std::string& targetName) {
  if (!valuesCheck_) return true;
  view_.SetStatusText("Checking the values of " + targetName + " table ...");
  view_.YieldToEventLoop();
  std::string differs;
  if (!err_.Run("Checking the values of " + name,
                [&] { differs = valuesCheck_(name, targetName); })) {
    failures_.push_back(
        {"Linking " + name, 0, "not linked, because its values could not be compared"});
    return false;
  }
  if (differs.empty()) return true;
  failures_.push_back(
      {"Linking " + name, 0,
       "not linked, because its values differ from the Access table's: " + differs});
  return false;
}

void MigrationRun::LinkBackTable(const std::string& name) {
  const std::shared_ptr<dao::Database> access = connections_.AccessDb;
  const std::string t = TargetNameOf(name);
  const std::string renamed = settings_.TablePrefix + name;
  view_.SetStatusText("Linking " + t + " table to Access ...");
  view_.YieldToEventLoop();

  // A table that keeps its name gets no link: the name is taken.
  if (!err_.Run("Renaming " + name + " to " + renamed, [&] {
        Need(Need(access, "the Access database").TableDefs().Item(name), "the table definition")
            .SetName(renamed);
      }))
    return;
  const bool linked = err_.Run("Linking " + name + " to the target table " + t, [&] {
    const std::shared_ptr<dao::TableDef> link = access->CreateTableDef(platform::Trim(name));
    Need(link, "the new table definition").SetSourceTableName(t);
    // A server's link names what the settings name (driver, server, port, database, user), not
    // the driver manager's completed string with every option of the driver.
    link->SetConnect(settings_.Target == TargetKind::PostgreSql
                         ? "ODBC;" + target::PostgresConnectString(settings_)
                         : targetConnect_);
    link->SetDisplayPropertiesOf(renamed);
    access->TableDefs().Append(link);
  });
  if (linked) ++linkedTables_;
  // Without its link the Access table must not lose its name.
  if (!linked) {
    err_.Run("Renaming " + renamed + " back to " + name, [&] {
      Need(access->TableDefs().Item(renamed), "the table definition").SetName(name);
    });
  }
}

void MigrationRun::RunReloadScripts() {
  MigrationSettings& s = settings_;
  const std::string reload1 = s.WorkFolder + "reload1.sql";
  for (const std::string& line : ReloadTailOf(s.Target))
    WriteScriptLine(reload1_, line, "Writing the end of " + reload1);
  if (reload1_.IsOpen()) err_.Run("Closing " + reload1, [&] { reload1_.Close(); });
  view_.SetProgress(80);
  view_.SetStatusText("");
  view_.Repaint();
  view_.SetProgress(90);
  err_.Run("Closing the target database",
           [&] { Need(connections_.TargetDb, "the target database").Close(); });
  closingAccess_ = true;
  err_.Run("Closing the Access database",
           [&] { Need(connections_.AccessDb, "the Access database").Close(); });
  closingAccess_ = false;
  err_.Run("Closing the ODBC workspace",
           [&] { Need(connections_.OdbcWorkspace, "the ODBC workspace").Close(); });
  err_.Run("Closing the Jet workspace",
           [&] { Need(connections_.JetWorkspace, "the Jet workspace").Close(); });
  view_.SetProgress(100);
  view_.SetProgressVisible(false);
  const std::string batch = s.WorkFolder + "reload.bat";
  err_.Run("Starting " + batch, [&] { reloadTask_ = commands_.StartCommandFile(batch); });
  view_.SetPointer(Pointer::Default);
  view_.EnableFinish();
  view_.SetStatusText("");
}

void MigrationRun::ReleaseAfterFailedOpen() {
  if (connections_.TargetDb)
    err_.Run("Closing the target database", [&] { connections_.TargetDb->Close(); });
  if (connections_.AccessDb)
    err_.Run("Closing the Access database", [&] { connections_.AccessDb->Close(); });
  if (connections_.OdbcWorkspace)
    err_.Run("Closing the ODBC workspace", [&] { connections_.OdbcWorkspace->Close(); });
  if (connections_.JetWorkspace)
    err_.Run("Closing the Jet workspace", [&] { connections_.JetWorkspace->Close(); });
  connections_.TargetDb.reset();
  connections_.AccessDb.reset();
  connections_.OdbcWorkspace.reset();
  connections_.JetWorkspace.reset();
}

float MigrationRun::BarValueAfter(int k) const {
  return static_cast<float>(k) / static_cast<float>(tableCount_) * 100.0f / 2.0f + 30.0f;
}

void MigrationRun::WalkProgress(int k) {
  if (tableCount_ <= 0) return;
  const float value = BarValueAfter(k);
  // The bar takes nothing above 100 and keeps its previous value.
  if (value <= 100.0f) view_.SetProgress(value);
}

void MigrationRun::WriteScriptLine(platform::files::LineFileWriter& file, const std::string& line,
                                   const std::string& context) {
  // A file that could not be opened is already recorded; its lines are lost with it.
  if (file.IsOpen()) err_.Run(context, [&] { file.WriteLine(line); });
}

}  // namespace engine
