// Makes the tenth of keyed500k.mdb that bench/run.sh measures beside the whole file: Customers 1
// to 5000, the Orders of those customers (50,000) and those orders' lines (100,000), the same
// shape, keys and relationships. Every other row is flagged deleted on its data page (the Jet
// row-offset flag 0x4000, which libmdb skips) and its bytes are zeroed; each table definition's
// row count is set to the rows kept. The Access indexes still list the removed rows: nothing of
// the flow or mdbtools reads index pages, but Access would want the file compacted.
//   cut_rows keyed500k.mdb keyed50k.mdb
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kPage = 4096;
// Table definition pages of keyed500k.mdb (MSysObjects' Id of each table).
constexpr std::uint32_t kCustomers = 24, kOrders = 28, kLines = 32;

struct Row {
  std::size_t page, slot, begin, end;  // byte offsets in the file
};

std::string file;

std::uint32_t U32(std::size_t at) {
  std::uint32_t v;
  std::memcpy(&v, file.data() + at, 4);
  return v;
}
std::uint16_t U16(std::size_t at) {
  std::uint16_t v;
  std::memcpy(&v, file.data() + at, 2);
  return v;
}

// The rows of a table in the order libmdb reads them: data pages in page order, rows in slot order.
std::vector<Row> RowsOf(std::uint32_t definition) {
  std::vector<Row> rows;
  for (std::size_t page = 0; page + kPage <= file.size(); page += kPage) {
    if (file[page] != 1 || U32(page + 4) != definition) continue;
    const unsigned count = U16(page + 12);
    for (unsigned i = 0; i < count; ++i) {
      const std::uint16_t offset = U16(page + 14 + 2 * i);
      if (offset & 0xC000) throw std::runtime_error("a row already deleted or moved");
      const std::size_t end = i == 0 ? kPage : (U16(page + 14 + 2 * (i - 1)) & 0x1FFF);
      rows.push_back({page, i, page + (offset & 0x1FFF), page + end});
    }
  }
  return rows;
}

// The row's k-th fixed four-byte column (after the two-byte column count).
std::int32_t Long(const Row& row, int k) {
  return static_cast<std::int32_t>(U32(row.begin + 2 + 4 * k));
}

void Keep(std::uint32_t definition, const std::function<bool(const Row&)>& keep) {
  std::uint32_t kept = 0;
  for (const Row& row : RowsOf(definition)) {
    if (keep(row)) {
      ++kept;
      continue;
    }
    const std::uint16_t flagged = (U16(row.page + 14 + 2 * row.slot) & 0x1FFF) | 0x4000;
    std::memcpy(file.data() + row.page + 14 + 2 * row.slot, &flagged, 2);
    std::memset(file.data() + row.begin, 0, row.end - row.begin);
  }
  const std::size_t tdef = std::size_t{definition} * kPage;
  if (file[tdef] != 2) throw std::runtime_error("not a table definition page");
  std::printf("table definition %u: %u of %u rows kept\n", definition, kept, U32(tdef + 16));
  std::memcpy(file.data() + tdef + 16, &kept, 4);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: cut_rows keyed500k.mdb out.mdb\n");
    return 2;
  }
  try {
    std::ifstream in(argv[1], std::ios::binary);
    file.assign(std::istreambuf_iterator<char>(in), {});
    if (file.size() < 64 * kPage) throw std::runtime_error("not keyed500k.mdb");
    std::set<std::int32_t> orders;
    for (const Row& row : RowsOf(kOrders))
      if (Long(row, 1) <= 5000) orders.insert(Long(row, 0));  // OrderID, CustomerID
    Keep(kCustomers, [](const Row& row) { return Long(row, 0) <= 5000; });
    Keep(kOrders, [](const Row& row) { return Long(row, 1) <= 5000; });
    Keep(kLines, [&](const Row& row) { return orders.count(Long(row, 0)) != 0; });
    std::ofstream out(argv[2], std::ios::binary);
    out.write(file.data(), static_cast<std::streamsize>(file.size()));
    if (!out) throw std::runtime_error("cannot write the output");
  } catch (const std::exception& e) {
    std::fprintf(stderr, "cut_rows: %s\n", e.what());
    return 1;
  }
  return 0;
}
