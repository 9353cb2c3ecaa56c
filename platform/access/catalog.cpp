#include "platform/access/catalog.h"

#include <mdbtools.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "platform/access/isolated_reader.h"
#include "platform/access/mdb_handles.h"
#include "platform/access/page_bounds.h"
#include "platform/display_properties.h"
#include "platform/error.h"
#include "platform/linked_types.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace platform::access {
namespace {

// Counts above these are damage, never real content.
constexpr std::uint32_t kMaxTables = 1u << 20;
constexpr std::uint32_t kMaxColumns = 4096;
constexpr std::uint32_t kMaxProperties = 1024;

// The names of the properties in `props` (none when null), sorted.
std::vector<std::string> PropertyNames(const MdbProperties* props) {
  std::vector<std::string> names;
  if (props == nullptr || props->hash == nullptr) return names;
  GHashTableIter it;
  gpointer key, value;
  g_hash_table_iter_init(&it, props->hash);
  while (g_hash_table_iter_next(&it, &key, &value) && names.size() < kMaxProperties)
    names.emplace_back(static_cast<const char*>(key));
  std::sort(names.begin(), names.end());
  return names;
}

[[noreturn]] void Unrecognized(const std::string& path, const std::string& why) {
  throw Error(dao::err::kUnrecognizedFormat,
              "Unrecognized database format '" + path + "': " + why + ".");
}

// Reads the columns of a system table by name, one string per bound column, row by row.
void ForEachRow(MdbHandle* mdb, const std::string& path, const char* tableName,
                const std::vector<const char*>& columns,
                const std::function<void(const std::vector<std::string>&)>& row) {
  MdbCatalogEntry* entry = mdb_get_catalogentry_by_name(mdb, tableName);
  if (entry == nullptr) return;
  TablePtr table(mdb_read_table(entry));
  if (!table || !mdb_read_columns(table.get()))
    Unrecognized(path, "its table " + std::string(tableName) + " cannot be read");
  RefusePagesBeyondEnd(mdb, table.get(), path);
  const std::size_t size = mdb->bind_size;
  std::vector<std::unique_ptr<char[]>> buffers;
  std::vector<int> bound;
  for (const char* column : columns) {
    buffers.emplace_back(new char[size]());
    bound.push_back(mdb_bind_column_by_name(table.get(), const_cast<char*>(column),
                                            buffers.back().get(), nullptr));
  }
  mdb_rewind_table(table.get());
  std::vector<std::string> values(columns.size());
  while (mdb_fetch_row(table.get())) {
    for (std::size_t i = 0; i < columns.size(); ++i)
      values[i] = bound[i] > 0 ? std::string(buffers[i].get(), strnlen(buffers[i].get(), size))
                               : std::string();
    row(values);
  }
}

// One relationship of MSysRelationships, its fields in column order.
struct RelationRow {
  std::string name;
  dao::Relation relation;
};

std::vector<RelationRow> ReadRelations(MdbHandle* mdb, const std::string& path) {
  std::vector<RelationRow> relations;
  std::map<std::string, std::size_t> byName;
  std::vector<std::vector<std::pair<long, dao::RelationField>>> fields;
  ForEachRow(mdb, path, "MSysRelationships",
             {"szRelationship", "szObject", "szColumn", "szReferencedObject", "szReferencedColumn",
              "icolumn", "grbit"},
             [&](const std::vector<std::string>& v) {
               auto [it, added] = byName.emplace(v[0], relations.size());
               if (added) {
                 relations.push_back(
                     {v[0], dao::Relation{v[3], v[1], {}, std::strtol(v[6].c_str(), nullptr, 10)}});
                 fields.emplace_back();
               }
               fields[it->second].emplace_back(std::strtol(v[5].c_str(), nullptr, 10),
                                               dao::RelationField{v[4], v[2]});
             });
  for (std::size_t r = 0; r < relations.size(); ++r) {
    std::stable_sort(fields[r].begin(), fields[r].end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (auto& [position, field] : fields[r]) relations[r].relation.Fields.push_back(field);
  }
  return relations;
}

// The relationship whose foreign-side index this is, or null. Jet keeps a hidden index for each
// side of a relationship; the foreign side's carries the relationship's name, the primary
// side's a name beginning with ".".
const dao::Relation* ForeignSideOf(const MdbIndex& idx, const std::string& table,
                                   const std::vector<RelationRow>& relations) {
  if (idx.name[0] == '\0' || idx.name[0] == '.') return nullptr;
  for (const RelationRow& row : relations)
    if (EqualsNoCase(row.name, idx.name) && EqualsNoCase(row.relation.ForeignTable, table) &&
        !row.relation.Fields.empty())
      return &row.relation;
  return nullptr;
}

struct KeyColumn {
  unsigned position;  // in libmdb's column list
  bool ascending;
};

// The key columns of each logical index of `table`, read from its definition as the file holds
// it: each logical index names its real index, whose column map holds column numbers. libmdb
// pairs a logical index with the real index of the same number instead, which after deleted
// columns or indexes is another index or none. Empty when the definition does not decode.
std::vector<std::vector<KeyColumn>> IndexKeyColumns(MdbHandle* mdb, MdbTableDef* table) {
  const bool jet3 = IS_JET3(mdb);
  const auto pageSize = static_cast<std::size_t>(mdb->fmt->pg_size);
  std::vector<unsigned char> b;
  for (unsigned long pg = table->entry->table_pg, hops = 0; pg != 0; ++hops) {
    if (hops > 64 || mdb_read_pg(mdb, pg) != static_cast<ssize_t>(pageSize) ||
        mdb->pg_buf[0] != 0x02)
      return {};
    b.insert(b.end(), mdb->pg_buf + (b.empty() ? 0 : 8), mdb->pg_buf + pageSize);
    pg = mdb->pg_buf[4] | mdb->pg_buf[5] << 8 | mdb->pg_buf[6] << 16 |
         static_cast<unsigned long>(mdb->pg_buf[7]) << 24;
  }
  bool ok = true;
  auto u16 = [&](std::size_t at) -> unsigned {
    if (at + 2 > b.size()) return ok = false, 0u;
    return b[at] | b[at + 1] << 8;
  };
  auto u32 = [&](std::size_t at) -> unsigned {
    return at + 4 > b.size() ? (ok = false, 0u) : u16(at) | u16(at + 2) << 16;
  };
  const unsigned numCols = u16(jet3 ? 25 : 45), numIdx = u32(jet3 ? 27 : 47),
                 numReal = u32(jet3 ? 31 : 51);
  if (!ok || numCols > 255 || numIdx > 64 || numReal > 64) return {};
  std::size_t at = (jet3 ? 43 : 63) + numReal * (jet3 ? 8 : 12);
  std::vector<unsigned> numbers;
  for (unsigned c = 0; c < numCols; ++c, at += jet3 ? 18 : 25)
    numbers.push_back(u16(at + (jet3 ? 1 : 5)));
  for (unsigned c = 0; c < numCols && ok; ++c)
    at += jet3 ? 1 + (at < b.size() ? b[at] : 0) : 2 + u16(at);
  std::vector<unsigned> sorted = numbers;
  std::sort(sorted.begin(), sorted.end());
  std::vector<std::vector<KeyColumn>> real(numReal);
  for (unsigned r = 0; r < numReal; ++r, at += jet3 ? 39 : 52) {
    for (std::size_t k = 0, q = at + (jet3 ? 0 : 4); k < 10; ++k, q += 3) {
      const unsigned number = u16(q);
      if (number == 0xFFFF) continue;
      const auto hit = std::lower_bound(sorted.begin(), sorted.end(), number);
      if (hit == sorted.end() || *hit != number || q + 2 >= b.size()) return {};
      real[r].push_back({static_cast<unsigned>(hit - sorted.begin()), b[q + 2] != 0});
    }
  }
  std::vector<std::vector<KeyColumn>> logical;
  for (unsigned l = 0; l < numIdx; ++l, at += jet3 ? 20 : 28) {
    const unsigned r = u32(at + (jet3 ? 4 : 8));
    logical.push_back(r < numReal ? real[r] : std::vector<KeyColumn>{});
  }
  return ok ? logical : std::vector<std::vector<KeyColumn>>{};
}

void WriteIndexes(MdbHandle* mdb, MdbTableDef* table, const std::vector<RelationRow>& relations,
                  WireWriter& out) {
  std::vector<dao::Index> indexes;
  std::uint32_t unmatched = 0;  // relationship indexes whose relationship could not be read
  mdb_read_indices(table);      // returns NULL even on success; the table holds the result
  const std::vector<std::vector<KeyColumn>> keys = IndexKeyColumns(mdb, table);
  for (unsigned i = 0; i < table->num_idxs && table->indices != nullptr && i < table->indices->len;
       ++i) {
    auto* idx = static_cast<MdbIndex*>(g_ptr_array_index(table->indices, i));
    if (idx == nullptr) continue;
    dao::Index index;
    index.Name = idx->name;
    index.Unique = (idx->flags & MDB_IDX_UNIQUE) != 0;
    if (idx->index_type == 2) {
      // A relationship's index: libmdb gives it no key columns, the relationship has them.
      const dao::Relation* relation = ForeignSideOf(*idx, table->name, relations);
      if (relation == nullptr) {
        // The primary side's index is hidden; a foreign side's without its relationship means
        // the relationship was lost on the way (a damaged or cut-short catalog).
        if (idx->name[0] != '\0' && idx->name[0] != '.') ++unmatched;
        continue;
      }
      for (const dao::RelationField& field : relation->Fields) {
        if (!index.Fields.empty()) index.Fields += ";";
        index.Fields += "+" + field.ForeignName;
      }
      indexes.push_back(std::move(index));
      continue;
    }
    index.Primary = idx->index_type == 1;
    index.Unique = index.Unique || index.Primary;
    std::vector<KeyColumn> key;
    if (keys.size() == table->num_idxs) {
      key = keys[i];
    } else {
      for (unsigned k = 0; k < std::min<unsigned>(idx->num_keys, MDB_MAX_IDX_COLS); ++k)
        key.push_back(
            {static_cast<unsigned>(idx->key_col_num[k] - 1), idx->key_col_order[k] != MDB_DESC});
    }
    for (std::size_t k = 0; k < key.size(); ++k) {
      if (key[k].position >= table->num_cols)
        throw Error(dao::err::kUnrecognizedFormat,
                    "index " + index.Name + " of table " + table->name + " names no column");
      auto* column = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, key[k].position));
      if (k > 0) index.Fields += ";";
      index.Fields += (key[k].ascending ? "+" : "-") + std::string(column->name);
    }
    indexes.push_back(std::move(index));
  }
  out.U32(static_cast<std::uint32_t>(indexes.size()));
  for (const dao::Index& index : indexes) {
    out.String(index.Name);
    out.String(index.Fields);
    out.U8(index.Unique ? 1 : 0);
    out.U8(index.Primary ? 1 : 0);
  }
  out.U32(unmatched);
}

