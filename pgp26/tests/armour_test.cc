// The armour check that tells broken armour from damaged data, on armour that gpg wrote and on
// the ways mail and hostile senders break it.
#include "pgp26/armour.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "pgp26/tests/test_home.h"

namespace pgp26_test {
namespace {

using Lines = std::vector<std::string>;

// Bob's public and secret key, two armour blocks, as gpg exported them: lines 0 to 12 and 13
// to 28, each with its checksum line second to last.
Lines BobKeys() {
  Lines lines;
  std::istringstream in(ReadFile(Fixture("bob.asc")));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A signed text as gpg --clearsign wrote it: the text itself is no armour.
constexpr char kSigned[] =
    "-----BEGIN PGP SIGNED MESSAGE-----\n"
    "Hash: SHA512\n"
    "\n"
    "Pay 10 dollars.\n"
    "-----BEGIN PGP SIGNATURE-----\n"
    "\n"
    "iQHGBAEBCgAwFiEEMt41VUIt/an2xvEmDc88U9t1TAkFAmsXpWgSHGFsaWNlQGV4\n"
    "YW1wbGUuY29tAAoJEA3PPFPbdUwJbOUL/RHTCFquNmOikfSocfxNZVvACVTzQfby\n"
    "iqFxjScybrP7kuMwCR8c/5YT4ujXvhVoTchRYwxEQ/JqDkqE2zbjwsrnyFuwcRZ/\n"
    "OGwKMMTsckZsmaecbLV2b+aUBNvYXE32v+cgYOimbtk7g25aYN+kFGCAmuJa7Rmq\n"
    "nkLtO8jR3+/Zf3TpSd1JR0w0d+hCK3roBL/3ST6NdW990oPrPD9j2xdkcKlAJ26e\n"
    "LAmAOJl873uBiULEtxNSiXyTU2n6MqCHyu0XoddPFHnVSyEyawMqm+QiJlcUlCYW\n"
    "QQ1uAxHH5j/nZwVCHe0AQMuEd9dcq8mJoVrkqGOkLyTdauVZABk68EW5kNiMgJ2z\n"
    "w2uNeE7tCNL5A6Pvd3Hs4LU6kKZP0A9E1CD6XC15fr4UYG6imug1tjAW+kQfBedr\n"
    "EHm5aoCtn+8DIF2iLamTuQ5GKQbhOS4Rycy6WM6oT6oNEWY4HcA0ukrYQ71zzPde\n"
    "/beVbixz002NjgfKgAorvkxvYU/O5xJbuw==\n"
    "=m0RP\n"
    "-----END PGP SIGNATURE-----\n";

std::string Joined(const Lines& lines, const std::string& line_end = "\n") {
  std::string text;
  for (const std::string& line : lines) text += line + line_end;
  return text;
}

std::string Edited(const std::function<void(Lines&)>& edit) {
  Lines lines = BobKeys();
  edit(lines);
  return Joined(lines);
}

void ChangeCharacter(std::string& line, char to) {
  line[10] = line[10] == to ? 'A' : to;
}

TEST(ArmourProblem, TellsWhatBrokeTheArmourAndAcceptsWhatIsWhole) {
  const std::string kNone;
  struct Case {
    const char* what;
    std::string text;
    std::string problem;
  };
  std::string signed_changed = kSigned;
  signed_changed.replace(signed_changed.find("10"), 2, "90");
  const Case cases[] = {
      {"as gpg wrote it", Joined(BobKeys()), kNone},
      {"with CR LF line ends and trailing blanks", Joined(BobKeys(), "  \r\n"), kNone},
      {"without its checksum lines", Edited([](Lines& l) {
         l.erase(l.begin() + 27);
         l.erase(l.begin() + 11);
       }),
       kNone},
      {"inside a mail", "Hello Alice,\n\n" + Joined(BobKeys()) + "Bob\n", kNone},
      {"no armour at all", "Dear Alice,\nno key in here.\n", kNone},
      {"a signed text", kSigned, kNone},
      {"a signed text whose text was changed", signed_changed, kNone},
      {"a data character changed", Edited([](Lines& l) { ChangeCharacter(l[3], 'B'); }),
       "its checksum does not match its contents"},
      {"a data line lost", Edited([](Lines& l) { l.erase(l.begin() + 3); }),
       "its checksum does not match its contents"},
      {"the second block changed", Edited([](Lines& l) { ChangeCharacter(l[20], 'B'); }),
       "its checksum does not match its contents"},
      {"a character outside Base64", Edited([](Lines& l) { ChangeCharacter(l[3], '*'); }),
       "its data is not whole Base64 text"},
      {"cut short", Edited([](Lines& l) { l.resize(6); }), "it has no end line"},
      {"cut before its data", Edited([](Lines& l) { l.resize(1); }), "it ends before its data"},
      {"another block's end line", Edited([](Lines& l) { l[12] = "-----END PGP MESSAGE-----"; }),
       "its end line does not match its begin line"},
      {"no blank line after the header lines", Edited([](Lines& l) { l.erase(l.begin() + 1); }),
       "it has no blank line after its header lines"},
      {"text after the checksum line", Edited([](Lines& l) { l.insert(l.begin() + 12, "AAAA"); }),
       "text follows its checksum line"},
      {"a short checksum line", Edited([](Lines& l) { l[11] = "=p8f"; }),
       "its checksum line is malformed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(pgp26::ArmourProblem(c.text).value_or(kNone), c.problem);
  }
}

}  // namespace
}  // namespace pgp26_test
