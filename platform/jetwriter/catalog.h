// The catalog table MSysObjects as the writer sees it, and the consistency check of its indexes.
//
// Owns: reading MSysObjects (its definition, every live row, both indexes) from a PageFile, and
// the check that walks each index and compares it with the rows.
// Failures: ReadCatalog throws platform::Error (kUnrecognizedFormat for a catalog that does not
// decode, kUnsupported for one laid out differently from what the writer knows). CheckCatalog
// reports what it finds as text and throws only when the file cannot be opened at all.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/jetwriter/catalog_index.h"
#include "platform/jetwriter/jet_format.h"

namespace jetwriter {

inline constexpr std::uint32_t kCatalogPage = 2;

struct CatalogRow {
  RowId id;      // the row the indexes point at
  RowId dataAt;  // where its bytes are (another row when the row was moved)
  RowValues values;
  std::int32_t objectId = 0;
  std::int32_t parentId = 0;
  int type = 0;
  std::string name;
};

struct Catalog {
  Format f;
  TableDef tdef;
  int nameIndex = -1;            // position in tdef.indexes of ParentIdName
  int idIndex = -1;              // position of Id
  std::vector<CatalogRow> rows;  // live rows in scan order
  std::vector<std::uint32_t> dataPages;
  std::int32_t tablesId = 0x0F000001;

  const Column& Col(int number) const { return tdef.columns.at(static_cast<std::size_t>(number)); }
  // Index key of a row, or an empty key when its name cannot be encoded.
  Bytes NameKey(std::int32_t parentId, const std::string& name) const;
};

// MSysObjects column numbers, checked against the definition when the catalog is read.
namespace col {
inline constexpr int kId = 0, kParentId = 1, kName = 2, kType = 3, kDateCreate = 4, kDateUpdate = 5,
                     kOwner = 6, kFlags = 7, kDatabase = 8, kConnect = 9, kForeignName = 10,
                     kRmtInfoLong = 12, kLvProp = 14;
}

Catalog ReadCatalog(PageFile& file);

// Checks the catalog of the file at `path`: page free-space counts, each index's tree and leaf
// chain, that each index holds exactly one entry per live row with the right key and rowid,
// that index and data pages are in their usage maps and not marked free, and the row count.
// Returns the problems found (empty when consistent).
std::vector<std::string> CheckCatalog(const std::string& path);

}  // namespace jetwriter
