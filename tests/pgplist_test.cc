// Key listings: trimming, loading into list controls and cutting out user IDs.
#include <filesystem>
#include <fstream>
#include <optional>

#include <gtest/gtest.h>

#include "pgp/pgpex.h"
#include "tests/test_platform.h"

namespace quillet::pgp {
namespace {

void Write(const std::filesystem::path& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

class KeyListing : public ::testing::Test {
 protected:
  std::string path(const char* name) const { return (dir_.path() / name).string(); }
  testing::TempDir dir_;
};

TEST_F(KeyListing, TrimmingDropsThreeLinesAnd29Characters) {
  const std::string line30 = std::string(29, 'x') + "Y";
  const std::string long_line = std::string(29, '-') + std::string(226, 'a') + "TAIL";  // 259
  Write(path("k"),
        "\nKey ring: 'pubring.pgp'\nType Bits/KeyID    Date       User ID\n"
        "pub  1024/0A1B2C3D 2026/01/01 Alice <alice@example.com>\n" +
            line30 + "\n" + std::string(29, 'z') + "\n" + long_line + "\n1 matching key found.\n");
  TPGP::TrimKeyListing(path("k"));
  EXPECT_EQ(testing::ReadFile(path("k")),
            " Alice <alice@example.com>\r\nY\r\n\r\n" + std::string(226, 'a') + "\r\n\r\n");
  EXPECT_EQ(testing::ReadFile(path("k.ids")), "0x0A1B2C3D\r\n\r\n\r\n\r\n\r\n");
}

// Every line keeps the key it was listed under: by its whole fingerprint where the listing gives
// a current one, by its key ID otherwise, and by neither when another key has that ID too.
TEST_F(KeyListing, EachLineKeepsTheKeyItWasListedUnder) {
  const std::string fpr = "CAA3FB615CC789FD084B7B1883665BE8C283EB15";
  struct Case {
    const char* what;
    std::string listing;  // below the three header lines
    std::string trimmed, keys;
  };
  const Case cases[] = {
      {"a key's further user IDs and the closing line",
       "pub  1024/B14E7015 1996/08/20 Alice <a@x>\n"
       "                              Alice Work <w@x>\n"
       "pub-  255/c283eb15 2026/12/08 Bob <b@x>\n"
       "2 matching keys found.\n",
       " Alice <a@x>\r\n Alice Work <w@x>\r\n Bob <b@x>\r\n\r\n",
       "0xB14E7015\r\n0xB14E7015\r\n0xC283EB15\r\n\r\n"},
      {"a current fingerprint names the key, an old one does not",
       "sec  3072/C283EB15 2026/12/08 Bob <b@x>\n"
       "          Key fingerprint = CAA3 FB61 5CC7 89FD 084B  7B18 8366 5BE8 C283 EB15\n"
       "                              Bob Work <bw@x>\n"
       "sec  1024/B14E7015 1996/08/20 Alice <a@x>\n"
       "          Key fingerprint =  D5 5F 01 23 45 67 89 AB  CD EF 01 23 45 67 89 AB \n",
       " Bob <b@x>\r\n Bob Work <bw@x>\r\n Alice <a@x>\r\n",
       "0x" + fpr + "\r\n0x" + fpr + "\r\n0xB14E7015\r\n"},
      {"two keys with one user ID stay two keys",
       "pub  1024/11111111 2026/01/01 Alice <a@x>\npub  1024/22222222 2026/01/01 Alice <a@x>\n",
       " Alice <a@x>\r\n Alice <a@x>\r\n", "0x11111111\r\n0x22222222\r\n"},
      {"two keys with one key ID name no key",
       "pub  1024/B14E7015 2026/01/01 Alice <a@x>\n"
       "pub  1024/CAFE0001 2026/01/01 Carol <c@x>\n"
       "pub  1024/B14E7015 2026/01/01 Mallory <a@x>\n"
       "                              Mallory <m@x>\n",
       " Alice <a@x>\r\n Carol <c@x>\r\n Mallory <a@x>\r\n Mallory <m@x>\r\n",
       "?ambiguous\r\n0xCAFE0001\r\n?ambiguous\r\n?ambiguous\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write(path("k"),
          "\nKey ring: 'pubring.pgp'\nType Bits/KeyID    Date       User ID\n" + c.listing);
    TPGP::TrimKeyListing(path("k"));
    EXPECT_EQ(testing::ReadFile(path("k")), c.trimmed);
    EXPECT_EQ(testing::ReadFile(path("k.ids")), c.keys);
  }
}

TEST_F(KeyListing, ShortAndMissingListings) {
  Write(path("three"), "a\r\nb\r\nc\r\n");
  TPGP::TrimKeyListing(path("three"));
  EXPECT_EQ(testing::ReadFile(path("three")), "");

  Write(path("two"), "a\r\nb\r\n");
  try {
    TPGP::TrimKeyListing(path("two"));
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (0)");
  }
  EXPECT_EQ(testing::ReadFile(path("two")), "a\r\nb\r\n");

  try {
    TPGP::TrimKeyListing(path("none"));
    FAIL();
  } catch (const ENoFile& e) {
    EXPECT_STREQ(e.what(), "Key File Does Not Exist");
  }
  EXPECT_FALSE(std::filesystem::exists(path("none")));
}

class PGPListTest : public KeyListing {
 protected:
  static gui::FormSpec Form() {
    gui::ControlSpec list;
    list.name = "RecipList";
    list.kind = gui::ControlKind::kListBox;
    list.multi_select = true;
    gui::FormSpec form;
    form.name = "Form1";
    form.controls = {list};
    return form;
  }
  void SetUp() override {
    Write(path("quillet.key"), " Alice <alice@example.com>\r\n Bob Builder\r\n Bob Work\r\n");
    Write(path("quillet.key.ids"),
          "0xB14E7015\r\n0x" + std::string(40, 'C') + "\r\n0x" + std::string(40, 'C') + "\r\n");
    list_.Filename = path("quillet.key");
    list_.LoadKeys();
    window_->Show();
  }

  linux_platform::HeadlessGui gui_;
  std::unique_ptr<gui::Window> window_ = gui_.NewWindow(Form());
  TPGPList list_{window_->list_box("RecipList")};
};

TEST_F(PGPListTest, LoadKeysErrors) {
  TPGPList other(window_->list_box("RecipList"));
  try {
    other.LoadKeys();
    FAIL();
  } catch (const ENoFile& e) {
    EXPECT_STREQ(e.what(), "Key Filename Property Not Set");
  }
  other.Filename = path("missing.key");
  try {
    other.LoadKeys();
    FAIL();
  } catch (const ENoFile& e) {
    EXPECT_STREQ(e.what(), "Key File Does Not Exist");
  }
  EXPECT_EQ(window_->list_box("RecipList").Count(), 3);  // items unchanged
}

TEST_F(PGPListTest, EachLineNamesItsKeyAndNeverItsText) {
  EXPECT_EQ(list_.UserIDAt(0), "0xB14E7015");
  EXPECT_EQ(list_.UserIDAt(1), "0x" + std::string(40, 'C'));
  EXPECT_EQ(list_.UserIDAt(2), "0x" + std::string(40, 'C'));  // the key's second user ID
  EXPECT_THROW(list_.UserIDAt(3), Error);
  struct Case {
    const char* what;
    std::optional<std::string> keys;
    std::vector<std::string> named;
  };
  const Case cases[] = {
      {"no keys beside the listing", std::nullopt, {kUnknownKey, "", kUnknownKey}},
      {"keys of another listing", "0x1\r\n0x2\r\n", {kUnknownKey, "", kUnknownKey}},
      {"an entry that is no key", "-kr\r\n\r\n?ambiguous\r\n", {kUnknownKey, "", kAmbiguousKey}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Write(path("other"), " Dan <d@x>\r\n\r\n Eve <e@x>\r\n");
    std::filesystem::remove(path("other.ids"));
    if (c.keys) Write(path("other.ids"), *c.keys);
    list_.Filename = path("other");
    list_.LoadKeys();
    EXPECT_EQ((std::vector<std::string>{list_.UserIDAt(0), list_.UserIDAt(1), list_.UserIDAt(2)}),
              c.named);
  }
  Write(path("empty"), "");
  list_.Filename = path("empty");
  list_.LoadKeys();
  EXPECT_EQ(list_.UserIDAt(0), "");
}

TEST_F(PGPListTest, SelectedIDsFollowTheUsersSelectionInItemOrder) {
  int owner_clicks = 0;
  list_.SetOnClick([&] { ++owner_clicks; });
  auto& box = gui_.Find("Form1");
  box.UserSelect("RecipList", {2, 0});
  EXPECT_EQ(list_.SelectedIDs,
            (std::vector<std::string>{"0xB14E7015", "0x" + std::string(40, 'C')}));
  EXPECT_EQ(owner_clicks, 1);

  // Selections made by the program raise no click and leave the IDs alone.
  window_->list_box("RecipList").SetSelected(1, true);
  EXPECT_EQ(list_.SelectedIDs.size(), 2u);

  // Reloading clears the selection but keeps the IDs until the user selects again.
  list_.LoadKeys();
  EXPECT_FALSE(window_->list_box("RecipList").Selected(0));
  EXPECT_EQ(list_.SelectedIDs.size(), 2u);
  box.UserSelect("RecipList", {1});
  EXPECT_EQ(list_.SelectedIDs, std::vector<std::string>{"0x" + std::string(40, 'C')});
  EXPECT_EQ(owner_clicks, 2);
}

}  // namespace
}  // namespace quillet::pgp
