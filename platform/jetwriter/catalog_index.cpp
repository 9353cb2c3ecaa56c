#include "platform/jetwriter/catalog_index.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/dao/dao.h"
#include "platform/error.h"

namespace jetwriter {
namespace {

// One character of a sort-order table: its inline code bytes and, for accented letters (Jet 3),
// the nibble that goes into the extra-code block; for unprintable characters (Jet 4, no inline
// bytes) the code written after the text.
struct CharCode {
  char32_t ch;
  const char* inline_;
  int extra;
};

// Jet 3 "General 97": ASCII and Latin-1.
const CharCode kGeneral97[] = {
    {0x20, "\x11", 0x0}, {0x21, "\x12", 0x0},     {0x22, "\x13", 0x0},     {0x23, "\x14", 0x0},
    {0x24, "\x15", 0x0}, {0x25, "\x16", 0x0},     {0x26, "\x17", 0x0},     {0x27, "\x18", 0x0},
    {0x28, "\x19", 0x0}, {0x29, "\x1A", 0x0},     {0x2A, "\x1B", 0x0},     {0x2B, "\x1C", 0x0},
    {0x2C, "\x1D", 0x0}, {0x2D, "\x1E", 0x0},     {0x2E, "\x1F", 0x0},     {0x2F, "\x20", 0x0},
    {0x30, "\x56", 0x0}, {0x31, "\x57", 0x0},     {0x32, "\x58", 0x0},     {0x33, "\x59", 0x0},
    {0x34, "\x5A", 0x0}, {0x35, "\x5B", 0x0},     {0x36, "\x5C", 0x0},     {0x37, "\x5D", 0x0},
    {0x38, "\x5E", 0x0}, {0x39, "\x5F", 0x0},     {0x3A, "\x21", 0x0},     {0x3B, "\x22", 0x0},
    {0x3C, "\x23", 0x0}, {0x3D, "\x24", 0x0},     {0x3E, "\x25", 0x0},     {0x3F, "\x26", 0x0},
    {0x40, "\x27", 0x0}, {0x41, "\x60", 0x0},     {0x42, "\x61", 0x0},     {0x43, "\x62", 0x0},
    {0x44, "\x64", 0x0}, {0x45, "\x66", 0x0},     {0x46, "\x67", 0x0},     {0x47, "\x68", 0x0},
    {0x48, "\x69", 0x0}, {0x49, "\x6A", 0x0},     {0x4A, "\x6B", 0x0},     {0x4B, "\x6C", 0x0},
    {0x4C, "\x6D", 0x0}, {0x4D, "\x6F", 0x0},     {0x4E, "\x70", 0x0},     {0x4F, "\x72", 0x0},
    {0x50, "\x73", 0x0}, {0x51, "\x74", 0x0},     {0x52, "\x75", 0x0},     {0x53, "\x76", 0x0},
    {0x54, "\x77", 0x0}, {0x55, "\x78", 0x0},     {0x56, "\x7A", 0x0},     {0x57, "\x7B", 0x0},
    {0x58, "\x7C", 0x0}, {0x59, "\x7D", 0x0},     {0x5A, "\x7E", 0x0},     {0x5B, "\x28", 0x0},
    {0x5C, "\x29", 0x0}, {0x5D, "\x2A", 0x0},     {0x5E, "\x2B", 0x0},     {0x5F, "\x2C", 0x0},
    {0x60, "\x2D", 0x0}, {0x61, "\x60", 0x0},     {0x62, "\x61", 0x0},     {0x63, "\x62", 0x0},
    {0x64, "\x64", 0x0}, {0x65, "\x66", 0x0},     {0x66, "\x67", 0x0},     {0x67, "\x68", 0x0},
    {0x68, "\x69", 0x0}, {0x69, "\x6A", 0x0},     {0x6A, "\x6B", 0x0},     {0x6B, "\x6C", 0x0},
    {0x6C, "\x6D", 0x0}, {0x6D, "\x6F", 0x0},     {0x6E, "\x70", 0x0},     {0x6F, "\x72", 0x0},
    {0x70, "\x73", 0x0}, {0x71, "\x74", 0x0},     {0x72, "\x75", 0x0},     {0x73, "\x76", 0x0},
    {0x74, "\x77", 0x0}, {0x75, "\x78", 0x0},     {0x76, "\x7A", 0x0},     {0x77, "\x7B", 0x0},
    {0x78, "\x7C", 0x0}, {0x79, "\x7D", 0x0},     {0x7A, "\x7E", 0x0},     {0x7B, "\x2E", 0x0},
    {0x7C, "\x2F", 0x0}, {0x7D, "\x30", 0x0},     {0x7E, "\x31", 0x0},     {0xA0, "\x11", 0x0},
    {0xA1, "\x3B", 0x0}, {0xA2, "\x3C", 0x0},     {0xA3, "\x3D", 0x0},     {0xA4, "\x3E", 0x0},
    {0xA5, "\x3F", 0x0}, {0xA6, "\x40", 0x0},     {0xA7, "\x41", 0x0},     {0xA8, "\x42", 0x0},
    {0xA9, "\x43", 0x0}, {0xAA, "\x44", 0x0},     {0xAB, "\x13", 0x0},     {0xAC, "\x45", 0x0},
    {0xAD, "\x1E", 0x0}, {0xAE, "\x46", 0x0},     {0xAF, "\x47", 0x0},     {0xB0, "\x48", 0x0},
    {0xB1, "\x49", 0x0}, {0xB2, "\x58", 0x0},     {0xB3, "\x59", 0x0},     {0xB4, "\x4A", 0x0},
    {0xB5, "\x4B", 0x0}, {0xB6, "\x4C", 0x0},     {0xB7, "\x4D", 0x0},     {0xB8, "\x4E", 0x0},
    {0xB9, "\x57", 0x0}, {0xBA, "\x4F", 0x0},     {0xBB, "\x13", 0x0},     {0xBC, "\x50", 0x0},
    {0xBD, "\x51", 0x0}, {0xBE, "\x52", 0x0},     {0xBF, "\x53", 0x0},     {0xC0, "\x60", 0x3},
    {0xC1, "\x60", 0x4}, {0xC2, "\x60", 0x5},     {0xC3, "\x60", 0x7},     {0xC4, "\x60", 0x6},
    {0xC5, "\x60", 0x8}, {0xC6, "\x60\x66", 0x0}, {0xC7, "\x62", 0x9},     {0xC8, "\x66", 0x3},
    {0xC9, "\x66", 0x4}, {0xCA, "\x66", 0x5},     {0xCB, "\x66", 0x6},     {0xCC, "\x6A", 0x3},
    {0xCD, "\x6A", 0x4}, {0xCE, "\x6A", 0x5},     {0xCF, "\x6A", 0x6},     {0xD0, "\x65", 0x0},
    {0xD1, "\x70", 0x7}, {0xD2, "\x72", 0x3},     {0xD3, "\x72", 0x4},     {0xD4, "\x72", 0x5},
    {0xD5, "\x72", 0x7}, {0xD6, "\x72", 0x6},     {0xD7, "\x54", 0x0},     {0xD8, "\x81", 0x0},
    {0xD9, "\x78", 0x3}, {0xDA, "\x78", 0x4},     {0xDB, "\x78", 0x5},     {0xDC, "\x78", 0x6},
    {0xDD, "\x7D", 0x4}, {0xDE, "\x7F", 0x0},     {0xDF, "\x76\x76", 0x0}, {0xE0, "\x60", 0x3},
    {0xE1, "\x60", 0x4}, {0xE2, "\x60", 0x5},     {0xE3, "\x60", 0x7},     {0xE4, "\x60", 0x6},
    {0xE5, "\x60", 0x8}, {0xE6, "\x60\x66", 0x0}, {0xE7, "\x62", 0x9},     {0xE8, "\x66", 0x3},
    {0xE9, "\x66", 0x4}, {0xEA, "\x66", 0x5},     {0xEB, "\x66", 0x6},     {0xEC, "\x6A", 0x3},
    {0xED, "\x6A", 0x4}, {0xEE, "\x6A", 0x5},     {0xEF, "\x6A", 0x6},     {0xF0, "\x65", 0x0},
    {0xF1, "\x70", 0x7}, {0xF2, "\x72", 0x3},     {0xF3, "\x72", 0x4},     {0xF4, "\x72", 0x5},
    {0xF5, "\x72", 0x7}, {0xF6, "\x72", 0x6},     {0xF7, "\x55", 0x0},     {0xF8, "\x81", 0x0},
    {0xF9, "\x78", 0x3}, {0xFA, "\x78", 0x4},     {0xFB, "\x78", 0x5},     {0xFC, "\x78", 0x6},
    {0xFD, "\x7D", 0x4}, {0xFE, "\x7F", 0x0},     {0xFF, "\x7D", 0x6},
};

// Jet 4 "General legacy": ASCII.
const CharCode kGeneralLegacy[] = {
    {0x20, "\x07", 0},     {0x21, "\x09", 0},     {0x22, "\x0A", 0},     {0x23, "\x0C", 0},
    {0x24, "\x0E", 0},     {0x25, "\x10", 0},     {0x26, "\x12", 0},     {0x27, "", 0x80},
    {0x28, "\x14", 0},     {0x29, "\x16", 0},     {0x2A, "\x18", 0},     {0x2B, "\x2C", 0},
    {0x2C, "\x1A", 0},     {0x2D, "", 0x82},      {0x2E, "\x1C", 0},     {0x2F, "\x1E", 0},
    {0x30, "\x36", 0},     {0x31, "\x38", 0},     {0x32, "\x3A", 0},     {0x33, "\x3C", 0},
    {0x34, "\x3E", 0},     {0x35, "\x40", 0},     {0x36, "\x42", 0},     {0x37, "\x44", 0},
    {0x38, "\x46", 0},     {0x39, "\x48", 0},     {0x3A, "\x20", 0},     {0x3B, "\x22", 0},
    {0x3C, "\x2E", 0},     {0x3D, "\x30", 0},     {0x3E, "\x32", 0},     {0x3F, "\x24", 0},
    {0x40, "\x26", 0},     {0x41, "\x4A", 0},     {0x42, "\x4C", 0},     {0x43, "\x4D", 0},
    {0x44, "\x4F", 0},     {0x45, "\x51", 0},     {0x46, "\x53", 0},     {0x47, "\x55", 0},
    {0x48, "\x57", 0},     {0x49, "\x59", 0},     {0x4A, "\x5B", 0},     {0x4B, "\x5C", 0},
    {0x4C, "\x5E", 0},     {0x4D, "\x60", 0},     {0x4E, "\x62", 0},     {0x4F, "\x64", 0},
    {0x50, "\x66", 0},     {0x51, "\x68", 0},     {0x52, "\x69", 0},     {0x53, "\x6B", 0},
    {0x54, "\x6D", 0},     {0x55, "\x6F", 0},     {0x56, "\x71", 0},     {0x57, "\x73", 0},
    {0x58, "\x75", 0},     {0x59, "\x76", 0},     {0x5A, "\x78", 0},     {0x5B, "\x27", 0},
    {0x5C, "\x29", 0},     {0x5D, "\x2A", 0},     {0x5E, "\x2B\x02", 0}, {0x5F, "\x2B\x03", 0},
    {0x60, "\x2B\x07", 0}, {0x61, "\x4A", 0},     {0x62, "\x4C", 0},     {0x63, "\x4D", 0},
    {0x64, "\x4F", 0},     {0x65, "\x51", 0},     {0x66, "\x53", 0},     {0x67, "\x55", 0},
    {0x68, "\x57", 0},     {0x69, "\x59", 0},     {0x6A, "\x5B", 0},     {0x6B, "\x5C", 0},
    {0x6C, "\x5E", 0},     {0x6D, "\x60", 0},     {0x6E, "\x62", 0},     {0x6F, "\x64", 0},
    {0x70, "\x66", 0},     {0x71, "\x68", 0},     {0x72, "\x69", 0},     {0x73, "\x6B", 0},
    {0x74, "\x6D", 0},     {0x75, "\x6F", 0},     {0x76, "\x71", 0},     {0x77, "\x73", 0},
    {0x78, "\x75", 0},     {0x79, "\x76", 0},     {0x7A, "\x78", 0},     {0x7B, "\x2B\x09", 0},
    {0x7C, "\x2B\x0B", 0}, {0x7D, "\x2B\x0D", 0}, {0x7E, "\x2B\x0F", 0},
};

const CharCode* Find(const CharCode* table, std::size_t n, char32_t c) {
  for (std::size_t i = 0; i < n; ++i) {
    if (table[i].ch == c) return &table[i];
  }
  return nullptr;
}

[[noreturn]] void UnknownChar(char32_t c, bool jet4) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(c));
  Unsupported(std::string("The name holds the character ") + hex + ", whose index key in a " +
              (jet4 ? "Jet 4" : "Jet 3") + " catalog this writer does not know.");
}

