// The real executable, started as a process with a fresh drive C: and a scripted user.
#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/test_platform.h"

namespace quillet {
namespace {

using testing::Outcome;

class QuilletExe : public ::testing::Test {
 protected:
  // Runs the program with these arguments; the user's steps come from `script`.
  Outcome Run(const std::string& args, const std::string& script = "",
              const std::string& program = QUILLET_EXE) {
    const std::string script_path = (dir_.path() / "script.txt").string();
    std::ofstream(script_path) << script;
    const std::string command = "QUILLET_ROOT='" + root() + "' QUILLET_SCRIPT='" + script_path +
                                "' '" + program + "' " + args + " 2>&1";
    return testing::RunShell(command);
  }

  std::string root() const { return (dir_.path() / "c").string(); }
  std::string Registry() const {
    std::ifstream in(root() + "/registry.reg", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  testing::TempDir dir_;
};

std::string Entries(const std::string& program) {
  return "REGEDIT4\r\n"
         "\r\n[HKEY_CLASSES_ROOT\\CLSID]\r\n"
         "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}]\r\n"
         "@=\"Quillet C3PO Object\"\r\n"
         "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}\\LocalServer32]\r\n"
         "@=\"" +
         program +
         "\"\r\n"
         "\r\n[HKEY_CLASSES_ROOT\\CLSID\\{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}\\ProgID]\r\n"
         "@=\"QUILLET.C3PO\"\r\n"
         "\r\n[HKEY_CLASSES_ROOT\\QUILLET.C3PO]\r\n"
         "@=\"Quillet C3PO Object\"\r\n"
         "\r\n[HKEY_CLASSES_ROOT\\QUILLET.C3PO\\Clsid]\r\n"
         "@=\"{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}\"\r\n";
}

TEST_F(QuilletExe, RegisterSwitchesWriteTheEntriesAndExitAtOnce) {
  for (const char* option : {"-REGSERVER", "/regserver", "-RegServer", "-UNREGSERVER -REGSERVER"}) {
    // An empty script: reaching the event loop would end the program with a failure.
    const Outcome outcome = Run(option);
    EXPECT_EQ(outcome.exit_code, 0) << option;
    EXPECT_EQ(outcome.output, "") << option;  // no window, no box
    EXPECT_EQ(Registry(), Entries(std::filesystem::canonical(QUILLET_EXE).string())) << option;
  }
}

TEST_F(QuilletExe, UnregisterRemovesTheEntries) {
  ASSERT_EQ(Run("-REGSERVER").exit_code, 0);
  const Outcome outcome = Run("/UnRegServer");
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(Registry(), "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\CLSID]\r\n");
}

TEST_F(QuilletExe, PlainStartRegistersRunsAndEndsWhenTheUserConfirms) {
  const Outcome outcome = Run("REGSERVER",  // no prefix: not a switch
                              "close Form2\nanswer Cancel\nclose Form2\nanswer OK\n");
  const std::string question =
      "message box \"Confirm\" (question; OK Cancel): Are you sure that you want to quit "
      "Quillet?  You will have to restart Groupwise to access Quillet again.";
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(outcome.output,
            "window Form2 \"QUILLET\" shown\n"
            "user: close Form2\n" +
                question +
                " -> Cancel\n"
                "user: close Form2\n" +
                question + " -> OK\n");
  EXPECT_EQ(Registry(), Entries(std::filesystem::canonical(QUILLET_EXE).string()));
}

TEST_F(QuilletExe, APathWithABlankIsRegisteredInQuotes) {
  const std::filesystem::path copy = dir_.path() / "Program Files" / "quillet";
  std::filesystem::create_directories(copy.parent_path());
  std::filesystem::copy_file(QUILLET_EXE, copy);
  const Outcome outcome = Run("/regserver", "", copy.string());
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(outcome.output, "");
  EXPECT_EQ(Registry(), Entries("\\\"" + copy.string() + "\\\""));
}

// A user who may not change the registry (a registry file without write permission) is told
// once when starting the program by hand, unless an installer has put the entries in place; the
// register switches answer with their exit code, and the mail client's start stays quiet.
TEST_F(QuilletExe, AStandardUserIsToldOnlyWhenTheEntriesAreMissing) {
  const std::string shown = "window Form2 \"QUILLET\" shown\n";
  const std::string told =
      "message box \"quillet\" (warning; OK): Quillet could not register itself; run the "
      "installer as an administrator. -> OK\n";
  const std::string quit =
      "user: close Form2\n"
      "message box \"Confirm\" (question; OK Cancel): Are you sure that you want to quit "
      "Quillet?  You will have to restart Groupwise to access Quillet again. -> OK\n";
  const std::string installed = Entries(std::filesystem::canonical(QUILLET_EXE).string());
  const std::string empty = "REGEDIT4\r\n";
  const struct {
    const char* args;
    std::string registry;
    const char* script;
    int exit_code;
    std::string output;
  } cases[] = {
      {"", empty, "answer OK\nclose Form2\nanswer OK\n", 0, shown + told + quit},
      {"", installed, "close Form2\nanswer OK\n", 0, shown + quit},
      {"-Embedding", empty, "close Form2\nanswer OK\n", 0, shown + quit},
      {"/regserver", empty, "", 1, ""},
      {"/regserver", installed, "", 0, ""},
      {"/unregserver", installed, "", 1, ""},
  };
  const std::filesystem::path file = root() + "/registry.reg";
  std::filesystem::create_directories(root());
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.args) + (c.registry == empty ? " without entries" : " installed"));
    std::filesystem::remove(file);
    std::ofstream(file, std::ios::binary) << c.registry;
    std::filesystem::permissions(file, std::filesystem::perms::owner_read);
    const Outcome outcome = Run(c.args, c.script);
    EXPECT_EQ(outcome.exit_code, c.exit_code);
    EXPECT_EQ(outcome.output, c.output);
    EXPECT_EQ(Registry(), c.registry);
  }
}

TEST_F(QuilletExe, EmbeddingWithUnregisterRegistersAndRuns) {
  const Outcome outcome = Run("-Embedding -UNREGSERVER", "quit\nanswer OK\n");
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_NE(outcome.output.find("window Form2 \"QUILLET\" shown"), std::string::npos);
  EXPECT_EQ(Registry(), Entries(std::filesystem::canonical(QUILLET_EXE).string()));
}

}  // namespace
}  // namespace quillet
