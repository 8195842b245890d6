// Processes, folders and programs of the tests on Windows. The test program lies next to pgp.exe
// and the GnuPG programs, with the fixtures in a folder beside them, so that it runs wherever
// that folder is.
#include <windows.h>

#include <gpgme.h>

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <map>
#include <optional>
#include <random>
#include <stdexcept>
#include <vector>

#include "base/cmdline.h"
#include "pgp26/tests/test_home.h"
#include "platform/win32/unique_handle.h"
#include "tests/win32/file_access.h"

namespace pgp26_test {

namespace fs = std::filesystem;
using quillet::win32::UniqueFile;
using quillet::win32::UniqueHandle;

namespace {

// The tests hand their texts to programs as a Windows program such as Quillet does, in the
// ANSI code page; the C runtime's locale makes the narrow names of files mean the same.
[[maybe_unused]] const bool kAnsiLocale = std::setlocale(LC_ALL, "") != nullptr;

fs::path TestFolder() {
  std::vector<wchar_t> name(MAX_PATH);
  DWORD size = 0;
  while ((size = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()))) ==
         name.size())
    name.resize(name.size() * 2);
  return fs::path(std::wstring(name.data(), size)).parent_path();
}

// What GnuPG's tools write to standard error under Wine, which has no console for them, and
// what libgcrypt says about its entropy sources there.
bool IsWineNote(const std::string& line) {
  for (const char* note : {"SetConsoleCP failed", "Garbled console data possible", "diskperf"})
    if (line.find(note) != std::string::npos) return true;
  return false;
}

std::string CommandLine(const std::vector<std::string>& argv) {
  std::string line = quillet::QuoteProgram(argv.at(0));
  for (std::size_t i = 1; i < argv.size(); ++i)
    line.append(" ").append(quillet::QuoteIfNeeded(argv[i]));
  return line;
}

bool IsLeftOut(std::string_view entry) {
  std::string name(entry.substr(0, entry.find('=')));
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return name == "PGPPASS" || name == "PGPPATH";
}

// The environment of the tests without PGPPASS and PGPPATH plus `env`, as CreateProcess takes
// it.
std::string Environment(const std::vector<std::string>& env) {
  std::string block;
  char* strings = GetEnvironmentStringsA();
  for (const char* entry = strings; *entry; entry += std::strlen(entry) + 1)
    if (!IsLeftOut(entry)) block.append(entry).push_back('\0');
  FreeEnvironmentStringsA(strings);
  for (const std::string& entry : env) block.append(entry).push_back('\0');
  block.push_back('\0');
  return block;
}

UniqueFile OpenForChild(const fs::path& path, bool write) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  UniqueFile file(CreateFileW(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherited,
                              write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  if (!file) throw std::runtime_error("cannot open " + Text(path) + " for a process");
  return file;
}

// Starts `argv` with `env` added to the environment and the given standard handles, which it
// inherits; the handles this process holds for the others are not inheritable.
UniqueHandle Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                   HANDLE input, HANDLE output, HANDLE error, DWORD flags = CREATE_NO_WINDOW,
                   DWORD* pid = nullptr) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = error;
  PROCESS_INFORMATION info{};
  std::string line = CommandLine(argv);
  std::string environment = Environment(env);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, flags, environment.data(),
                      nullptr, &startup, &info))
    throw std::runtime_error("cannot start " + line + " (error " + std::to_string(GetLastError()) +
                             ")");
  const UniqueHandle thread(info.hThread);
  if (pid) *pid = info.dwProcessId;
  return UniqueHandle(info.hProcess);
}

// The agent of `home` is reached over its socket, as gpg-connect-agent --no-autostart reaches it
// (gpgconf would need gpg-connect-agent for that, which the Windows build of GnuPG leaves out).
// The socket's name comes from gpgconf, which escapes the drive's colon; it depends on the home's
// name alone, so it is asked once for each home.
std::string AgentSocket(const fs::path& home) {
  static std::map<fs::path, std::string> known;
  std::string& name = known[home];
  if (!name.empty()) return name;
  name = RunProcess({Text(GnupgTool("gpgconf")), "--homedir", Text(home), "--list-dirs",
                     "agent-socket"},
                    "")
             .out;
  name = name.substr(0, name.find('\n'));
  for (std::size_t at; (at = name.find("%3a")) != std::string::npos;) name.replace(at, 3, 1, ':');
  return name;
}

gpgme_error_t Collect(void* hook, const void* data, size_t size) {
  static_cast<std::string*>(hook)->append(static_cast<const char*>(data), size);
  return 0;
}

