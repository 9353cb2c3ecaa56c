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

bool RestoreAsked(dao::Engine& engine, const RestoreHelpers& helpers,
                  const MigrationSettings& settings, platform::Dialogs& dialogs) {
  if (helpers.inspector == nullptr) {
    dialogs.Message("Nothing was restored: the new database cannot be checked.");
    return false;
  }
  if (const std::string refusal = helpers.locks.Take(settings); !refusal.empty()) {
    dialogs.Message("Nothing was restored: " + refusal);
    return false;
  }
  engine::RestoreOutcome outcome =
      engine::RestoreFromBackup(engine, *helpers.inspector, {settings.AccessDbPath, false, true});
  if (outcome.needsConsent) {
    std::string text = outcome.message;
    if (!outcome.changedTables.empty()) {
      text += "\nChanged tables:";
      for (const std::string& table : outcome.changedTables) text += "\n  " + table;
    }
    if (!dialogs.Question(text + "\n\nRemove the database and these changes, and restore?"))
      return false;
    outcome =
        engine::RestoreFromBackup(engine, *helpers.inspector, {settings.AccessDbPath, true, true});
  }
  dialogs.Message(outcome.message);
  return outcome.restored;
}

}  // namespace

void ShowSourceCheck(dao::Engine& engine, const MigrationSettings& settings,
                     platform::Dialogs& dialogs) {
  const engine::PreflightResult result =
      engine::RunPreflight(engine, engine::PreflightRequestOf(settings));
  if (result.Clean()) return;
  dialogs.Message("The check of " + result.accessPath + " found:\n" + result.Text());
}

bool ConfirmMigration(dao::Engine& engine, const RestoreHelpers& helpers,
                      const MigrationSettings& settings, platform::Dialogs& dialogs) {
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
    if (dialogs.Question(text + "\n" + kRestoreQuestion))
      RestoreAsked(engine, helpers, settings, dialogs);
  } else {
    dialogs.Message(text);
  }
  return false;
}

bool OfferRestore(dao::Engine& engine, const RestoreHelpers& helpers,
                  const MigrationSettings& settings, platform::Dialogs& dialogs) {
  if (!dialogs.Question(kRestoreQuestion)) return false;
  return RestoreAsked(engine, helpers, settings, dialogs);
}

}  // namespace wizard