// The display and lookup properties an ODBC link holds (none for `entry` null): per block (the
// table's, named "", and one per column) its name and the names of those properties.
void WriteLinkProperties(MdbCatalogEntry* entry, WireWriter& out) {
  std::vector<std::pair<std::string, std::vector<std::string>>> blocks;
  for (unsigned b = 0; entry != nullptr && entry->props != nullptr && b < entry->props->len; ++b) {
    const auto* p = static_cast<const MdbProperties*>(g_ptr_array_index(entry->props, b));
    const std::string name = p->name != nullptr ? p->name : "";
    std::vector<std::string> shown;
    const auto held = [&](const auto& list) {
      for (const char* property : list)
        if (g_hash_table_lookup(p->hash, property) != nullptr) shown.push_back(property);
    };
    if (name.empty())
      held(platform::kTableDisplayProperties);
    else
      held(platform::kColumnDisplayProperties);
    if (!shown.empty()) blocks.emplace_back(name, std::move(shown));
  }
  out.U32(static_cast<std::uint32_t>(blocks.size()));
  for (const auto& [name, shown] : blocks) {
    out.String(name);
    out.U32(static_cast<std::uint32_t>(shown.size()));
    for (const std::string& property : shown) out.String(property);
  }
}

void WriteCatalog(const std::string& path, WireWriter& out) {
  HandlePtr mdb(mdb_open(path.c_str(), MDB_NOFLAGS));
  if (!mdb) Unrecognized(path, "libmdb cannot open it");
  if (mdb_read_catalog(mdb.get(), MDB_ANY) == nullptr || mdb->num_catalog == 0)
    Unrecognized(path, "its catalog cannot be read (the file is damaged or encrypted)");
  out.U32(mdb->f->jet_version);

  // Raw object types (libmdb keeps only the low bits, which mix up reports and ODBC links)
  // and the link columns. MSysObjects is read in the same order as the catalog entries; the
  // names are compared to be sure.
  struct ObjectRow {
    std::string name, connect, foreignName, database;
    long type = 0;
    long id = 0;
    long flags = 0;
  };
  std::vector<ObjectRow> objects;
  ForEachRow(mdb.get(), path, "MSysObjects",
             {"Name", "Connect", "ForeignName", "Type", "Id", "Database", "Flags"},
             [&](const std::vector<std::string>& v) {
               objects.push_back({v[0], v[1], v[2], v[5], std::strtol(v[3].c_str(), nullptr, 10),
                                  std::strtol(v[4].c_str(), nullptr, 10),
                                  std::strtol(v[6].c_str(), nullptr, 10)});
             });
  struct Entry {
    MdbCatalogEntry* entry;
    long type;
    const ObjectRow* row;
  };
  const std::vector<RelationRow> relations = ReadRelations(mdb.get(), path);
  std::vector<Entry> entries;
  for (unsigned i = 0; i < mdb->num_catalog && i < mdb->catalog->len; ++i) {
    auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
    const ObjectRow* row =
        i < objects.size() && objects[i].name == entry->object_name ? &objects[i] : nullptr;
    const long type = row != nullptr ? row->type : entry->object_type;
    if (dao::IsObjectType(type, dao::ObjectType::kTable) ||
        dao::IsObjectType(type, dao::ObjectType::kOdbcLink) ||
        dao::IsObjectType(type, dao::ObjectType::kAccessLink))
      entries.push_back({entry, type, row});
  }
  out.U32(static_cast<std::uint32_t>(entries.size()));
  for (const Entry& e : entries) {
    MdbCatalogEntry* entry = e.entry;
    // The whole id: libmdb keeps only its low 24 bits, and the ids of links to other Access
    // files (below zero) differ only in the high ones.
    out.U32(e.row != nullptr ? static_cast<std::uint32_t>(e.row->id)
                             : static_cast<std::uint32_t>(entry->table_pg));
    out.String(entry->object_name);
    out.U32(static_cast<std::uint32_t>(e.type));
    out.U32(static_cast<std::uint32_t>(e.row != nullptr ? e.row->flags : entry->flags));
    out.String(e.row != nullptr ? e.row->connect : "");
    out.String(e.row != nullptr ? e.row->foreignName : "");
    out.String(e.row != nullptr ? e.row->database : "");
    WriteLinkProperties(dao::IsObjectType(e.type, dao::ObjectType::kOdbcLink) ? entry : nullptr,
                        out);
    if (!dao::IsObjectType(e.type, dao::ObjectType::kTable)) {
      out.String("");  // no rule, properties, counter, columns or indexes (see WriteColumns)
      out.U32(0);
      out.U32(0);
      out.U32(0);
      out.U32(0);
      out.U32(0);
      continue;
    }
    TablePtr table(mdb_read_table(entry));
    if (!table || !mdb_read_columns(table.get()))
      Unrecognized(path, "the definition of table '" + std::string(entry->object_name) +
                             "' cannot be read (the file is damaged)");
    RefusePagesBeyondEnd(mdb.get(), table.get(), path);
    WriteColumns(table.get(), out);
    WriteIndexes(mdb.get(), table.get(), relations, out);
  }

  out.U32(static_cast<std::uint32_t>(relations.size()));
  for (const RelationRow& row : relations) {
    out.String(row.relation.Table);
    out.String(row.relation.ForeignTable);
    out.U32(static_cast<std::uint32_t>(row.relation.Attributes));
    out.U32(static_cast<std::uint32_t>(row.relation.Fields.size()));
    for (const dao::RelationField& field : row.relation.Fields) {
      out.String(field.Name);
      out.String(field.ForeignName);
    }
  }
}

