#include "platform/jetwriter/jet_catalog_writer.h"

#include <sql.h>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <map>
#include <string_view>

#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/jetwriter/catalog.h"
#include "platform/jetwriter/long_value.h"
#include "platform/jetwriter/property_record.h"
#include "platform/linked_types.h"
#include "platform/text.h"

namespace jetwriter {
namespace {

constexpr int kInvalidName = 3125;  // "'x' isn't a valid name."
constexpr std::uint32_t kLinkFlags = 0x20100000;
// The DAO connect string of a link to a table of another Access file.
constexpr std::string_view kAccessConnect = ";DATABASE=";

Bytes Le32Bytes(std::uint32_t v) {
  Bytes b(4);
  SetLe32(b, 0, v);
  return b;
}

// Why Access does not allow `name` as an object name ("it is empty", ...), or "" when it does.
std::string AccessNameRule(const std::string& name) {
  if (name.empty()) return "it is empty";
  if (platform::CharCount(name) > 64) return "it is longer than 64 characters";
  if (name.front() == ' ' || name.back() == ' ') return "it begins or ends with a blank";
  for (char32_t c : CodePoints(name))
    if (c < 0x20 || c == 0x7F || c == '.' || c == '!' || c == '`' || c == '[' || c == ']')
      return "it holds a character names may not hold";
  return "";
}

// Access's rules for object names, plus what the index key encoding can hold.
void ValidateName(const std::string& name, const Format& f) {
  if (const std::string why = AccessNameRule(name); !why.empty())
    throw platform::Error(kInvalidName, "'" + name + "' isn't a valid name: " + why + ".");
  EncodeText(name, f);
  TextKey(name, f);
}

// The reason ValidateName refuses `name` for, without the name itself, or "" when it takes it.
std::string NameRefusal(const std::string& name, const Format& f) {
  if (const std::string why = AccessNameRule(name); !why.empty())
    return "It isn't a valid name: " + why + ".";
  try {
    EncodeText(name, f);
    TextKey(name, f);
  } catch (const platform::Error& e) {
    return e.Description();
  }
  return "";
}

// Refuses a value of the catalog column `column` longer than one LVAL row.
void RefuseLongerThanARow(const Format& f, const Bytes& text, const std::string& column) {
  if (text.size() > LongValueRowMax(f)) Unsupported("The " + column + " value is too long.");
}

Bytes KeyOf(const Bytes& entry) {
  return Bytes(entry.begin(), entry.end() - 4);
}

struct LinkColumn {
  std::string name;
  int type = 0;
  int length = 0;
};

// An index of the remote table as the link keeps it: its columns by number.
struct LinkIndex {
  std::string name;
  std::vector<int> columns;
  bool unique = true;
};

// The remote indexes the link can hold, in the remote table's order (at most ten columns, all
// of them linked; an index on the same columns as one before it is kept once; at most 32, as
// Access allows on a table).
std::vector<LinkIndex> LinkIndexes(const RemoteTable& remote) {
  std::vector<LinkIndex> out;
  for (const RemoteIndex& ri : remote.indexes) {
    LinkIndex li{ri.name, {}, ri.unique};
    for (const std::string& column : ri.columns) {
      auto it = std::find_if(remote.columns.begin(), remote.columns.end(),
                             [&](const RemoteColumn& c) { return c.name == column; });
      if (it == remote.columns.end()) break;
      li.columns.push_back(static_cast<int>(it - remote.columns.begin()));
    }
    const bool twice = std::any_of(out.begin(), out.end(),
                                   [&](const LinkIndex& o) { return o.columns == li.columns; });
    if (!li.columns.empty() && li.columns.size() == ri.columns.size() && li.columns.size() <= 10 &&
        !twice && out.size() < 32)
      out.push_back(std::move(li));
  }
  return out;
}

// The remote columns as a link made by Access describes them in RmtInfoLong: for each column its
// ODBC 2 SQL type, its size and its decimal digits (16 bits each, little-endian).
Bytes RemoteInfo(const std::vector<RemoteColumn>& columns) {
  Bytes out;
  for (const RemoteColumn& c : columns) {
    int type = c.sqlType;
    if (type >= 91 && type <= 93) type -= 82;  // date, time, timestamp: 9, 10, 11
    const auto size = static_cast<std::uint32_t>(std::clamp<long>(c.size, 0, 0xFFFF));
    for (std::uint32_t v : {static_cast<std::uint32_t>(type) & 0xFFFF, size,
                            static_cast<std::uint32_t>(std::max(c.digits, 0))}) {
      out.push_back(static_cast<std::uint8_t>(v));
      out.push_back(static_cast<std::uint8_t>(v >> 8));
    }
  }
  return out;
}

// The link's column for a remote column, of the type Access gives it (platform/linked_types.h).
LinkColumn MapColumn(const RemoteColumn& rc, const Format& f) {
  const platform::LinkedType t = platform::LinkedTypeOf(rc.sqlType, rc.size, rc.digits);
  LinkColumn c{rc.name, t.type, 0};
  switch (t.type) {
    case kTypeBool:
    case kTypeByte:
      c.length = 1;
      break;
    case kTypeInt:
      c.length = 2;
      break;
    case kTypeLong:
    case kTypeFloat:
      c.length = 4;
      break;
    case kTypeDouble:
    case kTypeDateTime:
      c.length = 8;
      break;
    case kTypeGuid:
      c.length = 16;
      break;
    case kTypeText:
      c.length = t.chars * (f.jet4 ? 2 : 1);
      break;
    case kTypeBinary:
      c.length = t.chars;
      break;
    case kTypeMemo:
    case kTypeOle:
      break;
    default:
      Unsupported("The remote column '" + rc.name + "' has the ODBC type " +
                  std::to_string(rc.sqlType) + ", which a linked table cannot describe.");
  }
  return c;
}

bool IsLongValue(int type) {
  return type == kTypeMemo || type == kTypeOle;
}

class JetCatalogWriter : public platform::AccessCatalogWriter, private PageAllocator {
 public:
  JetCatalogWriter(const std::string& path, LockMode mode, ReplaceMode replace)
      : file_(path, mode, replace) {
    if (const std::string note = PageFile::ForeignJournalNote(file_.Path()); !note.empty())
      throw platform::Error(dao::err::kCouldNotLock, note);
    if (mode == LockMode::kExclusive) PageFile::RemoveStaleWorkCopy(file_.Path());
    ReadCatalog(file_);  // refuse a file we cannot change before anything else
  }

