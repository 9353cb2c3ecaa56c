// A damaged copy for tests: every row of MSysRelationships made unreadable (its data pages say
// they hold no rows), while the tables' definitions still declare each relationship's index.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace testing_support {

// Returns the number of data pages emptied (0 when the table was not found).
inline int LoseRelationshipRows(const std::filesystem::path& mdb) {
  std::string bytes = ReadBytes(mdb);
  if (bytes.size() < 0x800) return 0;
  const bool jet3 = bytes[0x14] == 0;
  const std::size_t pageSize = jet3 ? 2048 : 4096;
  auto u32 = [&](std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
    return v;
  };
  // The definition page that names the column "szRelationship".
  std::string column = "szRelationship";
  if (!jet3) {
    std::string wide;
    for (char c : column) wide += std::string{c, '\0'};
    column = wide;
  }
  std::uint32_t tdef = 0;
  for (std::size_t page = 1; page * pageSize < bytes.size() && tdef == 0; ++page)
    if (bytes[page * pageSize] == 0x02 &&
        bytes.substr(page * pageSize, pageSize).find(column) != std::string::npos)
      tdef = static_cast<std::uint32_t>(page);
  if (tdef == 0) return 0;
  int emptied = 0;
  for (std::size_t page = 1; (page + 1) * pageSize <= bytes.size(); ++page) {
    const std::size_t at = page * pageSize;
    if (bytes[at] != 0x01 || u32(at + 4) != tdef) continue;
    const std::size_t rowCount = at + (jet3 ? 8 : 12);
    bytes[rowCount] = 0;
    bytes[rowCount + 1] = 0;
    ++emptied;
  }
  WriteBytes(mdb, bytes);
  return emptied;
}

}  // namespace testing_support
