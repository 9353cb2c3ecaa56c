// The column types Access gives the columns of an ODBC table it links, from what the driver
// reports for each (SQLColumns: SQL type, size, decimal digits), and what that means for the
// application: how Access will show each column, and the link-level traps.
//
// The rules follow what is published about Jet's and ACE's ODBC type mapping (Microsoft's
// documentation of linked ODBC tables, the ODBC-to-Jet mapping tables driver vendors publish);
// they have not been checked against Access itself.
#pragma once

#include <string>
#include <vector>

namespace platform {

// Access column type codes, as an Access file stores them.
namespace jet_type {
inline constexpr int kBoolean = 1, kByte = 2, kInteger = 3, kLong = 4, kCurrency = 5, kSingle = 6,
                     kDouble = 7, kDateTime = 8, kBinary = 9, kText = 10, kOle = 11, kMemo = 12,
                     kGuid = 15, kDecimal = 16;
}

struct LinkedType {
  int type = 0;         // a jet_type; 0: Access cannot link a column of that SQL type
  int chars = 0;        // Text: characters; Binary: bytes
  bool bigint = false;  // an SQL_BIGINT: Text, or Large Number with Access's BigInt option
};

// The type Access gives a linked column the driver reports as `sqlType` (ODBC 3 or 2 codes)
// with `size` (length or precision) and `digits` (scale):
//   BIT Yes/No; TINYINT Byte; SMALLINT Integer; INTEGER Long Integer; BIGINT Text(20) (Large
//   Number only with the BigInt option of Access 2016 and later); REAL Single; FLOAT, DOUBLE
//   Double; DECIMAL, NUMERIC up to 4 digits without scale Integer, up to 9 Long Integer, up to
//   15 Double, beyond 15 digits Text (precision + 2 characters); CHAR, VARCHAR and their wide
//   forms Text(n) up to 255 characters, Memo beyond; LONGVARCHAR Memo; BINARY, VARBINARY
//   Binary(n) up to 255 bytes, OLE Object beyond; LONGVARBINARY OLE Object; DATE, TIMESTAMP
//   Date/Time; TIME Text(8) (Access has no time-only type); GUID Replication ID.
LinkedType LinkedTypeOf(int sqlType, long size, int digits);

// "Long Integer", "Text", ... for a jet_type.
const char* AccessTypeName(int type);

// A column of a linked table as the link-level checks need it.
struct LinkedColumn {
  std::string name;
  int sqlType = 0;
  long size = 0;
  int digits = 0;
  std::string typeName;  // the target's own name of the type (TYPE_NAME)
  bool nullable = true;
  int accessType = 0;  // the type of the Access column it replaces; 0 when not known
  // The display and lookup properties of the Access column (Caption, RowSource, ...) that the
  // link does not carry.
  std::vector<std::string> displayProperties;
  // Its other properties, which links do not hold (platform::LeftOffLinks).
  std::vector<std::string> propertiesLeftOff;
};

// The table's own properties the link leaves on the renamed table: display properties it does
// not carry, and the ones links do not hold.
struct LinkedTableProperties {
  std::vector<std::string> notCarried;
  std::vector<std::string> leftOff;
};

// What Access will show through a link to a table of these columns on `product` whose key (the
// link's unique index) is `key`: each column with the type Access shows ("OrderID Long
// Integer"), the columns where that is not the original's type ("ShipTime: Date/Time in Access,
// time on Norvane, the link shows Text"), and the warnings of the link, among them the display
// and lookup properties of the original columns and table that the link does not carry, and the
// properties links do not hold ("ColIsGuid (the table); Expression (Total)"). A table
// without a key gets no warning here: the link opens read-only, which the report says itself.
// A column of type "timestamp" or "rowversion" is the table's row version, except on
// PostgreSQL, whose timestamp is a date and time.
struct LinkForecast {
  std::vector<std::string> columns;   // every column, in order
  std::vector<std::string> differ;    // the columns whose type through the link differs
  std::vector<std::string> warnings;  // write conflicts, #Deleted rows, properties left behind
};
LinkForecast ForecastLink(const std::vector<LinkedColumn>& columns,
                          const std::vector<std::string>& key, const std::string& product,
                          const LinkedTableProperties& table = {});

}  // namespace platform
