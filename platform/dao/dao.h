// The DAO-like database engine: the objects and operations the migration run uses.
//
// Owns: the interface only. Implementations: tests/fake_dao (in memory, for tests of the run) and
// the real engine (Access files through libmdb, the target through ODBC).
// Failures: every operation may throw platform::Error with the engine's number and description;
// callers that go on past failures use platform::ResumeNext.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/access_catalog_writer.h"
#include "platform/error.h"

namespace dao {

// Error numbers of the engine.
namespace err {
using platform::err::kItemNotFound;               // no such item in the collection
inline constexpr int kCouldNotLock = 3045;        // file already in use (exclusive open)
inline constexpr int kFileNotFound = 3024;        // the database file does not exist
inline constexpr int kUnrecognizedFormat = 3343;  // not an Access database, or damaged
inline constexpr int kOdbcCallFailed = 3146;      // the ODBC layer refused an operation
inline constexpr int kOdbcCancelled = 3059;       // the user cancelled the data-source choice
inline constexpr int kObjectExists = 3012;        // name already taken
inline constexpr int kUnsupported = 3251;         // operation not supported by this engine
inline constexpr int kObjectClosed = 3420;        // object invalid or no longer set
}  // namespace err

// An index of a table. `Fields` is the engine's text form: "+OrderID;-Quantity".
struct Index {
  std::string Name;
  std::string Fields;
  bool Unique = false;
  bool Primary = false;
};

struct RelationField {
  std::string Name;         // field of the primary table
  std::string ForeignName;  // matching field of the foreign table
};

// Relation::Attributes flags.
inline constexpr long kRelationDontEnforce = 0x2;
inline constexpr long kRelationUpdateCascade = 0x100;
inline constexpr long kRelationDeleteCascade = 0x1000;
inline constexpr long kRelationDeleteSetNull = 0x2000;

// A stored relationship: `Table` holds the referenced key, `ForeignTable` the referencing fields.
struct Relation {
  std::string Table;
  std::string ForeignTable;
  std::vector<RelationField> Fields;
  long Attributes = 0;
};

// A field of a table with the properties an application relies on (expressions in Access's
// syntax, as stored).
struct Field {
  std::string Name;
  int Type = 0;  // the Access column type
  int Size = 0;
  bool AutoIncrement = false;
  bool Required = false;
  bool AllowZeroLength = true;
  std::string DefaultValue;
  std::string ValidationRule;
  // AutoNumber only: the last number Access gave (rows deleted since may have held it); 0 when
  // the file does not say.
  std::uint32_t AutoNumberCounter = 0;
};

// The types of the table objects of an Access file (MSysObjects.Type).
enum class ObjectType : int { kTable = 1, kOdbcLink = 4, kAccessLink = 6 };
// Whether the stored type number `type` is the object type `objectType`.
inline constexpr bool IsObjectType(long type, ObjectType objectType) {
  return type == static_cast<long>(objectType);
}

// Attributes bit of objects the file marks as its own (hidden system tables).
inline constexpr std::uint32_t kSystemObject = 0x80000002;

// Tables a migration leaves out: those named "MSys..." and those the file marks as system
// objects (the f_..._Data table an .accdb keeps for attachments), which Access alone may change.
inline bool IsSystemTable(std::string_view name, std::uint32_t attributes) {
  return name.starts_with("MSys") || (attributes & kSystemObject) != 0;
}

// Rows of a table read forward. Values are text: integers and Yes/No as digits, floating-point
// values with 17 significant digits, everything else in the engine's exact text form; NULL as
// nothing.
class Recordset {
 public:
  virtual ~Recordset() = default;
  // The next row's values, one per field asked for; false at the end of the table.
  virtual bool Next(std::vector<std::optional<std::string>>& values) = 0;
};

class TableDef {
 public:
  virtual ~TableDef() = default;
  virtual std::string Name() const = 0;
  // The object's flags as the file stores them (kSystemObject); 0 on an ODBC target.
  virtual std::uint32_t Attributes() const = 0;
  // Renames the table in its database (or just the object, before it is appended).
  virtual void SetName(const std::string& name) = 0;
  virtual std::string Connect() const = 0;
  virtual void SetConnect(const std::string& connect) = 0;
  virtual std::string SourceTableName() const = 0;
  virtual void SetSourceTableName(const std::string& name) = 0;

  // Before Append of a new link: the table of the same database whose display and lookup
  // properties (platform/display_properties.h) the link takes for the columns both have. An
  // engine that keeps no such properties ignores it.
  virtual void SetDisplayPropertiesOf(const std::string& table) { (void)table; }

