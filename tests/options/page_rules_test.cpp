// What the pages' choices write into the settings, without widgets.
#include <gtest/gtest.h>

#include "options/page_rules.h"
#include "target/create_db.h"

#include <filesystem>

#include "support/temp_dir.h"

using namespace wizard;

TEST(StoreOptions, check_box_off_clears_the_flag_and_keeps_the_prefix) {
  MigrationSettings s;
  EXPECT_TRUE(StoreOptions({false, true, "Old_"}, s));
  EXPECT_EQ(s.LinkTablesFlag, 0);
  EXPECT_EQ(s.TablePrefix, "");
  s.TablePrefix = "Mine_";
  s.LinkTablesFlag = 1;
  EXPECT_TRUE(StoreOptions({false, false, "x"}, s));
  EXPECT_EQ(s.LinkTablesFlag, 0);
  EXPECT_EQ(s.TablePrefix, "Mine_");
}

TEST(StoreOptions, first_option_or_other_entry_as_typed) {
  MigrationSettings s;
  EXPECT_TRUE(StoreOptions({true, true, "ignored"}, s));
  EXPECT_EQ(s.TablePrefix, "Old_");
  EXPECT_TRUE(StoreOptions({true, false, "Old_"}, s));
  EXPECT_EQ(s.TablePrefix, "Old_");
  EXPECT_TRUE(StoreOptions({true, false, " Arch "}, s));
  EXPECT_EQ(s.TablePrefix, " Arch ");
  EXPECT_EQ(s.LinkTablesFlag, 1);
}

TEST(StoreOptions, blank_other_entry_is_refused_after_setting_the_flag) {
  MigrationSettings s;
  s.TablePrefix = "Keep_";
  EXPECT_FALSE(StoreOptions({true, false, "   "}, s));
  EXPECT_EQ(s.LinkTablesFlag, 1);
  EXPECT_EQ(s.TablePrefix, "Keep_");
}

TEST(OptionsStateAtLoad, follows_flag_and_prefix) {
  MigrationSettings s;
  EXPECT_FALSE(OptionsStateAtLoad(s).linkChecked);
  s.LinkTablesFlag = 1;
  s.TablePrefix = "Old_";
  EXPECT_TRUE(OptionsStateAtLoad(s).oldPrefixSelected);
  s.TablePrefix = "Arch_";
  const OptionsState other = OptionsStateAtLoad(s);
  EXPECT_FALSE(other.oldPrefixSelected);
  EXPECT_EQ(other.otherText, "Arch_");
}

TEST(StoreAccessChoice, sets_path_work_folder_and_database_name) {
  MigrationSettings s;
  EXPECT_TRUE(StoreAccessChoice("D:\\Data\\Sales.mdb", "Sales.mdb", s));
  EXPECT_EQ(s.AccessDbPath, "D:\\Data\\Sales.mdb");
  EXPECT_EQ(s.WorkFolder, "D:\\Data\\");
  EXPECT_EQ(s.TargetDbFileName, "Sales.db");
  EXPECT_TRUE(StoreAccessChoice("C:\\My Data\\x\\Sales Q1.mdb ", "Sales Q1.mdb", s));
  EXPECT_EQ(s.AccessDbPath, "C:\\My Data\\x\\Sales Q1.mdb ");
  EXPECT_EQ(s.WorkFolder, "C:\\My Dat~1\\x\\");
}

TEST(StoreAccessChoice, blank_path_is_refused_and_keeps_the_work_folder) {
  MigrationSettings s;
  s.WorkFolder = "C:\\Old\\";
  EXPECT_FALSE(StoreAccessChoice("  ", "", s));
  EXPECT_EQ(s.WorkFolder, "C:\\Old\\");
}

TEST(TargetDbFileNameOf, drops_the_last_three_characters_whatever_they_are) {
  EXPECT_EQ(TargetDbFileNameOf("Sales.mdb"), "Sales.db");
  EXPECT_EQ(TargetDbFileNameOf("Sales.mdw"), "Sales.db");
  EXPECT_EQ(TargetDbFileNameOf("Salesdata"), "Salesddb");
  EXPECT_EQ(TargetDbFileNameOf("abc"), "db");
  EXPECT_EQ(TargetDbFileNameOf("ab"), "db");
  EXPECT_EQ(TargetDbFileNameOf("Umsätze.mdb"), "Umsätze.db");
}

