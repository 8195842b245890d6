// A program with the simulated mail client, the test PGP program in a PGP directory, key
// listings and a configuration, for the tests of the user operations.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "host/program.h"
#include "mailsim/mail_client.h"
#include "tests/fakepgp/environment.h"
#include "tests/fakepgp/recorded_runs.h"
#include "tests/test_platform.h"

namespace quillet::testing {

class UiTest : public ::testing::Test {
 protected:
  UiTest() {
    client_.Register(tp_.com, tp_.registry);
    std::filesystem::create_directories(tp_.system.WindowsDirectory());
    std::filesystem::create_directories(pgp_dir_);
    std::filesystem::copy_file(FAKEPGP_EXE, pgp_dir_ / "pgp");
    fakepgp::UseDirectory(tp_.dir.path());
    std::ofstream(tp_.dir.path() / "keys") << "pub|1024|0A1B2C3D|2026/01/01|Alice <alice@x>\n"
                                              "pub|1024|11111111|2026/01/01|Bob <bob@x>\n"
                                              "pub|1024|22222222|2026/01/01|Me <me@x>\n"
                                              "sec|1024|22222222|2026/01/01|Me <me@x>\n"
                                              "sec|1024|33333333|2026/01/01|Old <old@x>\n";
  }

  // quillet.ini naming the test PGP program, and listings as PGP and the trimming make them.
  void Configure() {
    std::ofstream(Ini(), std::ios::binary) << "/opt/quillet\r\n"
                                           << PgpPath() << "pgp\r\nnotice\r\nDo not delete.\r\n";
    std::ofstream(pgp_dir_ / "quillet.key", std::ios::binary)
        << " Alice <alice@x>\r\n Bob <bob@x>\r\n Me <me@x>\r\n\r\n";
    std::ofstream(pgp_dir_ / "quillet.key.ids", std::ios::binary)
        << "0x0A1B2C3D\r\n0x11111111\r\n0x22222222\r\n\r\n";
    std::ofstream(pgp_dir_ / "quillet.sec", std::ios::binary)
        << " Me <me@x>\r\n Old <old@x>\r\n\r\n";
    std::ofstream(pgp_dir_ / "quillet.sec.ids", std::ios::binary)
        << "0x22222222\r\n0x33333333\r\n\r\n";
    std::ofstream(pgp_dir_ / "pgpkey.bat", std::ios::binary)
        << PgpPath() << "pgp -kvc > quillet.key\r\n"
        << PgpPath() << "pgp -kvc secring.pgp > quillet.sec\r\n";
  }

  std::string Ini() { return tp_.system.WindowsDirectory() + "/quillet.ini"; }
  // The user's own, which Setup writes.
  std::string UserIni() { return tp_.system.ExpandEnvironment("%APPDATA%/Quillet/quillet.ini"); }
  std::string PgpPath() const { return pgp_dir_.string() + "/"; }

  // The arguments of each PGP run, as the test program recorded them.
  std::vector<std::vector<std::string>> PgpRuns() const {
    return fakepgp::RecordedRuns(ReadFile(tp_.dir.path() / "args"));
  }

  // Files other than the program, the listings and the batch left in the PGP directory.
  std::vector<std::string> LeftInPgpDirectory() const {
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(pgp_dir_)) {
      const std::string name = entry.path().filename().string();
      if (name != "pgp" && !name.starts_with("quillet.key") && !name.starts_with("quillet.sec") &&
          name != "pgpkey.bat")
        left.push_back(name);
    }
    std::sort(left.begin(), left.end());
    return left;
  }

  // The armoured text the test PGP program makes of a plain text.
  std::string Armour(const std::string& plain) {
    const std::filesystem::path path = tp_.dir.path() / "plain";
    std::ofstream(path, std::ios::binary) << plain;
    EXPECT_EQ(RunShell(std::string("env -u FAKEPGP_LOG ") + FAKEPGP_EXE + " -eaw " + path.string())
                  .exit_code,
              0);
    return ReadFile(tp_.dir.path() / "plain.asc");
  }

  std::vector<std::string> Messages() const {
    std::vector<std::string> texts;
    for (const auto& shown : tp_.gui.messages()) texts.push_back(shown.spec.text);
    return texts;
  }

  TestPlatform tp_;
  host::Program program_{tp_.platform()};
  mailsim::MailClient client_{{"me@example.com", "Me"}};
  std::filesystem::path pgp_dir_ = tp_.dir.path() / "pgp";
};

}  // namespace quillet::testing