std::uint32_t Bounded(IsolatedReader& in, std::uint32_t limit, const std::string& path) {
  const std::uint32_t n = in.U32();
  if (n > limit) Unrecognized(path, "the catalog holds an impossible count");
  return n;
}

}  // namespace

namespace {

// Access's AutoNumber counter of `table`, the last number it gave: the 4 bytes after the row
// count in the first page of the definition (offset 16 in Jet 3, 20 in Jet 4 and ACE). libmdb
// keeps the page it reads the definition through in pg_buf; it is put back as it was.
std::uint32_t AutoNumberCounter(MdbTableDef* table) {
  MdbHandle* mdb = table->entry->mdb;
  const auto pageSize = static_cast<std::size_t>(mdb->fmt->pg_size);
  const std::vector<unsigned char> page(mdb->pg_buf, mdb->pg_buf + pageSize);
  const guint32 current = mdb->cur_pg;
  const auto position = mdb->cur_pos;
  std::uint32_t counter = 0;
  const std::size_t at = mdb->fmt->tab_num_rows_offset + 4u;
  if (mdb_read_pg(mdb, table->entry->table_pg) == static_cast<ssize_t>(pageSize) &&
      mdb->pg_buf[0] == 0x02 && at + 4 <= pageSize)
    counter = static_cast<std::uint32_t>(mdb->pg_buf[at] | mdb->pg_buf[at + 1] << 8 |
                                         mdb->pg_buf[at + 2] << 16) |
              static_cast<std::uint32_t>(mdb->pg_buf[at + 3]) << 24;
  std::copy(page.begin(), page.end(), mdb->pg_buf);
  mdb->cur_pg = current;
  mdb->cur_pos = position;
  return counter;
}

}  // namespace