  void RenameTable(const std::string& oldName, const std::string& newName) override {
    Change([&] { Rename(oldName, newName); });
  }

  using platform::AccessCatalogWriter::AppendLinkedTable;
  void AppendLinkedTable(const std::string& name, const std::string& connect,
                         const std::string& sourceTableName,
                         const std::string& propertiesOf) override {
    if (platform::StartsWithNoCase(connect, kAccessConnect))
      Change(
          [&] { AppendAccessLink(name, connect.substr(kAccessConnect.size()), sourceTableName); });
    else
      Change([&] { AppendLink(name, connect, sourceTableName, propertiesOf); });
  }

  void Finish() override { file_.Finish(); }
  void SetBeforeReplace(std::function<void(const std::string&, const std::string&)> hook) override {
    file_.SetBeforeReplace(std::move(hook));
  }
  std::string CurrentPath() const override { return file_.CurrentPath(); }

  const std::string& Backup() const { return file_.BackupPath(); }

 private:
  template <class Body>
  void Change(Body body) {
    addedPages_.clear();
    try {
      body();
      file_.Commit();
    } catch (...) {
      file_.Discard();
      throw;
    }
  }

  std::uint32_t Allocate() override {
    std::uint32_t page = file_.Allocate();
    SetMapBit(file_, format_, MapRef{0, 1}, page, false);
    return page;
  }
  void Release(std::uint32_t page) override { SetMapBit(file_, format_, MapRef{0, 1}, page, true); }

  const CatalogRow& FindTable(const Catalog& cat, const std::string& name) {
    const CatalogRow* match = nullptr;
    for (const CatalogRow& r : cat.rows) {
      if (r.parentId != cat.tablesId) continue;
      if (!dao::IsObjectType(r.type, dao::ObjectType::kTable) &&
          !dao::IsObjectType(r.type, dao::ObjectType::kOdbcLink) &&
          !dao::IsObjectType(r.type, dao::ObjectType::kAccessLink))
        continue;
      if (r.name == name) return r;
      if (match == nullptr && platform::EqualsNoCase(r.name, name)) match = &r;
    }
    if (match == nullptr) {
      throw platform::Error(dao::err::kItemNotFound,
                            "Item not found in this collection: '" + name + "'.");
    }
    return *match;
  }

  void RefuseTaken(const IndexTree& tree, const Bytes& key, RowId self, const std::string& name) {
    for (const Bytes& e : tree.entries) {
      if (KeyOf(e) == key && !(RowIdOf(e) == self)) {
        throw platform::Error(dao::err::kObjectExists, "Object '" + name + "' already exists.");
      }
    }
  }

