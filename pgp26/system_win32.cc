// The operating system beneath pgp on Windows.
#include <algorithm>
#include <iostream>
#include <vector>

#include "pgp26/system.h"
#include "platform/win32/private_to_user.h"
#include "platform/win32/unique_handle.h"

namespace pgp26::system {

namespace {

namespace fs = std::filesystem;
using quillet::win32::PrivateToUser;
using quillet::win32::UniqueFile;
using quillet::win32::UniqueHandle;

std::error_code LastError() {
  return {static_cast<int>(GetLastError()), std::system_category()};
}

std::wstring Widen(std::string_view text, UINT code_page) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(code_page, 0, text.data(), size,
                                                                 nullptr, 0)),
                    L'\0');
  MultiByteToWideChar(code_page, 0, text.data(), size, wide.data(), static_cast<int>(wide.size()));
  return wide;
}

// Characters that the code page lacks become its default character, "?", and never a letter
// that merely looks like them ("D" for "Ď"): a user ID shown with a plausible wrong letter names
// someone else. UTF-8 lacks none, and takes no flags.
std::string Narrow(std::wstring_view wide, UINT code_page) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  std::string text(static_cast<std::size_t>(WideCharToMultiByte(code_page, flags, wide.data(),
                                                                size, nullptr, 0, nullptr,
                                                                nullptr)),
                   '\0');
  WideCharToMultiByte(code_page, flags, wide.data(), size, text.data(),
                      static_cast<int>(text.size()), nullptr, nullptr);
  return text;
}

void (*stop_handler)(const std::string& notice) = nullptr;

// Runs on a thread that the system starts for the event; the stop never returns, so the
// system's own handler, which would end the process at once, is not reached.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      stop_handler("Stopped at user request.");
      break;
    case CTRL_CLOSE_EVENT:
      stop_handler("Stopped: the console was closed.");
      break;
    default:  // the user logs off or the system shuts down
      stop_handler("Stopped: the session is ending.");
  }
  return TRUE;
}

// A crash ends the process at once, before the system's own filter could hand it to Windows
// Error Reporting (which writes reports and memory dumps) or to a debugger registered to be
// started for crashing programs.
LONG WINAPI EndQuietly(EXCEPTION_POINTERS* exception) {
  TerminateProcess(GetCurrentProcess(), exception->ExceptionRecord->ExceptionCode);
  return EXCEPTION_EXECUTE_HANDLER;
}

bool IsConsole(HANDLE handle, DWORD* mode) {
  return GetConsoleMode(handle, mode) != 0;
}

bool WriteAll(HANDLE file, const char* bytes, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 20));
    DWORD written = 0;
    if (!WriteFile(file, bytes, chunk, &written, nullptr) || written == 0) return false;
    bytes += written;
    size -= written;
  }
  return true;
}

bool MarkForDeletion(HANDLE file, bool doomed) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = doomed ? TRUE : FALSE;
  return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

}  // namespace

// There is no file-size limit to meet on Windows, nor a core dump; what the system offers to
// keep a failing process's memory from others is turned off here.
void KeepProcessPrivate() {
  SetErrorMode(GetErrorMode() | SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX |
               SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(EndQuietly);
}

void OnStopRequest(void (*stop)(const std::string& notice)) {
  stop_handler = stop;
  // A process may be started with Ctrl-C ignored (a new process group, "start /b"); pgp takes it
  // as a request to stop wherever it runs, as it takes SIGINT.
  SetConsoleCtrlHandler(nullptr, FALSE);
  SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

fs::path ProgramFolder() {
  std::vector<wchar_t> name(MAX_PATH);
  for (;;) {
    const DWORD size = GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()));
    if (size == 0) return {};
    if (size < name.size()) return fs::path(std::wstring(name.data(), size)).parent_path();
    name.resize(name.size() * 2);
  }
}

std::optional<std::string> InstalledGnupgFolder() {
  // The installer keeps it in a key only administrators may change. This 32-bit program reads
  // the registry's 32-bit view, where the 32-bit installer writes.
  std::vector<wchar_t> folder(MAX_PATH);
  for (;;) {
    const std::size_t bytes = folder.size() * sizeof(wchar_t);
    DWORD size = static_cast<DWORD>(bytes);
    const LSTATUS status = RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quillet", L"GnuPG",
                                        RRF_RT_REG_SZ, nullptr, folder.data(), &size);
    if (status == ERROR_MORE_DATA) {
      folder.resize(size / sizeof(wchar_t) + 1);
      continue;
    }
    if (status != ERROR_SUCCESS || size < 2 * sizeof(wchar_t)) return std::nullopt;
    return Narrow(std::wstring_view(folder.data(), size / sizeof(wchar_t) - 1), CP_UTF8);
  }
}

