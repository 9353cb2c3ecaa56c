#include "platform/access/page_bounds.h"

#include <sys/stat.h>

#include <cstdio>

#include "platform/dao/dao.h"
#include "platform/error.h"

namespace platform::access {

void RefusePagesBeyondEnd(MdbHandle* mdb, MdbTableDef* table, const std::string& path) {
  struct stat st {};
  if (fstat(fileno(mdb->f->stream), &st) != 0 || mdb->fmt->pg_size <= 0) return;
  const auto pages = static_cast<std::uint64_t>(st.st_size) / mdb->fmt->pg_size;
  const auto beyond = [&](std::uint64_t page, const std::string& what) {
    throw Error(dao::err::kUnrecognizedFormat,
                "The file '" + path + "' is damaged: " + what + " of table '" + table->name +
                    "' is page " + std::to_string(page) + ", beyond its end (" +
                    std::to_string(pages) + " pages); the file was cut short.");
  };
  if (table->usage_map != nullptr) {
    const auto size = static_cast<unsigned>(table->map_sz);
    for (gint32 page = mdb_map_find_next(mdb, table->usage_map, size, 0); page > 0;
         page = mdb_map_find_next(mdb, table->usage_map, size, static_cast<guint32>(page))) {
      if (static_cast<std::uint64_t>(page) >= pages)
        beyond(static_cast<std::uint64_t>(page), "a data page");
    }
  }
  if (table->indices == nullptr) return;
  for (unsigned i = 0; i < table->indices->len; ++i) {
    auto* index = static_cast<MdbIndex*>(g_ptr_array_index(table->indices, i));
    if (index->first_pg >= pages)
      beyond(index->first_pg, "the first page of index '" + std::string(index->name) + "'");
  }
}

}  // namespace platform::access