// Letters that take a place in the Jet 3 extra-code block ahead of an accented letter.
bool SignificantJet3(char32_t c) {
  switch (c | 0x20) {
    case 'a':
    case 'c':
    case 'e':
    case 'i':
    case 'n':
    case 'o':
    case 's':
    case 'u':
    case 'y':
      return c < 0x80;
    default:
      return false;
  }
}

void AppendInline(Bytes& out, const char* s) {
  for (; *s != 0; ++s) out.push_back(static_cast<std::uint8_t>(*s));
}

Bytes TextJet3(const std::u32string& text) {
  Bytes out;
  std::vector<int> nibbles;
  int significant = 0;
  for (char32_t c : text) {
    const CharCode* code = Find(kGeneral97, std::size(kGeneral97), c);
    if (code == nullptr) UnknownChar(c, false);
    AppendInline(out, code->inline_);
    if (code->extra == 0) {
      if (SignificantJet3(c)) ++significant;
      continue;
    }
    if (nibbles.empty()) nibbles.push_back(0);
    for (; significant > 0; --significant) nibbles.push_back(2);
    nibbles.push_back(code->extra);
  }
  if (nibbles.empty()) {
    out.push_back(0x00);
    return out;
  }
  nibbles.push_back(0);
  for (std::size_t i = 0; i < nibbles.size(); i += 2) {
    int lo = i + 1 < nibbles.size() ? nibbles[i + 1] : 0;
    out.push_back(static_cast<std::uint8_t>((nibbles[i] << 4) | lo));
  }
  return out;
}

