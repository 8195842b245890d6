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
  Outcome Run(const std::string& args, const std::string& script = "") {
    const std::string script_path = (dir_.path() / "script.txt").string();
    std::ofstream(script_path) << script;
    const std::string command = "QUILLET_ROOT='" + root() + "' QUILLET_SCRIPT='" + script_path +
                                "' '" QUILLET_EXE "' " + args + " 2>&1";
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

TEST_F(QuilletExe, EmbeddingWithUnregisterRegistersAndRuns) {
  const Outcome outcome = Run("-Embedding -UNREGSERVER", "quit\nanswer OK\n");
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_NE(outcome.output.find("window Form2 \"QUILLET\" shown"), std::string::npos);
  EXPECT_EQ(Registry(), Entries(std::filesystem::canonical(QUILLET_EXE).string()));
}

}  // namespace
}  // namespace quillet
