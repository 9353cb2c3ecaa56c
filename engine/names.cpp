#include "engine/names.h"

#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/text.h"

namespace engine {

std::string TargetNameOf(std::string_view name) {
  std::string trimmed = platform::Trim(name);
  if (trimmed.find(' ') == std::string::npos) return trimmed;
  std::string target(name);
  target[target.find(' ')] = '_';
  return target;
}

bool RelatesSystemTable(dao::Database& access, const dao::Relation& relation) {
  for (const std::string& name : {relation.Table, relation.ForeignTable}) {
    if (dao::IsSystemTable(name, 0)) return true;
    try {
      const std::shared_ptr<dao::TableDef> table = access.TableDefs().Item(name);
      if (table && dao::IsSystemTable(*table)) return true;
    } catch (const platform::Error& e) {
      if (e.Number() != dao::err::kItemNotFound) throw;
    }
  }
  return false;
}

}  // namespace engine