  void Rename(const std::string& oldName, const std::string& newName) {
    Catalog cat = ReadCatalog(file_);
    format_ = cat.f;
    const Format& f = cat.f;
    const CatalogRow& row = FindTable(cat, oldName);
    ValidateName(newName, f);
    const RealIndex& nameIdx = cat.tdef.indexes[static_cast<std::size_t>(cat.nameIndex)];
    IndexTree tree = ReadIndexTree(file_, f, kCatalogPage, nameIdx.root);
    Bytes newKey = cat.NameKey(row.parentId, newName);
    RefuseTaken(tree, newKey, row.id, newName);

    RowValues values = row.values;
    values.values[col::kName] = EncodeText(newName, f);
    values.values[col::kDateUpdate] = OleDateNow();
    Bytes newRow = EncodeRow(values, f, cat.tdef.columns);
    DataPage page = DataPage::Parse(file_.Read(row.dataAt.page), f, row.dataAt.page);
    auto& slot = page.rows.at(static_cast<std::size_t>(row.dataAt.row));
    slot.data = newRow;
    RowId newId = row.id;
    if (page.FreeSpace(f) < 0) {
      // No room for the longer row: delete it here (as Access deletes) and add it after the
      // last row of the catalog; both indexes then point at its new place.
      slot = DataPage::Row{kRowDeleted | kRowOverflow, {}};
      file_.Write(row.dataAt.page, page.Build(f));
      if (row.dataAt == row.id) {
        newId = PlaceRow(cat, newRow, 0);
      } else {
        // A moved row: its first place keeps pointing at the data, which moves again.
        RowId target = PlaceRow(cat, newRow, kRowDeleted);
        DataPage head = DataPage::Parse(file_.Read(row.id.page), f, row.id.page);
        Bytes pointer(4);
        pointer[0] = static_cast<std::uint8_t>(target.row);
        SetLe24(pointer, 1, target.page);
        head.rows.at(static_cast<std::size_t>(row.id.row)).data = pointer;
        file_.Write(row.id.page, head.Build(f));
      }
    } else {
      file_.Write(row.dataAt.page, page.Build(f));
    }
    Bytes rid = RowIdBytes(newId);
    std::vector<Bytes> entries;
    for (const Bytes& e : tree.entries) {
      if (!(RowIdOf(e) == row.id)) entries.push_back(e);
    }
    Bytes entry = newKey;
    entry.insert(entry.end(), rid.begin(), rid.end());
    entries.push_back(entry);
    std::sort(entries.begin(), entries.end());
    WriteIndexTreeWith(file_, f, kCatalogPage, nameIdx, tree, entries, *this);
    if (!(newId == row.id)) {
      const RealIndex& idIdx = cat.tdef.indexes[static_cast<std::size_t>(cat.idIndex)];
      IndexTree ids = ReadIndexTree(file_, f, kCatalogPage, idIdx.root);
      std::vector<Bytes> idEntries;
      for (const Bytes& e : ids.entries) {
        if (!(RowIdOf(e) == row.id)) idEntries.push_back(e);
      }
      Bytes idEntry = LongKey(row.objectId);
      idEntry.insert(idEntry.end(), rid.begin(), rid.end());
      idEntries.push_back(idEntry);
      std::sort(idEntries.begin(), idEntries.end());
      WriteIndexTreeWith(file_, f, kCatalogPage, idIdx, ids, idEntries, *this);
    }
  }

  // Adds a catalog row after every row there is, so a scan of the catalog meets it last.
  RowId PlaceRow(const Catalog& cat, const Bytes& row, std::uint16_t flags) {
    return AppendRow(cat.f, cat.tdef, cat.dataPages, row, flags);
  }

  // Adds a row to table `t` (data pages `pages`) after every row it has.
  RowId AppendRow(const Format& f, const TableDef& t, const std::vector<std::uint32_t>& pages,
                  const Bytes& row, std::uint16_t flags) {
    std::vector<std::uint32_t>& added = addedPages_[t.page];
    std::uint32_t last = pages.empty() ? 0 : *std::max_element(pages.begin(), pages.end());
    for (std::uint32_t p : added) last = std::max(last, p);
    DataPage dp;
    if (last != 0) dp = DataPage::Parse(file_.Read(last), f, last);
    if (last == 0 || dp.rows.size() >= 255 || dp.FreeSpace(f) < static_cast<int>(row.size()) + 2) {
      last = Allocate();
      added.push_back(last);
      dp = DataPage{};
      dp.header = DataPage::NewHeader(f, t.page);
      SetMapBit(file_, f, t.ownedMap, last, true, this);
      SetMapBit(file_, f, t.freeMap, last, true, this);
    }
    RowId at{last, static_cast<int>(dp.rows.size())};
    dp.rows.push_back({flags, row});
    file_.Write(last, dp.Build(f));
    return at;
  }

  // The permissions of a new object: Access gives each object the entries (MSysACEs rows) that
  // its container's entries list, with full rights, as every table in the file has them.
  void AddAccessControlEntries(const Catalog& cat, std::int32_t objectId) {
    const Format& f = cat.f;
    auto aces = std::find_if(cat.rows.begin(), cat.rows.end(), [&](const CatalogRow& r) {
      return r.name == "MSysACEs" && dao::IsObjectType(r.type, dao::ObjectType::kTable);
    });
    if (aces == cat.rows.end()) return;  // a file without permissions table
    TableDef t = ReadTableDef(file_, f, static_cast<std::uint32_t>(aces->objectId));
    const std::vector<std::pair<const char*, int>> want = {{"ObjectId", kTypeLong},
                                                           {"SID", kTypeBinary},
                                                           {"ACM", kTypeLong},
                                                           {"FInheritable", kTypeBool}};
    if (t.columns.size() != want.size() || t.indexes.size() != 1 ||
        t.indexes[0].columns != std::vector<int>{0}) {
      Unsupported(
          "The permissions table MSysACEs is laid out differently from what this writer "
          "knows.");
    }
    for (std::size_t i = 0; i < want.size(); ++i) {
      if (t.columns[i].name != want[i].first || t.columns[i].type != want[i].second ||
          t.columns[i].number != static_cast<int>(i)) {
        Unsupported("The permissions table MSysACEs has unexpected columns.");
      }
    }
    std::vector<std::uint32_t> pages = MapPages(file_, f, t.ownedMap);
    std::vector<Bytes> sids;
    int columnCount = static_cast<int>(Le16(t.bytes, f.tdefMaxCols));
    for (std::uint32_t page : pages) {
      DataPage dp = DataPage::Parse(file_.Read(page), f, page);
      if (dp.owner != t.page) BadFormat("a page of MSysACEs belongs to another table");
      for (const DataPage::Row& r : dp.rows) {
        if ((r.flags & (kRowDeleted | kRowOverflow)) != 0) continue;
        RowValues v = DecodeRow(r.data, f, t.columns);
        if (v.values[0] && Le32(*v.values[0], 0) == static_cast<std::uint32_t>(cat.tablesId) &&
            v.values[1]) {
          sids.push_back(*v.values[1]);
        }
      }
    }
    if (sids.empty()) return;
    const RealIndex& idx = t.indexes[0];
    IndexTree tree = ReadIndexTree(file_, f, t.page, idx.root);
    std::vector<Bytes> entries = tree.entries;
    for (const Bytes& sid : sids) {
      RowValues v;
      v.columnCount = columnCount;
      v.values.resize(4);
      v.values[0] = Le32Bytes(static_cast<std::uint32_t>(objectId));
      v.values[1] = sid;
      v.values[2] = Le32Bytes(1048575);  // every right
      v.values[3] = Bytes{0};
      RowId at = AppendRow(f, t, pages, EncodeRow(v, f, t.columns), 0);
      Bytes e = LongKey(objectId);
      Bytes rid = RowIdBytes(at);
      e.insert(e.end(), rid.begin(), rid.end());
      entries.push_back(e);
    }
    std::sort(entries.begin(), entries.end());
    WriteIndexTreeWith(file_, f, t.page, idx, tree, entries, *this);
    Bytes def = file_.Read(t.page);
    SetLe32(def, f.tdefNumRows, Le32(def, f.tdefNumRows) + static_cast<std::uint32_t>(sids.size()));
    SetLe32(def, idx.slotAt, Le32(def, idx.slotAt) + 1);  // one new distinct key
    file_.Write(t.page, def);
  }

