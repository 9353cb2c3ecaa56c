// Rows through parameter arrays into a real Norvane file through the Norvane driver: a refused
// row named by its number with nothing of the table kept, long values with flat memory.
#include "platform/access/insert_array.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine_support.h"
#include "platform/error.h"
#include "support/cells.h"

namespace {

using engine_test::NorvaneSource;
using engine_test::SqliteRows;
using platform::access::Cell;
using platform::access::InsertArray;
using platform::access::ParamBinding;
using testing_support::TempDir;

constexpr auto Integer = testing_support::IntegerCell;
constexpr auto Bytes = testing_support::BytesCell;

struct Target {
  TempDir dir{"insert-array"};
  std::filesystem::path file = engine_test::NewNorvaneDatabase(dir.path() / "out.db");
  platform::odbc::Connection db{NorvaneSource(file)};
  explicit Target(const std::string& create) { db.ExecDirect(create); }
  // The prepared insert of `columns` parameters into table t.
  void Prepare(platform::odbc::Statement& st, int columns) {
    std::string sql = "INSERT INTO t VALUES (?";
    for (int i = 1; i < columns; ++i) sql += ", ?";
    sql += ")";
    st.Check(SQLPrepare(st.get(), reinterpret_cast<SQLCHAR*>(sql.data()), SQL_NTS), "prepare");
  }
};

const ParamBinding kInteger{SQL_C_SBIGINT, SQL_INTEGER, 19, 0, 0};
const ParamBinding kText{SQL_C_CHAR, SQL_WVARCHAR, 0, 0, 16};
const ParamBinding kBinary{SQL_C_BINARY, SQL_LONGVARBINARY, 0, 0, 16};

TEST(InsertArray, a_refused_row_in_the_middle_of_an_array_is_named_and_rolled_back_with_the_rest) {
  Target t("CREATE TABLE t (id integer PRIMARY KEY, name varchar(20))");
  t.db.SetAutoCommit(false);
  platform::odbc::Statement st(t.db);
  t.Prepare(st, 2);
  InsertArray array(st, {kInteger, kText}, 3000);
  std::string error;
  try {
    // Row 1500 (in the second array of 1024 rows) repeats the key of row 10.
    for (std::int64_t row = 1; row <= 3000; ++row)
      array.Add({Integer(row == 1500 ? 10 : row), Bytes("name " + std::to_string(row))});
    array.Execute();
    ADD_FAILURE() << "the repeated key went in";
  } catch (const platform::Error& e) {
    error = e.Description();
  }
  EXPECT_NE(error.find("inserting row 1500:"), std::string::npos) << error;
  EXPECT_NE(error.find("[23000]"), std::string::npos) << error;
  EXPECT_EQ(array.Written(), 1024u);  // the first array only
  t.db.Rollback();
  t.db.SetAutoCommit(true);
  EXPECT_EQ(SqliteRows(t.file, "SELECT count(*) FROM t")[0][0], "0");
}

TEST(InsertArray, arrays_of_any_size_arrive_whole_and_in_order) {
  Target t("CREATE TABLE t (id integer, name varchar(20), data longvarbinary)");
  platform::odbc::Statement st(t.db);
  t.Prepare(st, 3);
  InsertArray array(st, {kInteger, kText, kBinary}, 0);
  // 2500 rows: two full arrays and a partial one; NULLs, empty values and bytes with zeros.
  for (std::int64_t row = 0; row < 2500; ++row) {
    Cell name = row % 7 == 0 ? Cell{} : Bytes(row % 5 == 0 ? "" : "n" + std::to_string(row));
    std::string data(static_cast<std::size_t>(row % 40), '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(row + i * 3);
    array.Add({Integer(row), name, Bytes(data)});
  }
  array.Execute();
  EXPECT_EQ(array.Written(), 2500u);
  const auto rows = SqliteRows(t.file, "SELECT id, name, data FROM t ORDER BY rowid");
  ASSERT_EQ(rows.size(), 2500u);
  for (std::size_t row = 0; row < rows.size(); ++row) {
    EXPECT_EQ(rows[row][0], std::to_string(row));
    if (row % 7 == 0)
      EXPECT_FALSE(rows[row][1]) << row;
    else
      EXPECT_EQ(rows[row][1], row % 5 == 0 ? "" : "n" + std::to_string(row));
    std::string data(row % 40, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(row + i * 3);
    EXPECT_EQ(rows[row][2].value_or("NULL"), data) << row;
  }
}

TEST(InsertArray, long_values_arrive_whole_and_their_buffers_are_given_back) {
  Target t("CREATE TABLE t (id integer, notes text, data longvarbinary)");
  platform::odbc::Statement st(t.db);
  t.Prepare(st, 3);
  InsertArray array(st, {kInteger, kText, kBinary}, 0);
  const std::size_t flat = array.BufferBytes();
  const auto longText = [](std::int64_t row) { return std::string(3'000'000, 'a' + row % 26); };
  const auto longBytes = [](std::int64_t row) {
    return std::string(2'000'000, static_cast<char>(row));
  };
  for (std::int64_t row = 0; row < 300; ++row) {
    const bool isLong = row % 50 == 7;
    array.Add({Integer(row), Bytes(isLong ? longText(row) : "short " + std::to_string(row)),
               Bytes(isLong ? longBytes(row) : std::string(3, static_cast<char>(row)))});
    // A long row goes in an array of its own and leaves no large buffer behind.
    EXPECT_LE(array.BufferBytes(), flat) << row;
  }
  array.Execute();
  // At most the longest row's values (rounded up to powers of two) besides the flat buffers.
  EXPECT_LE(array.PeakBufferBytes(), flat + (4u << 20) + (2u << 20) + (64u << 10));
  EXPECT_GT(array.PeakBufferBytes(), 5'000'000u);  // the long values were held
  const auto rows =
      SqliteRows(t.file, "SELECT id, notes, data FROM t WHERE length(notes) > 100 ORDER BY id");
  ASSERT_EQ(rows.size(), 6u);
  for (const auto& row : rows) {
    const std::int64_t id = std::stoll(*row[0]);
    EXPECT_EQ(id % 50, 7);
    EXPECT_TRUE(row[1] == longText(id)) << id;
    EXPECT_TRUE(row[2] == longBytes(id)) << id;
  }
  EXPECT_EQ(SqliteRows(t.file, "SELECT count(*), sum(length(data)) FROM t")[0],
            (engine_test::TextRow{"300", std::to_string(6 * 2'000'000 + 294 * 3)}));
}

}  // namespace
