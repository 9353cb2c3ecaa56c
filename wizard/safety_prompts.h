// What the pages say and ask around the check before a run and the undo of a link-back. No
// widgets: the pages call these with their dialogs and the run's engine.
#pragma once

#include "engine/restore.h"
#include "platform/dao/dao.h"
#include "platform/ui_services.h"
#include "target/run_locks.h"
#include "wizard/settings.h"

namespace wizard {

inline constexpr const char* kRestoreQuestion =
    "Restore the Access file from its backup and remove the Norvane database this wizard "
    "created?";

// The source page, at once after the choice: a message listing the findings, if any.
void ShowSourceCheck(dao::Engine& engine, const MigrationSettings& settings,
                     platform::Dialogs& dialogs);

// "Migrate", before the run: true to start it. Findings that stop the run are shown (with the
// offer to restore the backup when an earlier link-back can be undone); other findings are
// listed for the user to confirm or cancel.
// What a restore from the pages needs: the new database's inspector (null: nothing is restored)
// and the wizard's run locks, taken for the restore.
struct RestoreHelpers {
  engine::TargetDatabaseInspector* inspector;
  target::RunLocks& locks;
};

bool ConfirmMigration(dao::Engine& engine, const RestoreHelpers& helpers,
                      const MigrationSettings& settings, platform::Dialogs& dialogs);

// "Restore": asks, restores and tells what happened; a database changed since the migration is
// removed only after a second question naming the changed tables. True when restored.
bool OfferRestore(dao::Engine& engine, const RestoreHelpers& helpers,
                  const MigrationSettings& settings, platform::Dialogs& dialogs);

}  // namespace wizard