  // Map rows for a link: the table's owned and free maps, then a pair per long-value column.
  std::vector<MapRef> NewEmptyMaps(const Format& f, int count) {
    return NewMaps(
        f, std::vector<Bytes>(static_cast<std::size_t>(count), Bytes(f.jet4 ? 69 : 133, 0)));
  }

  // An inline usage map holding `page` alone.
  static Bytes MapOf(const Format& f, std::uint32_t page) {
    Bytes row(f.jet4 ? 69 : 133, 0);
    const std::uint32_t start = page & ~7u;
    SetLe32(row, 1, start);
    row[5] = static_cast<std::uint8_t>(1 << (page - start));
    return row;
  }

  // Places usage-map rows on new holder pages.
  std::vector<MapRef> NewMaps(const Format& f, const std::vector<Bytes>& rows) {
    std::vector<MapRef> refs;
    DataPage holder;
    std::uint32_t holderPage = 0;
    auto flush = [&] {
      if (holderPage != 0) file_.Write(holderPage, holder.Build(f));
    };
    for (const Bytes& mapRow : rows) {
      if (holderPage == 0 || holder.FreeSpace(f) < static_cast<int>(mapRow.size()) + 2 ||
          holder.rows.size() >= 255) {
        flush();
        holderPage = Allocate();
        holder = DataPage{};
        holder.header = DataPage::NewHeader(f, 0);
      }
      holder.rows.push_back({0, mapRow});
      refs.push_back(MapRef{static_cast<int>(holder.rows.size() - 1), holderPage});
    }
    flush();
    return refs;
  }

  static void PutRef(Bytes& b, std::size_t at, MapRef r) {
    b[at] = static_cast<std::uint8_t>(r.row);
    SetLe24(b, at + 1, r.page);
  }

  // Appends the real indexes, the logical indexes and their names to the definition `t`.
  static void AppendIndexes(const Format& f, Bytes& t, const std::vector<LinkIndex>& indexes,
                            const std::vector<std::uint32_t>& roots,
                            const std::vector<MapRef>& indexMaps) {
    SetLe32(t, f.tdefNumIdx, static_cast<std::uint32_t>(indexes.size()));
    SetLe32(t, f.tdefNumRealIdx, static_cast<std::uint32_t>(indexes.size()));
    for (std::size_t i = 0; i < indexes.size(); ++i) {
      Bytes r(static_cast<std::size_t>(f.realIdxSize), 0);
      std::size_t at = 0;
      if (f.jet4) {
        SetLe32(r, 0, 1923);
        at = 4;
      }
      for (std::size_t k = 0; k < 10; ++k, at += 3) {
        SetLe16(r, at,
                k < indexes[i].columns.size() ? static_cast<std::uint32_t>(indexes[i].columns[k])
                                              : 0xFFFF);
        r[at + 2] = k < indexes[i].columns.size() ? 0x01 : 0x00;
      }
      PutRef(r, at, indexMaps[i]);
      SetLe32(r, at + 4, roots[i]);
      // Unique, and required as well for the key; 0x80 on every index, as in the Access-made link.
      const bool key = i == 0 && indexes[i].unique;
      r[at + 8 + (f.jet4 ? 4 : 0)] = static_cast<std::uint8_t>(key                 ? 0x89
                                                               : indexes[i].unique ? 0x81
                                                                                   : 0x80);
      t.insert(t.end(), r.begin(), r.end());
    }
    for (std::size_t i = 0; i < indexes.size(); ++i) {
      Bytes l(static_cast<std::size_t>(f.logIdxSize), 0);
      std::size_t at = 0;
      if (f.jet4) {
        SetLe32(l, 0, 1625);
        at = 4;
      }
      SetLe32(l, at, static_cast<std::uint32_t>(i));      // index number
      SetLe32(l, at + 4, static_cast<std::uint32_t>(i));  // its real index
      SetLe32(l, at + 9, 0xFFFFFFFF);                     // no related index
      l[at + 17] = 0x04;                                  // as Access writes them in a link
      l[at + 18] = 0x04;
      l[at + 19] = i == 0 && indexes[i].unique ? 0x01 : 0x00;  // the key
      t.insert(t.end(), l.begin(), l.end());
    }
    for (const LinkIndex& index : indexes) {
      Bytes n = EncodeText(index.name, f);
      t.push_back(static_cast<std::uint8_t>(n.size()));
      if (f.jet4) t.push_back(static_cast<std::uint8_t>(n.size() >> 8));
      t.insert(t.end(), n.begin(), n.end());
    }
  }

