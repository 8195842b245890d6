// The PGP folder's config.txt, read without GnuPG.
#include "pgp26/config.h"

#include <gtest/gtest.h>

#include <string>

#include "pgp26/failure.h"

namespace pgp26 {
namespace {

// The options ParseConfig reads from `text`, or why it refuses the text.
std::string Read(const std::string& text) {
  try {
    const Config config = ParseConfig(text, "C:\\PGP\\config.txt");
    return (config.my_name ? "MyName [" + *config.my_name + "]" : "no MyName") +
           (config.encrypt_to_self ? ", EncryptToSelf" : "");
  } catch (const Failure& failure) {
    return failure.what();
  }
}

TEST(Config, ReadsWhatPgpHonoursPassesOverTheRestAndNamesAMalformedLine) {
  const std::string error = "Error in the configuration file 'C:\\PGP\\config.txt', line ";
  const std::pair<std::string, std::string> cases[] = {
      {"", "no MyName"},
      {"# mine\r\n\r\nMyName = alice # me\r\nEncryptToSelf=on\r\n",
       "MyName [alice], EncryptToSelf"},
      {"myname=Bob\nENCRYPTTOSELF = ON\nencrypttoself = Off\n", "MyName [Bob]"},
      {"MyName = \" Alice #1 \" # a quoted value keeps its blanks", "MyName [ Alice #1 ]"},
      {"MyName = alice\nMyName =\n", "no MyName"},
      {"ArmorLines = 0\nVerbose = 2\nPager = \"less -r\"\nMyName = a", "MyName [a]"},
      {"MyName = a\r\nEncryptToSelf\r\n", error + "2: there is no '=' after the name."},
      {"# mine\n\nMyName = \"Alice # me\n", error + "3: the quoted value has no closing quote."},
      {"MyName = \"Alice\" Example\n", error + "1: text follows the quoted value."},
      {"EncryptToSelf = yes\n", error + "1: EncryptToSelf is neither on nor off."},
      {"= on\n", error + "1: there is no name before '='."},
  };
  for (const auto& [text, read] : cases) EXPECT_EQ(Read(text), read) << text;
}

}  // namespace
}  // namespace pgp26