Bytes TextJet4(const std::u32string& text) {
  Bytes out;
  Bytes unprintable;
  int inlineChars = 0;
  for (char32_t c : text) {
    const CharCode* code = Find(kGeneralLegacy, std::size(kGeneralLegacy), c);
    if (code == nullptr) UnknownChar(c, true);
    if (*code->inline_ != 0) {
      AppendInline(out, code->inline_);
      ++inlineChars;
      continue;
    }
    int offset = (7 + 4 * inlineChars) | 0x8000;
    unprintable.push_back(static_cast<std::uint8_t>(offset >> 8));
    unprintable.push_back(static_cast<std::uint8_t>(offset));
    unprintable.push_back(0x06);
    unprintable.push_back(static_cast<std::uint8_t>(code->extra));
  }
  out.push_back(0x01);
  if (!unprintable.empty()) {
    out.insert(out.end(), {0x01, 0x01, 0x01});
    out.insert(out.end(), unprintable.begin(), unprintable.end());
  }
  out.push_back(0x00);
  return out;
}

}  // namespace

Bytes LongKey(std::int32_t v) {
  std::uint32_t u = static_cast<std::uint32_t>(v);
  return {0x7F, static_cast<std::uint8_t>((u >> 24) ^ 0x80), static_cast<std::uint8_t>(u >> 16),
          static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u)};
}

