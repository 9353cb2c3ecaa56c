// norvane-wizard: the migration wizard.
#include <QApplication>
#include <QFileInfo>

#include <filesystem>
#include <iostream>
#include <optional>

#include "options/page_rules.h"
#include "platform/access/access_engine.h"
#include "platform/access/linked_targets.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "platform/paths.h"
#include "platform/postgres/server_target.h"
#include "platform/shell/posix_command_starter.h"
#include "platform/ui/command_windows.h"
#include "platform/ui/data_source_dialog.h"
#include "platform/ui/norvane_data_sources.h"
#include "platform/ui/qt_dialogs.h"
#include "platform/verify/access_migration_verifier.h"
#include "platform/verify/server_target.h"
#include "platform/verify/target_inspector.h"
#include "target/create_db.h"
#include "target/postgres_target.h"
#include "wizard/frmSplash.h"

namespace {

// The folder of the installed ivex.exe: win32 beside the wizard (lib/norvane/win32), or the
// build's win32 folder beside bin/.
std::string InstalledToolFolder() {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path here = fs::read_symlink("/proc/self/exe", ec).parent_path();
  for (const fs::path& folder : {here / "win32", here / ".." / "win32"})
    if (fs::exists(folder / "ivex.exe", ec)) return fs::weakly_canonical(folder, ec).string();
  return {};
}

// The run's target: the data source the user picks for a Norvane database, the settings' server
// for the PostgreSQL target (no dialog).
class TargetChooser : public dao::DataSourceChooser {
 public:
  TargetChooser(const MigrationSettings& settings, platform::ui::DataSourceDialog& dialog)
      : settings_(settings), dialog_(dialog) {}
  std::optional<std::string> ChooseDataSource() override {
    if (settings_.Target == TargetKind::PostgreSql) return target::PostgresConnectString(settings_);
    return dialog_.ChooseDataSource();
  }
  std::string LastChoice() const {
    if (settings_.Target == TargetKind::PostgreSql) return target::PostgresConnectString(settings_);
    return dialog_.LastChoice();
  }

 private:
  const MigrationSettings& settings_;
  platform::ui::DataSourceDialog& dialog_;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(wizard::kAppTitle);
  // norvane-wizard [ACCESS-FILE]: a file given (by a file manager) is chosen on the source page.
  std::optional<platform::FileChoice> startFile;
  const QStringList arguments = QApplication::arguments();
  if (arguments.size() > 2 || (arguments.size() == 2 && arguments[1].startsWith('-'))) {
    std::cerr << "Usage: norvane-wizard [ACCESS-FILE]\n";
    return 2;
  }
  if (arguments.size() == 2) {
    const QFileInfo file(arguments[1]);
    if (!file.isFile()) {
      std::cerr << "norvane-wizard: " << arguments[1].toStdString() << ": no such file\n";
      return 1;
    }
    startFile =
        platform::FileChoice{platform::paths::ToWindows(file.absoluteFilePath().toStdString()),
                             file.fileName().toStdString()};
  }
  QApplication::setQuitOnLastWindowClosed(false);

  MigrationSettings& settings = ProgramSettings();
  platform::ui::QtDialogs dialogs;
  dialogs.SetStartFolder(wizard::kToolFilter, InstalledToolFolder());
  platform::ui::QtProgramEnd programEnd;
  platform::shell::PosixCommandStarter starter;
  const auto databaseFile = [&settings] {
    return settings.TargetDbFileName.empty() ? std::string() : target::TargetDbFilePath(settings);
  };
  wizard::PageFlow* pages = nullptr;
  platform::ui::CommandWindows commands(starter, databaseFile,
                                        [&pages] { return pages->VisiblePage(); });
  platform::ui::DataSourceDialog dialog(databaseFile);
  TargetChooser chooser(settings, dialog);

  console::AccessMigrationVerifier verifier;
  platform::verify::AnyTargetInspector inspector;
  platform::verify::ServerDatabasesThroughOdbc serverDatabases;
  wizard::PageFlow flow(
      settings,
      {dialogs, commands, programEnd,
       [&chooser] {
         return platform::access::CreateEngine(
             {.chooser = &chooser,
              .writerFactory = jetwriter::OpenJetCatalogWriterForRun,
              .recoverInterruptedChange = jetwriter::RecoverInterruptedChange,
              .catalogCheck = jetwriter::CheckLinkBack,
              .serverTransfer = platform::postgres::TransferToServer});
       },
       [&inspector](const std::string& access, const std::string& database) {
         // The PostgreSQL target names its database by its connect string.
         if (target::IsServerTarget(database)) return inspector.TablesLinkedTo(access, database);
         return platform::access::TablesLinkedTo(access, database, std::chrono::seconds(60));
       },
       [&verifier](const std::string& connection, const std::string& table,
                   const std::string& condition) {
         return verifier.KeysOfRowsBreaking(connection, table, condition);
       },
       &inspector,
       [](const std::string& database) { (void)platform::ui::RemoveUserDataSourcesOf(database); },
       &serverDatabases});
  pages = &flow;
  if (startFile) flow.SetStartFile(*startFile);
  flow.SetResultsCheck(std::make_unique<wizard::ResultsCheck>(wizard::ResultsCheck{
      verifier, [&commands](int task) { return commands.TakeToolErrors(task); },
      [&chooser] { return chooser.LastChoice(); }}));
  wizard::frmSplash splash(flow);
  splash.show();
  return QApplication::exec();
}
