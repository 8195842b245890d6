// The stand-in PGP program that tests start instead of a real one. If it mangles a file or a
// listing, the tests built on it fail for the wrong reason, so its formats are pinned down here.
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_platform.h"

namespace quillet {
namespace {

using namespace std::string_literals;

using testing::Outcome;

class FakePgp : public ::testing::Test {
 protected:
  // `env` holds NAME='value' assignments for this run only. Standard error is dropped so that
  // `output` is exactly what a caller parsing standard output sees.
  Outcome Run(const std::string& env, const std::string& args) {
    const std::string command = "cd '" + dir_.path().string() + "' && " + env +
                                " '" FAKEPGP_EXE "' " + args + " 2>/dev/null";
    return testing::RunShell(command);
  }

  std::string Read(const std::string& name) const {
    std::ifstream in(dir_.path() / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  void Write(const std::string& name, const std::string& data) const {
    std::ofstream(dir_.path() / name, std::ios::binary) << data;
  }
  bool Exists(const std::string& name) const { return std::filesystem::exists(dir_.path() / name); }

  testing::TempDir dir_;
};

// Splits armour into lines, failing on any line end that a Windows reader would not expect.
std::vector<std::string> CrLfLines(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t start = 0, end; (end = text.find('\n', start)) != std::string::npos;
       start = end + 1) {
    EXPECT_TRUE(end > start && text[end - 1] == '\r') << "bare LF at offset " << end;
    lines.push_back(text.substr(start, end - start - 1));
  }
  EXPECT_TRUE(text.ends_with("\r\n"));
  return lines;
}

TEST_F(FakePgp, ArmourRoundTripsAnyBytesInEveryMode) {
  std::string data = "first\r\nsecond\0third\n"s;
  for (int byte = 0; byte < 256; ++byte) data += static_cast<char>(byte);
  for (const std::string mode : {"eaw", "seaw", "saw", "caw"}) {
    Write("msg", data);
    ASSERT_EQ(Run("", "-" + mode + " msg 'Alice <alice@example.com>' -u Bob").exit_code, 0);
    const std::vector<std::string> lines = CrLfLines(Read("msg.asc"));
    ASSERT_GE(lines.size(), 4u) << mode;
    EXPECT_EQ(lines.front(), "-----BEGIN PGP MESSAGE-----");
    EXPECT_EQ(lines[1], "Mode: " + mode);
    EXPECT_EQ(lines.back(), "-----END PGP MESSAGE-----");
    EXPECT_EQ(lines[lines.size() - 2], "=FAKE");  // a checksum line, as real armour has
    for (std::size_t i = 2; i + 2 < lines.size(); ++i) {
      EXPECT_LE(lines[i].size(), 64u) << mode << " line " << i;
      EXPECT_EQ(lines[i].find_first_not_of("0123456789ABCDEF"), std::string::npos) << lines[i];
    }

    // Decryption must rebuild the file from the armour alone.
    std::filesystem::remove(dir_.path() / "msg");
    ASSERT_EQ(Run("", "+force -z 'pass word' msg").exit_code, 0) << mode;
    EXPECT_EQ(Read("msg"), data) << mode;
  }
}

TEST_F(FakePgp, LogRecordsEachArgumentOfEveryRun) {
  Write("msg", "x");
  Run("FAKEPGP_LOG=log.txt", "-seaw msg 'Alice <alice@example.com>' -u 'Bob B'");
  Run("FAKEPGP_LOG=log.txt", "+force -z '' msg");
  EXPECT_EQ(Read("log.txt"),
            "-seaw\nmsg\nAlice <alice@example.com>\n-u\nBob B\n<end>\n"
            "+force\n-z\n\nmsg\n<end>\n");
}

TEST_F(FakePgp, FailuresWriteNothingAndExitCodesFollowTheEnvironment) {
  Write("msg", "secret");
  EXPECT_EQ(Run("FAKEPGP_FAIL=nooutput", "-eaw msg").exit_code, 1);
  EXPECT_EQ(Run("FAKEPGP_FAIL=nooutput FAKEPGP_EXIT=7", "-eaw msg").exit_code, 7);
  EXPECT_EQ(Run("FAKEPGP_PASS=right", "-z wrong -seaw msg Bob").exit_code, 1);
  EXPECT_FALSE(Exists("msg.asc"));

  EXPECT_EQ(Run("", "-eaw missing").exit_code, 1);
  EXPECT_FALSE(Exists("missing.asc"));
  Write("bad.asc", "-----BEGIN PGP MESSAGE-----\r\nZZ\r\n-----END PGP MESSAGE-----\r\n");
  EXPECT_EQ(Run("", "+force bad").exit_code, 1);
  Write("cut.asc", "-----BEGIN PGP MESSAGE-----\r\n4142\r\n");
  EXPECT_EQ(Run("", "+force cut").exit_code, 1);
  EXPECT_FALSE(Exists("bad") || Exists("cut"));

  // The same runs succeed once the pass phrase matches; the exit code is the configured one.
  EXPECT_EQ(Run("FAKEPGP_PASS=right", "-z right -seaw msg Bob").exit_code, 0);
  EXPECT_TRUE(Exists("msg.asc"));
  EXPECT_EQ(Run("FAKEPGP_EXIT=3", "+force msg").exit_code, 3);
  EXPECT_EQ(Read("msg"), "secret");
}

TEST_F(FakePgp, InjectedFaultsSpoilTheOutputOfTheChosenRuns) {
  struct Case {
    std::string fault;
    int exit_code;
    std::string output;  // "<folder>" for a folder in the output's place
  };
  Write("msg", "secret");
  ASSERT_EQ(Run("", "-eaw msg").exit_code, 0);
  const std::string whole = Read("msg.asc");
  const Case cases[] = {
      {"exit", 3, whole},
      {"empty", 0, ""},
      {"truncated", 0, whole.substr(0, whole.size() / 2)},
      {"errortext", 0, "Error: the disk is full.\r\n"},
      {"directory", 0, "<folder>"},
      {"killed", 137, whole.substr(0, whole.size() / 2)},
      {"empty@other", 0, whole},  // a run without an argument ending in "other" is left alone
      {"empty@msg", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    std::filesystem::remove_all(dir_.path() / "msg.asc");
    EXPECT_EQ(Run("FAKEPGP_FAIL=" + c.fault, "+force -z pw -eaw msg").exit_code, c.exit_code);
    if (c.output == "<folder>")
      EXPECT_TRUE(std::filesystem::is_directory(dir_.path() / "msg.asc"));
    else
      EXPECT_EQ(Read("msg.asc"), c.output);
  }
  // A decryption's output is the plain file.
  std::filesystem::remove_all(dir_.path() / "msg.asc");
  ASSERT_EQ(Run("", "-eaw msg").exit_code, 0);
  EXPECT_EQ(Run("FAKEPGP_FAIL=errortext", "+force -z pw msg").exit_code, 0);
  EXPECT_EQ(Read("msg"), "Error: the disk is full.\r\n");
}

TEST_F(FakePgp, ListsEachRingInTheClassicLayout) {
  Write("keys.txt",
        "pub|1024|0A1B2C3D|2026/01/01|Alice <alice@example.com>\n"
        "sec|1024|0A1B2C3D|2026/01/01|Alice <alice@example.com>\n"
        "pub|512|99AA00FF|1995/06/30|Bob <bob@example.com>\n");
  const std::string title = "Type Bits/KeyID    Date       User ID\n";
  EXPECT_EQ(Run("FAKEPGP_KEYS=keys.txt", "-kv").output,
            "\nKey ring: 'pubring.pgp'\n" + title +
                "pub  1024/0A1B2C3D 2026/01/01 Alice <alice@example.com>\n"
                "pub   512/99AA00FF 1995/06/30 Bob <bob@example.com>\n"
                "2 matching keys found.\n");
  EXPECT_EQ(Run("FAKEPGP_KEYS=keys.txt", "-kv secring.pgp").output,
            "\nKey ring: 'secring.pgp'\n" + title +
                "sec  1024/0A1B2C3D 2026/01/01 Alice <alice@example.com>\n"
                "1 matching key found.\n");
  EXPECT_EQ(Run("FAKEPGP_KEYS=none.txt", "-kv").output,
            "\nKey ring: 'pubring.pgp'\n" + title + "0 matching keys found.\n");
}

TEST_F(FakePgp, ExtractedKeyIsAddedOnceFromAMailAndRemovedByUserId) {
  ASSERT_EQ(
      Run("FAKEPGP_KEYS=hers.txt FAKEPGP_NEWKEY='Carol <carol@example.com>'", "-kg").exit_code, 0);
  ASSERT_EQ(Run("FAKEPGP_KEYS=hers.txt", "-kxa carol@ carol").exit_code, 0);
  const std::string block = Read("carol.asc");
  EXPECT_EQ(CrLfLines(block), (std::vector<std::string>{"-----BEGIN PGP PUBLIC KEY BLOCK-----",
                                                        "User: Carol <carol@example.com>", "=FAKE",
                                                        "-----END PGP PUBLIC KEY BLOCK-----"}));
  Write("mail.txt", "From: carol\r\n\r\nMy key:\r\n" + block + "Regards\r\n");

  const std::string keys = "FAKEPGP_KEYS=keys.txt";
  EXPECT_EQ(Run(keys, "-ka mail.txt").output, "1 new key added to key ring.\n");
  const std::string ring = Read("keys.txt");
  EXPECT_TRUE(std::regex_match(
      ring, std::regex(R"(pub\|1024\|[0-9A-F]{8}\|2026/01/01\|Carol <carol@example\.com>\n)")))
      << ring;
  EXPECT_EQ(Run(keys, "-ka mail.txt").output, "0 new keys added to key ring.\n");
  EXPECT_EQ(Read("keys.txt"), ring);

  // Removal matches part of the user ID and must spare every other key.
  ASSERT_EQ(Run(keys + " FAKEPGP_NEWKEY='Dave <dave@example.com>'", "-kg").exit_code, 0);
  ASSERT_EQ(Run(keys, "-kr carol@").exit_code, 0);
  EXPECT_TRUE(std::regex_match(
      Read("keys.txt"),
      std::regex(R"(pub\|1024\|([0-9A-F]{8})\|2026/01/01\|Dave <dave@example\.com>\n)"
                 R"(sec\|1024\|\1\|2026/01/01\|Dave <dave@example\.com>\n)")))
      << Read("keys.txt");
}

}  // namespace
}  // namespace quillet