Bytes TextKey(const std::string& utf8, const Format& f) {
  std::u32string text = CodePoints(utf8);
  while (!text.empty() && text.back() == U' ') text.pop_back();
  if (text.size() > 255) text.resize(255);
  Bytes key{0x7F};
  Bytes body = f.jet4 ? TextJet4(text) : TextJet3(text);
  key.insert(key.end(), body.begin(), body.end());
  return key;
}

Bytes RowIdBytes(RowId id) {
  return {static_cast<std::uint8_t>(id.page >> 16), static_cast<std::uint8_t>(id.page >> 8),
          static_cast<std::uint8_t>(id.page), static_cast<std::uint8_t>(id.row)};
}

RowId RowIdOf(const Bytes& entry) {
  std::size_t n = entry.size();
  if (n < 4) BadFormat("an index entry is too short");
  return RowId{
      static_cast<std::uint32_t>((entry[n - 4] << 16) | (entry[n - 3] << 8) | entry[n - 2]),
      entry[n - 1]};
}

namespace {

struct IndexPage {
  bool leaf = false;
  std::uint32_t prev = 0, next = 0, tail = 0;
  std::vector<Bytes> entries;
};

IndexPage ParseIndexPage(const Bytes& p, const Format& f, std::uint32_t pageNo,
                         std::uint32_t tdefPage) {
  std::string where = "index page " + std::to_string(pageNo);
  if ((p[0] != 0x03 && p[0] != 0x04) || p[1] != 0x01) BadFormat(where + " has the wrong type");
  if (Le32(p, 4) != tdefPage) BadFormat(where + " belongs to another table");
  IndexPage ip;
  ip.leaf = p[0] == 0x04;
  ip.prev = Le32(p, f.idxPrev);
  ip.next = Le32(p, f.idxNext);
  ip.tail = Le32(p, f.idxTail);
  std::size_t prefix = f.jet4 ? Le16(p, f.idxPrefix) : p[f.idxPrefix];
  std::size_t start = 0;
  Bytes first;
  for (int bit = 0; bit <= f.idxMaxEntryBytes; ++bit) {
    if (((p[f.idxBitmap + bit / 8] >> (bit % 8)) & 1) == 0) continue;
    std::size_t end = static_cast<std::size_t>(bit);
    if (end <= start || f.idxFirstEntry + end > p.size()) BadFormat(where + " has a bad entry map");
    Bytes raw(p.begin() + f.idxFirstEntry + start, p.begin() + f.idxFirstEntry + end);
    if (ip.entries.empty()) {
      if (prefix > raw.size()) BadFormat(where + " has a prefix longer than its first entry");
      first = raw;
      ip.entries.push_back(raw);
    } else {
      Bytes e(first.begin(), first.begin() + prefix);
      e.insert(e.end(), raw.begin(), raw.end());
      ip.entries.push_back(std::move(e));
    }
    start = end;
  }
  std::size_t used = f.idxFirstEntry + start;
  if (Le16(p, 2) != p.size() - used) BadFormat(where + " has a wrong free-space count");
  for (const Bytes& e : ip.entries) {
    if (e.size() < (ip.leaf ? 5u : 9u)) BadFormat(where + " has a truncated entry");
  }
  return ip;
}

std::uint32_t ChildOf(const Bytes& nodeEntry) {
  std::size_t n = nodeEntry.size();
  return (static_cast<std::uint32_t>(nodeEntry[n - 4]) << 24) | (nodeEntry[n - 3] << 16) |
         (nodeEntry[n - 2] << 8) | nodeEntry[n - 1];
}

struct Walker {
  PageFile& file;
  const Format& f;
  std::uint32_t tdef;
  std::vector<std::string>* problems;
  IndexTree tree;
  std::set<std::uint32_t> seen;
  std::vector<std::uint32_t> leaves;
  std::vector<std::uint32_t> leafPrev, leafNext;

