// Windows-form paths against a real folder tree: drive Z:, letter case, short aliases.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/short_path.h"
#include "support/error_number.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using platform::paths::ToPosix;
using platform::paths::ToWindows;
using testing_support::TempDir;

namespace {
int ErrorNumberOf(const std::string& windowsPath) {
  return testing_support::ErrorNumberOf([&] { ToPosix(windowsPath); });
}
}  // namespace

class PathsOnDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root.path() / "Program Files" / "Tools" / "win32");
    fs::create_directories(root.path() / "Access Data");
    testing_support::WriteBytes(root.path() / "Access Data" / "reload.sql", "x");
    testing_support::WriteBytes(root.path() / "Program Files" / "Tools" / "win32" / "ivex.exe", "");
  }
  TempDir root;
};

TEST_F(PathsOnDisk, drive_z_is_the_root_and_round_trips) {
  const fs::path file = root.path() / "Access Data" / "reload.sql";
  EXPECT_EQ(ToWindows(file).substr(0, 3), "Z:\\");
  EXPECT_EQ(ToPosix(ToWindows(file)), file);
  EXPECT_EQ(ToPosix("z:\\tmp"), fs::path("/tmp"));
}

TEST_F(PathsOnDisk, file_names_match_without_regard_to_letter_case) {
  EXPECT_EQ(ToPosix(root.windows() + "ACCESS DATA\\reload.SQL"),
            root.path() / "Access Data" / "reload.sql");
}

TEST_F(PathsOnDisk, short_folder_form_resolves_to_the_long_folders) {
  const std::string tool = root.windows() + "Program Files\\Tools\\win32\\ivex.exe";
  const std::string shortFolder = platform::paths::ShortPathOf(tool);
  EXPECT_NE(shortFolder.find("Progra~1"), std::string::npos);
  EXPECT_EQ(ToPosix(shortFolder + "ivex.exe"),
            root.path() / "Program Files" / "Tools" / "win32" / "ivex.exe");
  EXPECT_EQ(
      ToPosix(platform::paths::ShortPathOf(root.windows() + "Access Data\\x.mdb") + "reload.sql"),
      root.path() / "Access Data" / "reload.sql");
}

TEST_F(PathsOnDisk, a_new_file_in_an_existing_folder_keeps_its_given_name) {
  EXPECT_EQ(ToPosix(root.windows() + "Access~1\\New.bat"), root.path() / "Access Data" / "New.bat");
}

TEST_F(PathsOnDisk, siblings_sharing_six_characters_get_numbered_aliases_both_ways) {
  fs::create_directories(root.path() / "Sales Data 2024");
  fs::create_directories(root.path() / "sales data 2023");
  fs::create_directories(root.path() / "Sales DataX");  // no second blank needed: holds one
  fs::create_directories(root.path() / "SalesData");    // no blank: never aliased
  const std::string in2023 = root.windows() + "sales data 2023\\a.mdb";
  const std::string in2024 = root.windows() + "Sales Data 2024\\a.mdb";
  const std::string inX = root.windows() + "Sales DataX\\a.mdb";
  // Order: by name with letters lower-cased: "sales data 2023", "sales data 2024", "sales datax".
  EXPECT_EQ(platform::paths::ShortPathOf(in2023), root.windows() + "sales ~1\\");
  EXPECT_EQ(platform::paths::ShortPathOf(in2024), root.windows() + "Sales ~2\\");
  EXPECT_EQ(platform::paths::ShortPathOf(inX), root.windows() + "Sales ~3\\");
  for (const std::string& file : {in2023, in2024, inX})
    EXPECT_EQ(ToPosix(platform::paths::ShortPathOf(file) + "a.mdb"), ToPosix(file)) << file;
  EXPECT_EQ(ErrorNumberOf(root.windows() + "Sales ~4\\x"), platform::err::kPathNotFound);
  // "Access Data" of the fixture shares no prefix with them and stays ~1.
  EXPECT_EQ(platform::paths::ShortPathOf(root.windows() + "Access Data\\x.mdb"),
            root.windows() + "Access~1\\");
}

TEST_F(PathsOnDisk, ambiguity_and_missing_folders_are_errors) {
  fs::create_directories(root.path() / "CASE");
  fs::create_directories(root.path() / "case");
  EXPECT_EQ(ErrorNumberOf(root.windows() + "Case\\x"), platform::err::kItemNotFound);
  EXPECT_EQ(ToPosix(root.windows() + "case\\x"), root.path() / "case" / "x");  // exact wins
  EXPECT_EQ(ErrorNumberOf(root.windows() + "Missing\\x"), platform::err::kPathNotFound);
}

TEST(Paths, other_drives_and_network_paths_are_refused) {
  EXPECT_EQ(ErrorNumberOf("C:\\Data\\Sales.mdb"), platform::err::kNoSuchDrive);
  EXPECT_EQ(ErrorNumberOf("\\\\server\\share\\x.mdb"), platform::err::kNoSuchDrive);
  EXPECT_FALSE(platform::files::FileExists("C:\\Data\\Sales.mdb"));
}

TEST(Paths, what_cannot_stand_in_a_command_file_is_named) {
  using platform::paths::UnsafeInCommandFile;
  EXPECT_EQ(UnsafeInCommandFile("Z:\\home\\ann\\My Dat~1\\Umsätze (2024)-v1.mdb"), "");
  EXPECT_EQ(UnsafeInCommandFile("Z:\\x\nZ:\\nwind.db"), "a line break (0x0A)");
  EXPECT_EQ(UnsafeInCommandFile("Z:\\x\r\\a.mdb"), "a line break (0x0D)");
  EXPECT_EQ(UnsafeInCommandFile("Z:\\tab\there.mdb"), "a control character (0x09)");
  EXPECT_EQ(UnsafeInCommandFile("Z:\\q\"uote.mdb"), "the character \"");
  for (char c : std::string("<>|?*%^&"))
    EXPECT_EQ(UnsafeInCommandFile(std::string("Z:\\a") + c + "b.mdb"),
              std::string("the character ") + c);
  EXPECT_EQ(UnsafeInCommandFile("Z:\\a:b.mdb"), "the character :");  // only after the drive
}
