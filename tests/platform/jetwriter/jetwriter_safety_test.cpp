// Safety of the catalog writer: a process killed between any two page writes leaves a file
// that reads in the state before or after the change; backups; locks.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "jet_test_support.h"
#include "platform/dao/dao.h"
#include "platform/error.h"
#include "platform/jetwriter/catalog.h"
#include "platform/jetwriter/jet_catalog_writer.h"
#include "platform/jetwriter/page_file.h"
#include "support/error_number.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

enum class Op { kRename, kAppend };

// Runs `op` in a child process that kills itself before its n-th page write. Returns true when
// the child was killed, false when the change completed.
bool RunKilledAt(int n, const fs::path& mdb, Op op, const std::string& connect) {
  pid_t pid = fork();
  if (pid == 0) {
    jetwriter::SetKillBeforePageWrite(n);
    int code = 0;
    try {
      auto w = jetwriter::OpenJetCatalogWriter(mdb.string());
      if (op == Op::kRename) {
        w->RenameTable("Customers", "Old_Customers");
      } else {
        w->AppendLinkedTable("Verknüpfung", connect, "Customers");
      }
    } catch (...) {
      code = 3;
    }
    _exit(code);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  if (WIFSIGNALED(status)) return true;
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the change failed";
  return false;
}

struct CrashCase {
  const char* file;
  Op op;
  friend std::ostream& operator<<(std::ostream& o, const CrashCase& c) {
    return o << c.file << (c.op == Op::kRename ? ", rename" : ", append link");
  }
};

class KilledWriter : public testing::TestWithParam<CrashCase> {};

TEST_P(KilledWriter, leaves_the_state_before_or_after_the_change) {
  testing_support::TempDir dir("jetwriter");
  fs::path original = jettest::CopyFixture(GetParam().file, dir.path());
  fs::path remote = dir.path() / "remote.db";
  jettest::MakeRemote(remote, {{"Customers", "id integer, name varchar(20)"}});
  std::string connect = "ODBC;Driver=Norvane;Database=" + remote.string();
  // The Jet 4 and Access 2010 files have no Customers table: give one of theirs that name first.
  const std::string file = GetParam().file;
  if (file != "nwind.mdb") {
    auto w = jetwriter::OpenJetCatalogWriter(original.string());
    w->RenameTable(file == "testV2000.mdb" ? "Table1" : "Aufträge", "Customers");
  }
  std::string before = testing_support::ReadBytes(original);
  fs::path mdb = dir.path() / "work.mdb";

  int killed = 0, killedAfterRename = 0;
  for (int n = 1; n < 200; ++n) {
    testing_support::WriteBytes(mdb, before);
    fs::remove(mdb.string() + ".bak");
    bool wasKilled = RunKilledAt(n, mdb, GetParam().op, connect);
    std::vector<std::string> tables = jettest::LibmdbTables(mdb);
    const bool changed =
        GetParam().op == Op::kRename
            ? std::find(tables.begin(), tables.end(), "Old_Customers") != tables.end()
            : jettest::LibmdbLinks(mdb).count("Verknüpfung") == 1;
    EXPECT_FALSE(fs::exists(jetwriter::PageFile::JournalPath(mdb.string())));
    if (wasKilled) {
      ++killed;
      // The next open removes the killed process's work copy and nothing else.
      jetwriter::RecoverInterruptedChange(mdb.string());
      EXPECT_FALSE(fs::exists(jetwriter::PageFile::WorkCopyPath(mdb.string())));
      if (fs::exists(mdb.string() + ".bak")) {
        EXPECT_EQ(testing_support::ReadBytes(mdb.string() + ".bak"), before);
      }
      if (!changed) {
        ASSERT_EQ(testing_support::ReadBytes(mdb), before) << "killed before write " << n;
        continue;
      }
      ++killedAfterRename;
    }
    // The change went through: it is complete and consistent.
    ASSERT_TRUE(changed) << "write " << n;
    EXPECT_EQ(jetwriter::CheckCatalog(mdb.string()), std::vector<std::string>{});
    if (!wasKilled) break;
  }
  EXPECT_GT(killed, 3);  // the change took several page writes, each one interrupted once
  EXPECT_EQ(killedAfterRename, 1);  // the one point after the rename
}

INSTANTIATE_TEST_SUITE_P(AllFormats, KilledWriter,
                         testing::Values(CrashCase{"nwind.mdb", Op::kRename},
                                         CrashCase{"nwind.mdb", Op::kAppend},
                                         CrashCase{"testV2000.mdb", Op::kRename},
                                         CrashCase{"testV2000.mdb", Op::kAppend},
                                         CrashCase{"modern-dev-V2010.accdb", Op::kAppend}),
                         [](const testing::TestParamInfo<CrashCase>& i) {
                           const char f = i.param.file[0];
                           return std::string(f == 'n'   ? "Jet3"
                                              : f == 't' ? "Jet4"
                                                         : "Ace2010") +
                                  (i.param.op == Op::kRename ? "_Rename" : "_AppendLink");
                         });

// Journals that an older version, a killed run or another user left beside the file: none is
// applied, whatever it holds; the writer refuses to change the file while one is there.
TEST(ForeignJournal, is_left_alone_and_the_file_is_not_changed) {
  testing_support::TempDir dir("jetwriter");
  fs::path mdb = jettest::CopyFixture("nwind.mdb", dir.path());
  const std::string before = testing_support::ReadBytes(mdb);
  // A well-formed journal of the earlier format that empties the file (size 0, no pages), and
  // one whose before-image of page 2 is zeros.
  auto journal = [](std::uint64_t size, std::uint32_t count) {
    std::string j = "NVJRNL01";
    auto put = [&](std::uint64_t v, int n) {
      for (int i = 0; i < n; ++i) j.push_back(static_cast<char>(v >> (8 * i)));
    };
    put(2048, 4);
    put(size, 8);
    put(count, 4);
    if (count == 1) {
      put(2, 4);
      j += std::string(2048, '\0');
    }
    std::uint64_t h = 1469598103934665603ull;
    for (unsigned char c : j) h = (h ^ c) * 1099511628211ull;
    put(h, 8);
    return j;
  };
  for (const std::string& planted : {journal(0, 0), journal(before.size(), 1)}) {
    const std::string jpath = jetwriter::PageFile::JournalPath(mdb.string());
    testing_support::WriteBytes(jpath, planted);
    EXPECT_FALSE(jetwriter::RecoverInterruptedChange(mdb.string()));
    std::string description;
    EXPECT_EQ(
        testing_support::ErrorNumberOf(
            [&] {
              jetwriter::OpenJetCatalogWriter(mdb.string())->RenameTable("Orders", "Old_Orders");
            },
            &description),
        dao::err::kCouldNotLock);
    EXPECT_NE(description.find(jpath + "' lies beside the Access file"), std::string::npos)
        << description;
    EXPECT_EQ(description.find(".bak"), std::string::npos) << description;  // there is none
    EXPECT_EQ(testing_support::ReadBytes(mdb), before);
    EXPECT_EQ(testing_support::ReadBytes(jpath), planted);
    EXPECT_FALSE(fs::exists(mdb.string() + ".bak"));
    fs::remove(jpath);
  }
  // A backup an older run left is named as the one to restore.
  testing_support::WriteBytes(jetwriter::PageFile::JournalPath(mdb.string()), "x");
  testing_support::WriteBytes(mdb.string() + ".bak", "older");
  EXPECT_NE(jetwriter::PageFile::ForeignJournalNote(mdb.string())
                .find("after restoring the backup '" + mdb.string() + ".bak'"),
            std::string::npos);
}

TEST(Backup, is_made_before_the_first_change_and_never_overwritten) {
  testing_support::TempDir dir("jetwriter");
  fs::path mdb = jettest::CopyFixture("nwind.mdb", dir.path());
  std::string original = testing_support::ReadBytes(mdb);
  {
    auto w = jetwriter::OpenJetCatalogWriter(mdb.string());
    EXPECT_EQ(jetwriter::BackupPathOf(*w), "");
    w->RenameTable("Orders", "Old_Orders");
    w->RenameTable("Products", "Old_Products");  // same run: no second backup
    EXPECT_EQ(jetwriter::BackupPathOf(*w), mdb.string() + ".bak");
  }
  std::string afterFirstRun = testing_support::ReadBytes(mdb);
  {
    auto w = jetwriter::OpenJetCatalogWriter(mdb.string());
    w->RenameTable("Old_Orders", "Orders");
    EXPECT_EQ(jetwriter::BackupPathOf(*w), mdb.string() + ".bak2");
  }
  EXPECT_EQ(testing_support::ReadBytes(mdb.string() + ".bak"), original);
  EXPECT_EQ(testing_support::ReadBytes(mdb.string() + ".bak2"), afterFirstRun);
}

TEST(Backup, and_the_replaced_file_keep_the_permissions_of_the_original) {
  testing_support::TempDir dir("jetwriter");
  fs::path mdb = jettest::CopyFixture("nwind.mdb", dir.path());
  fs::permissions(mdb, fs::perms::owner_read | fs::perms::owner_write);
  jetwriter::OpenJetCatalogWriter(mdb.string())->RenameTable("Orders", "Old_Orders");
  const fs::perms rw = fs::perms::owner_read | fs::perms::owner_write;
  EXPECT_EQ(fs::status(mdb.string() + ".bak").permissions(), rw);
  EXPECT_EQ(fs::status(mdb).permissions(), rw);
}

// A full disk (here: a file size limit) while the backup or the work copy is written: the
// change fails, the file is as it was and nothing is left beside it.
TEST(Backup, a_full_disk_leaves_the_file_as_it_was_and_no_temporary_copy) {
  testing_support::TempDir dir("jetwriter");
  fs::path mdb = jettest::CopyFixture("nwind.mdb", dir.path());
  const std::string before = testing_support::ReadBytes(mdb);
  for (rlim_t limit : {rlim_t{65536}, static_cast<rlim_t>(before.size() / 2)}) {
    const pid_t pid = fork();
    if (pid == 0) {
      signal(SIGXFSZ, SIG_IGN);
      struct rlimit r {
        limit, limit
      };
      setrlimit(RLIMIT_FSIZE, &r);
      const int number = testing_support::ErrorNumberOf([&] {
        jetwriter::OpenJetCatalogWriterForRun(mdb.string())->RenameTable("Orders", "Old_Orders");
      });
      _exit(number == platform::err::kPathFileAccess ? 0 : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "limit " << limit;
    EXPECT_EQ(testing_support::ReadBytes(mdb), before);
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.path())) left.push_back(e.path().filename());
    EXPECT_EQ(left, std::vector<std::string>{"nwind.mdb"}) << "limit " << limit;
  }
}

TEST(Lock, the_standalone_writer_refuses_a_file_someone_holds) {
  testing_support::TempDir dir("jetwriter");
  fs::path mdb = jettest::CopyFixture("nwind.mdb", dir.path());
  int fd = open(mdb.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  struct flock lock {};
  lock.l_type = F_WRLCK;
  lock.l_whence = SEEK_SET;
  ASSERT_EQ(fcntl(fd, F_OFD_SETLK, &lock), 0);
  try {
    jetwriter::OpenJetCatalogWriterLocked(mdb.string());
    ADD_FAILURE() << "opened a locked file";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.Number(), dao::err::kCouldNotLock);
  }
  // The holder itself writes through the writer that takes no lock.
  auto w = jetwriter::OpenJetCatalogWriter(mdb.string());
  w->RenameTable("Orders", "Old_Orders");
  close(fd);
  auto standalone = jetwriter::OpenJetCatalogWriterLocked(mdb.string());
  standalone->RenameTable("Old_Orders", "Orders");
  EXPECT_EQ(jetwriter::CheckCatalog(mdb.string()), std::vector<std::string>{});
}

TEST(Lock, a_lock_file_beside_the_database_means_it_may_be_open_in_Access) {
  testing_support::TempDir dir("jetwriter");
  fs::path mdb = jettest::CopyFixture("nwind.mdb", dir.path());
  testing_support::WriteBytes(dir.path() / "nwind.ldb", std::string(64, ' '));
  try {
    jetwriter::OpenJetCatalogWriterLocked(mdb.string());
    ADD_FAILURE() << "opened a file with a lock file";
  } catch (const platform::Error& e) {
    EXPECT_EQ(e.Number(), dao::err::kCouldNotLock);
  }
}

TEST(CatalogCheck, finds_a_row_whose_name_no_longer_matches_its_index_entry) {
  testing_support::TempDir dir("jetwriter");
  fs::path mdb = jettest::CopyFixture("nwind.mdb", dir.path());
  {
    jetwriter::PageFile file(mdb.string(), jetwriter::LockMode::kHeldByCaller);
    jetwriter::Catalog cat = jetwriter::ReadCatalog(file);
    auto row = std::find_if(cat.rows.begin(), cat.rows.end(),
                            [](const jetwriter::CatalogRow& r) { return r.name == "Shippers"; });
    ASSERT_NE(row, cat.rows.end());
    jetwriter::Bytes page = file.Read(row->dataAt.page);
    std::string text(page.begin(), page.end());
    std::size_t at = text.find("Shippers");
    ASSERT_NE(at, std::string::npos);
    page[at] = 'T';  // "Thippers": the row changes, its index entry does not
    file.Write(row->dataAt.page, page);
    file.Commit();
  }
  std::vector<std::string> problems = jetwriter::CheckCatalog(mdb.string());
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("ParentIdName index holds a wrong key for 'Thippers'"),
            std::string::npos);
}

