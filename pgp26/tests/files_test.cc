// Both ways of writing an output: the anonymous file used where the file system offers one, and
// the fixed partial name used elsewhere.
#include "pgp26/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "pgp26/failure.h"
#include "pgp26/tests/test_home.h"

namespace pgp26_test {
namespace {

namespace fs = std::filesystem;

std::set<std::string> Names(const fs::path& folder) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(folder))
    names.insert(entry.path().filename().string());
  return names;
}

TEST(WriteWholeFile, WritesAWholeFileAndNothingBeside) {
  for (const auto& [what, write] : kWriters) {
    SCOPED_TRACE(what);
    const TestHome scratch = TestHome::Bare("out");
    const std::string path = scratch.File("temppgp");
    WriteFile(path, "an earlier result");
    WriteFile(pgp26::PartialName(path), "left by a run that was killed");
    write(path, "the new result", pgp26::kInvalidFile);
    EXPECT_EQ(ReadFile(path), "the new result");
    EXPECT_EQ(Names(scratch.path()), std::set<std::string>{"temppgp"});

    // A folder in the way is an error, stays as it is, and nothing else is left.
    fs::create_directory(scratch.File("temppgp.asc"));
    try {
      write(scratch.File("temppgp.asc"), "cipher text", pgp26::kEncryptError);
      ADD_FAILURE() << "wrote over a folder";
    } catch (const pgp26::Failure& failure) {
      EXPECT_EQ(failure.code(), pgp26::kEncryptError);
    }
    EXPECT_TRUE(fs::is_directory(scratch.File("temppgp.asc")));
    EXPECT_EQ(Names(scratch.path()), (std::set<std::string>{"temppgp", "temppgp.asc"}));
  }
}

}  // namespace
}  // namespace pgp26_test
