#include "platform/access/recordset.h"

#include <charconv>
#include <cstdio>

#include "platform/error.h"
#include "platform/text.h"

namespace platform::access {
namespace {

class TableRows : public dao::Recordset {
 public:
  TableRows(const std::string& posixPath, const std::string& table,
            const std::vector<std::string>& fields, std::chrono::milliseconds timeout)
      : stream_(posixPath, table, timeout, fields) {
    const auto& columns = stream_.Columns();
    for (const std::string& field : fields) {
      std::size_t found = columns.size();
      for (std::size_t c = 0; c < columns.size(); ++c)
        if (EqualsNoCase(columns[c].name, field)) found = c;
      if (found == columns.size())
        throw Error(dao::err::kItemNotFound,
                    "The table '" + table + "' has no field '" + field + "'.");
      positions_.push_back(found);
    }
  }

  bool Next(std::vector<std::optional<std::string>>& values) override {
    if (!stream_.Next(cells_)) return false;
    values.resize(positions_.size());
    for (std::size_t i = 0; i < positions_.size(); ++i) {
      const Cell& cell = cells_[positions_[i]];
      if (cell.null) {
        values[i].reset();
        continue;
      }
      if (!values[i]) values[i].emplace();  // the strings of the row before are reused
      CellTextInto(cell, stream_.Columns()[positions_[i]].type, *values[i]);
    }
    return true;
  }

 private:
  RowStream stream_;
  std::vector<std::size_t> positions_;
  std::vector<Cell> cells_;
};

}  // namespace

std::string CellText(const Cell& cell, int type) {
  std::string text;
  CellTextInto(cell, type, text);
  return text;
}

void CellTextInto(const Cell& cell, int type, std::string& out) {
  switch (static_cast<ColumnType>(type)) {
    case ColumnType::kBoolean:
    case ColumnType::kByte:
    case ColumnType::kInteger:
    case ColumnType::kLong: {
      char text[24];
      const auto end = std::to_chars(text, text + sizeof text, cell.integer).ptr;
      out.assign(text, end);
      return;
    }
    case ColumnType::kSingle:
    case ColumnType::kDouble: {
      char text[32];
      std::snprintf(text, sizeof text, "%.17g", cell.real);
      out.assign(text);
      return;
    }
    default:
      out.assign(cell.bytes.begin(), cell.bytes.end());
  }
}

std::unique_ptr<dao::Recordset> OpenTableRows(const std::string& posixPath,
                                              const std::string& table,
                                              const std::vector<std::string>& fields,
                                              std::chrono::milliseconds timeout) {
  return std::make_unique<TableRows>(posixPath, table, fields, timeout);
}

}  // namespace platform::access
