// Both ways of writing an output: the anonymous file used where the file system offers one, and
// the fixed partial name used elsewhere.
#include "pgp26/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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
    names.insert(entry.path().filename());
  return names;
}

TEST(WriteWholeFile, WritesAPrivateWholeFileAndNothingBeside) {
  using Writer = void (*)(const std::string&, std::string_view, int);
  const std::pair<const char*, Writer> writers[] = {
      {"anonymous file", pgp26::WriteWholeFile},
      {"partial file", pgp26::WriteThroughPartialFile},
  };
  for (const auto& [what, write] : writers) {
    SCOPED_TRACE(what);
    const TestHome scratch = TestHome::Bare("out");
    const std::string path = scratch.File("temppgp");
    WriteFile(path, "an earlier result");
    WriteFile(pgp26::PartialName(path), "left by a run that was killed");
    const mode_t mask = umask(0);
    write(path, "the new result", pgp26::kInvalidFile);
    umask(mask);
    EXPECT_EQ(ReadFile(path), "the new result");
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
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
