#include "engine/dry_run.h"

#include <memory>

#include "engine/names.h"
#include "engine/script_lines.h"
#include "engine/time_fix_procedure.h"
#include "engine/work_files.h"
#include "options/settings.h"
#include "platform/files.h"
#include "platform/text.h"
#include "target/create_db.h"

namespace engine {
namespace {

void Rewrite(const std::string& path, const std::vector<std::string>& lines) {
  if (platform::files::FileExists(path)) platform::files::DeleteFile(path);
  platform::files::WriteTextLines(path, lines);
}

class Planner {
 public:
  Planner(const MigrationSettings& settings, const std::string& connect)
      : settings_(settings), connect_(connect) {}

  DryRunPlan Run(dao::Engine& engine) {
    const std::string folder = settings_.WorkFolder;
    err_.Run("Writing " + folder + "sp.sql",
             [&] { Rewrite(folder + "sp.sql", ProcedureLinesOf(settings_)); });
    err_.Run("Writing " + folder + "migrate.bat",
             [&] { Rewrite(folder + "migrate.bat", target::MigrateBatLines(settings_)); });
    err_.Run("Writing " + folder + "reload.bat",
             [&] { Rewrite(folder + "reload.bat", ReloadBatLines(settings_)); });

    std::shared_ptr<dao::Workspace> workspace;
    std::shared_ptr<dao::Database> db;
    const bool opened = err_.Run("Opening " + settings_.AccessDbPath + " to read it", [&] {
      workspace = engine.CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet);
      db = workspace->OpenDatabase(settings_.AccessDbPath, {.exclusive = false, .readOnly = true},
                                   "");
    });
    if (opened) {
      Relations(*db);
      Tables(*db);
      err_.Run("Closing the Access database", [&] {
        db->Close();
        workspace->Close();
      });
    }
    for (const std::string& line : ReloadTailOf(settings_.Target)) reload1_.push_back(line);
    err_.Run("Writing " + folder + "reload1.sql",
             [&] { Rewrite(folder + "reload1.sql", reload1_); });
    err_.Run("Writing " + folder + "reload2.sql",
             [&] { Rewrite(folder + "reload2.sql", reload2_); });
    plan_.lines.push_back("reload1.sql:");
    for (const std::string& line : reload1_) plan_.lines.push_back("  " + line);
    plan_.lines.push_back("reload2.sql:");
    for (const std::string& line : reload2_) plan_.lines.push_back("  " + line);
    return std::move(plan_);
  }

 private:
  void Relations(dao::Database& db) {
    std::vector<dao::Relation> relations;
    err_.Run("Reading the relationships", [&] { relations = db.Relations(); });
    for (const dao::Relation& relation : relations) {
      err_.Run("Writing the foreign key of " + relation.ForeignTable + " to " + relation.Table,
               [&] {
                 if (std::string line = ForeignKeyLineOf(settings_.Target, relation); !line.empty())
                   reload2_.push_back(std::move(line));
               });
    }
  }

  void Tables(dao::Database& db) {
    int count = 0;
    err_.Run("Counting the tables", [&] { count = db.TableDefs().Count(); });
    for (int position = 0; position < count; ++position) {
      std::shared_ptr<dao::TableDef> table;
      if (!err_.Run("Reading table definition " + std::to_string(position + 1),
                    [&] { table = db.TableDefs().Item(position); }))
        continue;
      const std::string name = table->Name();
      if (dao::IsSystemTable(*table)) continue;
      const std::string t = TargetNameOf(name);
      plan_.lines.push_back("table " + name + " -> " + t);
      plan_.lines.push_back("  select * into [" + connect_ + "].[" + t + "] from [" + name + "]");
      std::vector<dao::Index> indexes;
      err_.Run("Reading the indexes of " + name, [&] { indexes = table->Indexes(); });
      for (const dao::Index& index : indexes) {
        plan_.lines.push_back("  index " + platform::LowerAscii(index.Name) + " (" + index.Fields +
                              ")" +
                              (index.Primary  ? " primary"
                               : index.Unique ? " unique"
                                              : ""));
        if (!index.Primary) continue;
        err_.Run("Writing the primary key of " + t, [&] {
          for (const std::string& line : PrimaryKeyLinesOf(settings_.Target, index.Fields, t))
            reload1_.push_back(line);
        });
      }
      if (settings_.LinkTablesFlag == 1)
        plan_.lines.push_back("  rename " + name + " to " + settings_.TablePrefix + name +
                              ", link " + platform::Trim(name) + " to " + t);
    }
  }

  const MigrationSettings& settings_;
  std::string connect_;
  DryRunPlan plan_;
  platform::ResumeNext err_{&plan_.failures};
  std::vector<std::string> reload1_, reload2_;
};

}  // namespace

DryRunPlan DryRun(dao::Engine& engine, const MigrationSettings& settings,
                  const std::string& targetConnect) {
  return Planner(settings, targetConnect).Run(engine);
}

}  // namespace engine
