// The data-source chooser of the target open: a dialog sized to its entries, listing "New
// Norvane database..." for the database file the wizard created, then the user and system data
// sources of the Norvane driver. "New Norvane database..." registers a user data source named
// after the database (or finds the one an earlier run registered) and connects through it.
//
// Owns: nothing beyond the dialog's life; the registered data source stays in the user's
// odbc.ini (the wizard removes it when restore removes its database). Failures: a driver manager
// that cannot be asked lists no data sources; a data source that cannot be registered is told in a
// message box and the file is connected to directly; cancelling returns nothing.
#pragma once

#include <functional>
#include <string>

#include "platform/dao/dao.h"

namespace platform::ui {

inline constexpr const char* kNewDatabaseEntry = "New Norvane database...";

class DataSourceDialog : public dao::DataSourceChooser {
 public:
  // `newDatabaseFile` gives the Windows-form path of the database file the wizard created
  // (empty when none is known); it is asked each time the dialog opens.
  explicit DataSourceDialog(std::function<std::string()> newDatabaseFile)
      : newDatabaseFile_(std::move(newDatabaseFile)) {}
  std::optional<std::string> ChooseDataSource() override;
  // The connection of the last choice ("DSN=name"), empty before one was made.
  const std::string& LastChoice() const { return lastChoice_; }

 private:
  std::function<std::string()> newDatabaseFile_;
  std::string lastChoice_;
};

}  // namespace platform::ui