  // The definition of a link at page `tdefPage`: the remote columns, and the remote indexes
  // each with an empty root page and its usage map, the first one as the key when it is unique
  // (as Access keeps them, so that the link can be changed).
  Bytes LinkTableDef(const Format& f, std::uint32_t tdefPage, const std::vector<LinkColumn>& cols,
                     const std::vector<LinkIndex>& indexes) {
    int numLv = 0, numVar = 0;
    for (const LinkColumn& c : cols) {
      numLv += IsLongValue(c.type) ? 1 : 0;
    }
    std::vector<MapRef> maps = NewEmptyMaps(f, 2 + 2 * numLv);
    std::vector<std::uint32_t> roots;
    std::vector<Bytes> indexMapRows;
    for (std::size_t i = 0; i < indexes.size(); ++i) {
      roots.push_back(Allocate());
      file_.Write(roots.back(), EmptyIndexLeaf(f, tdefPage));
      indexMapRows.push_back(MapOf(f, roots.back()));
    }
    const std::vector<MapRef> indexMaps = NewMaps(f, indexMapRows);
    Bytes t(static_cast<std::size_t>(f.tdefIdxSlots + indexes.size() * f.idxSlotSize), 0);
    t[0] = 0x02;
    t[1] = 0x01;
    if (f.jet4) {
      SetLe32(t, 12, 1625);
      t[24] = 0x01;
    } else {
      Bytes catalogDef = file_.Read(kCatalogPage);
      t[2] = catalogDef[2];
      t[3] = catalogDef[3];
    }
    t[static_cast<std::size_t>(f.tdefType)] = 0x4E;
    SetLe16(t, f.tdefMaxCols, static_cast<std::uint32_t>(cols.size()));
    SetLe16(t, f.tdefNumCols, static_cast<std::uint32_t>(cols.size()));
    PutRef(t, static_cast<std::size_t>(f.tdefOwnedMap), maps[0]);
    PutRef(t, static_cast<std::size_t>(f.tdefFreeMap), maps[1]);
    int fixedOffset = 0;
    Bytes names;
    Bytes trailer;
    std::size_t nextMap = 2;
    for (std::size_t i = 0; i < cols.size(); ++i) {
      const LinkColumn& c = cols[i];
      bool fixed =
          c.type != kTypeText && c.type != kTypeMemo && c.type != kTypeOle && c.type != kTypeBinary;
      Bytes d(static_cast<std::size_t>(f.colDescSize), 0);
      d[0] = static_cast<std::uint8_t>(c.type);
      SetLe16(d, f.colNumber, static_cast<std::uint32_t>(i));
      SetLe16(d, f.colVarIndex, static_cast<std::uint32_t>(numVar));
      SetLe16(d, f.colNumber + 4, static_cast<std::uint32_t>(i));  // column index
      if (f.jet4) {
        SetLe32(d, 1, 1625);
        if (c.type == kTypeText || c.type == kTypeMemo) {
          SetLe16(d, f.colSort, 0x409);
          d[14] = static_cast<std::uint8_t>(f.textSortVersion);
        }
      } else {
        SetLe16(d, f.colSort, 0x409);
        SetLe16(d, 11, 1252);
      }
      d[static_cast<std::size_t>(f.colFlags)] = fixed ? 0x03 : 0x02;
      SetLe16(d, f.colFixedOffset, fixed ? static_cast<std::uint32_t>(fixedOffset) : 0);
      SetLe16(d, f.colLength, static_cast<std::uint32_t>(c.length));
      if (fixed && c.type != kTypeBool) fixedOffset += c.length;
      if (!fixed) ++numVar;
      t.insert(t.end(), d.begin(), d.end());
      Bytes n = EncodeText(c.name, f);
      if (f.jet4) {
        names.push_back(static_cast<std::uint8_t>(n.size()));
        names.push_back(static_cast<std::uint8_t>(n.size() >> 8));
      } else {
        names.push_back(static_cast<std::uint8_t>(n.size()));
      }
      names.insert(names.end(), n.begin(), n.end());
      if (IsLongValue(c.type)) {
        Bytes e(10, 0);
        SetLe16(e, 0, static_cast<std::uint32_t>(i));
        PutRef(e, 2, maps[nextMap++]);
        PutRef(e, 6, maps[nextMap++]);
        trailer.insert(trailer.end(), e.begin(), e.end());
      }
    }
    SetLe16(t, f.tdefNumVarCols, static_cast<std::uint32_t>(numVar));
    t.insert(t.end(), names.begin(), names.end());
    AppendIndexes(f, t, indexes, roots, indexMaps);
    t.insert(t.end(), trailer.begin(), trailer.end());
    t.push_back(0xFF);
    t.push_back(0xFF);
    SetLe32(t, 8, static_cast<std::uint32_t>(t.size()));
    return t;
  }