  void Problem(const std::string& what) {
    if (problems == nullptr) BadFormat(what);
    problems->push_back(what);
  }

  // Walks the subtree at `page`; returns the last leaf entry under it.
  Bytes Walk(std::uint32_t page, int depth) {
    if (depth > 8 || page == 0 || page >= file.PageCount() || !seen.insert(page).second) {
      BadFormat("the index tree is not a tree (page " + std::to_string(page) + ")");
    }
    tree.pages.push_back(page);
    IndexPage ip = ParseIndexPage(file.Read(page), f, page, tdef);
    for (std::size_t i = 1; i < ip.entries.size(); ++i) {
      if (!(ip.entries[i - 1] < ip.entries[i])) {
        Problem("index page " + std::to_string(page) + " holds entries out of order");
      }
    }
    if (ip.leaf) {
      if (ip.tail != 0) Problem("leaf page " + std::to_string(page) + " has a child tail");
      leaves.push_back(page);
      leafPrev.push_back(ip.prev);
      leafNext.push_back(ip.next);
      for (Bytes& e : ip.entries) tree.entries.push_back(std::move(e));
      if (ip.entries.empty() && depth > 0)
        Problem("leaf page " + std::to_string(page) + " is empty");
      return tree.entries.empty() ? Bytes{} : tree.entries.back();
    }
    if (ip.entries.empty() && ip.tail == 0)
      Problem("node page " + std::to_string(page) + " is empty");
    Bytes last;
    for (const Bytes& e : ip.entries) {
      last = Walk(ChildOf(e), depth + 1);
      Bytes stored(e.begin(), e.end() - 4);
      if (stored != last) {
        Problem("node page " + std::to_string(page) +
                " holds an entry that is not its child's last entry");
      }
    }
    if (ip.tail != 0) last = Walk(ip.tail, depth + 1);
    return last;
  }
};

}  // namespace

