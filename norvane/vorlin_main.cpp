// vorlin / vorlinw: creates an empty Norvane database file and its log file.
//   vorlin.exe <database file>
// The path comes unquoted, so a folder name with blanks arrives as several arguments: they are
// joined with single blanks into the one path.
#include <iostream>
#include <string>

#include "norvane/catalog.h"
#include "platform/error.h"
#include "platform/paths.h"
#include "platform/shell/tool_output.h"

int main(int argc, char** argv) {
  using platform::shell::ToolErrorLine;
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::cout
        << "Usage: vorlin.exe <database file>\n"
           "Creates an empty Norvane database file and its log file (\"log\" in place of the\n"
           "name's last two characters). An existing file is never overwritten.\n"
           "Exit status: 0 created, 1 not created (the reason is printed), 2 no file given.\n";
    return 0;
  }
  if (argc < 2) {
    std::cerr << ToolErrorLine("vorlin", "no database file given (vorlin <database file>)") << "\n";
    return 2;
  }
  std::string path = argv[1];
  for (int i = 2; i < argc; ++i) path += std::string(" ") + argv[i];
  try {
    const std::filesystem::path database = platform::paths::ToPosix(path);
    norvane::CreateDatabase(database);
    std::cout << "Created Norvane database " << path << " (log "
              << norvane::LogPathOf(database).filename().string() << ")\n";
    return 0;
  } catch (const platform::Error& e) {
    std::cerr << ToolErrorLine("vorlin", "cannot create " + path + ": " + e.Description()) << "\n";
  } catch (const std::exception& e) {
    std::cerr << ToolErrorLine("vorlin", "cannot create " + path + ": " + e.what()) << "\n";
  }
  return 1;
}
