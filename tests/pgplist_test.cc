// Key listings: trimming, loading into list controls and cutting out user IDs.
#include <filesystem>
#include <fstream>

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
    Write(path("quillet.key"),
          " Alice <alice@example.com>\r\n Bob Builder\r\n Carol <c@x> <second@x>\r\n");
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

TEST_F(PGPListTest, UserIDsAreCutAtTheFirstBracket) {
  EXPECT_EQ(list_.UserIDAt(0), "<alice@example.com>");
  EXPECT_EQ(list_.UserIDAt(1), " Bob Builder");
  EXPECT_EQ(list_.UserIDAt(2), "<c@x> <second@x>");
  EXPECT_THROW(list_.UserIDAt(3), Error);
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
            (std::vector<std::string>{"<alice@example.com>", "<c@x> <second@x>"}));
  EXPECT_EQ(owner_clicks, 1);

  // Selections made by the program raise no click and leave the IDs alone.
  window_->list_box("RecipList").SetSelected(1, true);
  EXPECT_EQ(list_.SelectedIDs.size(), 2u);

  // Reloading clears the selection but keeps the IDs until the user selects again.
  list_.LoadKeys();
  EXPECT_FALSE(window_->list_box("RecipList").Selected(0));
  EXPECT_EQ(list_.SelectedIDs.size(), 2u);
  box.UserSelect("RecipList", {1});
  EXPECT_EQ(list_.SelectedIDs, std::vector<std::string>{" Bob Builder"});
  EXPECT_EQ(owner_clicks, 2);
}

}  // namespace
}  // namespace quillet::pgp