void WriteColumns(MdbTableDef* table, WireWriter& out, const std::vector<unsigned>* only) {
  const auto prop = [](const char* value) { return std::string(value != nullptr ? value : ""); };
  out.String(prop(mdb_table_get_prop(table, "ValidationRule")));
  const std::vector<std::string> tableProperties = PropertyNames(table->props);
  out.U32(static_cast<std::uint32_t>(tableProperties.size()));
  for (const std::string& name : tableProperties) out.String(name);
  out.U32(AutoNumberCounter(table));
  out.U32(only ? static_cast<std::uint32_t>(only->size()) : table->num_cols);
  for (unsigned i = 0; i < (only ? only->size() : table->num_cols); ++i) {
    const unsigned c = only ? (*only)[i] : i;
    auto* col = static_cast<MdbColumn*>(g_ptr_array_index(table->columns, c));
    out.String(col->name);
    out.U32(static_cast<std::uint32_t>(col->col_type));
    out.U32(static_cast<std::uint32_t>(col->col_size));
    // libmdb stores a decimal's precision in col_scale and its scale in col_prec.
    out.U32(static_cast<std::uint32_t>(col->col_scale));
    out.U32(static_cast<std::uint32_t>(col->col_prec));
    // Properties: libmdb gives yes/no ones as "yes" and "no".
    std::uint8_t flags = col->is_long_auto ? 1 : 0;
    if (prop(mdb_col_get_prop(col, "Required")) == "yes") flags |= 2;
    if (prop(mdb_col_get_prop(col, "AllowZeroLength")) == "no") flags |= 4;
    out.U8(flags);
    out.String(prop(mdb_col_get_prop(col, "DefaultValue")));
    out.String(prop(mdb_col_get_prop(col, "ValidationRule")));
    std::vector<const char*> shown;
    for (const char* name : platform::kColumnDisplayProperties)
      if (mdb_col_get_prop(col, name) != nullptr) shown.push_back(name);
    out.U32(static_cast<std::uint32_t>(shown.size()));
    for (const char* name : shown) out.String(name);
    out.String(prop(mdb_col_get_prop(col, "RowSource")));
    std::vector<std::string> left = PropertyNames(col->props);
    std::erase_if(left, [](const std::string& p) { return !platform::LeftOffLinks(p, true); });
    out.U32(static_cast<std::uint32_t>(left.size()));
    for (const std::string& name : left) out.String(name);
  }
}