IndexTree ReadIndexTree(PageFile& file, const Format& f, std::uint32_t tdefPage, std::uint32_t root,
                        std::vector<std::string>* problems) {
  Walker w{file, f, tdefPage, problems, {}, {}, {}, {}, {}};
  w.Walk(root, 0);
  for (std::size_t i = 0; i < w.leaves.size(); ++i) {
    std::uint32_t wantPrev = i == 0 ? 0 : w.leaves[i - 1];
    std::uint32_t wantNext = i + 1 == w.leaves.size() ? 0 : w.leaves[i + 1];
    if (w.leafPrev[i] != wantPrev || w.leafNext[i] != wantNext) {
      w.Problem("the leaf chain of the index does not follow the tree at page " +
                std::to_string(w.leaves[i]));
    }
  }
  for (std::size_t i = 1; i < w.tree.entries.size(); ++i) {
    if (!(w.tree.entries[i - 1] < w.tree.entries[i])) {
      w.Problem("the index holds entries out of order or twice");
      break;
    }
  }
  return std::move(w.tree);
}

namespace {

std::size_t CommonPrefix(const Bytes& a, const Bytes& b) {
  std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

// Prefix shared by a page's entries: never reaching the row byte of an entry.
std::size_t PagePrefix(const std::vector<Bytes>& e, std::size_t from, std::size_t to, bool leaf) {
  std::size_t cap = SIZE_MAX;
  for (std::size_t i = from; i < to; ++i) cap = std::min(cap, e[i].size() - (leaf ? 1 : 5));
  return std::min(cap, CommonPrefix(e[from], e[to - 1]));
}

std::size_t PageBytes(const std::vector<Bytes>& e, std::size_t from, std::size_t to, bool leaf) {
  std::size_t prefix = PagePrefix(e, from, to, leaf);
  std::size_t total = 0;
  for (std::size_t i = from; i < to; ++i) total += e[i].size() - (i == from ? 0 : prefix);
  return total;
}

// Splits `e` into runs that fit one page each; every run holds at least one entry and, for node
// pages, the entry of the tail child counts too (it is not stored but must still be reachable).
std::vector<std::pair<std::size_t, std::size_t>> Pack(const std::vector<Bytes>& e, bool leaf,
                                                      const Format& f) {
  std::vector<std::pair<std::size_t, std::size_t>> runs;
  std::size_t from = 0;
  while (from < e.size()) {
    std::size_t to = from + 1;
    if (e[from].size() > static_cast<std::size_t>(f.idxMaxEntryBytes)) {
      Unsupported("An index entry is too long for an index page.");
    }
    // For node pages the last child of a run is the tail: only to-1 entries are stored.
    auto fits = [&](std::size_t end) {
      std::size_t storedEnd = leaf ? end : end - 1;
      if (storedEnd <= from) return true;
      return PageBytes(e, from, storedEnd, leaf) <= static_cast<std::size_t>(f.idxMaxEntryBytes);
    };
    while (to < e.size() && fits(to + 1)) ++to;
    runs.push_back({from, to});
    from = to;
  }
  return runs;
}

Bytes BuildIndexPage(const Format& f, std::uint32_t tdefPage, bool leaf, std::uint32_t prev,
                     std::uint32_t next, std::uint32_t tail, const std::vector<Bytes>& e) {
  Bytes p(static_cast<std::size_t>(f.pageSize), 0);
  p[0] = leaf ? 0x04 : 0x03;
  p[1] = 0x01;
  SetLe32(p, 4, tdefPage);
  SetLe32(p, f.idxPrev, prev);
  SetLe32(p, f.idxNext, next);
  SetLe32(p, f.idxTail, tail);
  std::size_t prefix = e.empty() ? 0 : PagePrefix(e, 0, e.size(), leaf);
  if (f.jet4) {
    SetLe16(p, f.idxPrefix, static_cast<std::uint32_t>(prefix));
  } else {
    if (prefix > 255) prefix = 255;
    p[f.idxPrefix] = static_cast<std::uint8_t>(prefix);
  }
  p[f.idxMarker] = leaf ? 0x00 : 0x01;
  std::size_t at = 0;
  for (std::size_t i = 0; i < e.size(); ++i) {
    std::size_t skip = i == 0 ? 0 : prefix;
    std::size_t len = e[i].size() - skip;
    if (at + len > static_cast<std::size_t>(f.idxMaxEntryBytes)) {
      Unsupported("Index entries do not fit their page.");
    }
    std::copy(e[i].begin() + skip, e[i].end(), p.begin() + f.idxFirstEntry + at);
    at += len;
    p[f.idxBitmap + at / 8] |= static_cast<std::uint8_t>(1 << (at % 8));
  }
  SetLe16(p, 2, static_cast<std::uint32_t>(f.pageSize - f.idxFirstEntry - at));
  return p;
}

Bytes Be32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

}  // namespace

void WriteIndexTreeWith(PageFile& file, const Format& f, std::uint32_t tdefPage,
                        const RealIndex& index, const IndexTree& old,
                        const std::vector<Bytes>& entries, PageAllocator& pages) {
  for (std::size_t i = 1; i < entries.size(); ++i) {
    if (!(entries[i - 1] < entries[i])) {
      throw platform::Error(platform::err::kInternal, "index entries not sorted");
    }
  }
  std::vector<std::uint32_t> spare(old.pages.begin(), old.pages.end());
  spare.erase(std::remove(spare.begin(), spare.end(), index.root), spare.end());
  std::sort(spare.begin(), spare.end());
  std::size_t nextSpare = 0;
  std::vector<std::uint32_t> used;
  auto take = [&]() {
    std::uint32_t p = nextSpare < spare.size() ? spare[nextSpare++] : pages.Allocate();
    used.push_back(p);
    return p;
  };

  // Level by level, bottom up; a node entry is its child's last leaf entry + the child page.
  bool leaf = true;
  std::vector<Bytes> items = entries;     // entries of this level, leaf entries first
  std::vector<Bytes> itemLast = entries;  // the last leaf entry each item stands for
  std::vector<std::uint32_t> childPages;  // for node levels: the child of each item
  std::vector<Bytes> images;
  std::vector<std::uint32_t> imagePages;
  for (int depth = 0;; ++depth) {
    if (depth > 8) Unsupported("The index would grow too deep.");
    auto runs = items.empty() ? std::vector<std::pair<std::size_t, std::size_t>>{{0, 0}}
                              : Pack(items, leaf, f);
    bool top = runs.size() == 1;
    std::vector<std::uint32_t> pageNos;
    for (std::size_t r = 0; r < runs.size(); ++r) pageNos.push_back(top ? index.root : take());
    std::vector<Bytes> parentItems, parentLast;
    std::vector<std::uint32_t> parentChildren;
    for (std::size_t r = 0; r < runs.size(); ++r) {
      auto [from, to] = runs[r];
      std::uint32_t prev = r == 0 ? 0 : pageNos[r - 1];
      std::uint32_t next = r + 1 == runs.size() ? 0 : pageNos[r + 1];
      std::vector<Bytes> stored;
      std::uint32_t tail = 0;
      if (leaf) {
        stored.assign(items.begin() + from, items.begin() + to);
      } else {
        std::size_t storedEnd = to - from > 1 ? to - 1 : to;
        for (std::size_t i = from; i < storedEnd; ++i) {
          Bytes e = itemLast[i];
          Bytes c = Be32(childPages[i]);
          e.insert(e.end(), c.begin(), c.end());
          stored.push_back(std::move(e));
        }
        if (to - from > 1) tail = childPages[to - 1];
      }
      images.push_back(BuildIndexPage(f, tdefPage, leaf, prev, next, tail, stored));
      imagePages.push_back(pageNos[r]);
      if (to > from) {
        parentItems.push_back(itemLast[to - 1]);
        parentLast.push_back(itemLast[to - 1]);
        parentChildren.push_back(pageNos[r]);
      }
    }
    if (top) break;
    items = parentItems;
    itemLast = parentLast;
    childPages = parentChildren;
    leaf = false;
  }
  for (std::size_t i = 0; i < images.size(); ++i) file.Write(imagePages[i], std::move(images[i]));
  for (std::size_t i = nextSpare; i < spare.size(); ++i) {
    SetMapBit(file, f, index.map, spare[i], false);
    pages.Release(spare[i]);
  }
  SetMapBit(file, f, index.map, index.root, true, &pages);
  for (std::uint32_t p : used) SetMapBit(file, f, index.map, p, true, &pages);
}

}  // namespace jetwriter
