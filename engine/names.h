// Table names on the target and names quoted for the target's scripts.
#pragma once

#include <string>
#include <string_view>

#include "platform/dao/dao.h"

namespace engine {

// The name an Access table gets on the target: the trimmed name when it holds no blank,
// otherwise the untrimmed name with its first blank replaced by "_".
std::string TargetNameOf(std::string_view name);

// A relationship with a table left out as a system table (dao::IsSystemTable): the target never
// gets that table.
bool RelatesSystemTable(dao::Database& access, const dao::Relation& relation);

}  // namespace engine
