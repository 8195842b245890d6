// The real quillet.exe as the mail client meets it, on Windows or under Wine. This program is the
// simulated mail client: it offers its two automation classes to other processes, and its
// extension host creates "QUILLET.C3PO", which makes COM start the registered quillet.exe. The
// steps run in order against that one server, from start to the closing event. A thread of this
// process plays the user in the server's windows; the main thread meanwhile serves the server's
// calls into the client.
//
// Usage: win32_client_e2e.exe [GOOGLETEST-FLAGS] PATH-OF-quillet.exe
//   fakepgp.exe next to this program is installed as the PGP program, and the steps register
//   and unregister the given quillet.exe.
// Or:    win32_client_e2e.exe [GOOGLETEST-FLAGS] --installed FIXTURES-FOLDER
//   the product as its installer left it, for a user who has not used it yet: the quillet.exe
//   that the registry names, the PGP folder that quillet.ini names (which the first use makes,
//   with a copy of the installation's PGP program, which runs the installation's GnuPG), and the
//   test keys of FIXTURES-FOLDER (alice.asc, bob.asc, bob-public.asc); Alice and Bob share that
//   key ring.
#include <windows.h>
// After windows.h, which it needs.
#include <winternl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "mailsim/c3pohost.h"
#include "mailsim/mail_client.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/win32/ole_bridge.h"
#include "platform/win32/unique_handle.h"
#include "tests/fakepgp/recorded_runs.h"
#include "tests/win32/user.h"
#include "ui/encrypt.h"
#include "ui/pgp2.h"

