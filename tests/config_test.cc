// The configuration file: paths with line breaks are refused and leave the file as it was.
#include "ui/config.h"

#include "base/error.h"
#include "tests/ui_fixture.h"
#include "ui/pgp2.h"

namespace quillet::ui {
namespace {

class ConfigTest : public testing::UiTest {};

TEST_F(ConfigTest, APathWithALineBreakIsRefusedAndTheFileStaysAsItWas) {
  const std::string own_refused =
      "The path of this program contains a line break and cannot be stored in " + Ini();
  const std::string pgp_refused =
      "The path of the PGP program contains a line break and cannot be stored in " + Ini();
  const struct {
    std::string program_path;
    std::string pgp_path;
    std::string message;
  } cases[] = {
      {"/opt/quil\nlet", "/pgp/pgp", own_refused},
      {"/opt/quil\rlet", "/pgp/pgp", own_refused},
      {"/opt/quillet", "/pgp/pgp\r\nnotice", pgp_refused},
      {"/opt/quillet", "/pgp/\rpgp", pgp_refused},
      {"/opt/quillet", "\n", pgp_refused},
  };
  const std::string before = "/opt/quillet\r\n/old/pgp\r\nnotice\r\nDo not delete.\r\n";
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.program_path + " | " + c.pgp_path));
    std::ofstream(Ini(), std::ios::binary) << before;
    try {
      WriteConfiguration(Ini(), c.program_path, c.pgp_path);
      ADD_FAILURE() << "the paths were accepted";
    } catch (const Error& e) {
      EXPECT_EQ(e.what(), c.message);
    }
    EXPECT_EQ(testing::ReadFile(Ini()), before);

    // Nor is a missing file created.
    std::filesystem::remove(Ini());
    EXPECT_THROW(WriteConfiguration(Ini(), c.program_path, c.pgp_path), Error);
    EXPECT_FALSE(std::filesystem::exists(Ini()));
  }
}

TEST_F(ConfigTest, SetupReportsAChosenPathWithALineBreak) {
  Configure();
  const std::string before = testing::ReadFile(Ini());
  TForm1& form = program_.Own(std::make_unique<TForm1>(program_));
  ASSERT_TRUE(tp_.gui.messages().empty());

  tp_.gui.QueueFile(PgpPath() + "pgp\r\n" + PgpPath() + "other");
  tp_.gui.QueueAnswer(gui::Answer::kOk);
  linux_platform::HeadlessWindow& window = tp_.gui.Find("Form1");
  window.Show();
  window.UserClick("Setup");

  ASSERT_EQ(tp_.gui.messages().size(), 1u);
  EXPECT_EQ(
      tp_.gui.messages()[0].spec.text,
      "The path of the PGP program contains a line break and cannot be stored in " + UserIni() +
          ".");
  EXPECT_EQ(tp_.gui.messages()[0].spec.icon, gui::Icon::kError);
  EXPECT_EQ(testing::ReadFile(Ini()), before);
  EXPECT_FALSE(std::filesystem::exists(UserIni()));
  EXPECT_TRUE(PgpRuns().empty());  // the listings were not regenerated
  EXPECT_EQ(form.PGP.PGPPath + form.PGP.PGPProg, PgpPath() + "pgp");  // nor the path taken up
}

}  // namespace
}  // namespace quillet::ui
