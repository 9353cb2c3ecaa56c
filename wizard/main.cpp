// norvane-wizard: the migration wizard.
#include <QApplication>

#include "platform/access/access_engine.h"
#include "platform/access/linked_targets.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "platform/shell/posix_command_starter.h"
#include "platform/ui/command_windows.h"
#include "platform/ui/data_source_dialog.h"
#include "platform/ui/qt_dialogs.h"
#include "target/create_db.h"
#include "wizard/frmSplash.h"
#include "wizard/page_rules.h"

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
                         }});
  wizard::frmSplash splash(flow);
  splash.show();
  return QApplication::exec();
}