std::vector<ColumnInfo> ReadColumns(IsolatedReader& in, const std::string& what,
                                    std::string* tableRule,
                                    std::vector<std::string>* tableProperties) {
  std::string rule = in.String();
  if (tableRule != nullptr) *tableRule = std::move(rule);
  std::vector<std::string> names(Bounded(in, kMaxProperties, what));
  for (std::string& name : names) name = in.String();
  if (tableProperties != nullptr) *tableProperties = std::move(names);
  const std::uint32_t counter = in.U32();
  const std::uint32_t count = Bounded(in, kMaxColumns, what);
  std::vector<ColumnInfo> columns(count);
  for (ColumnInfo& column : columns) {
    column.name = in.String();
    column.type = static_cast<int>(in.U32());
    column.size = static_cast<int>(in.U32());
    column.precision = static_cast<int>(in.U32());
    column.scale = static_cast<int>(in.U32());
    const std::uint8_t flags = in.U8();
    column.autoNumber = (flags & 1) != 0;
    if (column.autoNumber) column.autoNumberCounter = counter;
    column.required = (flags & 2) != 0;
    column.allowZeroLength = (flags & 4) == 0;
    column.defaultValue = in.String();
    column.validationRule = in.String();
    const std::uint32_t shown = Bounded(
        in, static_cast<std::uint32_t>(std::size(platform::kColumnDisplayProperties)), what);
    for (std::uint32_t i = 0; i < shown; ++i) column.displayProperties.push_back(in.String());
    column.rowSource = in.String();
    column.propertiesLeftOff.resize(Bounded(in, kMaxProperties, what));
    for (std::string& name : column.propertiesLeftOff) name = in.String();
  }
  return columns;
}

