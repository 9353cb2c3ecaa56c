#include "wizard/safety_prompts.h"

#include "engine/preflight.h"
#include "engine/restore.h"
#include "platform/paths.h"

namespace wizard {
namespace {

bool CanUndo(const MigrationSettings& settings) {
  try {
    return engine::HasLinkBackRecord(platform::paths::ToPosix(settings.AccessDbPath));
  } catch (const platform::Error&) {
    return false;
  }
}

}  // namespace

void ShowSourceCheck(dao::Engine& engine, const MigrationSettings& settings,
                     platform::Dialogs& dialogs) {
  const engine::PreflightResult result =
      engine::RunPreflight(engine, engine::PreflightRequestOf(settings));
  if (result.Clean()) return;
  dialogs.Message("The check of " + result.accessPath + " found:\n" + result.Text());
}

bool ConfirmMigration(dao::Engine& engine, const MigrationSettings& settings,
                      platform::Dialogs& dialogs) {
  const engine::PreflightResult result =
      engine::RunPreflight(engine, engine::PreflightRequestOf(settings));
  switch (engine::GateOf(result)) {
    case engine::Gate::Go:
      return true;
    case engine::Gate::Confirm:
      return dialogs.Question("The check of " + result.accessPath + " found:\n" + result.Text() +
                              "\nMigrate anyway?");
    case engine::Gate::Stop:
      break;
  }
  const std::string text =
      "The migration cannot start. The check of " + result.accessPath + " found:\n" + result.Text();
  if (CanUndo(settings)) {
    if (dialogs.Question(text + "\n" + kRestoreQuestion)) {
      dialogs.Message(engine::RestoreFromBackup(engine, settings.AccessDbPath).message);
    }
  } else {
    dialogs.Message(text);
  }
  return false;
}

bool OfferRestore(dao::Engine& engine, const MigrationSettings& settings,
                  platform::Dialogs& dialogs) {
  if (!dialogs.Question(kRestoreQuestion)) return false;
  const engine::RestoreOutcome outcome = engine::RestoreFromBackup(engine, settings.AccessDbPath);
  dialogs.Message(outcome.message);
  return outcome.restored;
}

}  // namespace wizard