  // Writes the definition `t` from page `first` on, over as many pages as it needs: each further
  // page starts with a header of its own (type, free space, 0 as its next page) and holds the
  // next part; each page points at the next.
  void WriteTableDef(const Format& f, std::uint32_t first, const Bytes& t) {
    const std::size_t pageSize = static_cast<std::size_t>(f.pageSize);
    std::uint32_t page = first;
    for (std::size_t at = 0; at < t.size();) {
      Bytes img(pageSize, 0);
      std::size_t from = 0;  // where this page's part of the definition starts
      if (at > 0) {
        img[0] = 0x02;
        img[1] = 0x01;
        if (!f.jet4) std::copy(t.begin() + 2, t.begin() + 4, img.begin() + 2);
        from = 8;
      }
      const std::size_t n = std::min(pageSize - from, t.size() - at);
      std::copy(t.begin() + static_cast<std::ptrdiff_t>(at),
                t.begin() + static_cast<std::ptrdiff_t>(at + n),
                img.begin() + static_cast<std::ptrdiff_t>(from));
      at += n;
      const std::uint32_t next = at < t.size() ? Allocate() : 0;
      SetLe32(img, 4, next);
      if (f.jet4)
        SetLe16(img, 2, static_cast<std::uint32_t>(pageSize - std::min(pageSize, from + n + 8)));
      file_.Write(page, std::move(img));
      page = next;
    }
  }

  // The value of a memo column of the catalog (Connect, Database): inline when short, otherwise
  // on a page of its own.
  Bytes MemoValue(const Catalog& cat, int column, const std::string& value) {
    return LongValue(cat, column, EncodeText(value, cat.f));
  }

  // The value of a long-value column of the catalog: inline when short and `mayInline`,
  // otherwise on a page of its own, or on a chain of pages when `mayChain`.
  Bytes LongValue(const Catalog& cat, int column, const Bytes& text, bool mayInline = true,
                  bool mayChain = false) {
    const Format& f = cat.f;
    if (text.size() <= 64 && mayInline) {
      Bytes header(12, 0);
      SetLe32(header, 0, static_cast<std::uint32_t>(text.size()) | 0x80000000u);
      header.insert(header.end(), text.begin(), text.end());
      return header;
    }
    auto lv = std::find_if(cat.tdef.lvMaps.begin(), cat.tdef.lvMaps.end(),
                           [&](const TableDef::LongValueMaps& m) { return m.column == column; });
    if (lv == cat.tdef.lvMaps.end())
      Unsupported("The catalog has no map for its " + cat.Col(column).name + " column.");
    if (!mayChain) RefuseLongerThanARow(f, text, cat.Col(column).name);
    return StoreLongValue(file_, f, text, *this, lv->owned, lv->free);
  }

  // Checks the name of a new table entry: valid, and not taken.
  void CheckNewName(const Catalog& cat, const std::string& name) {
    ValidateName(name, cat.f);
    const RealIndex& nameIdx = cat.tdef.indexes[static_cast<std::size_t>(cat.nameIndex)];
    IndexTree names = ReadIndexTree(file_, cat.f, kCatalogPage, nameIdx.root);
    RefuseTaken(names, cat.NameKey(cat.tablesId, name), RowId{0xFFFFFFFF, -1}, name);
  }

  // A catalog row for a new table entry with object id `id`; the caller fills in the rest.
  RowValues NewEntry(const Catalog& cat, const std::string& name, std::int32_t id,
                     dao::ObjectType type, std::uint32_t flags) {
    const Format& f = cat.f;
    RowValues v;
    v.columnCount = static_cast<int>(Le16(cat.tdef.bytes, f.tdefMaxCols));
    v.values.resize(cat.tdef.columns.size());
    v.values[col::kId] = Le32Bytes(static_cast<std::uint32_t>(id));
    v.values[col::kParentId] = Le32Bytes(static_cast<std::uint32_t>(cat.tablesId));
    v.values[col::kName] = EncodeText(name, f);
    v.values[col::kType] = Bytes{static_cast<std::uint8_t>(static_cast<int>(type)), 0};
    v.values[col::kDateCreate] = OleDateNow();
    v.values[col::kDateUpdate] = OleDateNow();
    v.values[col::kOwner] = OwnerForNewObject(cat);
    v.values[col::kFlags] = Le32Bytes(flags);
    return v;
  }