int TextLength(const ColumnInfo& column, int jetVersion) {
  return jetVersion == 0 ? column.size : std::max(1, column.size / 2);
}

const char* ColumnTypeName(int type) {
  return platform::AccessTypeName(type);
}

void CheckHeader(const std::string& posixPath) {
  std::ifstream in(posixPath, std::ios::binary);
  if (!in) Unrecognized(posixPath, "the file cannot be read");
  in.seekg(0, std::ios::end);
  const auto size = static_cast<std::uint64_t>(in.tellg());
  in.seekg(0);
  unsigned char header[0x20] = {};
  in.read(reinterpret_cast<char*>(header), sizeof header);
  if (size < sizeof header || !in) Unrecognized(posixPath, "it is not an Access database");
  static const unsigned char kMagic[4] = {0x00, 0x01, 0x00, 0x00};
  const std::string signature(reinterpret_cast<const char*>(header) + 4, 15);
  if (std::memcmp(header, kMagic, 4) != 0 ||
      (signature != "Standard Jet DB" && signature != "Standard ACE DB"))
    Unrecognized(posixPath, "it is not an Access database");
  const unsigned version = header[0x14];
  if (version > MDB_VER_ACCDB_2019) Unrecognized(posixPath, "unknown file version");
  const std::uint64_t page = version == MDB_VER_JET3 ? 2048 : 4096;
  if (size < 3 * page || size % page != 0)
    Unrecognized(posixPath, "the file is truncated (" + std::to_string(size) +
                                " bytes is not a whole number of pages)");
}

