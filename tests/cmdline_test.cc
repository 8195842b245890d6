#include "base/cmdline.h"

#include <gtest/gtest.h>

namespace quillet {
namespace {

using Args = std::vector<std::string>;

TEST(SplitCommandLine, WindowsRuntimeRules) {
  EXPECT_EQ(SplitCommandLine("C:\\PGP\\pgp.exe  -kg"), (Args{"C:\\PGP\\pgp.exe", "-kg"}));
  EXPECT_EQ(SplitCommandLine("  p\ta  b "), (Args{"p", "a", "b"}));
  EXPECT_EQ(SplitCommandLine("p +force -z \"my pass\" f"),
            (Args{"p", "+force", "-z", "my pass", "f"}));
  EXPECT_EQ(SplitCommandLine("p \"\""), (Args{"p", ""}));
  EXPECT_EQ(SplitCommandLine("p a\\\\b"), (Args{"p", "a\\\\b"}));         // no quote: literal
  EXPECT_EQ(SplitCommandLine("p a\\\"b"), (Args{"p", "a\"b"}));           // odd: literal quote
  EXPECT_EQ(SplitCommandLine("p \"a\\\\\" b"), (Args{"p", "a\\", "b"}));  // even: halved, closes
  EXPECT_EQ(SplitCommandLine("p \"a\"\"b\""), (Args{"p", "a\"b"}));
  EXPECT_EQ(SplitCommandLine("p x\"y z\"w"), (Args{"p", "xy zw"}));
  // The program name knows no escapes and may hold blanks in quotes.
  EXPECT_EQ(SplitCommandLine("\"C:\\Program Files\\PGP\\pgp.exe\" -kv"),
            (Args{"C:\\Program Files\\PGP\\pgp.exe", "-kv"}));
  EXPECT_EQ(SplitCommandLine("C:\\a\\\"b c"), (Args{"C:\\a\\\"b", "c"}));
  EXPECT_TRUE(SplitCommandLine("   ").empty());
}

TEST(QuoteArgument, EveryTextComesBackUnchanged) {
  for (const std::string text : {"", "plain", "two words", "say \"hi\"", "ends\\", "a\\\"b",
                                 "\\\\server\\share\\", "tab\there", "\"", "\\"}) {
    const Args args = SplitCommandLine("p " + QuoteArgument(text) + " next");
    EXPECT_EQ(args, (Args{"p", text, "next"})) << QuoteArgument(text);
  }
  EXPECT_EQ(QuoteArgument("a b"), "\"a b\"");
  EXPECT_EQ(QuoteArgument("x\\"), "\"x\\\\\"");
  EXPECT_EQ(QuoteIfNeeded("<a@b.c>"), "<a@b.c>");
  EXPECT_EQ(QuoteIfNeeded("Alice Smith"), "\"Alice Smith\"");
  EXPECT_EQ(QuoteIfNeeded(""), "\"\"");
  EXPECT_EQ(QuoteProgram("C:\\PGP\\pgp.exe"), "C:\\PGP\\pgp.exe");
  EXPECT_EQ(QuoteProgram("C:\\Program Files\\pgp.exe"), "\"C:\\Program Files\\pgp.exe\"");
}

}  // namespace
}  // namespace quillet