struct ProcessWatch::Handle {
  UniqueHandle process;
};

ProcessWatch::ProcessWatch(long pid)
    : handle_(new Handle{UniqueHandle(OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid)))}) {
}

ProcessWatch::~ProcessWatch() = default;

void ProcessWatch::WaitForEnd(int milliseconds) {
  if (handle_->process)
    WaitForSingleObject(handle_->process.get(), static_cast<DWORD>(milliseconds));
}

std::function<void()> TurnEchoOff() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD saved = 0;
  if (!IsConsole(input, &saved) || !SetConsoleMode(input, saved & ~DWORD{ENABLE_ECHO_INPUT}))
    return {};
  return [input, saved] { SetConsoleMode(input, saved); };
}

bool InputIsConsole() {
  DWORD mode = 0;
  return IsConsole(GetStdHandle(STD_INPUT_HANDLE), &mode);
}

// A console is read as the characters typed, which are then given in the ANSI code page like
// every other text of the program; the console's own code page is another one (the OEM code
// page), in which a pass phrase typed at the console would differ from the same one given as
// an argument.
std::optional<std::string> ReadLine() {
  const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  DWORD mode = 0;
  if (!IsConsole(input, &mode)) {
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    return line;
  }
  std::wstring line;
  while (line.find(L'\n') == std::wstring::npos) {
    wchar_t chunk[256];
    DWORD count = 0;
    SetLastError(ERROR_SUCCESS);
    if (!ReadConsoleW(input, chunk, 256, &count, nullptr)) return std::nullopt;
    // Ctrl-C ends the read without a line; the stop it requested ends the process.
    if (count == 0 && GetLastError() == ERROR_OPERATION_ABORTED) continue;
    if (count == 0) return std::nullopt;
    line.append(chunk, count);
  }
  line.erase(line.find(L'\n'));
  if (!line.empty() && line.back() == L'\r') line.pop_back();
  if (line.starts_with(L'\x1a')) return std::nullopt;  // Ctrl-Z: the end of console input
  return Narrow(line, CP_ACP);
}

std::string ToUtf8(std::string_view text) {
  return Narrow(Widen(text, CP_ACP), CP_UTF8);
}

std::string FromUtf8(std::string_view utf8) {
  return Narrow(Widen(utf8, CP_UTF8), CP_ACP);
}

std::string PathText(const fs::path& path) {
  return Narrow(path.native(), CP_ACP);
}

std::error_code WriteAnonymous(const std::string& /*path*/, std::string_view /*bytes*/) {
  return std::make_error_code(std::errc::operation_not_supported);
}

std::error_code WriteAndRename(const std::string& partial, const std::string& path,
                               std::string_view bytes) {
  {
    PrivateToUser private_to_user;
    if (!private_to_user.get()) return LastError();
    const UniqueFile file(CreateFileA(partial.c_str(), GENERIC_WRITE | DELETE, 0,
                                      private_to_user.get(), CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    if (!file) return LastError();
    // Marked so, the file goes when its handle is closed, which the system does for a process
    // that is killed; the mark is taken off once every byte is on the disk.
    if (!MarkForDeletion(file.get(), true) || !WriteAll(file.get(), bytes.data(), bytes.size()) ||
        !FlushFileBuffers(file.get()) || !MarkForDeletion(file.get(), false))
      return LastError();
  }
  if (!MoveFileExA(partial.c_str(), path.c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return LastError();
  return {};
}

bool OverwriteWithZeros(const std::string& path) {
  const UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size)) return false;
  const std::vector<char> zeros(64 * 1024, 0);
  for (long long left = size.QuadPart; left > 0;) {
    const std::size_t chunk = static_cast<std::size_t>(std::min<long long>(left, 64LL * 1024));
    if (!WriteAll(file.get(), zeros.data(), chunk)) return false;
    left -= static_cast<long long>(chunk);
  }
  return FlushFileBuffers(file.get());
}

// Windows has no length limit to work around: the agent's sockets are files that hold a port.
// The name is given with forward slashes, which GnuPG takes and turns backslashes into itself:
// GPGME escapes each backslash of the arguments it passes on, which the programs then take
// literally, and gpg would take its agent's socket folder from a name with doubled backslashes,
// apart from the agent that the user's own gpg uses for the home.
GnupgHome GnupgHomeName(const fs::path& home) {
  const std::u8string name = home.generic_u8string();
  return {std::string(name.begin(), name.end()), false};
}

}  // namespace pgp26::system
