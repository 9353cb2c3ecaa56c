// One table of a finished migration as the check after the run found it, and when it checks out.
#pragma once

#include <string>
#include <vector>

namespace reporting {

struct TableCheck {
  std::string accessName;
  std::string targetName;
  long long accessRows = -1;  // -1: could not be counted
  long long targetRows = -1;
  bool checksumsEqual = false;
  std::string checksumNote;  // the first difference, or why the values could not be compared
  int indexesExpected = 0;
  int indexesCreated = 0;
  bool primaryKeyExpected = false;
  bool primaryKeyPresent = false;
  int foreignKeysExpected = 0;
  int foreignKeysPresent = 0;
  std::vector<std::string> timeColumns;  // columns that arrived as time
  bool linkExpected = false;
  bool linked = false;  // the Access file holds the prefixed table and the link
  // The table has no unique index, so neither has its link: Access opens it read-only.
  bool linkReadOnly = false;
  // What Access will show through the link (by Access's ODBC type rules, platform/linked_types.h):
  // each column with its type, the columns whose type differs from the original's, and the
  // link's warnings (write conflicts, #Deleted rows).
  std::vector<std::string> linkColumns;
  std::vector<std::string> linkTypesDiffer;
  std::vector<std::string> linkWarnings;

  // Every row and value arrived, with its indexes, keys and link as expected.
  bool Ok() const {
    return accessRows >= 0 && accessRows == targetRows && checksumsEqual &&
           indexesCreated == indexesExpected && primaryKeyPresent == primaryKeyExpected &&
           foreignKeysPresent == foreignKeysExpected && linked == linkExpected;
  }
};

}  // namespace reporting
