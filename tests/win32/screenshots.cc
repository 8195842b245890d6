// Shows the program's windows one after another for tools/screenshots.sh to photograph: the
// resident window, the main window with filled key lists, the Encrypt dialog in both of its
// states and a message box. They are the program's own windows, built by its own classes, with
// the simulated mail client in this process and pretend key listings where PGP's would be.
//
// For each picture a second thread prints "shot NAME LEFT TOP WIDTH HEIGHT" (the window's place
// on the screen) on standard output and goes on when a line arrives on standard input; the main
// thread runs the event loop meanwhile. The program ends with code 0 after the last picture.
#include <windows.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <string>

#include "host/program.h"
#include "host/tempform.h"
#include "mailsim/mail_client.h"
#include "platform/win32/win32_gui.h"
#include "tests/win32/user.h"
#include "ui/encrypt.h"
#include "ui/pgp2.h"

namespace quillet {
namespace {

using namespace wintest;
namespace fs = std::filesystem;

// Listings as PGP's key listing and the trimming leave them: one user ID a line after a blank,
// several of them longer than the lists are wide, and the empty line of the listing's last line.
constexpr char kPublicListing[] =
    " Alice Abbott <alice@example.com>\r\n"
    " Bob Baker <bob@example.org>\r\n"
    " Carolina Castellane-Whitmore (work key, signing and encryption) "
    "<carolina.castellane-whitmore@engineering.example.com>\r\n"
    " Dave Dunn <dave@example.net>\r\n"
    " Erin Eastwood <erin@example.com>\r\n"
    " Frederik van Hohenberg-Lindqvist (archive key, keep for old mail only) "
    "<frederik.van.hohenberg-lindqvist@archive.example.org>\r\n"
    " Me <me@example.com>\r\n"
    "\r\n";
constexpr char kSecretListing[] =
    " Me <me@example.com>\r\n"
    " Me (old key, kept to read mail from before the change of address) "
    "<me.old.address@previous-employer.example.net>\r\n"
    "\r\n";

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// quillet.ini naming a PGP program in C:\pgp, with listings there, so that the windows load
// their lists without running PGP.
void WritePretendSetUp(System& system) {
  const fs::path pgp_dir = system.DriveRoot() + "pgp";
  fs::create_directories(pgp_dir);
  WriteFile(system.WindowsDirectory() + "\\quillet.ini",
            system.ModuleFileName() + "\r\n" + pgp_dir.string() +
                "\\pgp.exe\r\nQuillet keeps the location of the PGP program here.\r\n"
                "Do not delete.  Required by QUILLET program\r\n");
  WriteFile(pgp_dir / "quillet.key", kPublicListing);
  WriteFile(pgp_dir / "quillet.sec", kSecretListing);
}

void Require(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "screenshots: %s\n", what);
  std::fflush(stderr);
  ExitProcess(1);
}

// Asks for the picture of `window` once it is painted, and waits until it is taken.
void Photograph(const char* name, HWND window) {
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  // The system hands what was painted to the display from the window's own message loop.
  Sleep(700);
  RECT at = {};
  GetWindowRect(window, &at);
  std::printf("shot %s %ld %ld %ld %ld\n", name, at.left, at.top, at.right - at.left,
              at.bottom - at.top);
  std::fflush(stdout);
  char line[64];
  Require(std::fgets(line, sizeof line, stdin) != nullptr, "standard input ended early");
}

// Shows `window` alone of the program's forms.
void ShowOnly(HWND window, std::initializer_list<HWND> others) {
  for (HWND other : others) ShowWindow(other, SW_HIDE);
  ShowWindow(window, SW_SHOWNORMAL);
  SetForegroundWindow(window);
  Send(window, WM_NULL);
}

struct Forms {
  HWND resident, main, encrypt;
};

// The user's part: every picture in turn, then the close of the resident window, confirmed.
void TakePictures(const Forms& forms) {
  Photograph("resident", forms.resident);

  const gui::FormSpec main_spec = ui::TForm1::Spec();
  ShowOnly(forms.main, {forms.resident});
  const HWND recipients = Control(forms.main, IndexOf(main_spec, "RecipList"));
  ClickItem(recipients, 1);
  ClickItem(recipients, 2, MK_CONTROL);
  ClickItem(Control(forms.main, IndexOf(main_spec, "SendList")), 0);
  Send(Control(forms.main, IndexOf(main_spec, "Password")), WM_SETTEXT, 0,
       reinterpret_cast<LPARAM>("pass phrase"));
  Photograph("main", forms.main);

  const gui::FormSpec encrypt_spec = ui::TEncryptForm::Spec();
  ShowOnly(forms.encrypt, {forms.main});
  ClickItem(Control(forms.encrypt, IndexOf(encrypt_spec, "RecipList")), 0);
  Photograph("encrypt", forms.encrypt);
  const HWND options = Control(forms.encrypt, IndexOf(encrypt_spec, "EOption"));
  Press(GetDlgItem(options, win32::kFirstControlId + 3));
  const HWND warn = Control(forms.encrypt, IndexOf(encrypt_spec, "Warn"));
  Require(WaitFor([warn] { return IsWindowVisible(warn) != FALSE; }),
          "the Encrypt dialog did not switch to its password-only state");
  Photograph("encrypt-password-only", forms.encrypt);

  ShowOnly(forms.resident, {forms.encrypt});
  PostMessageA(forms.resident, WM_CLOSE, 0, 0);
  const HWND box = AwaitBox("Confirm");
  Require(box != nullptr, "the resident window asked nothing before closing");
  Photograph("message", box);
  Press(GetDlgItem(box, IDCANCEL));
  Require(AwaitGone(box), "the message box stayed");

  PostMessageA(forms.resident, WM_CLOSE, 0, 0);
  Require(AnswerBox("Confirm", IDOK).text.find("quit") != std::string::npos,
          "the resident window did not ask to quit");
}

int Run() {
  Platform platform = Platform::Default();
  platform.com.Initialize();
  mailsim::MailClient client({"me@example.com", "Me"});
  client.Register(platform.com, platform.registry);
  WritePretendSetUp(platform.system);

  host::Program program(platform);
  gui::Gui& gui = program.gui();
  gui.SetTitleFromPath(platform.system.ModuleFileName());
  host::TForm2 resident(gui);
  gui.SetMainWindow(&resident.window());
  const Forms forms = {
      win32::WindowHandle(resident.window()),
      win32::WindowHandle(program.Own(std::make_unique<ui::TForm1>(program)).window()),
      win32::WindowHandle(program.Own(std::make_unique<ui::TEncryptForm>(program)).window())};
  resident.Show();
  {
    User user([&forms] { TakePictures(forms); });
    gui.Run();
  }
  return 0;
}

}  // namespace
}  // namespace quillet

int main() {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  try {
    return quillet::Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "screenshots: %s\n", e.what());
    return 1;
  }
}