  // Adds the row after every catalog row, enters it in both indexes, counts it, and gives the
  // new object its permissions. The caller has checked the name with CheckNewName.
  void AddEntry(const Catalog& cat, const std::string& name, const RowValues& v) {
    const Format& f = cat.f;
    const std::int32_t id = static_cast<std::int32_t>(Le32(*v.values[col::kId], 0));
    const RealIndex& nameIdx = cat.tdef.indexes[static_cast<std::size_t>(cat.nameIndex)];
    const RealIndex& idIdx = cat.tdef.indexes[static_cast<std::size_t>(cat.idIndex)];
    IndexTree names = ReadIndexTree(file_, f, kCatalogPage, nameIdx.root);
    IndexTree ids = ReadIndexTree(file_, f, kCatalogPage, idIdx.root);
    const Bytes nameKey = cat.NameKey(cat.tablesId, name);
    const Bytes idKey = LongKey(id);
    RefuseTaken(ids, idKey, RowId{0xFFFFFFFF, -1}, name);  // the name was checked first

    RowId at = PlaceRow(cat, EncodeRow(v, f, cat.tdef.columns), 0);

    Bytes def = file_.Read(kCatalogPage);
    SetLe32(def, f.tdefNumRows, Le32(def, f.tdefNumRows) + 1);
    for (const RealIndex* ri : {&nameIdx, &idIdx})
      SetLe32(def, ri->slotAt, Le32(def, ri->slotAt) + 1);
    file_.Write(kCatalogPage, def);

    Bytes rid = RowIdBytes(at);
    auto add = [&](IndexTree& tree, Bytes key, const RealIndex& idx) {
      key.insert(key.end(), rid.begin(), rid.end());
      std::vector<Bytes> entries = tree.entries;
      entries.push_back(key);
      std::sort(entries.begin(), entries.end());
      WriteIndexTreeWith(file_, f, kCatalogPage, idx, tree, entries, *this);
    };
    add(names, nameKey, nameIdx);
    add(ids, idKey, idIdx);
    AddAccessControlEntries(cat, id);
  }

  // The property record of the table `table`, or none. A record that does not decode gives
  // none: the link is made without properties, and the report names those left behind.
  PropertyRecord PropertiesOf(const Catalog& cat, const std::string& table) {
    const std::optional<Bytes>& field = FindTable(cat, table).values.values.at(col::kLvProp);
    if (!field) return {};
    try {
      return ParsePropertyRecord(ReadLongValue(file_, cat.f, *field), cat.f);
    } catch (const platform::Error& e) {
      if (e.Number() != dao::err::kUnrecognizedFormat) throw;
      return {};
    }
  }

  void AppendLink(const std::string& name, const std::string& connect, const std::string& source,
                  const std::string& propertiesOf) {
    Catalog cat = ReadCatalog(file_);
    format_ = cat.f;
    const Format& f = cat.f;
    CheckNewName(cat, name);
    if (source.empty()) Unsupported("The linked table has no source table name.");
    EncodeText(source, f);
    const std::string odbc = platform::WithoutOdbcPrefix(connect);
    if (odbc.empty()) Unsupported("The linked table has no ODBC connect string.");

    const PropertyRecord original =
        propertiesOf.empty() ? PropertyRecord{} : PropertiesOf(cat, propertiesOf);
    const RemoteTable remote = ReadRemoteTable(odbc, source);
    std::vector<LinkColumn> cols;
    for (const RemoteColumn& rc : remote.columns) {
      if (platform::CharCount(rc.name) > 64 || rc.name.empty()) {
        Unsupported("The remote column name '" + rc.name + "' cannot be linked.");
      }
      EncodeText(rc.name, f);
      cols.push_back(MapColumn(rc, f));
    }
    if (cols.size() > 255) Unsupported("The remote table has more than 255 columns.");

    std::uint32_t tdefPage = Allocate();
    WriteTableDef(f, tdefPage, LinkTableDef(f, tdefPage, cols, LinkIndexes(remote)));
    RowValues v = NewEntry(cat, name, static_cast<std::int32_t>(tdefPage),
                           dao::ObjectType::kOdbcLink, kLinkFlags);
    const Bytes created = *v.values[col::kDateCreate];
    // Stored without its "ODBC;" prefix, as Access stores it; the type (4) says it is ODBC.
    // Never with a password: the driver finds it where its client library looks (for psqlODBC,
    // PGPASSWORD or the password file).
    v.values[col::kConnect] = MemoValue(cat, col::kConnect, platform::odbc::WithoutPassword(odbc));
    v.values[col::kForeignName] = EncodeText(source, f);
    // Out of the row in Jet 3, whose catalog rows must stay under 256 bytes.
    v.values[col::kRmtInfoLong] =
        LongValue(cat, col::kRmtInfoLong, RemoteInfo(remote.columns), f.jet4);
    std::vector<std::string> names;
    for (const RemoteColumn& rc : remote.columns) names.push_back(rc.name);
    if (const Bytes props =
            BuildPropertyRecord(LinkPropertiesFor(original, name, names, created, f), f);
        !props.empty())
      v.values[col::kLvProp] = LongValue(cat, col::kLvProp, props, f.jet4, true);
    AddEntry(cat, name, v);
  }