namespace quillet {
namespace mailsim {

void PrintTo(const Attachment& a, std::ostream* out) {
  *out << a.name << ": " << testing::PrintToString(a.bytes);
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

int Count(const std::string& text, const std::string& part) {
  int count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
    ++count;
  return count;
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

// The user acts on a thread of its own while this thread makes the call `meanwhile` (a menu pick
// that returns only when the operation is over, say) and serves the server's calls.
void AsUser(const std::function<void()>& act, double seconds = 20,
            const std::function<void()>& meanwhile = {}) {
  std::atomic<bool> done{false};
  {
    User user([&] {
      act();
      done = true;
    });
    if (meanwhile) meanwhile();
    EXPECT_TRUE(ServeUntil([&] { return done.load(); }, seconds));
  }
}

// The client and the files that make up the user's set-up: quillet.ini in the Windows
// directory, the PGP directory with the PGP program, its key ring and the listings.
struct Scene {
  // The test PGP program with pretend listings, for the server at `quillet_exe`.
  Scene() : work(FreshWorkFolder()), client({"me@example.com", "Me"}) {
    pgp_dir = work / "pgp";
    fs::create_directories(pgp_dir);
    char self[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, self, sizeof self);
    fs::copy_file(fs::path(self).parent_path() / "fakepgp.exe", pgp_dir / "pgp.exe");
    const std::string pgp = pgp_dir.string() + "\\pgp";
    WriteFile(System::Default().WindowsDirectory() + "\\quillet.ini",
              "C:\\quillet\\quillet.exe\r\n" + pgp + "\r\nnotice\r\nDo not delete.\r\n");
    WriteFile(pgp_dir / "quillet.key", " Alice <alice@x>\r\n Bob <bob@x>\r\n Me <me@x>\r\n\r\n");
    WriteFile(pgp_dir / "quillet.key.ids", "0x0A1B2C3D\r\n0x11111111\r\n0x22222222\r\n\r\n");
    WriteFile(pgp_dir / "quillet.sec", " Me <me@x>\r\n Old <old@x>\r\n\r\n");
    WriteFile(pgp_dir / "quillet.sec.ids", "0x22222222\r\n0x33333333\r\n\r\n");
    WriteFile(pgp_dir / "pgpkey.bat",
              pgp + " -kvc > quillet.key\r\n" + pgp + " -kvc secring.pgp > quillet.sec\r\n");
    WriteFile(work / "keys",
              "pub|1024|11111111|2026/01/01|Bob <bob@x>\nsec|1024|22222222|2026/01/01|Me <me@x>\n");
    // The server inherits these from the client that makes COM start it, and the PGP program
    // from the server.
    SetEnvironmentVariableA("FAKEPGP_LOG", (work / "args").string().c_str());
    SetEnvironmentVariableA("FAKEPGP_KEYS", (work / "keys").string().c_str());
    DeleteFileA(System::Default().RunLogPath().c_str());
    client.AddUser({"bob@example.com", "Bob"});
    Connect();
  }

  // The installed product: the PGP directory is the one quillet.ini names, for this user.
  explicit Scene(const fs::path& fixtures)
      : work(FreshWorkFolder()), fixtures(fixtures), client({"alice@example.com", "Alice"}) {
    std::istringstream ini(ReadFile(System::Default().WindowsDirectory() + "\\quillet.ini"));
    std::string line;
    std::getline(ini, line);
    std::getline(ini, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    pgp_dir = fs::path(System::Default().ExpandEnvironment(line)).parent_path();
    client.AddUser({"bob@example.org", "Bob"});
    Connect();
  }

  static fs::path FreshWorkFolder() {
    char temp[MAX_PATH] = {};
    GetTempPathA(sizeof temp, temp);
    const fs::path work = fs::path(temp) / "quillet-e2e";
    fs::remove_all(work);
    fs::create_directories(work);
    return work;
  }

  void Connect() {
    client.Register(com, Registry::Default());
    client.SetViewObserver([this](const mailsim::View& view) { host->OpenWindow(view.context); });
  }

  // The arguments of each PGP run, as the test PGP program recorded them.
  std::vector<Texts> PgpRuns() const { return fakepgp::RecordedRuns(ReadFile(work / "args")); }

  // Files other than the PGP program, its options, the key ring, the listings and the batch left
  // in the PGP directory.
  Texts LeftInPgpDirectory() const {
    static const std::set<std::string> kKept = {
        "pgp.exe", "config.txt", "quillet.key", "quillet.sec", "quillet.key.ids", "quillet.sec.ids",
        "pgpkey.bat", "pubring.kbx", "pubring.kbx~", "trustdb.gpg", "gpg-agent.conf",
        "private-keys-v1.d", "random_seed", "openpgp-revocs.d", "S.gpg-agent",
        "S.gpg-agent.browser", "S.gpg-agent.extra", "S.gpg-agent.ssh",
        // GnuPG's locks, which stay as files on Windows, and its backup of the key ring.
        "pubring.kbx.lock", "trustdb.gpg.lock", "gnupg_spawn_agent_sentinel.lock", "pubring.kb_"};
    Texts left;
    for (const auto& entry : fs::directory_iterator(pgp_dir)) {
      const std::string name = entry.path().filename().string();
      if (!kKept.contains(name)) left.push_back(name);
    }
    return left;
  }

  mailsim::Execution Pick(const std::string& entry) {
    const mailsim::Execution result = host->Pick("&PGP", entry);
    EXPECT_EQ(result.result, ole::hr::kOk) << result.excep.description;
    return result;
  }

  ole::Com& com = ole::Com::Default();
  fs::path work;
  fs::path pgp_dir;
  fs::path fixtures;
  mailsim::MailClient client;
  std::optional<mailsim::C3POHost> host;
};

Scene* scene = nullptr;
std::string quillet_exe;

// How a run of quillet.exe ended, and how many visible windows it was seen with.
struct Outcome {
  DWORD exit_code = 0;
  int visible_windows = 0;
  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& run) {
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

Outcome RunQuillet(const std::string& switch_) {
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

// Whether this build is the 32-bit one that ships, or the 64-bit one that machines without 32-bit
// support test.
constexpr bool kBuiltFor32Bit = sizeof(void*) == 4;

// True for a 32-bit program on 64-bit Windows (WoW64).
bool RunsAs32Bit(HANDLE process) {
  BOOL wow64 = FALSE;
  return IsWow64Process(process, &wow64) && wow64;
}

// --- The steps ---

// Each set of steps runs whole, in the order written, each step on what the steps before it left
// with the one client and server; the program's arguments choose the set.
class ClientSteps : public testing::Test {};
class InstalledSteps : public testing::Test {};

TEST_F(ClientSteps, RegserverWritesTheFiveEntries) {
  EXPECT_EQ(RunQuillet("/regserver"), (Outcome{0, 0}));
  Registry& registry = Registry::Default();
  EXPECT_EQ(registry.QueryValue("QUILLET.C3PO"), std::optional<std::string>("Quillet C3PO Object"));
  EXPECT_EQ(registry.QueryValue("QUILLET.C3PO\\Clsid"),
            std::optional<std::string>("{6A3D91E4-27B5-4C0F-9E18-5B7C2F40D1A9}"));
  EXPECT_EQ(registry.QueryValue(kClsidKey), std::optional<std::string>("Quillet C3PO Object"));
  EXPECT_EQ(registry.QueryValue(std::string(kClsidKey) + "\\ProgID"),
            std::optional<std::string>("QUILLET.C3PO"));
  const std::optional<std::string> server =
      registry.QueryValue(std::string(kClsidKey) + "\\LocalServer32");
  // The path stands in double quotes when it holds a blank, and only then.
  std::string path = server.value_or("");
  const bool quoted = path.size() > 1 && path.front() == '"' && path.back() == '"';
  if (quoted) path = path.substr(1, path.size() - 2);
  EXPECT_EQ(quoted, path.find(' ') != std::string::npos);
  EXPECT_TRUE(server && fs::equivalent(path, quillet_exe));
}

TEST_F(ClientSteps, ComStartsTheRegisteredServer) {
  EXPECT_EQ(FindWindowA(win32::kFormClassName, "QUILLET"), nullptr);
  scene->host.emplace(scene->com);
  scene->host->Start();
  resident = FindWindowA(win32::kFormClassName, "QUILLET");
  EXPECT_NE(resident, nullptr);
  EXPECT_EQ(scene->host->factory_init_answer(), 17);
  win32::UniqueHandle server(
      OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ServerProcessId()));
  EXPECT_NE(server.get(), nullptr);
  EXPECT_NE(ServerProcessId(), GetCurrentProcessId());
  // Both ends are 32-bit programs, as GroupWise and the product are (or both 64-bit where the
  // tests run a 64-bit build).
  EXPECT_EQ(RunsAs32Bit(server.get()), kBuiltFor32Bit);
  EXPECT_EQ(RunsAs32Bit(GetCurrentProcess()), kBuiltFor32Bit);
  char image[MAX_PATH] = {};
  DWORD size = sizeof image;
  if (server.get()) QueryFullProcessImageNameA(server.get(), 0, image, &size);
  EXPECT_EQ(fs::path(image).filename().string(), "quillet.exe");
  // COM, not this program, started it, with the switch that says so.
  const std::string command_line = CommandLineOf(server.get());
  const bool embedding =
      command_line.ends_with(" -Embedding") || command_line.ends_with(" /Embedding");
  EXPECT_TRUE(embedding) << "command line: " << command_line;
}

TEST_F(ClientSteps, AMessageWindowGetsTheMenus) {
  scene->client.NewMail();
  const mailsim::HostWindow& window = scene->host->newest_window();
  EXPECT_EQ(window.context, "GW.MESSAGE.MAIL");
  Texts menu_bar;
  for (const mailsim::MenuEntry& entry : window.menu_bar) menu_bar.push_back(entry.caption);
  EXPECT_EQ(menu_bar,
            (Texts{"&File", "&Edit", "&View", "&Actions", "&Tools", "&PGP", "&Window", "&Help"}));
  const mailsim::MenuEntry& pull_down = mailsim::C3POHost::Find(window.menu_bar, "&PGP");
  EXPECT_EQ(mailsim::C3POHost::LongPrompt(pull_down), "Access Quillet functions");
  Texts entries, prompts;
  for (const mailsim::MenuEntry& entry : pull_down.sub_menu) {
    entries.push_back(entry.caption);
    prompts.push_back(mailsim::C3POHost::LongPrompt(entry));
  }
  EXPECT_EQ(entries, (Texts{"&Quillet", "&Encrypt", "&Decrypt this item", "&Mail PGP Key",
                            "&Add PGP Key to Ring", "&New PGP Key"}));
  EXPECT_EQ(prompts, (Texts{"PGP Main Menu", "Encrypt the current mail", "Decrypt the current mail",
                            "Mail your main PGP key to someone",
                            "Add this PGP key to public keyring", "Make a new secret PGP key"}));
  Texts context;
  for (const mailsim::MenuEntry& entry : window.context_menu)
    context.push_back(entry.separator ? "-" : entry.caption);
  EXPECT_EQ(context, (Texts{"-", "&Quillet", "&Encrypt", "&Decrypt this item", "&Mail PGP Key",
                            "&Add PGP Key to Ring", "&New PGP Key"}));
}

// Compose with attachments, encrypt in the real Encrypt dialog, send; the recipient decrypts the
// delivered item from the item list's context menu into a note.
TEST_F(ClientSteps, RoundTripFromComposerToRecipient) {
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
    ASSERT_NE(dialog, nullptr);
    const HWND recipients = Control(dialog, IndexOf(spec, "RecipList"));
    ClickItem(recipients, 1);
    EXPECT_TRUE(WaitFor([&] { return Send(recipients, LB_GETSEL, 1) > 0; }));
    const HWND options = Control(dialog, IndexOf(spec, "EOption"));
    Press(GetDlgItem(options, win32::kFirstControlId + 1));
    EXPECT_TRUE(WaitFor([&] {
      return Send(GetDlgItem(options, win32::kFirstControlId + 1), BM_GETCHECK) == BST_CHECKED;
    }));
    Send(Control(dialog, IndexOf(spec, "Password")), WM_SETTEXT, 0,
         reinterpret_cast<LPARAM>("secret"));
    Press(Control(dialog, IndexOf(spec, "OKBtn")));
    EXPECT_TRUE(AwaitGone(dialog));
  });
  EXPECT_TRUE(
      ServeUntil([&] { return client.NewItem().body.starts_with("-----BEGIN PGP MESSAGE"); }));
  const mailsim::Item encrypted = client.NewItem();
  EXPECT_TRUE(encrypted.body.starts_with("-----BEGIN PGP MESSAGE-----\r\nMode: seaw\r\n"));
  Texts names;
  for (const mailsim::Attachment& a : encrypted.attachments) names.push_back(a.name);
  EXPECT_EQ(names, (Texts{"doc0.asc", "doc1.asc"}));
  const std::string sent = client.SendNewMail();
  EXPECT_EQ(client.FindItem(sent).body.find("noon"), std::string::npos);

  client.SwitchUser("bob@example.com");
  const std::string received = client.Mailbox("bob@example.com").back().id;
  client.ShowItemList({received});
  EXPECT_EQ(scene->host->newest_window().menu_bar.size(), mailsim::kClientMenus.size());
  scene->host->OpenContextMenu("GW.MESSAGE.MAIL");
  EXPECT_EQ(scene->host->PickFromContextMenu("&Decrypt this item").result, ole::hr::kOk);
  const mailsim::Item note = client.FindItem(client.view().item_id);
  EXPECT_EQ(note.sender, "PGP message from Me");
  // The test PGP program, like a classic one, gives no verdict on the signature.
  EXPECT_TRUE(
      note.body.starts_with("Signature: not reported by this PGP program.\r\nDecrypted PGP text"));
  EXPECT_EQ(note.attachments,
            (std::vector<mailsim::Attachment>{{"temppgp", "Meet at noon.\r\nBring the plans."},
                                              {"doc0", "first floor"},
                                              {"doc1", std::string("\x00\x01\x02", 3)}}));

  // The PGP runs, as the program logged them and as PGP received them.
  const std::string pgp = scene->pgp_dir.string() + "\\pgp";
  const std::string dir = scene->pgp_dir.string() + "\\";
  const std::string encrypt =
      " +force -z \"********\" -seaw " + dir + "temppgp 0x11111111  -u 0x22222222";
  EXPECT_TRUE(ReadFile(System::Default().RunLogPath())
                  .starts_with("Command line\r\n" + pgp + encrypt + "\r\nparameters\r\n" + pgp +
                               " " + encrypt + "\r\nExit Code\r\n0\r\n"));
  EXPECT_EQ(ReadFile(System::Default().RunLogPath()).find("secret"), std::string::npos);
  const std::vector<Texts> runs = scene->PgpRuns();
  EXPECT_EQ(runs.size(), 6u);  // body and two attachments, each way
  if (!runs.empty()) {
    EXPECT_EQ(runs.front(), (Texts{"+force", "-z", "secret", "-seaw", dir + "temppgp", "0x11111111",
                                   "-u", "0x22222222"}));
  }
  // The armoured attachments of the composer's run may stay; no plain text does.
  for (const std::string& left : scene->LeftInPgpDirectory())
    EXPECT_TRUE(left.ends_with(".asc")) << "left behind: " << left;
}

TEST_F(ClientSteps, AnErrorReachesTheHostAsADispatchException) {
  scene->client.NewMail();
  scene->client.FailCommandsStartingWith("envcheckcurrentwindow", "The client is busy");
  const mailsim::Execution result = scene->host->Pick("&PGP", "&Decrypt this item");
  EXPECT_EQ(result.result, ole::hr::kException);
  EXPECT_EQ(result.excep.source, "Command");
  EXPECT_EQ(result.excep.description, "The client is busy");
}

// Closing the resident window asks first; the user keeps the program.
TEST_F(ClientSteps, ClosingTheResidentWindowAsksFirst) {
  SeenBox seen;
  AsUser([&] {
    PostMessageA(resident, WM_CLOSE, 0, 0);
    seen = AnswerBox("Confirm", IDCANCEL);
  });
  EXPECT_EQ(seen.text,
            "Are you sure that you want to quit Quillet?  You will have to restart Groupwise to "
            "access Quillet again.");
  EXPECT_EQ(seen.buttons, (std::vector<int>{IDOK, IDCANCEL}));
  EXPECT_EQ(seen.owner, resident);
  EXPECT_TRUE(IsWindow(resident));
  EXPECT_EQ(scene->host->Pick("&PGP", "&Quillet").result, ole::hr::kOk);  // still serving
}

// The server's windows, top-level and child; with `caption`, its visible top-level windows of
// that caption only.
struct WindowSearch {
  DWORD process;
  const char* caption;
  std::vector<HWND> found;
};

BOOL CALLBACK CollectChild(HWND child, LPARAM search) {
  reinterpret_cast<WindowSearch*>(search)->found.push_back(child);
  return TRUE;
}

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM data) {
  auto& search = *reinterpret_cast<WindowSearch*>(data);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != search.process) return TRUE;
  char text[256] = "";
  GetWindowTextA(window, text, sizeof text);
  if (search.caption && (!IsWindowVisible(window) || search.caption != std::string(text)))
    return TRUE;
  search.found.push_back(window);
  if (!search.caption) EnumChildWindows(window, CollectChild, data);
  return TRUE;
}

std::vector<HWND> ServerWindows(const char* caption = nullptr) {
  WindowSearch search{ServerProcessId(), caption, {}};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// Fifty rounds of the menu leave the server the windows it had: a main window the user closed
// and an Encrypt dialog picked in a received message's window go with their controls.
TEST_F(ClientSteps, FiftyRoundsOfTheMenuLeaveTheServersWindowsAsTheyWere) {
  mailsim::MailClient& client = scene->client;
  const std::string received = client.Mailbox(client.user().address).back().id;
  const std::string caption = ui::TForm1::Spec().caption;
  const std::vector<HWND> open = ServerWindows(caption.c_str());
  const std::size_t before = ServerWindows().size();
  for (int round = 0; round < 50; ++round) {
    client.OpenItem(received);
    scene->Pick("&Encrypt");
    scene->Pick("&Quillet");
    for (HWND window : ServerWindows(caption.c_str()))
      if (std::ranges::find(open, window) == open.end()) PostMessageA(window, WM_CLOSE, 0, 0);
  }
  EXPECT_TRUE(ServeUntil([&] { return ServerWindows().size() == before; }, 10))
      << ServerWindows().size() << " windows, " << before << " before";
}

// The last step of either set: the client's closing event ends the server.
void TheClosingEventEndsTheServer() {
  win32::UniqueHandle server(
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ServerProcessId()));
  ASSERT_NE(server.get(), nullptr);
  scene->host->Close();
  scene->host.reset();
  EXPECT_TRUE(ServeUntil([&] { return WaitForSingleObject(server.get(), 0) == WAIT_OBJECT_0; }));
  DWORD code = STILL_ACTIVE;
  GetExitCodeProcess(server.get(), &code);
  EXPECT_EQ(code, 0ul);
}

TEST_F(ClientSteps, TheClosingEventEndsTheServer) {
  TheClosingEventEndsTheServer();
}

// After the client has gone, /unregserver takes the entries away again.
TEST_F(ClientSteps, UnregserverDeletesTheEntries) {
  EXPECT_EQ(RunQuillet("/unregserver"), (Outcome{0, 0}));
  for (const std::string& key : {std::string("QUILLET.C3PO"), std::string(kClsidKey)})
    EXPECT_EQ(Registry::Default().QueryValue(key), std::optional<std::string>());
}

// --- The installed product, with the installed PGP program and GnuPG ---

// What a console program wrote, and how it ended.
struct Console {
  DWORD exit_code = STILL_ACTIVE;
  std::string output;  // standard output and standard error
};

// Runs `command_line` without a window, with both outputs going to a file and no input (not a
// console, as for a script: nothing waits on a question), and waits for it.
Console RunConsoleProgram(std::string command_line) {
  const fs::path output_file = scene->work / "console.txt";
  SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
  win32::UniqueFile output(CreateFileA(output_file.string().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                       &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  // Without an input handle of its own the program would find Wine's console there.
  win32::UniqueFile input(CreateFileA("NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      &inherit, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  startup.hStdInput = input.get();
  startup.hStdOutput = startup.hStdError = output.get();
  PROCESS_INFORMATION info = {};
  Console result;
  if (!CreateProcessA(nullptr, command_line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW,
                      nullptr, nullptr, &startup, &info))
    return {GetLastError(), "cannot start " + command_line};
  win32::UniqueHandle process(info.hProcess), thread(info.hThread);
  output.reset();  // the child holds the only copy now
  WaitForSingleObject(process.get(), 120000);
  GetExitCodeProcess(process.get(), &result.exit_code);
  result.output = ReadFile(output_file);
  return result;
}

// The PGP program `pgp` adds the keys of a key file to the user's PGP folder, as a user adds
// keys at its console. Before the first use, the installation's program does it, as a user
// brings an existing key ring.
void AddKeysWithPgp(const fs::path& pgp, const std::string& fixture) {
  fs::create_directories(scene->pgp_dir);
  SetEnvironmentVariableA("PGPPATH", scene->pgp_dir.string().c_str());
  const Console run = RunConsoleProgram("\"" + pgp.string() + "\" -ka \"" +
                                        (scene->fixtures / fixture).string() + "\"");
  SetEnvironmentVariableA("PGPPATH", nullptr);
  EXPECT_EQ(run.exit_code, 0ul) << run.output;
}

// The entries of a list box of another process, read as UTF-16: Wine hands the ANSI form of a
// foreign list box's text over in UTF-16 all the same.
Texts ListItems(HWND list) {
  Texts items;
  const LRESULT count = SendMessageW(list, LB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::wstring text(static_cast<std::size_t>(SendMessageW(list, LB_GETTEXTLEN, i, 0)) + 1, L'\0');
    SendMessageW(list, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text.data()));
    items.push_back(win32::ToAnsi(text.c_str(), static_cast<int>(wcslen(text.c_str()))));
  }
  return items;
}

int LineOf(const Texts& items, const std::string& part) {
  for (std::size_t i = 0; i < items.size(); ++i)
    if (items[i].find(part) != std::string::npos) return static_cast<int>(i);
  return -1;
}

std::string RunLogAfter(std::size_t offset) {
  return ReadFile(System::Default().RunLogPath()).substr(offset);
}

// The ProgIDs of the C3POs registered for a window of `context`, as GroupWise finds them: under
// HKLM\SOFTWARE\Novell\GroupWise\5.0\C3PO\DataTypes, at the context and at each one above it
// ("GW.MESSAGE.MAIL", "GW.MESSAGE", "GW"), every ProgID whose "Objects" names a command factory.
std::vector<std::string> RegisteredC3POs(std::string context) {
  std::vector<std::string> found;
  for (;;) {
    win32::UniqueKey types;
    const std::string key = "SOFTWARE\\Novell\\GroupWise\\5.0\\C3PO\\DataTypes\\" + context;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, types.put()) == ERROR_SUCCESS) {
      char name[256];
      for (DWORD i = 0, size = sizeof name;
           RegEnumKeyExA(types.get(), i, name, &size, nullptr, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
           ++i, size = sizeof name) {
        if (RegGetValueA(types.get(), (std::string(name) + "\\Objects").c_str(), "CommandFactory",
                         RRF_RT_REG_SZ, nullptr, nullptr, nullptr) == ERROR_SUCCESS)
          found.emplace_back(name);
      }
    }
    const std::size_t dot = context.rfind('.');
    if (dot == std::string::npos) return found;
    context.resize(dot);
  }
}

// COM starts the quillet.exe that the installer registered, from Program Files; Alice's keys are
// on the ring, as after she imported her own key ring.
TEST_F(InstalledSteps, ComStartsTheInstalledServer) {
  std::optional<std::string> server =
      Registry::Default().QueryValue(std::string(kClsidKey) + "\\LocalServer32");
  ASSERT_TRUE(server.has_value());
  if (server->size() > 1 && server->front() == '"') *server = server->substr(1, server->size() - 2);
  // The client finds Quillet through its registration with GroupWise, as GroupWise does.
  const std::vector<std::string> c3pos = RegisteredC3POs("GW.MESSAGE.MAIL");
  ASSERT_NE(std::find(c3pos.begin(), c3pos.end(), "QUILLET.C3PO"), c3pos.end())
      << "no C3PO registered for mail windows";
  EXPECT_FALSE(fs::exists(scene->pgp_dir)) << "not a fresh user";
  AddKeysWithPgp(fs::path(*server).parent_path() / "GnuPG" / "pgp.exe", "alice.asc");
  scene->host.emplace(scene->com);
  scene->host->Start();
  resident = FindWindowA(win32::kFormClassName, "QUILLET");
  EXPECT_NE(resident, nullptr);
  win32::UniqueHandle process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, ServerProcessId()));
  char image[MAX_PATH] = {};
  DWORD size = sizeof image;
  if (process.get()) QueryFullProcessImageNameA(process.get(), 0, image, &size);
  EXPECT_TRUE(fs::exists(image) && fs::equivalent(image, *server));
  EXPECT_TRUE(RunsAs32Bit(process.get()));
}

// The write time of the secret-key listing, which the key-listing batch writes last.
std::optional<fs::file_time_type> SecretListingWritten() {
  std::error_code error;
  const fs::file_time_type written = fs::last_write_time(scene->pgp_dir / "quillet.sec", error);
  return error ? std::nullopt : std::optional(written);
}

// True when no process holds the file open any longer, as the batch file's console does its
// output file until the console has ended.
bool Released(const fs::path& file) {
  return static_cast<bool>(
      win32::UniqueFile(CreateFileA(file.string().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr)));
}

// Answers the `count` questions "Click OK after DOS program runs" as a user would: each once the
// batch file's console has written both listings anew and has ended.
void AnswerListingQuestions(int count, std::optional<fs::file_time_type> listed) {
  for (int i = 0; i < count; ++i) {
    EXPECT_NE(Await(kBoxClass, "Confirm", 60), nullptr);
    EXPECT_TRUE(WaitFor(
        [&] {
          Sleep(200);
          const fs::path secret = scene->pgp_dir / "quillet.sec";
          const std::optional<fs::file_time_type> written = SecretListingWritten();
          if (!written || written == listed ||
              ReadFile(secret).find("found.") == std::string::npos || !Released(secret))
            return false;
          listed = written;
          return true;
        },
        60));
    AnswerBox("Confirm", IDOK);
  }
}

// Bob mails his public key; Alice adds it to her ring from the opened mail. The main window that
// does it finds no key listings, the first time, and has them made by the batch file in a console
// of its own; after the key was added, they are made again.
TEST_F(InstalledSteps, AKeyFromAMailGoesOntoTheRing) {
  mailsim::MailClient& client = scene->client;
  const std::string mail = client.Deliver(
      "alice@example.com",
      {.sender = "Bob",
       .subject = "My key",
       .body = "Hi Alice, here is my key.\r\n\r\n" + ReadFile(scene->fixtures / "bob-public.asc")});
  client.OpenItem(mail);
  const std::size_t logged = ReadFile(System::Default().RunLogPath()).size();
  EXPECT_TRUE(!SecretListingWritten());
  AsUser([] { AnswerListingQuestions(2, std::nullopt); }, 150,
         [] { scene->Pick("&Add PGP Key to Ring"); });
  EXPECT_TRUE(RunLogAfter(logged).find(" -ka " + (scene->pgp_dir / "temppgp.asc").string() +
                                       "\r\nExit Code\r\n0\r\n") != std::string::npos);
  EXPECT_TRUE(!fs::exists(scene->pgp_dir / "temppgp.asc"));
  const std::string keys = ReadFile(scene->pgp_dir / "quillet.key");
  EXPECT_NE(keys.find("Bob Builder <bob@example.org>"), std::string::npos) << keys;
  EXPECT_NE(keys.find("Alice Example <alice@example.com>"), std::string::npos) << keys;
}

std::string sent_body;  // the encrypted mail as Alice sent it
// What Alice types, as the mail client keeps it in code page 1252; the mail carries it in UTF-8.
constexpr char kTyped[] =
    "Gr\xFC\xDF"
    "e aus K\xF6ln \x96 5 \x80 f\xFCr Stra\xDF"
    "e.\r\nMeet at noon.";
constexpr char kSent[] =
    "Gr\u00fc\u00dfe aus K\u00f6ln \u2013 5 \u20ac f\u00fcr Stra\u00dfe.\r\nMeet at noon.";

// Alice encrypts a mail with two attachments to Bob and signs it, in the real Encrypt dialog.
TEST_F(InstalledSteps, AMailIsEncryptedAndSigned) {
  mailsim::MailClient& client = scene->client;
  client.NewMail();
  client.TypeSubject("Plans");
  client.TypeBody(kTyped);
  client.Attach("plans.txt", "Room 4, first floor");
  client.Attach("map.bin", std::string("\x00\x01\x02\xff", 4));
  client.AddressTo("bob@example.org");
  const std::size_t logged = ReadFile(System::Default().RunLogPath()).size();
  scene->Pick("&Encrypt");
  const gui::FormSpec spec = ui::TEncryptForm::Spec();
  AsUser(
      [&] {
        const HWND dialog = Await(win32::kFormClassName, spec.caption);
        ASSERT_NE(dialog, nullptr);
        const HWND recipients = Control(dialog, IndexOf(spec, "RecipList"));
        const int bob = LineOf(ListItems(recipients), "bob@example.org");
        EXPECT_TRUE(bob >= 0);
        ClickItem(recipients, bob);
        EXPECT_TRUE(WaitFor([&] { return Send(recipients, LB_GETSEL, bob) > 0; }));
        const HWND options = Control(dialog, IndexOf(spec, "EOption"));
        Press(GetDlgItem(options, win32::kFirstControlId + 1));  // encrypt and sign
        EXPECT_TRUE(WaitFor([&] {
          return Send(GetDlgItem(options, win32::kFirstControlId + 1), BM_GETCHECK) == BST_CHECKED;
        }));
        Send(Control(dialog, IndexOf(spec, "Password")), WM_SETTEXT, 0,
             reinterpret_cast<LPARAM>("alice pass"));
        Press(Control(dialog, IndexOf(spec, "OKBtn")));
        // The dialog goes once PGP has run for the body and both attachments.
        EXPECT_TRUE(
            WaitFor([dialog] { return !IsWindow(dialog) || !IsWindowVisible(dialog); }, 120));
      },
      150);
  EXPECT_TRUE(ServeUntil(
      [&] {
        return client.NewItem().attachments.size() == 2 &&
               client.NewItem().attachments[0].name == "doc0.asc";
      },
      120));
  const mailsim::Item encrypted = client.NewItem();
  EXPECT_TRUE(encrypted.body.starts_with("-----BEGIN PGP MESSAGE-----\r\n"));
  EXPECT_EQ(encrypted.body.find("noon"), std::string::npos);
  Texts names;
  for (const mailsim::Attachment& a : encrypted.attachments) {
    names.push_back(a.name);
    EXPECT_TRUE(a.bytes.starts_with("-----BEGIN PGP MESSAGE-----"));
  }
  EXPECT_EQ(names, (Texts{"doc0.asc", "doc1.asc"}));
  const std::string log = RunLogAfter(logged);
  EXPECT_EQ(log.find("alice pass"), std::string::npos);
  EXPECT_EQ(Count(log, "Exit Code\r\n0\r\n"), 3);
  sent_body = client.FindItem(client.SendNewMail()).body;
}

// Bob, with his secret key on the ring, opens Quillet from the mail's context menu, sees the keys
// in the main window, types his pass phrase and decrypts the mail into a note; the signature is
// correct, by the key named as Alice's that Bob has not certified, as the installed PGP program
// tells at its console.
TEST_F(InstalledSteps, TheRecipientDecryptsIntoANote) {
  mailsim::MailClient& client = scene->client;
  AddKeysWithPgp(scene->pgp_dir / "pgp.exe", "bob.asc");
  client.SwitchUser("bob@example.org");
  const std::string received = client.Mailbox("bob@example.org").back().id;
  client.ShowItemList({received});
  scene->host->OpenContextMenu("GW.MESSAGE.MAIL");
  EXPECT_EQ(scene->host->PickFromContextMenu("&Quillet").result, ole::hr::kOk);
  const gui::FormSpec spec = ui::TForm1::Spec();
  Texts keys;
  AsUser(
      [&] {
        const HWND window = Await(win32::kFormClassName, spec.caption, 20);
        ASSERT_NE(window, nullptr);
        keys = ListItems(Control(window, IndexOf(spec, "RecipList")));
        Send(Control(window, IndexOf(spec, "Password")), WM_SETTEXT, 0,
             reinterpret_cast<LPARAM>("bob pass"));
        Press(Control(window, IndexOf(spec, "Decrypt")));
      },
      20);
  EXPECT_TRUE(LineOf(keys, "Alice Example <alice@example.com>") >= 0);
  EXPECT_TRUE(LineOf(keys, "Bob Builder <bob@example.org>") >= 0);
  EXPECT_TRUE(ServeUntil(
      [&] {
        return client.view().item_id != received &&
               client.view().kind == mailsim::ViewKind::kOpenedItem;
      },
      120));
  const mailsim::Item note = client.FindItem(client.view().item_id);
  EXPECT_EQ(note.sender, "PGP message from Alice");
  EXPECT_EQ(note.subject, "Plans");
  // The note begins with the installed PGP program's verdict; both attachments share it.
  const std::string verdict = note.body.substr(0, note.body.find("\r\n"));
  std::printf("  the note's first line: %s\n", verdict.c_str());
  EXPECT_TRUE(verdict.starts_with(
      "Signature: correct, but the key is NOT CERTIFIED: made by a key named \"Alice Example "
      "<alice@example.com>\" (fingerprint 32DE 3555 422D FDA9 F6C6 F126 0DCF 3C53 DB75 4C09), "));
  EXPECT_EQ(Count(note.body, "Signature"), 1);
  EXPECT_EQ(note.attachments,
            (std::vector<mailsim::Attachment>{{"temppgp", kTyped},
                                              {"doc0", "Room 4, first floor"},
                                              {"doc1", std::string("\x00\x01\x02\xff", 4)}}));

  // The mail as it was sent, checked again at the PGP program's console.
  const fs::path copy = scene->work / "sent.asc";
  WriteFile(copy, sent_body);
  const Console check = RunConsoleProgram("\"" + (scene->pgp_dir / "pgp.exe").string() +
                                          "\" +force -z \"bob pass\" \"" + copy.string() + "\"");
  EXPECT_EQ(check.exit_code, 0ul);
  EXPECT_NE(check.output.find("Good signature from user \"Alice Example <alice@example.com>\""),
            std::string::npos)
      << check.output;
  EXPECT_EQ(ReadFile(scene->work / "sent"), kSent);

  // The main window, closed, takes its plain text with it.
  AsUser([&] {
    const HWND window = FindWindowA(win32::kFormClassName, spec.caption.c_str());
    if (window) PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(AwaitGone(window));
  });
  EXPECT_EQ(scene->LeftInPgpDirectory(), Texts{});
}

TEST_F(InstalledSteps, TheClosingEventEndsTheServer) {
  TheClosingEventEndsTheServer();
}

}  // namespace
}  // namespace quillet

int main(int argc, char** argv) {
  using namespace quillet;
  testing::InitGoogleTest(&argc, argv);
  const bool installed = argc == 3 && std::string(argv[1]) == "--installed";
  if (argc != 2 && !installed) {
    std::printf(
        "usage: win32_client_e2e [GOOGLETEST-FLAGS] PATH-OF-quillet.exe\n"
        "       win32_client_e2e [GOOGLETEST-FLAGS] --installed FIXTURES-FOLDER\n");
    return 2;
  }
  if (GTEST_FLAG_GET(filter) == "*")
    GTEST_FLAG_SET(filter, installed ? "InstalledSteps.*" : "ClientSteps.*");
  ole::Com& com = ole::Com::Default();
  com.Initialize();
  int status = 1;
  try {
    std::optional<Scene> world;
    if (installed) {
      world.emplace(fs::path(argv[2]));
    } else {
      quillet_exe = argv[1];
      world.emplace();
    }
    scene = &*world;
    status = RUN_ALL_TESTS();
    scene = nullptr;
  } catch (const std::exception& e) {
    std::printf("the client could not start: %s\n", e.what());
  }
  com.Uninitialize();
  return status;
}
