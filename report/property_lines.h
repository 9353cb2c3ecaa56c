// What the step after reload.bat carried to one table of the new database and what it did not.
#pragma once

#include <string>
#include <vector>

namespace reporting {

struct PropertyLines {
  std::string targetTable;
  std::vector<std::string> carried;
  std::vector<std::string> notCarried;
};

}  // namespace reporting
