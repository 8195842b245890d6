// System facts on Windows, and the system's message texts.
#include <windows.h>

#include <cstdio>
#include <string>

#include "base/error.h"
#include "platform/automation.h"
#include "platform/system.h"
#include "platform/win32/access_rights.h"
#include "platform/win32/ole_bridge.h"
#include "platform/win32/private_to_user.h"
#include "platform/win32/unique_handle.h"

namespace quillet {

namespace {

class Win32System : public System {
 public:
  std::string WindowsDirectory() override {
    std::string dir(MAX_PATH, '\0');
    UINT length = GetWindowsDirectoryA(dir.data(), static_cast<UINT>(dir.size()));
    if (length >= dir.size()) {  // too small: the length asked for counts the terminator
      dir.resize(length);
      length = GetWindowsDirectoryA(dir.data(), static_cast<UINT>(dir.size()));
    }
    dir.resize(length < dir.size() ? length : 0);
    return dir;
  }

  std::string ModuleFileName() override {
    std::string path(MAX_PATH, '\0');
    for (;;) {
      const DWORD length =
          GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
      if (length == 0) return std::string();
      // A truncated name fills the whole buffer.
      if (length < path.size()) {
        path.resize(length);
        return path;
      }
      path.resize(path.size() * 2);
    }
  }

  char PathSeparator() override { return '\\'; }

  std::string RunLogPath() override { return "c:\\quillet.log"; }

  void AppendToLog(const std::string& path, std::string_view bytes) override {
    // Not GENERIC_WRITE, which asks for the right to overwrite as well.
    const win32::UniqueFile file(CreateFileA(path.c_str(), win32::kAppendAccess,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                             OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (!file || !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                            nullptr) ||
        written != bytes.size())
      throw Error("Cannot append to " + path);
  }

  std::string ExpandEnvironment(const std::string& text) override {
    std::string expanded(text.size() + MAX_PATH, '\0');
    for (;;) {
      const DWORD length = ExpandEnvironmentStringsA(text.c_str(), expanded.data(),
                                                     static_cast<DWORD>(expanded.size()));
      if (length == 0) throw Error("Cannot expand " + text);
      // The length counts the terminator.
      if (length <= expanded.size()) {
        expanded.resize(length - 1);
        return expanded;
      }
      expanded.resize(length);
    }
  }
  std::string DriveRoot() override { return "c:\\"; }

  NarrowText FromUtf8(const std::string& text) override {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int wide_length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), wide_length);
    NarrowText narrow;
    narrow.text = win32::ToAnsi(wide.data(), wide_length, &narrow.lost);
    return narrow;
  }

  void CreatePrivateFile(const std::string& path) override {
    win32::PrivateToUser private_to_user;
    const win32::UniqueFile file(
        private_to_user.get() ? CreateFileA(path.c_str(), GENERIC_WRITE, 0, private_to_user.get(),
                                            CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)
                              : INVALID_HANDLE_VALUE);
    if (!file) throw Error("Cannot make " + path + " private");
  }
};

// FormatMessageA's text for `code`, or nothing when the system has none.
std::string FormatSystemMessage(DWORD code) {
  char text[2048];
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
                     MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
  return std::string(text, length);
}

}  // namespace

System& System::Default() {
  static Win32System system;
  return system;
}

namespace ole {

// Win32 error codes and HRESULTs share the one message table. An HRESULT that wraps a Win32 error
// falls back to that error's text when the table has no entry for the HRESULT itself.
std::string SystemMessage(std::int32_t code) {
  const DWORD value = static_cast<DWORD>(code);
  std::string text = FormatSystemMessage(value);
  if (text.empty() && HRESULT_FACILITY(value) == FACILITY_WIN32 && (value & 0x80000000u))
    text = FormatSystemMessage(HRESULT_CODE(value));
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  if (!text.empty()) return text;
  char hex[16];
  std::snprintf(hex, sizeof hex, "%08X", static_cast<unsigned>(value));
  return std::string("System error ") + hex;
}

}  // namespace ole
}  // namespace quillet
