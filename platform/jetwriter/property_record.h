// Property records: the LvProp value of a catalog row, which holds the properties of a table and
// of its columns ("KKD\0" in Jet 3, "MR2\0" in Jet 4 and ACE, then blocks of a 4-byte length
// counting the block's 6-byte head, and a 2-byte type: 0x80 the pool of property names, 0x00
// the table's properties, 0x01 one column's). A value block starts with its name (4-byte length
// counting itself, then a name; empty for the table), then each property: 2-byte length
// counting itself, flags, data type, index in the name pool, 2-byte data length, data.
//
// Owns: decoding and encoding records; values are kept as their stored bytes.
// Failures: ParsePropertyRecord throws kUnrecognizedFormat for a record that does not decode.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/jetwriter/jet_version.h"
#include "platform/jetwriter/page_file.h"

namespace jetwriter {

struct Property {
  std::string name;
  std::uint8_t flags = 0;  // as stored (bit 0: set by DDL)
  std::uint8_t type = 0;   // the column type of the value (kTypeText, kTypeLong, ...)
  Bytes value;
  bool operator==(const Property&) const = default;
};

struct PropertyBlock {
  bool column = false;  // false: the table's own block
  std::string name;     // the column's name; empty for the table
  std::vector<Property> properties;
  bool operator==(const PropertyBlock&) const = default;
};

using PropertyRecord = std::vector<PropertyBlock>;

PropertyRecord ParsePropertyRecord(const Bytes& record, const Format& f);
// The record's bytes; blocks without properties are left out, an empty record is empty.
Bytes BuildPropertyRecord(const PropertyRecord& record, const Format& f);

// The table's display and lookup properties (platform/display_properties.h) in `original`, kept
// for the columns of `columns` (matched without regard to letter case, named as in `columns`),
// in the order of `columns`, the table's block first.
PropertyRecord DisplayPropertiesFor(const PropertyRecord& original,
                                    const std::vector<std::string>& columns);

}  // namespace jetwriter