// The agent's data for `command`, or nothing when no agent answers; starts none.
std::optional<std::string> AskAgent(const fs::path& home, const std::string& command) {
  gpgme_check_version(nullptr);
  gpgme_ctx_t ctx = nullptr;
  if (gpgme_new(&ctx)) throw std::runtime_error("gpgme_new failed");
  std::string data;
  gpgme_error_t answer = 0;
  const bool reached =
      !gpgme_set_protocol(ctx, GPGME_PROTOCOL_ASSUAN) &&
      !gpgme_ctx_set_engine_info(ctx, GPGME_PROTOCOL_ASSUAN, AgentSocket(home).c_str(), nullptr) &&
      !gpgme_op_assuan_transact_ext(ctx, command.c_str(), Collect, &data, nullptr, nullptr,
                                    nullptr, nullptr, &answer);
  gpgme_release(ctx);
  if (!reached) return std::nullopt;
  return data;
}

int ExitCode(HANDLE process) {
  DWORD code = 0;
  return GetExitCodeProcess(process, &code) ? static_cast<int>(code) : -1;
}

}  // namespace

std::string Comparable(const std::string& text) {
  std::string result;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    std::string line = text.substr(at, end - at);
    at = end;
    if (line.ends_with("\r\n")) line.erase(line.size() - 2, 1);
    if (!IsWineNote(line)) result += line;
  }
  return result;
}

std::vector<StopRequest> StopRequests() {
  return {{"Ctrl-C", CTRL_C_EVENT, "\nStopped at user request.\n"}};
}

std::string Native(const std::string& utf8) {
  std::wstring wide(utf8.size(), L'\0');
  wide.resize(static_cast<std::size_t>(MultiByteToWideChar(
      CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(),
      static_cast<int>(wide.size()))));
  return Text(wide);
}

std::string Text(const fs::path& path) {
  const std::wstring& wide = path.native();
  std::string text(wide.size() * 2, '\0');
  text.resize(static_cast<std::size_t>(
      WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                          text.data(), static_cast<int>(text.size()), nullptr, nullptr)));
  return text;
}

void LetOthersRead(const fs::path& folder) {
  quillet::win32_test::LetEveryoneIn(folder);
}

bool IsPrivate(const std::string& path) {
  return quillet::win32_test::AdmitsUserAlone(path);
}

fs::path MakeTemporaryFolder() {
  wchar_t temp[MAX_PATH + 1];
  const DWORD size = GetTempPathW(MAX_PATH + 1, temp);
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path folder =
        fs::path(std::wstring(temp, size)) / ("pgp26-test-" + std::to_string(random()));
    if (CreateDirectoryW(folder.c_str(), nullptr)) return folder;
  }
  throw std::runtime_error("cannot make a temporary folder");
}

fs::path PgpProgram() {
  return TestFolder() / "pgp.exe";
}

fs::path GnupgTool(const std::string& name) {
  return TestFolder() / (name + ".exe");
}

std::vector<fs::path> PgpInstallation() {
  std::vector<fs::path> files = {PgpProgram()};
  for (const char* name : {"gpg", "gpg-agent", "gpgconf", "gpgme-w32spawn"})
    files.push_back(GnupgTool(name));
  return files;
}

fs::path Fixture(const std::string& name) {
  return TestFolder() / "fixtures" / name;
}

RunResult RunProcess(const std::vector<std::string>& argv, const std::string& input,
                     const std::vector<std::string>& env) {
  const fs::path scratch = MakeTemporaryFolder();
  WriteFile(scratch / "in", input);
  RunResult result;
  {
    const UniqueFile in = OpenForChild(scratch / "in", false);
    const UniqueFile out = OpenForChild(scratch / "out", true);
    const UniqueFile err = OpenForChild(scratch / "err", true);
    const UniqueHandle process = Spawn(argv, env, in.get(), out.get(), err.get());
    WaitForSingleObject(process.get(), INFINITE);
    result.exit_code = ExitCode(process.get());
  }
  result.out = Comparable(ReadFile(scratch / "out"));
  result.err = Comparable(ReadFile(scratch / "err"));
  std::error_code error;
  fs::remove_all(scratch, error);
  return result;
}

namespace {

// What the console's screen buffer holds, a line of text for each of its rows up to the cursor's.
std::string Screen(HANDLE output) {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (!GetConsoleScreenBufferInfo(output, &info)) return {};
  std::string screen;
  for (SHORT row = 0; row <= info.dwCursorPosition.Y; ++row) {
    std::wstring line(static_cast<std::size_t>(info.dwSize.X), L' ');
    DWORD read = 0;
    ReadConsoleOutputCharacterW(output, line.data(), static_cast<DWORD>(line.size()), {0, row},
                                &read);
    line.erase(line.find_last_not_of(L' ') + 1);
    screen += Text(line) + "\n";
  }
  return screen;
}

// Types `text` and Enter as key presses.
void Type(HANDLE input, const std::string& text) {
  std::vector<INPUT_RECORD> keys;
  for (const wchar_t c : fs::path(text).native() + L"\r") {
    for (const BOOL down : {TRUE, FALSE}) {
      INPUT_RECORD key{};
      key.EventType = KEY_EVENT;
      key.Event.KeyEvent.bKeyDown = down;
      key.Event.KeyEvent.wRepeatCount = 1;
      key.Event.KeyEvent.wVirtualKeyCode = c == L'\r' ? VK_RETURN : 0;
      key.Event.KeyEvent.uChar.UnicodeChar = c;
      keys.push_back(key);
    }
  }
  DWORD written = 0;
  WriteConsoleInputW(input, keys.data(), static_cast<DWORD>(keys.size()), &written);
}

}  // namespace

