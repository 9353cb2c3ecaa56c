#include "platform/jetwriter/catalog.h"

#include <algorithm>
#include <map>
#include <set>

#include "platform/dao/dao.h"
#include "platform/error.h"

namespace jetwriter {
namespace {

struct Expected {
  const char* name;
  int type;
  bool fixed;
};
const Expected kColumns[] = {
    {"Id", kTypeLong, true},
    {"ParentId", kTypeLong, true},
    {"Name", kTypeText, false},
    {"Type", kTypeInt, true},
    {"DateCreate", kTypeDateTime, true},
    {"DateUpdate", kTypeDateTime, true},
    {"Owner", kTypeBinary, false},
    {"Flags", kTypeLong, true},
    {"Database", kTypeMemo, false},
    {"Connect", kTypeMemo, false},
    {"ForeignName", kTypeText, false},
    {"RmtInfoShort", kTypeBinary, false},
    {"RmtInfoLong", kTypeOle, false},
    {"Lv", kTypeOle, false},
    {"LvProp", kTypeOle, false},
};

std::int32_t Int32Of(const std::optional<Bytes>& v) {
  if (!v || v->size() != 4) return 0;
  return static_cast<std::int32_t>(Le32(*v, 0));
}

}  // namespace

Bytes Catalog::NameKey(std::int32_t parentId, const std::string& name) const {
  try {
    Bytes key = LongKey(parentId);
    Bytes text = TextKey(name, f);
    key.insert(key.end(), text.begin(), text.end());
    return key;
  } catch (const platform::Error&) {
    return {};
  }
}

Catalog ReadCatalog(PageFile& file) {
  Catalog c;
  c.f = ReadDatabaseHeader(file);
  c.tdef = ReadTableDef(file, c.f, kCatalogPage);
  const auto& cols = c.tdef.columns;
  for (std::size_t i = 0; i < std::size(kColumns); ++i) {
    if (i >= cols.size() || cols[i].number != static_cast<int>(i) ||
        cols[i].name != kColumns[i].name || cols[i].type != kColumns[i].type ||
        cols[i].fixed() != kColumns[i].fixed) {
      Unsupported(
          "The catalog table MSysObjects is laid out differently from what this writer "
          "knows (column " +
          std::to_string(i) + ").");
    }
  }
  if (cols[col::kName].sortOrder != 0x409 || cols[col::kName].sortVersion > 1) {
    Unsupported(
        "The catalog's names use a sort order other than General; their index keys are "
        "not known.");
  }
  c.f.textSortVersion = cols[col::kName].sortVersion;
  for (std::size_t i = 0; i < c.tdef.indexes.size(); ++i) {
    const RealIndex& ri = c.tdef.indexes[i];
    if (ri.columns == std::vector<int>{col::kParentId, col::kName})
      c.nameIndex = static_cast<int>(i);
    if (ri.columns == std::vector<int>{col::kId}) c.idIndex = static_cast<int>(i);
  }
  if (c.nameIndex < 0 || c.idIndex < 0 ||
      (c.tdef.indexes[static_cast<std::size_t>(c.nameIndex)].flags & 0x01) == 0 ||
      (c.tdef.indexes[static_cast<std::size_t>(c.idIndex)].flags & 0x01) == 0) {
    Unsupported("The catalog table MSysObjects lacks its usual unique indexes.");
  }

  c.dataPages = MapPages(file, c.f, c.tdef.ownedMap);
  std::sort(c.dataPages.begin(), c.dataPages.end());
  for (std::uint32_t page : c.dataPages) {
    Bytes img = file.Read(page);
    DataPage dp = DataPage::Parse(img, c.f, page);
    if (dp.owner != kCatalogPage)
      BadFormat("page " + std::to_string(page) + " is not the catalog's");
    for (std::size_t r = 0; r < dp.rows.size(); ++r) {
      const DataPage::Row& row = dp.rows[r];
      if ((row.flags & kRowDeleted) != 0) continue;  // deleted, or the target of a moved row
      CatalogRow cr;
      cr.id = RowId{page, static_cast<int>(r)};
      cr.dataAt = cr.id;
      Bytes data = row.data;
      if ((row.flags & kRowOverflow) != 0) {
        if (data.size() < 4) BadFormat("a moved row's pointer is too short");
        cr.dataAt = RowId{Le24(data, 1), data[0]};
        if (std::find(c.dataPages.begin(), c.dataPages.end(), cr.dataAt.page) ==
            c.dataPages.end()) {
          BadFormat("a moved catalog row points outside the catalog");
        }
        DataPage target = DataPage::Parse(file.Read(cr.dataAt.page), c.f, cr.dataAt.page);
        if (static_cast<std::size_t>(cr.dataAt.row) >= target.rows.size() ||
            (target.rows[static_cast<std::size_t>(cr.dataAt.row)].flags & kRowOverflow) != 0) {
          Unsupported("A catalog row was moved more than once.");
        }
        data = target.rows[static_cast<std::size_t>(cr.dataAt.row)].data;
      }
      cr.values = DecodeRow(data, c.f, cols);
      cr.objectId = Int32Of(cr.values.values[col::kId]);
      cr.parentId = Int32Of(cr.values.values[col::kParentId]);
      const auto& type = cr.values.values[col::kType];
      cr.type = type && type->size() == 2 ? static_cast<std::int16_t>(Le16(*type, 0)) : 0;
      const auto& name = cr.values.values[col::kName];
      cr.name = name ? DecodeText(*name, c.f) : std::string();
      c.rows.push_back(std::move(cr));
    }
  }
  for (const CatalogRow& r : c.rows) {
    if (r.name == "Tables" && r.type == 3 && r.parentId == 0x0F000000) c.tablesId = r.objectId;
  }
  return c;
}

std::vector<std::string> CheckCatalog(const std::string& path) {
  std::vector<std::string> problems;
  PageFile file(path, LockMode::kHeldByCaller);
  Catalog c;
  try {
    c = ReadCatalog(file);
  } catch (const platform::Error& e) {
    problems.push_back(std::string("catalog does not read: ") + e.what());
    return problems;
  }
  const Format& f = c.f;
  std::vector<std::uint32_t> freeList = MapPages(file, f, MapRef{0, 1});
  std::set<std::uint32_t> freePages(freeList.begin(), freeList.end());
  for (std::uint32_t page : c.dataPages) {
    Bytes img = file.Read(page);
    DataPage dp = DataPage::Parse(img, f, page);
    if (static_cast<int>(Le16(img, 2)) != dp.FreeSpace(f)) {
      problems.push_back("data page " + std::to_string(page) + " has a wrong free-space count");
    }
    if (freePages.count(page) != 0) {
      problems.push_back("data page " + std::to_string(page) + " is marked free");
    }
  }
  if (c.tdef.numRows != c.rows.size()) {
    problems.push_back("the catalog definition counts " + std::to_string(c.tdef.numRows) +
                       " rows, the pages hold " + std::to_string(c.rows.size()));
  }
  for (int which : {c.nameIndex, c.idIndex}) {
    const RealIndex& ri = c.tdef.indexes[static_cast<std::size_t>(which)];
    std::string label = which == c.nameIndex ? "ParentIdName" : "Id";
    IndexTree tree;
    try {
      tree = ReadIndexTree(file, f, kCatalogPage, ri.root, &problems);
    } catch (const platform::Error& e) {
      problems.push_back(label + " index does not read: " + e.what());
      continue;
    }
    std::vector<std::uint32_t> mapList = MapPages(file, f, ri.map);
    std::set<std::uint32_t> mapped(mapList.begin(), mapList.end());
    for (std::uint32_t p : tree.pages) {
      if (mapped.count(p) == 0) {
        problems.push_back(label + " index page " + std::to_string(p) + " is not in its usage map");
      }
      if (freePages.count(p) != 0) {
        problems.push_back(label + " index page " + std::to_string(p) + " is marked free");
      }
    }
    std::map<std::pair<std::uint32_t, int>, Bytes> byRow;
    for (const Bytes& e : tree.entries) {
      RowId id = RowIdOf(e);
      if (!byRow.emplace(std::make_pair(id.page, id.row), Bytes(e.begin(), e.end() - 4)).second) {
        problems.push_back(label + " index holds two entries for one row");
      }
    }
    for (const CatalogRow& r : c.rows) {
      auto it = byRow.find({r.id.page, r.id.row});
      if (it == byRow.end()) {
        problems.push_back(label + " index lacks the row '" + r.name + "'");
        continue;
      }
      Bytes want = which == c.idIndex ? LongKey(r.objectId) : c.NameKey(r.parentId, r.name);
      if (want.empty()) {
        Bytes parent = LongKey(r.parentId);  // name not encodable here: check the parent part
        if (!std::equal(parent.begin(), parent.end(), it->second.begin())) {
          problems.push_back(label + " index holds a wrong key for '" + r.name + "'");
        }
      } else if (want != it->second) {
        problems.push_back(label + " index holds a wrong key for '" + r.name + "'");
      }
      byRow.erase(it);
    }
    for (const auto& [id, key] : byRow) {
      problems.push_back(label + " index holds an entry for page " + std::to_string(id.first) +
                         " row " + std::to_string(id.second) + ", which is no live row");
    }
  }
  // The permissions table's index on ObjectId.
  auto aces = std::find_if(c.rows.begin(), c.rows.end(), [](const CatalogRow& r) {
    return r.name == "MSysACEs" && dao::IsObjectType(r.type, dao::ObjectType::kTable);
  });
  if (aces != c.rows.end()) {
    try {
      TableDef t = ReadTableDef(file, f, static_cast<std::uint32_t>(aces->objectId));
      if (t.indexes.size() == 1 && t.indexes[0].columns == std::vector<int>{0}) {
        std::multiset<Bytes> want;
        for (std::uint32_t page : MapPages(file, f, t.ownedMap)) {
          DataPage dp = DataPage::Parse(file.Read(page), f, page);
          if (freePages.count(page) != 0 || dp.owner != t.page) {
            problems.push_back("MSysACEs page " + std::to_string(page) +
                               " is marked free or belongs to another table");
          }
          for (std::size_t r = 0; r < dp.rows.size(); ++r) {
            if ((dp.rows[r].flags & (kRowDeleted | kRowOverflow)) != 0) continue;
            RowValues v = DecodeRow(dp.rows[r].data, f, t.columns);
            Bytes e = LongKey(Int32Of(v.values[0]));
            Bytes rid = RowIdBytes(RowId{page, static_cast<int>(r)});
            e.insert(e.end(), rid.begin(), rid.end());
            want.insert(e);
          }
        }
        IndexTree tree = ReadIndexTree(file, f, t.page, t.indexes[0].root, &problems);
        if (std::multiset<Bytes>(tree.entries.begin(), tree.entries.end()) != want) {
          problems.push_back("MSysACEs index does not match its rows");
        }
        std::vector<std::uint32_t> mapList = MapPages(file, f, t.indexes[0].map);
        std::set<std::uint32_t> mapped(mapList.begin(), mapList.end());
        for (std::uint32_t p : tree.pages) {
          if (mapped.count(p) == 0) {
            problems.push_back("MSysACEs index page " + std::to_string(p) + " is not in its map");
          }
        }
        // Its row count is not compared: files written by Access already differ there.
      }
    } catch (const platform::Error& e) {
      problems.push_back(std::string("MSysACEs does not read: ") + e.what());
    }
  }
  return problems;
}

}  // namespace jetwriter
