// What the pages say and ask of a migration flow: the check's findings, the lines it tells and
// the undo of a link-back. No widgets: the pages give their dialogs.
#pragma once

#include "engine/migration_flow.h"
#include "platform/ui_services.h"

namespace wizard {

inline constexpr const char* kRestoreQuestion =
    "Restore the Access file from its backup and remove the Norvane database this wizard "
    "created?";

class PagePrompts : public engine::FlowFrontEnd {
 public:
  PagePrompts(engine::MigrationFlow& flow, platform::Dialogs& dialogs)
      : promptFlow_(flow), promptDialogs_(dialogs) {}

  // The source page: a message listing the findings, if any. "Create DB": a message when a
  // finding stops the run. "Migrate": findings that stop the run are shown (with the offer to
  // restore the backup when an earlier link-back can be undone); others are listed for the user
  // to confirm or cancel.
  bool AcceptCheck(const engine::PreflightResult& result, engine::Gate gate,
                   engine::FlowPlan plan) override;
  void Tell(const std::string& line) override { promptDialogs_.Message(line); }
  platform::Dialogs& DialogsOfFlow() override { return promptDialogs_; }

  // "Restore": asks, restores and tells what happened; a database changed since the migration is
  // removed only after a second question naming the changed tables. True when restored.
  bool OfferRestore();

 protected:
  // After a restore that put the Access file back and removed the database.
  virtual void Restored() {}

 private:
  bool RestoreAsked();

  engine::MigrationFlow& promptFlow_;
  platform::Dialogs& promptDialogs_;
};

}  // namespace wizard
