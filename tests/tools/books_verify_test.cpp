// books verify and books repair on a client's program directory against the
// demo service: damage of each kind is found by verify and undone by a
// repair over HTTP; books without a manifest, or without their install
// directory, are repaired too.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>

#include "books/book_manifest.h"
#include "tests/support/books_tool_sandbox.h"
#include "tests/support/demo_service_process.h"
#include "tests/support/run_command.h"
#include "tests/support/sandbox.h"

namespace {

using testing_support::CommandResult;
using testing_support::DemoServiceProcess;
using testing_support::RunCommand;
namespace fs = std::filesystem;

constexpr int kExitDamaged = 3;
constexpr int kExitUnchecked = 4;

std::string Utf8(const char8_t* text) {
  return reinterpret_cast<const char*>(text);
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class BooksVerifyTest : public testing_support::BooksToolSandbox {
 protected:
  void SetUp() override {
    BooksToolSandbox::SetUp();
    Serve(service_);
    if (HasFatalFailure()) return;
    ASSERT_EQ(Books({"sync"}).exit_code, 0);
  }
  std::string Book(const std::string& gid, const std::string& relative) const {
    return InstallDir(gid) + "/" + relative;
  }

  // The package as the service publishes it, and what it unpacks to.
  std::vector<ManifestEntry> PublishedEntries(const std::string& gid) {
    std::string package = Path(gid + ".zip");
    CommandResult fetch =
        RunCommand("/usr/bin/curl",
                   {"-sf", "-o", package, service_.Url("/data/books/" + gid + "/" + gid + ".zip")});
    EXPECT_EQ(fetch.exit_code, 0);
    std::vector<ManifestEntry> entries;
    std::string error;
    EXPECT_TRUE(ManifestFromArchive(package, entries, error)) << error;
    return entries;
  }
  // Downloads the book; the installation puts its manifest beside it.
  void InstallWithManifest(const std::string& bsid, const std::string& gid) {
    CommandResult download = Books({"download", bsid});
    ASSERT_EQ(download.exit_code, 0) << download.err;
    ASSERT_TRUE(fs::exists(ManifestPathFor(InstallDir(gid))));
  }
  // Whether the book on disk is what its published package unpacks to,
  // checked independently of any manifest beside it.
  bool MatchesPublishedPackage(const std::string& gid) {
    BookCheck check = CheckBookAgainst(InstallDir(gid), PublishedEntries(gid), CheckDepth::kFull);
    for (const auto& list : {check.missing, check.changed, check.extra})
      for (const std::string& path : list) ADD_FAILURE() << gid << ": " << path;
    return check.Intact();
  }

  DemoServiceProcess service_;
};

TEST_F(BooksVerifyTest, DamageIsFoundByVerifyAndUndoneByRepair) {
  InstallWithManifest("b1001", "g1001");
  CommandResult intact = Books({"verify", "b1001"});
  EXPECT_EQ(intact.exit_code, 0) << intact.out << intact.err;
  EXPECT_EQ(intact.out, "g1001: intact\n");

  const std::string page = "content/pages/page1.html";
  const struct {
    const char* name;
    std::function<void()> damage;
    std::string found;
  } cases[] = {
      {"a deleted file", [&] { fs::remove(Book("g1001", page)); }, "missing " + page},
      {"a changed file of the same size",
       [&] {
         std::string data = testing_support::ReadBytes(Book("g1001", page));
         data[data.size() / 2] ^= 1;
         testing_support::WriteBytes(Book("g1001", page), data);
       },
       "changed " + page},
      {"a file of another size",
       [&] { testing_support::WriteBytes(Book("g1001", "edition.txt"), "edition 0\r\n\r\n"); },
       "changed edition.txt"},
      {"an extra file",
       [&] { testing_support::WriteBytes(Book("g1001", "content/stray.txt"), "x"); },
       "extra content/stray.txt"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.damage();
    CommandResult verify = Books({"verify", "b1001"});
    EXPECT_EQ(verify.exit_code, kExitDamaged);
    EXPECT_TRUE(Contains(verify.out, c.found + "\n")) << verify.out;
    EXPECT_TRUE(Contains(verify.out, "g1001: damaged (")) << verify.out;

    CommandResult repair = Books({"repair", "b1001"});
    EXPECT_EQ(repair.exit_code, 0) << repair.out << repair.err;
    EXPECT_TRUE(Contains(repair.out, "g1001: intact\n")) << repair.out;
    EXPECT_TRUE(MatchesPublishedPackage("g1001"));
    EXPECT_EQ(Books({"verify", "b1001"}).exit_code, 0);
  }
}

// Books installed before manifests existed, and books whose files are all
// gone, are repaired all the same.
TEST_F(BooksVerifyTest, BooksWithoutManifestOrDirectoryAreRepaired) {
  ASSERT_EQ(Books({"download", "b1002"}).exit_code, 0);
  fs::remove(ManifestPathFor(InstallDir("g1002")));
  const struct {
    const char* name;
    std::function<void()> damage;
  } cases[] = {
      {"no manifest", [&] { fs::remove(Book("g1002", "edition.txt")); }},
      {"no manifest and no directory",
       [&] {
         fs::remove(ManifestPathFor(InstallDir("g1002")));
         fs::remove_all(InstallDir("g1002"));
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.damage();
    // Nothing to check against: that is no verdict on the book.
    CommandResult verify = Books({"verify", "b1002"});
    EXPECT_EQ(verify.exit_code, kExitUnchecked);
    EXPECT_EQ(verify.out, "g1002: no manifest\n");

    // The repaired book has its manifest again, and verifies intact.
    CommandResult repair = Books({"repair", "b1002"});
    EXPECT_TRUE(MatchesPublishedPackage("g1002"));
    EXPECT_TRUE(fs::exists(ManifestPathFor(InstallDir("g1002"))));
    EXPECT_EQ(repair.exit_code, 0) << repair.out << repair.err;
    EXPECT_EQ(Books({"verify", "b1002"}).exit_code, 0);
    fs::remove(ManifestPathFor(InstallDir("g1002")));
  }
}

TEST_F(BooksVerifyTest, VerifyAllReportsEveryInstalledBookAndNoUninstalledOne) {
  InstallWithManifest("b1001", "g1001");
  InstallWithManifest("b1003", "g1003");
  CommandResult clean = Books({"verify", "--all"});
  EXPECT_EQ(clean.exit_code, 0) << clean.out;
  EXPECT_EQ(clean.out, "g1001: intact\ng1003: intact\n");

  fs::remove(Book("g1003", "edition.txt"));
  fs::remove(ManifestPathFor(InstallDir("g1001")));
  CommandResult damaged = Books({"verify", "--all"});
  EXPECT_EQ(damaged.exit_code, kExitDamaged);
  EXPECT_EQ(
      damaged.out,
      "g1001: no manifest\nmissing edition.txt\ng1003: damaged (1 missing, 0 changed, 0 extra)\n");

  // An uninstalled book takes its manifest with it, and is no longer checked.
  ASSERT_EQ(Books({"uninstall", "b1003"}).exit_code, 0);
  EXPECT_FALSE(fs::exists(ManifestPathFor(InstallDir("g1003"))));
  CommandResult rest = Books({"verify", "--all"});
  EXPECT_EQ(rest.exit_code, kExitUnchecked);
  EXPECT_EQ(rest.out, "g1001: no manifest\n");
}

TEST_F(BooksVerifyTest, AManifestNamingFilesOutsideTheBookChecksNothing) {
  InstallWithManifest("b1001", "g1001");
  testing_support::WriteBytes(program_ + "/data/books/books/g1001/outside.txt", "x");
  testing_support::WriteBytes(
      ManifestPathFor(InstallDir("g1001")),
      "tomerack-book-manifest 1 g1001\nf 1 8cdc1683 ../outside.txt\nend 1\n");
  CommandResult verify = Books({"verify", "b1001"});
  EXPECT_EQ(verify.exit_code, kExitUnchecked);
  EXPECT_EQ(verify.out, "g1001: no manifest\n");
}

TEST_F(BooksVerifyTest, RefusalsAndUsage) {
  CommandResult not_installed = Books({"repair", "b1001"});
  EXPECT_EQ(not_installed.exit_code, 1);
  EXPECT_TRUE(Contains(not_installed.err, Utf8(u8"无法修复"))) << not_installed.err;

  CommandResult unknown = Books({"verify", "b9999"});
  EXPECT_EQ(unknown.exit_code, 1);
  EXPECT_EQ(unknown.out, "");

  EXPECT_EQ(Books({"verify"}).exit_code, 2);
  EXPECT_EQ(Books({"repair"}).exit_code, 2);
  EXPECT_EQ(Books({"repair", "b1001", "b1002"}).exit_code, 2);

  CommandResult none = Books({"verify", "--all"});
  EXPECT_EQ(none.exit_code, 0);
  EXPECT_EQ(none.out, "no installed books\n");
}

}  // namespace
