// RAII owners of libmdb handles (used only inside the reader's child process).
#pragma once

#include <mdbtools.h>

#include <memory>
#include <vector>

namespace platform::access {

struct HandleCloser {
  void operator()(MdbHandle* h) const { mdb_close(h); }
};
struct TableFree {
  void operator()(MdbTableDef* t) const { mdb_free_tabledef(t); }
};
using HandlePtr = std::unique_ptr<MdbHandle, HandleCloser>;
using TablePtr = std::unique_ptr<MdbTableDef, TableFree>;

class WireWriter;
// Sends a table's column descriptions to the parent (read back by ReadColumns, catalog.h): the
// columns at the positions `only` names, or every column when it is null.
void WriteColumns(MdbTableDef* table, WireWriter& out, const std::vector<unsigned>* only = nullptr);

}  // namespace platform::access