namespace {

// The file's own catalog, links unresolved.
Catalog ReadOwnCatalog(const std::string& posixPath, std::chrono::milliseconds timeout) {
  CheckHeader(posixPath);
  IsolatedReader in(posixPath, timeout, [&](WireWriter& out) {
    WireWriter whole(-1);  // sent only when complete, so an error never follows half a catalog
    WriteCatalog(posixPath, whole);
    out.U8(kTagRow);
    out.Raw(whole.Buffered().data(), whole.Buffered().size());
  });
  const std::uint8_t tag = in.U8();
  if (tag == kTagError) {
    const auto number = static_cast<int>(in.U32());
    throw Error(number, in.String());
  }
  if (tag != kTagRow) Unrecognized(posixPath, "the reader sent no catalog");
  Catalog catalog;
  catalog.jetVersion = static_cast<int>(in.U32());
  const std::uint32_t tables = Bounded(in, kMaxTables, posixPath);
  for (std::uint32_t t = 0; t < tables; ++t) {
    TableInfo table;
    table.id = in.U32();
    table.name = in.String();
    table.objectType = static_cast<dao::ObjectType>(in.U32());
    table.flags = in.U32();
    table.connect = in.String();
    // An ODBC link stores its connect string without the "ODBC;" the engine reports it with.
    if (table.objectType == dao::ObjectType::kOdbcLink && !table.connect.empty() &&
        !IsOdbcConnect(table.connect))
      table.connect = std::string(kOdbcPrefix) + table.connect;
    table.sourceTableName = in.String();
    table.database = in.String();
    const std::uint32_t blocks = Bounded(in, kMaxColumns + 1, posixPath);
    for (std::uint32_t b = 0; b < blocks; ++b) {
      auto& [name, shown] = table.linkProperties.emplace_back();
      name = in.String();
      const std::uint32_t n = Bounded(
          in, static_cast<std::uint32_t>(std::size(platform::kTableDisplayProperties)), posixPath);
      for (std::uint32_t i = 0; i < n; ++i) shown.push_back(in.String());
    }
    // DAO's form: the stored options (none for an Access file), then the file.
    if (table.objectType == dao::ObjectType::kAccessLink)
      table.connect += (table.connect.ends_with(';') ? "" : ";") + ("DATABASE=" + table.database);
    table.columns = ReadColumns(in, posixPath, &table.validationRule, &table.properties);
    const std::uint32_t indexes = Bounded(in, kMaxColumns, posixPath);
    for (std::uint32_t i = 0; i < indexes; ++i) {
      dao::Index index;
      index.Name = in.String();
      index.Fields = in.String();
      index.Unique = in.U8() != 0;
      index.Primary = in.U8() != 0;
      table.indexes.push_back(std::move(index));
    }
    table.unreadRelationships = static_cast<int>(Bounded(in, kMaxColumns, posixPath));
    catalog.tables.push_back(std::move(table));
  }
  const std::uint32_t relations = Bounded(in, kMaxTables, posixPath);
  for (std::uint32_t r = 0; r < relations; ++r) {
    dao::Relation relation;
    relation.Table = in.String();
    relation.ForeignTable = in.String();
    relation.Attributes = static_cast<long>(in.U32());
    const std::uint32_t fields = Bounded(in, kMaxColumns, posixPath);
    for (std::uint32_t f = 0; f < fields; ++f) {
      dao::RelationField field;
      field.Name = in.String();
      field.ForeignName = in.String();
      relation.Fields.push_back(std::move(field));
    }
    catalog.relations.push_back(std::move(relation));
  }
  const std::uint8_t end = in.U8();
  if (end == kTagError) {
    const auto number = static_cast<int>(in.U32());
    throw Error(number, in.String());
  }
  if (end != kTagEnd) Unrecognized(posixPath, "the catalog stream is malformed");
  in.Finish();
  return catalog;
}

// A full Windows path: "X:\..." or "\\server\...".
bool IsFullWindowsPath(const std::string& path) {
  const bool drive = path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) &&
                     path[1] == ':' && (path[2] == '\\' || path[2] == '/');
  return drive || path.starts_with("\\\\");
}