TEST(TargetDbFileNameOf, an_accdb_gives_its_title_with_db_and_a_log_of_the_same_name) {
  EXPECT_EQ(TargetDbFileNameOf("Shop.accdb"), "Shop.db");
  EXPECT_EQ(TargetDbFileNameOf("Shop.ACCDB"), "Shop.db");
  EXPECT_EQ(TargetDbFileNameOf("Aufträge 2024.accdb"), "Aufträge 2024.db");
  EXPECT_EQ(TargetDbFileNameOf(".accdb"), ".acdb");  // no title: the rule of any other name
  MigrationSettings s;
  ASSERT_TRUE(StoreAccessChoice(R"(Z:\home\ann\Shop Data\Shop.accdb)", "Shop.accdb", s));
  EXPECT_EQ(s.TargetDbFileName, "Shop.db");
  EXPECT_EQ(target::TargetLogFilePath(s), s.WorkFolder + "Shop.log");
}

TEST(StoreQueryToolChoice, accepts_only_the_two_tools_in_any_case) {
  MigrationSettings s;
  EXPECT_TRUE(StoreQueryToolChoice("C:\\Program Files\\Tools\\win32\\ivex.exe", "ivex.exe", s));
  EXPECT_EQ(s.QueryToolPath, "C:\\Progra~1\\Tools\\win32\\");
  EXPECT_TRUE(StoreQueryToolChoice("D:\\T\\IVEXW.EXE", " IVEXW.EXE ", s));
  EXPECT_EQ(s.QueryToolFileName, "IVEXW.EXE");
  for (const char* rejected : {"ivex32.exe", "vorlin.exe", "", "xivex.exe"})
    EXPECT_FALSE(StoreQueryToolChoice(std::string("E:\\") + rejected, rejected, s)) << rejected;
  EXPECT_EQ(s.QueryToolFileName, "IVEXW.EXE");
  EXPECT_EQ(s.QueryToolPath, "D:\\T\\");
}

// The pages show paths as the user's system writes them; the short form stays in command files.
TEST(ShownPath, gives_the_posix_long_form_of_short_and_long_windows_paths) {
  testing_support::TempDir dir;
  std::filesystem::create_directory(dir.path() / "Shop Data");
  testing_support::WriteBytes(dir.path() / "Shop Data" / "Shop.accdb", "x");
  MigrationSettings s;
  ASSERT_TRUE(StoreAccessChoice(dir.windows() + "Shop Data\\Shop.accdb", "Shop.accdb", s));
  const std::string folder = (dir.path() / "Shop Data").string();
  ASSERT_NE(s.WorkFolder.find("Shop D~1"), std::string::npos) << s.WorkFolder;
  EXPECT_EQ(ShownPath(s.AccessDbPath), folder + "/Shop.accdb");
  EXPECT_EQ(ShownPath(s.WorkFolder), folder + "/");                   // a folder keeps its slash
  EXPECT_EQ(ShownPath(s.WorkFolder + "new.db"), folder + "/new.db");  // not there yet
  EXPECT_EQ(ShownPath("/already/posix"), "/already/posix");
  EXPECT_EQ(ShownPath("D:\\elsewhere\\x.mdb"), "D:\\elsewhere\\x.mdb");  // no POSIX form

  // In a message: the settings' long paths with their blanks, other paths up to a blank, and
  // the punctuation after a path stays outside it.
  const std::string text =
      ShownText("Restored " + s.AccessDbPath + " from " + s.WorkFolder + "Shop.bak; removed " +
                    s.WorkFolder + "Shop.db.\n" + "Not Z: or C:x or D:\\elsewhere\\y.",
                s);
  EXPECT_EQ(text, "Restored " + folder + "/Shop.accdb from " + folder + "/Shop.bak; removed " +
                      folder + "/Shop.db.\nNot Z: or C:x or D:\\elsewhere\\y.");
}
