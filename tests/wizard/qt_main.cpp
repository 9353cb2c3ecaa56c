// GoogleTest with a QApplication, for the tests of the pages (offscreen platform unless
// QT_QPA_PLATFORM says otherwise). The tests run
// with private ODBC files (ODBCINI, ODBCSYSINI) and a private settings folder in a temporary
// folder, so they never read or change the user's data sources or the wizard's settings.
#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>

#include <cstdio>
#include <cstdlib>

#include "support/temp_dir.h"

int main(int argc, char** argv) {
  if (qgetenv("QT_QPA_PLATFORM").isEmpty()) qputenv("QT_QPA_PLATFORM", "offscreen");
  // The Norvane driver (and psqlODBC, when the build registered it) as the inherited ODBCSYSINI
  // registers them (under ctest the build's own odbcinst.ini), asked of odbcinst: the driver
  // manager keeps the first system folder it saw for the life of the process.
  const auto driverOf = [](const std::string& name) {
    std::string driver;
    if (FILE* query = popen(("odbcinst -q -d -n '" + name + "' 2>/dev/null").c_str(), "r")) {
      char line[1024];
      while (fgets(line, sizeof line, query) != nullptr)
        if (std::string(line).rfind("Driver=", 0) == 0) driver = std::string(line).substr(7);
      pclose(query);
    }
    return driver;
  };
  const std::string driver = driverOf("Norvane");
  if (driver.empty())
    std::fprintf(stderr, "no ODBC driver Norvane is registered (ODBCSYSINI=%s)\n",
                 std::getenv("ODBCSYSINI") ? std::getenv("ODBCSYSINI") : "");
  const std::string postgres = driverOf("PostgreSQL Unicode");
  testing_support::TempDir home("wizard-tests-home");
  testing_support::WriteBytes(
      home.path() / "odbcinst.ini",
      "[Norvane]\nDriver=" + driver +
          (postgres.empty() ? "" : "[PostgreSQL Unicode]\nDriver=" + postgres));
  testing_support::WriteBytes(home.path() / "odbc.ini", "");
  setenv("ODBCSYSINI", home.path().c_str(), 1);
  setenv("ODBCINI", (home.path() / "user-odbc.ini").c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home.path() / "config").c_str(), 1);
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromStdString((home.path() / "config").string()));

  QApplication app(argc, argv);
  QApplication::setApplicationDisplayName("Norvane Migration Wizard");
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