  // A link to table `source` of the Access file `database` (type 6). Such an entry has no table
  // definition page of its own: its id is the next of the ids below zero, which count up from
  // the smallest integer. Connect stays empty (an Access back-end needs no driver); the path
  // goes to Database and the table's name to ForeignName.
  void AppendAccessLink(const std::string& name, const std::string& database,
                        const std::string& source) {
    Catalog cat = ReadCatalog(file_);
    format_ = cat.f;
    const Format& f = cat.f;
    CheckNewName(cat, name);
    if (database.empty()) Unsupported("The linked table names no Access file.");
    if (source.empty()) Unsupported("The linked table has no source table name.");
    if (platform::CharCount(source) > 64) Unsupported("The source table name is too long.");
    std::int32_t id = std::numeric_limits<std::int32_t>::min();
    for (const CatalogRow& r : cat.rows)
      if (r.objectId < 0) id = std::max(id, r.objectId);
    if (id == -1) Unsupported("The catalog has no free id for a linked table.");
    ++id;
    RowValues v = NewEntry(cat, name, id, dao::ObjectType::kAccessLink, 0);
    v.values[col::kDatabase] = MemoValue(cat, col::kDatabase, database);
    v.values[col::kForeignName] = EncodeText(source, f);
    AddEntry(cat, name, v);
  }

  // New objects get the owner of the database object (MSysDb), or of an existing table.
  static Bytes OwnerForNewObject(const Catalog& cat) {
    for (const CatalogRow& r : cat.rows) {
      if (r.name == "MSysDb" && r.values.values[col::kOwner]) return *r.values.values[col::kOwner];
    }
    for (const CatalogRow& r : cat.rows) {
      if (dao::IsObjectType(r.type, dao::ObjectType::kTable) && r.parentId == cat.tablesId &&
          r.values.values[col::kOwner]) {
        return *r.values.values[col::kOwner];
      }
    }
    return Bytes{};
  }

  PageFile file_;
  Format format_;
  std::map<std::uint32_t, std::vector<std::uint32_t>> addedPages_;  // per table, this change
};

}  // namespace

std::unique_ptr<platform::AccessCatalogWriter> OpenJetCatalogWriter(const std::string& posixPath) {
  return std::make_unique<JetCatalogWriter>(posixPath, LockMode::kHeldByCaller,
                                            ReplaceMode::kEachCommit);
}

std::unique_ptr<platform::AccessCatalogWriter> OpenJetCatalogWriterForRun(
    const std::string& posixPath) {
  return std::make_unique<JetCatalogWriter>(posixPath, LockMode::kHeldByCaller,
                                            ReplaceMode::kAtFinish);
}

std::unique_ptr<platform::AccessCatalogWriter> OpenJetCatalogWriterLocked(
    const std::string& posixPath) {
  std::filesystem::path lockFile = std::filesystem::path(posixPath).replace_extension(".ldb");
  std::error_code ec;
  if (std::filesystem::exists(lockFile, ec)) {
    throw platform::Error(dao::err::kCouldNotLock, "The file '" + posixPath +
                                                       "' may be open in Access: its lock file '" +
                                                       lockFile.string() + "' exists.");
  }
  return std::make_unique<JetCatalogWriter>(posixPath, LockMode::kExclusive,
                                            ReplaceMode::kEachCommit);
}

bool RecoverInterruptedChange(const std::string& posixPath) {
  return PageFile::RemoveStaleWorkCopy(posixPath);
}

std::vector<platform::LinkBackRefusal> CheckLinkBack(const std::string& posixPath,
                                                     const platform::LinkBackPlan& plan) {
  using Of = platform::LinkBackRefusal::Of;
  std::vector<platform::LinkBackRefusal> refusals;
  const auto refuse = [&](Of of, const std::string& reason, const std::string& name) {
    auto same = std::find_if(refusals.begin(), refusals.end(),
                             [&](const auto& r) { return r.of == of && r.reason == reason; });
    if (same == refusals.end()) same = refusals.insert(refusals.end(), {of, reason, {}});
    if (!name.empty()) same->names.push_back(name);
  };
  std::error_code ec;
  std::string path = std::filesystem::canonical(posixPath, ec).string();
  if (ec) path = posixPath;
  if (const std::string note = PageFile::ForeignJournalNote(path); !note.empty())
    refuse(Of::File, note, "");
  Format f;
  try {
    PageFile file(path, LockMode::kReadOnly);
    f = ReadCatalog(file).f;
  } catch (const platform::Error& e) {
    refuse(Of::File, e.Description(), "");
    return refusals;
  }
  for (const auto& [oldName, newName] : plan.renames)
    if (const std::string why = NameRefusal(newName, f); !why.empty())
      refuse(Of::Rename, why, newName);
  for (const auto& link : plan.links) {
    std::string why = NameRefusal(link.name, f);
    if (why.empty()) {
      try {
        EncodeText(link.sourceTableName, f);
      } catch (const platform::Error& e) {
        why = e.Description();
      }
    }
    if (!why.empty()) refuse(Of::Link, why, link.name);
  }
  const std::string odbc = platform::WithoutOdbcPrefix(plan.connect);
  try {
    RefuseLongerThanARow(f, EncodeText(odbc, f), "Connect");
  } catch (const platform::Error& e) {
    refuse(Of::Connect, e.Description(), "");
  }
  return refusals;
}

std::string BackupPathOf(const platform::AccessCatalogWriter& writer) {
  auto* w = dynamic_cast<const JetCatalogWriter*>(&writer);
  return w != nullptr ? w->Backup() : std::string();
}

}  // namespace jetwriter
