#include "platform/jetwriter/data_page.h"

#include <algorithm>
#include <string>

#include "platform/jetwriter/jet_bytes.h"

namespace jetwriter {

DataPage DataPage::Parse(const Bytes& page, const Format& f, std::uint32_t pageNo) {
  std::string where = "data page " + std::to_string(pageNo);
  if (page.size() != static_cast<std::size_t>(f.pageSize) || page[0] != 0x01) {
    BadFormat(where + " is not a data page");
  }
  DataPage d;
  d.owner = Le32(page, 4);
  d.header.assign(page.begin(), page.begin() + f.dataRowTable);
  int n = static_cast<int>(Le16(page, f.dataNumRows));
  int tableEnd = f.dataRowTable + 2 * n;
  if (n > 255 || tableEnd > f.pageSize) BadFormat(where + " has a bad row count");
  int prev = f.pageSize;
  for (int i = 0; i < n; ++i) {
    std::uint16_t raw = static_cast<std::uint16_t>(Le16(page, f.dataRowTable + 2 * i));
    int start = raw & 0x1FFF;
    if (start < tableEnd || start > prev) {
      Unsupported("The rows of " + where + " are not stored in the expected order.");
    }
    Row r;
    r.flags = raw & 0xC000;
    r.data.assign(page.begin() + start, page.begin() + prev);
    d.rows.push_back(std::move(r));
    prev = start;
  }
  return d;
}

int DataPage::FreeSpace(const Format& f) const {
  int used = f.dataRowTable + 2 * static_cast<int>(rows.size());
  for (const Row& r : rows) used += static_cast<int>(r.data.size());
  return f.pageSize - used;
}

Bytes DataPage::Build(const Format& f) const {
  if (rows.size() > 255 || FreeSpace(f) < 0) {
    Unsupported("A page of the catalog has no room for the change.");
  }
  Bytes page(static_cast<std::size_t>(f.pageSize), 0);
  std::copy(header.begin(), header.end(), page.begin());
  page[0] = 0x01;
  page[1] = 0x01;
  SetLe16(page, 2, static_cast<std::uint32_t>(FreeSpace(f)));
  SetLe16(page, f.dataNumRows, static_cast<std::uint32_t>(rows.size()));
  int pos = f.pageSize;
  for (std::size_t i = 0; i < rows.size(); ++i) {
    pos -= static_cast<int>(rows[i].data.size());
    std::copy(rows[i].data.begin(), rows[i].data.end(), page.begin() + pos);
    SetLe16(page, f.dataRowTable + 2 * i, static_cast<std::uint32_t>(pos) | rows[i].flags);
  }
  return page;
}

Bytes DataPage::NewHeader(const Format& f, std::uint32_t owner) {
  Bytes h(static_cast<std::size_t>(f.dataRowTable), 0);
  h[0] = 0x01;
  h[1] = 0x01;
  SetLe32(h, 4, owner);
  return h;
}

}  // namespace jetwriter
