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
#include <utility>
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

// A new random GUID (version 4) as a GUID property stores it: Data1, Data2 and Data3
// little-endian, then the 8 bytes of Data4.
Bytes NewGuid();

// A NameMap value, as Access keeps the names of a table and its columns with their GUIDs: the
// 4-byte mark 0A CC 0E 55, then per object a 4-byte 0, its GUID, its kind (4 bytes: 0 the table,
// 7 a column), 16 bytes (the table: when it was made, as an OLE date, then zeros; a column: the
// table's GUID), its name ending in a 0 character. `columns` are (name, GUID) pairs.
Bytes NameMapOf(const std::string& table, const Bytes& tableGuid, const Bytes& created,
                const std::vector<std::pair<std::string, Bytes>>& columns, const Format& f);

// The property record of an ODBC link named `table` to remote `columns` that replaces a table
// whose record is `original`: its display and lookup properties (DisplayPropertiesFor); in Jet 4
// and ACE files, as in the link Access made in the Jackcess sample odbcLinkerTestV2007.accdb,
// each marked 0x80 in its flags, the table and every column with a GUID of the link's own
// (flags 0x81), and the table with a NameMap of those GUIDs when `original` has one (a file
// that keeps them); `created` is the link's DateCreate. Jet 3 links take the properties as stored.
PropertyRecord LinkPropertiesFor(const PropertyRecord& original, const std::string& table,
                                 const std::vector<std::string>& columns, const Bytes& created,
                                 const Format& f);

}  // namespace jetwriter
