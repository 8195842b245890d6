// The real quillet.exe as the mail client meets it, on Windows or under Wine. This program is the
// simulated mail client: it offers its two automation classes to other processes, and its
// extension host creates "QUILLET.C3PO", which makes COM start the registered quillet.exe. The
// steps run in order against that one server, from start to the closing event. A thread of this
// process plays the user in the server's windows; the main thread meanwhile serves the server's
// calls into the client.
//
// Usage: win32_client_e2e.exe PATH-OF-quillet.exe  (fakepgp.exe next to this program is
// installed as the PGP program.)
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// After windows.h, which it needs.
#include <winternl.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "mailsim/c3pohost.h"
#include "mailsim/mail_client.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/win32/ole_bridge.h"
#include "platform/win32/unique_handle.h"
#include "tests/fakepgp/recorded_runs.h"
#include "tests/win32/check.h"
#include "tests/win32/user.h"
#include "ui/encrypt.h"

namespace quillet {
namespace mailsim {

std::ostream& operator<<(std::ostream& out, const Attachment& a) {
  return out << a.name << ": " << wintest::Show(a.bytes);
}

}  // namespace mailsim
namespace {

using namespace wintest;
using Texts = std::vector<std::string>;
namespace fs = std::filesystem;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// Hands on every message waiting for this thread until `condition` holds, for at most `seconds`.
// The server's calls into the client arrive this way while the client waits.
bool ServeUntil(const std::function<bool()>& condition, double seconds = 20) {
  const Clock::time_point start = Clock::now();
  while (!condition()) {
    if (SecondsSince(start) > seconds) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  return true;
}

// The user acts on a thread of its own while this thread serves the server's calls.
void AsUser(const std::function<void()>& act, double seconds = 20) {
  std::atomic<bool> done{false};
  {
    User user([&] {
      act();
      done = true;
    });
    CHECK(ServeUntil([&] { return done.load(); }, seconds));
  }
}

// The client and the files that make up the user's set-up: quillet.ini in the Windows
// directory, the PGP directory with the test PGP program, its key ring and the listings.
struct Scene {
  Scene() {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    work = fs::path(temp) / "quillet-e2e";
    fs::remove_all(work);
    pgp_dir = work / "pgp";
    fs::create_directories(pgp_dir);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    fs::copy_file(fs::path(self).parent_path() / "fakepgp.exe", pgp_dir / "pgp.exe");
    const std::string pgp = pgp_dir.string() + "\\pgp";
    WriteFile(System::Default().WindowsDirectory() + "\\quillet.ini",
              "C:\\quillet\\quillet.exe\r\n" + pgp + "\r\nnotice\r\nDo not delete.\r\n");
    WriteFile(pgp_dir / "quillet.key", " Alice <alice@x>\r\n Bob <bob@x>\r\n Me <me@x>\r\n\r\n");
    WriteFile(pgp_dir / "quillet.sec", " Me <me@x>\r\n Old <old@x>\r\n\r\n");
    WriteFile(pgp_dir / "pgpkey.bat",
              pgp + " -kv > quillet.key\r\n" + pgp + " -kv secring.pgp > quillet.sec\r\n");
    WriteFile(work / "keys",
              "pub|1024|11111111|2026/01/01|Bob <bob@x>\nsec|1024|22222222|2026/01/01|Me <me@x>\n");
    // The server inherits these from the client that makes COM start it, and the PGP program
    // from the server.
    SetEnvironmentVariableA("FAKEPGP_LOG", (work / "args").string().c_str());
    SetEnvironmentVariableA("FAKEPGP_KEYS", (work / "keys").string().c_str());
    DeleteFileA(System::Default().RunLogPath().c_str());

    client.AddUser({"bob@example.com", "Bob"});
    client.Register(com, Registry::Default());
    client.SetViewObserver([this](const mailsim::View& view) { host->OpenWindow(view.context); });
  }

  // The arguments of each PGP run, as the test PGP program recorded them.
  std::vector<Texts> PgpRuns() const { return fakepgp::RecordedRuns(ReadFile(work / "args")); }

  // Files other than the program, the listings and the batch left in the PGP directory.
  Texts LeftInPgpDirectory() const {
    Texts left;
    for (const auto& entry : fs::directory_iterator(pgp_dir)) {
      const std::string name = entry.path().filename().string();
      if (name != "pgp.exe" && name != "quillet.key" && name != "quillet.sec" &&
          name != "pgpkey.bat")
        left.push_back(name);
    }
    return left;
  }

  mailsim::Execution Pick(const std::string& entry) {
    const mailsim::Execution result = host->Pick("&PGP", entry);
    CHECK_EQ(result.result, ole::hr::kOk);
    if (result.result != ole::hr::kOk) std::printf("  %s\n", result.excep.description.c_str());
    return result;
  }

  ole::Com& com = ole::Com::Default();
  fs::path work;
  fs::path pgp_dir;
  mailsim::MailClient client{{"me@example.com", "Me"}};
  std::optional<mailsim::C3POHost> host;
};

Scene* scene = nullptr;
std::string quillet_exe;

// How a run of quillet.exe ended, and how many visible windows it was seen with.
struct Run {
  DWORD exit_code = 0;
  int visible_windows = 0;
  bool operator==(const Run&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Run& run) {
  return out << "exit code " << run.exit_code << ", " << run.visible_windows << " windows";
}

struct Watch {
  DWORD process;
  int visible_windows;
};

BOOL CALLBACK CountVisibleWindow(HWND window, LPARAM watched) {
  auto* watch = reinterpret_cast<Watch*>(watched);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process == watch->process && IsWindowVisible(window)) ++watch->visible_windows;
  return TRUE;
}

Run RunQuillet(const std::string& switch_) {
  std::string command_line = "\"" + quillet_exe + "\" " + switch_;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info))
    return {GetLastError(), -1};
  win32::UniqueHandle process(info.hProcess), thread(info.hThread);
  Watch watch{info.dwProcessId, 0};
  const Clock::time_point start = Clock::now();
  while (WaitForSingleObject(process.get(), 5) == WAIT_TIMEOUT && SecondsSince(start) < 30)
    EnumWindows(&CountVisibleWindow, reinterpret_cast<LPARAM>(&watch));
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(process.get(), &code);
  return {code, watch.visible_windows};
}

// The command line another process was started with, read from its process parameters.
std::string CommandLineOf(HANDLE process) {
  PROCESS_BASIC_INFORMATION basic = {};
  PEB peb = {};
  RTL_USER_PROCESS_PARAMETERS parameters = {};
  if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) !=
          0 ||
      !ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, nullptr) ||
      !ReadProcessMemory(process, peb.ProcessParameters, &parameters, sizeof parameters, nullptr))
    return "(not readable)";
  std::wstring line(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
  if (!ReadProcessMemory(process, parameters.CommandLine.Buffer, line.data(),
                         parameters.CommandLine.Length, nullptr))
    return "(not readable)";
  return win32::ToAnsi(line.c_str(), static_cast<int>(line.size()));
}

