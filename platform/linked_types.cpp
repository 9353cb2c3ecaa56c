#include "platform/linked_types.h"

#include <algorithm>

#include "platform/text.h"

namespace platform {
namespace {

// ODBC 3 codes and the ODBC 2 codes of the date types.
constexpr int kBit = -7, kTinyInt = -6, kBigInt = -5, kLongVarBinary = -4, kVarBinary = -3,
              kBinarySql = -2, kLongVarChar = -1, kChar = 1, kNumeric = 2, kDecimalSql = 3,
              kIntegerSql = 4, kSmallInt = 5, kFloat = 6, kReal = 7, kDoubleSql = 8, kDate2 = 9,
              kTime2 = 10, kTimestamp2 = 11, kVarChar = 12, kDate = 91, kTime = 92, kTimestamp = 93,
              kWChar = -8, kWVarChar = -9, kWLongVarChar = -10, kGuidSql = -11;

bool IsFloat(int sqlType) {
  return sqlType == kFloat || sqlType == kReal || sqlType == kDoubleSql;
}

std::string Shown(const LinkedType& t) {
  if (t.type == 0) return "not shown";
  if (t.bigint) return "Text (Large Number with Access's BigInt option)";
  return AccessTypeName(t.type);
}

std::string Listed(const std::vector<std::string>& names) {
  std::string out;
  for (const std::string& n : names) out += (out.empty() ? "" : ", ") + n;
  return out;
}

}  // namespace

LinkedType LinkedTypeOf(int sqlType, long size, int digits) {
  using namespace jet_type;
  const auto text = [](long chars) {
    return LinkedType{kText, static_cast<int>(std::clamp<long>(chars, 1, 255)), false};
  };
  switch (sqlType) {
    case kBit:
      return {kBoolean, 0, false};
    case kTinyInt:
      return {kByte, 0, false};
    case kSmallInt:
      return {kInteger, 0, false};
    case kIntegerSql:
      return {kLong, 0, false};
    case kBigInt:
      return {kText, 20, true};
    case kReal:
      return {kSingle, 0, false};
    case kFloat:
    case kDoubleSql:
      return {kDouble, 0, false};
    case kNumeric:
    case kDecimalSql:
      if (size >= 1 && size <= 4 && digits == 0) return {kInteger, 0, false};
      if (size >= 1 && size <= 9 && digits == 0) return {kLong, 0, false};
      if (size >= 1 && size <= 15) return {kDouble, 0, false};
      return text(size + 2);
    case kChar:
    case kVarChar:
    case kWChar:
    case kWVarChar:
      if (size >= 1 && size <= 255) return text(size);
      return {kMemo, 0, false};
    case kLongVarChar:
    case kWLongVarChar:
      return {kMemo, 0, false};
    case kBinarySql:
    case kVarBinary:
      if (size >= 1 && size <= 255) return {jet_type::kBinary, static_cast<int>(size), false};
      return {kOle, 0, false};
    case kLongVarBinary:
      return {kOle, 0, false};
    case kDate2:
    case kTimestamp2:
    case kDate:
    case kTimestamp:
      return {kDateTime, 0, false};
    case kTime2:
    case kTime:
      return text(8);
    case kGuidSql:
      return {kGuid, 0, false};
    default:
      return {};
  }
}

const char* AccessTypeName(int type) {
  using namespace jet_type;
  switch (type) {
    case kBoolean:
      return "Yes/No";
    case kByte:
      return "Byte";
    case kInteger:
      return "Integer";
    case kLong:
      return "Long Integer";
    case kCurrency:
      return "Currency";
    case kSingle:
      return "Single";
    case kDouble:
      return "Double";
    case kDateTime:
      return "Date/Time";
    case jet_type::kBinary:
      return "Binary";
    case kText:
      return "Text";
    case kOle:
      return "OLE Object";
    case kMemo:
      return "Memo";
    case kGuid:
      return "Replication ID";
    case jet_type::kDecimal:
      return "Decimal";
  }
  return "unknown type";
}

LinkForecast ForecastLink(const std::vector<LinkedColumn>& columns,
                          const std::vector<std::string>& key, const std::string& product,
                          const LinkedTableProperties& table) {
  LinkForecast out;
  std::vector<std::string> conflicts, deleted;
  bool rowVersion = false;
  // PostgreSQL's timestamp is a date and time; it has no row-version type Access would use.
  const bool rowVersionTypes = !EqualsNoCase(product, "PostgreSQL");
  for (const LinkedColumn& c : columns) {
    if (!rowVersionTypes) break;
    const std::string typeName = LowerAscii(c.typeName);
    rowVersion = rowVersion || typeName == "timestamp" || typeName == "rowversion";
  }
  for (const LinkedColumn& c : columns) {
    const LinkedType t = LinkedTypeOf(c.sqlType, c.size, c.digits);
    out.columns.push_back(c.name + " " + Shown(t));
    if (c.accessType != 0 && c.accessType != t.type)
      out.differ.push_back(c.name + ": " + AccessTypeName(c.accessType) + " in Access, " +
                           c.typeName + " on " + product + ", the link shows " + Shown(t));
    const bool inKey = std::find(key.begin(), key.end(), c.name) != key.end();
    if (IsFloat(c.sqlType) || (c.sqlType == kBit && c.nullable)) conflicts.push_back(c.name);
    if (inKey && (IsFloat(c.sqlType) || c.nullable)) deleted.push_back(c.name);
  }
  if (!rowVersion && !conflicts.empty())
    out.warnings.push_back(
        "write conflicts: Access compares every column when it saves a row "
        "and the table has no row version; floating-point and nullable "
        "Yes/No columns can fail that comparison (" +
        Listed(conflicts) + ")");
  if (!deleted.empty())
    out.warnings.push_back(
        "#Deleted rows: the link's key holds floating-point or nullable "
        "columns, which Access cannot find rows again by (" +
        Listed(deleted) + ")");
  // Each property with the columns that have it, in the order first seen; the table's first.
  const auto listed = [&](const std::vector<std::string>& ofTable,
                          std::vector<std::string> LinkedColumn::*ofColumn) {
    std::string text;
    if (!ofTable.empty()) text = Listed(ofTable) + " (the table)";
    std::vector<std::pair<std::string, std::vector<std::string>>> properties;
    for (const LinkedColumn& c : columns)
      for (const std::string& p : c.*ofColumn) {
        auto it = std::find_if(properties.begin(), properties.end(),
                               [&](const auto& e) { return e.first == p; });
        if (it == properties.end()) it = properties.insert(properties.end(), {p, {}});
        it->second.push_back(c.name);
      }
    for (const auto& [p, names] : properties)
      text += (text.empty() ? "" : "; ") + p + " (" + Listed(names) + ")";
    return text;
  };
  if (const std::string text = listed(table.notCarried, &LinkedColumn::displayProperties);
      !text.empty())
    out.warnings.push_back("not carried onto the link, kept on the renamed table: " + text);
  if (const std::string text = listed(table.leftOff, &LinkedColumn::propertiesLeftOff);
      !text.empty())
    out.warnings.push_back(
        "properties a link does not hold (Access keeps none of them on a link it makes), kept "
        "on the renamed table: " +
        text);
  return out;
}

}  // namespace platform
