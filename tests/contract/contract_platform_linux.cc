// The shared port tests' platform facts on Linux. Drive C: of the test run is a fresh directory,
// so that the registry and the Windows directory the tests use are their own.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "base/cmdline.h"
#include "tests/contract/contract_platform.h"

namespace quillet::contract {

namespace {

// Set up before any port is first used: the registry's file is fixed then.
class ScratchRoot : public ::testing::Environment {
 public:
  void SetUp() override {
    root_ =
        std::filesystem::temp_directory_path() / ("quillet-contract-" + std::to_string(getpid()));
    std::filesystem::create_directories(root_);
    setenv("QUILLET_ROOT", root_.c_str(), 1);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }

 private:
  std::filesystem::path root_;
};

[[maybe_unused]] ::testing::Environment* const scratch_root =
    ::testing::AddGlobalTestEnvironment(new ScratchRoot);

}  // namespace

std::string ScratchKey() {
  return "QuilletContractTest." + std::to_string(getpid());
}

std::string ExitWith(std::int32_t code) {
  return "/bin/sh -c \"exit " + std::to_string(code) + "\"";
}

std::string ExitWhenExists(std::int32_t code, const std::string& gate) {
  const std::string script =
      "i=0; while [ ! -e \"$1\" ]; do i=$((i+1)); [ $i -ge 600 ] && exit 255; sleep 0.1; done; "
      "exit " +
      std::to_string(code);
  return "/bin/sh -c " + QuoteArgument(script) + " sh " + QuoteArgument(gate);
}

std::string WritingEnvironment(const std::string& file) {
  return "/bin/sh -c " + QuoteArgument("env > \"$1\"") + " sh " + QuoteArgument(file);
}

std::optional<std::string> NarrowSample() {
  return "Zo\xC3\xAB \xC4\x8Eurov\xC3\xA1, 5 \xE2\x82\xAC, \xE6\xBC\xA2";
}

std::string BatchWriting(const std::string& file) {
  return "echo $1 $2 > " + file + "\r\necho done >> " + file + "\r\n";
}

void LetOthersIn(const std::string& folder) {
  chmod(folder.c_str(), 0777);
}

bool AdmitsUserAlone(const std::string& path) {
  struct stat status {};
  return lstat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
         (status.st_mode & 07777) == 0600 && status.st_uid == geteuid();
}

}  // namespace quillet::contract