const char kClsidKey[] = "CLSID\\{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}";

// The server's resident window, found when the server has just started and has no other window
// of that caption; the server's process is found through it.
HWND resident = nullptr;

DWORD ServerProcessId() {
  DWORD id = 0;
  GetWindowThreadProcessId(resident, &id);
  return id;
}

// --- The steps ---

void TestRegserverWritesTheFiveEntries() {
  CHECK_EQ(RunQuillet("/regserver"), (Run{0, 0}));
  Registry& registry = Registry::Default();
  CHECK_EQ(registry.QueryValue("QUILLET.C3PO"), std::optional<std::string>("Quillet C3PO Object"));
  CHECK_EQ(registry.QueryValue("QUILLET.C3PO\\Clsid"),
           std::optional<std::string>("{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}"));
  CHECK_EQ(registry.QueryValue(kClsidKey), std::optional<std::string>("Quillet C3PO Object"));
  CHECK_EQ(registry.QueryValue(std::string(kClsidKey) + "\\ProgID"),
           std::optional<std::string>("QUILLET.C3PO"));
  const std::optional<std::string> server =
      registry.QueryValue(std::string(kClsidKey) + "\\LocalServer32");
  CHECK(server && fs::equivalent(*server, quillet_exe));
}

void TestComStartsTheRegisteredServer() {
  CHECK(FindWindowA(win32::kFormClassName, "QUILLET") == nullptr);
  scene->host.emplace(scene->com);
  scene->host->Start();
  resident = FindWindowA(win32::kFormClassName, "QUILLET");
  CHECK(resident != nullptr);
  CHECK_EQ(scene->host->factory_init_answer(), 17);
  win32::UniqueHandle server(
      OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ServerProcessId()));
  CHECK(server.get() != nullptr);
  CHECK(ServerProcessId() != GetCurrentProcessId());
  char image[MAX_PATH] = {};
  DWORD size = sizeof image;
  if (server.get()) QueryFullProcessImageNameA(server.get(), 0, image, &size);
  CHECK_EQ(fs::path(image).filename().string(), "quillet.exe");
  // COM, not this program, started it, with the switch that says so.
  const std::string command_line = CommandLineOf(server.get());
  const bool embedding =
      command_line.ends_with(" -Embedding") || command_line.ends_with(" /Embedding");
  CHECK(embedding);
  if (!embedding) std::printf("  command line: %s\n", command_line.c_str());
}

