// vorlin / vorlinw: creates an empty Norvane database file and its log file.
//   vorlin.exe <database file>
#include <iostream>

#include "norvane/catalog.h"
#include "platform/error.h"
#include "platform/paths.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: vorlin <database file>\n";
    return 2;
  }
  try {
    const std::filesystem::path database = platform::paths::ToPosix(argv[1]);
    norvane::CreateDatabase(database);
    std::cout << "Created Norvane database " << argv[1] << " (log "
              << norvane::LogPathOf(database).filename().string() << ")\n";
    return 0;
  } catch (const platform::Error& e) {
    std::cerr << "vorlin: cannot create " << argv[1] << ": " << e.Description() << "\n";
  } catch (const std::exception& e) {
    std::cerr << "vorlin: " << e.what() << "\n";
  }
  return 1;
}
