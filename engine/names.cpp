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

std::string QuoteName(std::string_view name) {
  std::string quoted = "\"";
  for (char c : name) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
      throw platform::Error(platform::err::kBadFileName,
                            "The name \"" + std::string(name) +
                                "\" holds a control character and cannot be written to a script");
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

bool IsSystemTable(const dao::TableDef& table) {
  return table.Name().compare(0, 4, "MSys") == 0 || (table.Attributes() & dao::kSystemObject) != 0;
}

bool RelatesSystemTable(dao::Database& access, const dao::Relation& relation) {
  for (const std::string& name : {relation.Table, relation.ForeignTable}) {
    if (name.compare(0, 4, "MSys") == 0) return true;
    try {
      const std::shared_ptr<dao::TableDef> table = access.TableDefs().Item(name);
      if (table && IsSystemTable(*table)) return true;
    } catch (const platform::Error& e) {
      if (e.Number() != dao::err::kItemNotFound) throw;
    }
  }
  return false;
}

}  // namespace engine