TEST(CatalogCheck, finds_an_index_entry_out_of_order) {
  testing_support::TempDir dir("jetwriter");
  fs::path mdb = jettest::CopyFixture("testV2000.mdb", dir.path());
  {
    jetwriter::PageFile file(mdb.string(), jetwriter::LockMode::kHeldByCaller);
    jetwriter::Catalog cat = jetwriter::ReadCatalog(file);
    const jetwriter::RealIndex& id = cat.tdef.indexes[static_cast<std::size_t>(cat.idIndex)];
    jetwriter::Bytes page = file.Read(id.root);
    ASSERT_EQ(page[0], 0x04);  // a one-page index: the root is the leaf
    // The first entry is stored whole: make its key larger than every other.
    page[static_cast<std::size_t>(cat.f.idxFirstEntry) + 1] = 0xFF;
    file.Write(id.root, page);
    file.Commit();
  }
  std::vector<std::string> problems = jetwriter::CheckCatalog(mdb.string());
  EXPECT_FALSE(problems.empty());
}

// The check before a link-back reads the file only and names each reason once, with the names
// it refuses; a Jet 4 file holds what a Jet 3 file cannot.
TEST(LinkBackCheck, groups_the_writers_refusals_and_changes_nothing) {
  using Of = platform::LinkBackRefusal::Of;
  testing_support::TempDir dir("jetwriter");
  platform::LinkBackPlan plan;
  plan.renames = {{"Table1", "Old[Table1"},
                  {"Table2", "Old[Table2"},
                  {"Table3", "Old_Table3"},
                  {"Table4", std::string(65, 'x')}};
  plan.links = {{"Table1", "Table1"}, {"Bad.Name", "Bad_Name"}};
  plan.connect = "ODBC;Driver=Norvane;Database=/data/Łódź/x.db";
  for (const char* fixture : {"testV1997.mdb", "testV2000.mdb"}) {
    SCOPED_TRACE(fixture);
    const fs::path mdb = jettest::CopyFixture(fixture, dir.path());
    const std::string before = testing_support::ReadBytes(mdb);
    const auto refusals = jetwriter::CheckLinkBack(mdb.string(), plan);
    ASSERT_GE(refusals.size(), 3u);
    EXPECT_EQ(refusals[0].of, Of::Rename);
    EXPECT_EQ(refusals[0].names, (std::vector<std::string>{"Old[Table1", "Old[Table2"}));
    EXPECT_EQ(refusals[0].reason,
              "It isn't a valid name: it holds a character names may not hold.");
    EXPECT_EQ(refusals[1].names, std::vector<std::string>{std::string(65, 'x')});
    EXPECT_EQ(refusals[2].of, Of::Link);
    EXPECT_EQ(refusals[2].names, std::vector<std::string>{"Bad.Name"});
    const bool jet3 = std::string(fixture) == "testV1997.mdb";
    ASSERT_EQ(refusals.size(), jet3 ? 4u : 3u);
    if (jet3) {
      EXPECT_EQ(refusals[3].of, Of::Connect);
    }
    EXPECT_EQ(testing_support::ReadBytes(mdb), before);
    EXPECT_FALSE(fs::exists(mdb.string() + ".bak"));
    EXPECT_FALSE(fs::exists(jetwriter::PageFile::WorkCopyPath(mdb.string())));

    // A connect string longer than a page, and a journal: the file takes no link at all.
    platform::LinkBackPlan longer{
        {}, {}, "ODBC;Driver=Norvane;Database=/" + std::string(5000, 'd')};
    testing_support::WriteBytes(jetwriter::PageFile::JournalPath(mdb.string()), "planted");
    const auto refused = jetwriter::CheckLinkBack(mdb.string(), longer);
    ASSERT_EQ(refused.size(), 2u);
    EXPECT_EQ(refused[0].of, Of::File);
    EXPECT_NE(refused[0].reason.find("-journal' lies beside"), std::string::npos);
    EXPECT_EQ(refused[1].of, Of::Connect);
    EXPECT_EQ(refused[1].reason, "The Connect value is too long.");
    fs::remove(mdb);
    fs::remove(jetwriter::PageFile::JournalPath(mdb.string()));
  }
}

}  // namespace
