#include "wizard/safety_prompts.h"

#include "options/page_rules.h"

namespace wizard {

bool PagePrompts::RestoreAsked() {
  engine::RestoreOutcome outcome = promptFlow_.Restore(*this, false);
  if (outcome.needsConsent) {
    std::string text = outcome.message;
    if (!outcome.changedTables.empty()) {
      text += "\nChanged tables:";
      for (const std::string& table : outcome.changedTables) text += "\n  " + table;
    }
    if (!promptDialogs_.Question(text + "\n\nRemove the database and these changes, and restore?"))
      return false;
    outcome = promptFlow_.Restore(*this, true);
  }
  promptDialogs_.Message(outcome.message);
  if (outcome.restored) Restored();
  return outcome.restored;
}

bool PagePrompts::AcceptCheck(const engine::PreflightResult& result, engine::Gate gate,
                              engine::FlowPlan plan) {
  const std::string found =
      "The check of " + ShownPath(result.accessPath) + " found:\n" + result.Text();
  if (plan == engine::FlowPlan::CheckOnly) {
    if (gate == engine::Gate::Stop)
      promptDialogs_.Message("This file cannot be migrated. " + found);
    else if (!result.Clean())
      promptDialogs_.Message(found);
    return true;
  }
  if (plan != engine::FlowPlan::MigrateOnly) {
    if (gate == engine::Gate::Stop)
      promptDialogs_.Message("The database cannot be created. " + found);
    return true;
  }
  switch (gate) {
    case engine::Gate::Go:
      return true;
    case engine::Gate::Confirm:
      return promptDialogs_.Question(found + "\nMigrate anyway?");
    case engine::Gate::Stop:
      break;
  }
  const std::string text = "The migration cannot start. " + found;
  if (promptFlow_.CanRestore()) {
    if (promptDialogs_.Question(text + "\n" + kRestoreQuestion)) RestoreAsked();
  } else {
    promptDialogs_.Message(text);
  }
  return false;
}

bool PagePrompts::OfferRestore() {
  if (!promptDialogs_.Question(kRestoreQuestion)) return false;
  return RestoreAsked();
}

}  // namespace wizard