  // A new index object, not yet part of the table.
  virtual Index CreateIndex(const std::string& name) = 0;
  // The table's indexes in the engine's order.
  virtual std::vector<Index> Indexes() = 0;
  // Indexes.Append: creates the index on the table.
  virtual void AppendIndex(const Index& index) = 0;
  // The fields with their properties, and the table's own validation rule; an engine that keeps
  // no such properties has none.
  virtual std::vector<Field> Fields() { return {}; }
  virtual std::string ValidationRule() { return {}; }
  // The names of the table's fields in their order. Engines without it throw kUnsupported.
  virtual std::vector<std::string> FieldNames() const {
    throw platform::Error(err::kUnsupported, "This engine does not list a table's fields.");
  }
};

inline bool IsSystemTable(const TableDef& table) {
  return IsSystemTable(table.Name(), table.Attributes());
}

// A database's table definitions. Positions run from 0 to Count() - 1 in the engine's order;
// entries appended are enumerated after those that were there, and a renamed entry keeps its
// position, so a walk by position sees appended entries at its end.
class TableDefCollection {
 public:
  virtual ~TableDefCollection() = default;
  virtual int Count() = 0;
  virtual std::shared_ptr<TableDef> Item(int position) = 0;
  // Look-up by name, without regard to letter case; kItemNotFound when there is none.
  virtual std::shared_ptr<TableDef> Item(const std::string& name) = 0;
  virtual void Refresh() = 0;
  // Adds a definition made by Database::CreateTableDef to the database.
  virtual void Append(const std::shared_ptr<TableDef>& table) = 0;
};

class Database {
 public:
  virtual ~Database() = default;
  // The connect string: empty for an Access file; "ODBC;..." completed for an ODBC target.
  virtual std::string Connect() const = 0;
  virtual TableDefCollection& TableDefs() = 0;
  virtual std::vector<Relation> Relations() = 0;
  virtual void Execute(const std::string& sql) = 0;
  virtual std::shared_ptr<TableDef> CreateTableDef(const std::string& name) = 0;
  virtual void Close() = 0;
  // What the catalog writer would refuse of a link-back's changes to this Access file, found
  // without changing or locking it; engines that cannot tell find nothing.
  virtual std::vector<platform::LinkBackRefusal> LinkBackRefusals(
      const platform::LinkBackPlan& plan) {
    (void)plan;
    return {};
  }
  // Opens what renames and links need before any other work, so that a file that takes no change
  // (a journal beside it, a format not changed) is refused once, at the start; engines without
  // a writer do nothing.
  virtual void PrepareChanges() {}
  // Reads the fields `fields` of every row of `table` (kItemNotFound for an unknown table or
  // field). Engines without it throw kUnsupported.
  virtual std::unique_ptr<Recordset> OpenRecordset(const std::string& table,
                                                   const std::vector<std::string>& fields) {
    (void)table;
    (void)fields;
    throw platform::Error(err::kUnsupported, "This engine does not read rows.");
  }
};

struct OpenOptions {
  bool exclusive = false;
  bool readOnly = false;
};

class Workspace {
 public:
  virtual ~Workspace() = default;
  // `name` is a file path for an Access file; with a connect string "ODBC;..." the target
  // named by it (asking the data-source chooser when it names none).
  virtual std::shared_ptr<Database> OpenDatabase(const std::string& name, OpenOptions options,
                                                 const std::string& connect) = 0;
  virtual void Close() = 0;
};

enum class WorkspaceType { Jet, OdbcDirect };

// Called when the catalog changes of a run are about to become the Access file's content:
// `backup` holds the file as it was before the run, `changed` (complete on disk) what it becomes.
// A throw keeps the file as it was.
using BeforeCatalogReplace =
    std::function<void(const std::string& backup, const std::string& changed)>;

class Engine {
 public:
  virtual ~Engine() = default;
  // For the databases opened after this call; an engine that changes no file ignores it.
  virtual void SetBeforeCatalogReplace(BeforeCatalogReplace hook) { (void)hook; }
  virtual std::shared_ptr<Workspace> CreateWorkspace(const std::string& name,
                                                     const std::string& user,
                                                     const std::string& password,
                                                     WorkspaceType type) = 0;
};

// UI service the target open asks when its connect string names no data source: returns the
// connection string of the chosen source ("DSN=..." or "Driver=...;Database=..."), or nothing
// when the user cancels.
class DataSourceChooser {
 public:
  virtual ~DataSourceChooser() = default;
  virtual std::optional<std::string> ChooseDataSource() = 0;
};

}  // namespace dao
