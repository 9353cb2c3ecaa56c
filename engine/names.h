// Table names on the target and names quoted for the target's scripts.
#pragma once

#include <string>
#include <string_view>

#include "platform/dao/dao.h"

namespace engine {

// The name an Access table gets on the target: the trimmed name when it holds no blank,
// otherwise the untrimmed name with its first blank replaced by "_".
std::string TargetNameOf(std::string_view name);

// The name between double quotes, an embedded double quote doubled. A name with a control
// character (a line break would split the statement) is refused with a platform::Error.
std::string QuoteName(std::string_view name);

// Tables the run leaves out: those named "MSys..." and those the file marks as system objects
// (the f_..._Data table an .accdb keeps for attachments), which Access alone may change.
bool IsSystemTable(const dao::TableDef& table);
// A relationship with a table left out as a system table: the target never gets that table.
bool RelatesSystemTable(dao::Database& access, const dao::Relation& relation);

}  // namespace engine
