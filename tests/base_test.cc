#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "base/error.h"
#include "base/file.h"
#include "base/text.h"
#include "tests/test_platform.h"

namespace quillet {
namespace {

using Texts = std::vector<std::string>;

TEST(Text, AsciiLowerLeavesOtherBytesAlone) {
  // "ÄÖ" in the ANSI code page and in UTF-8: neither is ASCII, so neither may change.
  EXPECT_EQ(AsciiLower("QUILLET.C3PO {6A3D}"), "quillet.c3po {6a3d}");
  EXPECT_EQ(AsciiLower("\xC4\xD6 \xC3\x84"), "\xC4\xD6 \xC3\x84");
  EXPECT_EQ(AsciiLower("@[`{"), "@[`{");  // the neighbours of A-Z and a-z
}

TEST(Text, LinesEndInLfOrCrLf) {
  const struct {
    std::string text;
    Texts lines;
  } cases[] = {
      {"a\r\nb\nc", {"a", "b", "c"}},
      {"a\r\n\r\n", {"a", ""}},
      {"a\rb\r\n", {"a\rb"}},  // a CR inside a line is the line's
      {"a\r\r\n", {"a\r"}},    // only one CR belongs to the line end
      {"", {}},
  };
  for (const auto& c : cases) {
    std::istringstream in(c.text);
    EXPECT_EQ(Lines(in), c.lines) << c.text;
  }
  EXPECT_EQ(WithoutCr("x\r"), "x");
  EXPECT_EQ(WithoutCr("x\n"), "x\n");
}

TEST(File, WritesReplaceAndFailLoudly) {
  testing::TempDir dir;
  const std::string path = (dir.path() / "f.txt").string();
  WriteWholeFile(path, "first\r\n");
  WriteWholeFile(path, "second\r\n");
  EXPECT_EQ(testing::ReadFile(path), "second\r\n");

  // No folder to create it in; and a disk that is full, which only the last flush tells.
  EXPECT_THROW(WriteWholeFile((dir.path() / "none" / "f").string(), "x"), Error);
  if (std::filesystem::exists("/dev/full")) {
    EXPECT_THROW(WriteWholeFile("/dev/full", "x"), Error);
  }
}

}  // namespace
}  // namespace quillet
