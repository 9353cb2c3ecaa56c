// norvane-wizard: the migration wizard.
#include <QApplication>

#include "platform/access/access_engine.h"
#include "platform/access/linked_targets.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "platform/shell/posix_command_starter.h"
#include "platform/ui/command_windows.h"
#include "platform/ui/data_source_dialog.h"
#include "platform/ui/qt_dialogs.h"
#include "platform/verify/rows_breaking.h"
#include "target/create_db.h"
#include "wizard/frmSplash.h"
#include "wizard/page_rules.h"

namespace {

// Asks the new database through ODBC, one connection kept per data source.
std::function<std::string(const std::string&, const std::string&, const std::string&)>
RowsBreakingOnTarget() {
  auto open =
      std::make_shared<std::pair<std::string, std::unique_ptr<platform::odbc::Connection>>>();
  return [open](const std::string& connection, const std::string& table,
                const std::string& condition) {
    if (!open->second || open->first != connection) {
      open->second = std::make_unique<platform::odbc::Connection>(connection);
      open->first = connection;
    }
    return platform::verify::RowsBreaking(*open->second, table, condition);
  };
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName(wizard::kAppTitle);
  QApplication::setQuitOnLastWindowClosed(false);

  MigrationSettings& settings = ProgramSettings();
  platform::ui::QtDialogs dialogs;
  platform::ui::QtProgramEnd programEnd;
  platform::shell::PosixCommandStarter starter;
  platform::ui::CommandWindows commands(starter);
  platform::ui::DataSourceDialog chooser([&settings] {
    return settings.TargetDbFileName.empty() ? std::string() : target::TargetDbFilePath(settings);
  });

  wizard::PageFlow flow(settings,
                        {dialogs, commands, programEnd,
                         [&chooser] {
                           return platform::access::CreateEngine(
                               {.chooser = &chooser,
                                .writerFactory = jetwriter::OpenJetCatalogWriterForRun,
                                .recoverInterruptedChange = jetwriter::RecoverInterruptedChange});
                         },
                         [](const std::string& access, const std::string& database) {
                           return platform::access::TablesLinkedTo(access, database,
                                                                   std::chrono::seconds(60));
                         },
                         RowsBreakingOnTarget()});
  wizard::frmSplash splash(flow);
  splash.show();
  return QApplication::exec();
}
