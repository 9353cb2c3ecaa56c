// Cut-short Access files: pages a table lists beyond the end of the file.
//
// Owns: the check, inside the reader child, that a table read through libmdb (its data pages as
// its usage map lists them, and the first page of each of its indexes) lies within the file.
// libmdb reads past the end as an empty page, so rows, indexes and relationships would be
// missing without a word.
// Failures: platform::Error dao::err::kUnrecognizedFormat naming the table and the page.
#pragma once

#include <string>  // before mdbtools.h, whose glib headers need the C++ library declared

#include <mdbtools.h>

namespace platform::access {

void RefusePagesBeyondEnd(MdbHandle* mdb, MdbTableDef* table, const std::string& path);

}  // namespace platform::access
