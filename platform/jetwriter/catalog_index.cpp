#include "platform/jetwriter/catalog_index.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/dao/dao.h"
#include "platform/error.h"

namespace jetwriter {

Bytes LongKey(std::int32_t v) {
  std::uint32_t u = static_cast<std::uint32_t>(v);
  return {0x7F, static_cast<std::uint8_t>((u >> 24) ^ 0x80), static_cast<std::uint8_t>(u >> 16),
          static_cast<std::uint8_t>(u >> 8), static_cast<std::uint8_t>(u)};
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

Bytes EmptyIndexLeaf(const Format& f, std::uint32_t tdefPage) {
  return BuildIndexPage(f, tdefPage, true, 0, 0, 0, {});
}

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