void TestAMessageWindowGetsTheMenus() {
  scene->client.NewMail();
  const mailsim::HostWindow& window = scene->host->newest_window();
  CHECK_EQ(window.context, "GW.MESSAGE.MAIL");
  CHECK_EQ(window.menu_bar.size(), 1u);
  if (window.menu_bar.empty()) return;
  const mailsim::MenuEntry& pull_down = window.menu_bar.front();
  CHECK_EQ(pull_down.caption, "&PGP");
  CHECK_EQ(mailsim::C3POHost::LongPrompt(pull_down), "Access Quillet functions");
  Texts entries, prompts;
  for (const mailsim::MenuEntry& entry : pull_down.sub_menu) {
    entries.push_back(entry.caption);
    prompts.push_back(mailsim::C3POHost::LongPrompt(entry));
  }
  CHECK_EQ(entries, (Texts{"&Quillet", "&Encrypt", "&Decrypt this item", "&Mail PGP Key",
                           "&Add PGP Key to Ring", "&New PGP Key"}));
  CHECK_EQ(prompts, (Texts{"PGP Main Menu", "Encrypt the current mail", "Decrypt the current mail",
                           "Mail your main PGP key to someone",
                           "Add this PGP key to public keyring", "Make a new secret PGP key"}));
  Texts context;
  for (const mailsim::MenuEntry& entry : window.context_menu)
    context.push_back(entry.separator ? "-" : entry.caption);
  CHECK_EQ(context, (Texts{"-", "&Quillet", "&Encrypt", "&Decrypt this item", "&Mail PGP Key",
                           "&Add PGP Key to Ring", "&New PGP Key"}));
}

// Compose with attachments, encrypt in the real Encrypt dialog, send; the recipient decrypts the
// delivered item from the item list's context menu into a note.
void TestRoundTripFromComposerToRecipient() {
  mailsim::MailClient& client = scene->client;
  client.NewMail();
  client.TypeSubject("Plans");
  client.TypeBody("Meet at noon.\nBring the plans.");
  client.Attach("plans.txt", "first floor");
  client.Attach("map.bin", std::string("\x00\x01\x02", 3));
  client.AddressTo("bob@example.com");

  scene->Pick("&Encrypt");
  const gui::FormSpec spec = ui::TEncryptForm::Spec();
  std::string shown_recipients;
  AsUser([&] {
    const HWND dialog = Await(win32::kFormClassName, spec.caption);
    CHECK(dialog != nullptr);
    if (!dialog) return;
    const HWND recipients = Control(dialog, IndexOf(spec, "RecipList"));
    ClickItem(recipients, 1);
    CHECK(WaitFor([&] { return Send(recipients, LB_GETSEL, 1) > 0; }));
    const HWND options = Control(dialog, IndexOf(spec, "EOption"));
    Press(GetDlgItem(options, win32::kFirstControlId + 1));
    CHECK(WaitFor([&] {
      return Send(GetDlgItem(options, win32::kFirstControlId + 1), BM_GETCHECK) == BST_CHECKED;
    }));
    Send(Control(dialog, IndexOf(spec, "Password")), WM_SETTEXT, 0,
         reinterpret_cast<LPARAM>("secret"));
    Press(Control(dialog, IndexOf(spec, "OKBtn")));
    CHECK(AwaitGone(dialog));
  });
  CHECK(ServeUntil([&] { return client.NewItem().body.starts_with("-----BEGIN PGP MESSAGE"); }));
  const mailsim::Item encrypted = client.NewItem();
  CHECK(encrypted.body.starts_with("-----BEGIN PGP MESSAGE-----\r\nMode: seaw\r\n"));
  CHECK_EQ(encrypted.attachments.size(), 2u);
  if (encrypted.attachments.size() == 2) {
    CHECK_EQ(encrypted.attachments[0].name, "doc0.asc");
    CHECK_EQ(encrypted.attachments[1].name, "doc1.asc");
  }
  const std::string sent = client.SendNewMail();
  CHECK_EQ(client.FindItem(sent).body.find("noon"), std::string::npos);

  client.SwitchUser("bob@example.com");
  const std::string received = client.Mailbox("bob@example.com").back().id;
  client.ShowItemList({received});
  CHECK(scene->host->newest_window().menu_bar.empty());
  scene->host->OpenContextMenu("GW.MESSAGE.MAIL");
  CHECK_EQ(scene->host->PickFromContextMenu("&Decrypt this item").result, ole::hr::kOk);
  const mailsim::Item note = client.FindItem(client.view().item_id);
  CHECK_EQ(note.sender, "PGP message from Me");
  CHECK_EQ(note.attachments,
           (std::vector<mailsim::Attachment>{{"temppgp", "Meet at noon.\r\nBring the plans."},
                                             {"doc0", "first floor"},
                                             {"doc1", std::string("\x00\x01\x02", 3)}}));

  // The PGP runs, as the program logged them and as PGP received them.
  const std::string pgp = scene->pgp_dir.string() + "\\pgp";
  const std::string dir = scene->pgp_dir.string() + "\\";
  const std::string encrypt = " +force -z \"********\" -seaw " + dir + "temppgp <bob@x>  -u <me@x>";
  CHECK(ReadFile(System::Default().RunLogPath())
            .starts_with("Command line\r\n" + pgp + encrypt + "\r\nparameters\r\n" + pgp + " " +
                         encrypt + "\r\nExit Code\r\n0\r\n"));
  CHECK_EQ(ReadFile(System::Default().RunLogPath()).find("secret"), std::string::npos);
  const std::vector<Texts> runs = scene->PgpRuns();
  CHECK_EQ(runs.size(), 6u);  // body and two attachments, each way
  if (!runs.empty())
    CHECK_EQ(runs.front(), (Texts{"+force", "-z", "secret", "-seaw", dir + "temppgp", "<bob@x>",
                                  "-u", "<me@x>"}));
  // The armoured attachments of the composer's run may stay; no plain text does.
  for (const std::string& left : scene->LeftInPgpDirectory()) {
    CHECK(left.ends_with(".asc"));
    if (!left.ends_with(".asc")) std::printf("  left behind: %s\n", left.c_str());
  }
}