using BackEnds = std::map<std::string, std::pair<std::optional<Catalog>, Error>>;

// Gives the link `table` its back-end; throws what makes its rows unreachable.
void ResolveAccessLink(TableInfo& table, BackEnds& backEnds, std::chrono::milliseconds timeout) {
  const std::string link = "The table '" + table.name + "' is linked to ";
  const std::string& file = table.database;
  if (!table.connect.starts_with(";")) {
    const std::string kind = table.connect.substr(0, table.connect.find(';'));
    throw Error(dao::err::kUnsupported, link + "a file of type '" + kind + "' ('" + file +
                                            "'); only Access tables can be copied.");
  }
  if (LowerAscii(table.connect).find(";pwd=") != std::string::npos)
    throw Error(dao::err::kUnsupported, link + "the password-protected Access file '" + file +
                                            "', which cannot be opened.");
  if (file.empty())
    throw Error(dao::err::kFileNotFound, link + "another Access file, but its entry names none.");
  if (!IsFullWindowsPath(file))
    throw Error(dao::err::kFileNotFound, link + "the Access file '" + file +
                                             "', which is not a full path; the file cannot be "
                                             "found.");
  std::string posix;
  try {
    posix = paths::ToPosix(file).string();
  } catch (const Error& e) {
    throw Error(dao::err::kFileNotFound,
                link + "the Access file '" + file + "', which cannot be found: " + e.Description());
  }
  std::error_code ec;
  if (!std::filesystem::is_regular_file(posix, ec))
    throw Error(dao::err::kFileNotFound,
                link + "the Access file '" + file + "', which does not exist.");
  auto [it, added] = backEnds.try_emplace(posix, std::nullopt, Error(0, ""));
  if (added) {
    try {
      it->second.first = ReadOwnCatalog(posix, timeout);
    } catch (const Error& e) {
      it->second.second = e;
    }
  }
  if (!it->second.first)
    throw Error(it->second.second.Number(),
                link + "the Access file '" + file +
                    "', which cannot be read: " + it->second.second.Description());
  const Catalog& backEnd = *it->second.first;
  const TableInfo* found = nullptr;
  for (const TableInfo& t : backEnd.tables) {
    if (t.name == table.sourceTableName) {
      found = &t;
      break;
    }
    if (found == nullptr && EqualsNoCase(t.name, table.sourceTableName)) found = &t;
  }
  if (found == nullptr)
    throw Error(dao::err::kItemNotFound, link + "table '" + table.sourceTableName +
                                             "' of the Access file '" + file +
                                             "', which has no such table.");
  if (found->objectType != dao::ObjectType::kTable)
    throw Error(dao::err::kUnsupported, link + "table '" + table.sourceTableName +
                                            "' of the Access file '" + file +
                                            "', which is itself a linked table there; only "
                                            "tables stored in that file can be copied.");
  table.columns = found->columns;
  table.validationRule = found->validationRule;
  table.indexes = found->indexes;
  table.backEnd.path = posix;
  table.backEnd.table = found->name;
  table.backEnd.jetVersion = backEnd.jetVersion;
}

}  // namespace

void ResolveAccessLink(TableInfo& link, std::chrono::milliseconds timeout) {
  BackEnds backEnds;
  ResolveAccessLink(link, backEnds, timeout);
}

Catalog ReadCatalog(const std::string& posixPath, std::chrono::milliseconds timeout) {
  Catalog catalog = ReadOwnCatalog(posixPath, timeout);
  BackEnds backEnds;
  for (TableInfo& table : catalog.tables) {
    if (table.objectType != dao::ObjectType::kAccessLink) continue;
    try {
      ResolveAccessLink(table, backEnds, timeout);
    } catch (const Error& e) {
      table.backEnd = BackEnd{};
      table.backEnd.errorNumber = e.Number();
      table.backEnd.error = e.Description();
    }
  }
  return catalog;
}

}  // namespace platform::access
