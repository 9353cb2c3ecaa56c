// The data-source chooser of the target open: a dialog listing the ODBC data sources of the
// driver manager, with the new Norvane database file offered first.
//
// Owns: nothing beyond the dialog's life. Failures: a driver manager that cannot be asked shows
// an empty list (the new database file is still offered); cancelling returns nothing.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/dao/dao.h"

namespace platform::ui {

struct DataSourceEntry {
  std::string label;       // what the user sees
  std::string connection;  // "DSN=name" or "Driver=Norvane;Database=/path"
};

// The data sources the driver manager knows (user and system).
std::vector<DataSourceEntry> OdbcDataSources();

class DataSourceDialog : public dao::DataSourceChooser {
 public:
  // `newDatabaseFile` gives the Windows-form path of the database file the wizard created
  // (empty when none is known); it is asked each time the dialog opens.
  explicit DataSourceDialog(std::function<std::string()> newDatabaseFile)
      : newDatabaseFile_(std::move(newDatabaseFile)) {}
  std::optional<std::string> ChooseDataSource() override;

 private:
  std::function<std::string()> newDatabaseFile_;
};

}  // namespace platform::ui
