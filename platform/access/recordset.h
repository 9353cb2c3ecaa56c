// Rows of an Access table as dao::Recordset: the named fields of each row as text.
//
// Owns: a RowStream (rows.h) over one table and the text form of its values.
// Failures: platform::Error kItemNotFound for a field the table does not have; the reader's
// errors (rows.h) while rows are read.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "platform/access/rows.h"
#include "platform/dao/dao.h"

namespace platform::access {

// The text form Recordset gives a value of a column of type `type`.
std::string CellText(const Cell& cell, int type);
void CellTextInto(const Cell& cell, int type, std::string& out);  // replacing what `out` held

std::unique_ptr<dao::Recordset> OpenTableRows(const std::string& posixPath,
                                              const std::string& table,
                                              const std::vector<std::string>& fields,
                                              std::chrono::milliseconds timeout);

}  // namespace platform::access
