// The script files of a run: created empty at open, one CR LF line per write.
#include <gtest/gtest.h>

#include "support/error_number.h"

#include <functional>

#include "platform/error.h"
#include "platform/files.h"
#include "support/temp_dir.h"

namespace {

using platform::files::LineFileWriter;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

using testing_support::ErrorNumberOf;

TEST(LineFileWriter, open_empties_an_existing_file_and_every_line_ends_in_crlf) {
  TempDir dir;
  WriteBytes(dir.path() / "reload2.sql", "left from an earlier run\r\n");
  LineFileWriter file;
  file.Open(dir.windows() + "RELOAD2.SQL");  // names compare without regard to letter case
  EXPECT_EQ(ReadBytes(dir.path() / "reload2.sql"), "");
  file.WriteLine("commit; ");
  file.WriteLine("");
  file.WriteLine("Umsätze");
  file.Close();
  EXPECT_EQ(ReadBytes(dir.path() / "reload2.sql"), "commit; \r\n\r\nUmsätze\r\n");
  EXPECT_FALSE(file.IsOpen());
}

TEST(LineFileWriter, refuses_writes_when_not_open_and_a_second_open) {
  TempDir dir;
  LineFileWriter file;
  EXPECT_EQ(ErrorNumberOf([&] { file.WriteLine("x"); }), platform::err::kBadFileName);
  EXPECT_EQ(ErrorNumberOf([&] { file.Close(); }), platform::err::kBadFileName);
  file.Open(dir.windows() + "a.sql");
  EXPECT_EQ(ErrorNumberOf([&] { file.Open(dir.windows() + "b.sql"); }),
            platform::err::kFileAlreadyOpen);
  EXPECT_EQ(ErrorNumberOf([&] { LineFileWriter().Open(dir.windows() + "no\\a.sql"); }),
            platform::err::kPathNotFound);
}

}  // namespace