void TestAnErrorReachesTheHostAsADispatchException() {
  scene->client.NewMail();
  scene->client.FailCommandsStartingWith("envcheckcurrentwindow", "The client is busy");
  const mailsim::Execution result = scene->host->Pick("&PGP", "&Decrypt this item");
  CHECK_EQ(result.result, ole::hr::kException);
  CHECK_EQ(result.excep.source, "Command");
  CHECK_EQ(result.excep.description, "The client is busy");
}

// Closing the resident window asks first; the user keeps the program.
void TestClosingTheResidentWindowAsksFirst() {
  SeenBox seen;
  AsUser([&] {
    PostMessageA(resident, WM_CLOSE, 0, 0);
    seen = AnswerBox("Confirm", IDCANCEL);
  });
  CHECK_EQ(seen.text,
           "Are you sure that you want to quit Quillet?  You will have to restart Groupwise to "
           "access Quillet again.");
  CHECK_EQ(seen.buttons, (std::vector<int>{IDOK, IDCANCEL}));
  CHECK_EQ(seen.owner, resident);
  CHECK(IsWindow(resident));
  CHECK_EQ(scene->host->Pick("&PGP", "&Quillet").result, ole::hr::kOk);  // still serving
}

void TestTheClosingEventEndsTheServer() {
  win32::UniqueHandle server(
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ServerProcessId()));
  CHECK(server.get() != nullptr);
  if (!server.get()) return;
  scene->host->Close();
  scene->host.reset();
  CHECK(ServeUntil([&] { return WaitForSingleObject(server.get(), 0) == WAIT_OBJECT_0; }));
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(server.get(), &code);
  CHECK_EQ(code, 0ul);
}

// After the client has gone, /unregserver takes the entries away again.
void TestUnregserverDeletesTheEntries() {
  CHECK_EQ(RunQuillet("/unregserver"), (Run{0, 0}));
  for (const std::string& key : {std::string("QUILLET.C3PO"), std::string(kClsidKey)})
    CHECK_EQ(Registry::Default().QueryValue(key), std::optional<std::string>());
}

const wintest::Test kSteps[] = {
    {"RegserverWritesTheFiveEntries", TestRegserverWritesTheFiveEntries},
    {"ComStartsTheRegisteredServer", TestComStartsTheRegisteredServer},
    {"AMessageWindowGetsTheMenus", TestAMessageWindowGetsTheMenus},
    {"RoundTripFromComposerToRecipient", TestRoundTripFromComposerToRecipient},
    {"AnErrorReachesTheHostAsADispatchException", TestAnErrorReachesTheHostAsADispatchException},
    {"ClosingTheResidentWindowAsksFirst", TestClosingTheResidentWindowAsksFirst},
    {"TheClosingEventEndsTheServer", TestTheClosingEventEndsTheServer},
    {"UnregserverDeletesTheEntries", TestUnregserverDeletesTheEntries},
};

}  // namespace
}  // namespace quillet

int main(int argc, char** argv) {
  using namespace quillet;
  if (argc != 2) {
    std::printf("usage: win32_client_e2e PATH-OF-quillet.exe\n");
    return 2;
  }
  quillet_exe = argv[1];
  ole::Com& com = ole::Com::Default();
  com.Initialize();
  int status = 1;
  try {
    Scene world;
    scene = &world;
    status = wintest::RunTests(kSteps);
    scene = nullptr;
  } catch (const std::exception& e) {
    std::printf("the client could not start: %s\n", e.what());
  }
  com.Uninitialize();
  return status;
}