// This process attaches to the program's console to read its screen and type at it, and stays
// attached until the program has ended, so that the console outlives it.
ConsoleRun RunAtConsole(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                        const std::string& prompt, const std::string& typed) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  std::string line = CommandLine(argv);
  std::string environment = Environment(env);
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE,
                      environment.data(), nullptr, &startup, &info))
    throw std::runtime_error("cannot start " + line + " (error " + std::to_string(GetLastError()) +
                             ")");
  const UniqueHandle process(info.hProcess), thread(info.hThread);
  FreeConsole();
  for (int tries = 0; !AttachConsole(info.dwProcessId); ++tries) {
    if (tries == 200) throw std::runtime_error("cannot reach the console of " + line);
    Sleep(50);
  }
  const UniqueFile input(CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                     nullptr));
  const UniqueFile output(CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
  while (WaitForSingleObject(process.get(), 50) == WAIT_TIMEOUT) {
    if (Screen(output.get()).find(prompt) == std::string::npos) continue;
    Type(input.get(), typed);
    WaitForSingleObject(process.get(), INFINITE);
  }
  ConsoleRun run;
  run.exit_code = ExitCode(process.get());
  run.screen = Screen(output.get());
  FreeConsole();
  return run;
}

struct Child::Process {
  UniqueHandle handle;
  DWORD pid = 0;
  UniqueHandle input;  // the end of the pipe of standard input that stays here
};

Child::Child(const std::vector<std::string>& argv, const std::vector<std::string>& env)
    : scratch_(MakeTemporaryFolder()), process_(std::make_unique<Process>()) {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  UniqueHandle input;
  if (!CreatePipe(input.put(), process_->input.put(), &inherited, 0))
    throw std::runtime_error("pipe failed");
  SetHandleInformation(process_->input.get(), HANDLE_FLAG_INHERIT, 0);
  const UniqueFile out = OpenForChild(scratch_ / "out", true);
  const UniqueFile err = OpenForChild(scratch_ / "err", true);
  process_->handle =
      Spawn(argv, env, input.get(), out.get(), err.get(), CREATE_NEW_CONSOLE, &process_->pid);
}

Child::~Child() {
  if (Running()) Kill();
  process_.reset();
  std::error_code error;
  fs::remove_all(scratch_, error);
}

long Child::pid() const {
  return static_cast<long>(process_->pid);
}

bool Child::Running() {
  return WaitForSingleObject(process_->handle.get(), 0) == WAIT_TIMEOUT;
}

int Child::Wait() {
  WaitForSingleObject(process_->handle.get(), INFINITE);
  return ExitCode(process_->handle.get());
}

// A console event reaches the processes attached to a console: this one attaches to the child's
// own console for the time it sends the event, and takes the event itself as handled.
BOOL WINAPI Handled(DWORD /*event*/) {
  return TRUE;
}

void Child::Send(const StopRequest& request) {
  SetConsoleCtrlHandler(Handled, TRUE);
  FreeConsole();
  if (!AttachConsole(process_->pid)) throw std::runtime_error("cannot reach the child's console");
  const bool sent = GenerateConsoleCtrlEvent(static_cast<DWORD>(request.code), 0);
  FreeConsole();
  if (!sent) throw std::runtime_error(std::string("cannot send ") + request.what);
}

void Child::Kill() {
  TerminateProcess(process_->handle.get(), 1);
  Wait();
}

long TestHome::AgentPid() const {
  const std::optional<std::string> pid = AskAgent(path_, "GETINFO pid");
  return pid ? std::atol(pid->c_str()) : 0;
}

// As gpg starts an agent on Windows: detached, where it runs in the foreground as a daemon.
long TestHome::StartAgent() const {
  SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
  const UniqueFile nul(CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, &inherited, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  Spawn({Text(GnupgTool("gpg-agent")), "--homedir", Text(path_), "--use-standard-socket",
         "--daemon"},
        {}, nul.get(), nul.get(), nul.get(), DETACHED_PROCESS);
  long pid = 0;
  for (int tries = 0; tries < 200 && (pid = AgentPid()) == 0; ++tries) Sleep(50);
  return pid;
}

void TestHome::StopAgent() const {
  const long pid = AgentPid();
  if (pid == 0) return;
  const UniqueHandle agent(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)));
  AskAgent(path_, "KILLAGENT");
  if (agent) WaitForSingleObject(agent.get(), 10000);
}

}  // namespace pgp26_test
