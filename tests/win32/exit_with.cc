// A child program for the process port's tests.
//   exit_with CODE [MILLISECONDS]  sleeps that long, then ends with CODE (any 32-bit value)
//   exit_with CODE when FILE       ends with CODE once FILE exists; after a minute without it,
//                                  ends with 1001
//   exit_with startup              ends with (STARTUPINFO dwFlags << 16) | wShowWindow
//   exit_with priority             ends with its priority class
//   exit_with environment FILE     writes its environment to FILE, one entry per line; ends with 0
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
  if (argc < 2) return 1000;
  if (std::strcmp(argv[1], "startup") == 0) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    ExitProcess((startup.dwFlags << 16) | startup.wShowWindow);
  }
  if (std::strcmp(argv[1], "priority") == 0) ExitProcess(GetPriorityClass(GetCurrentProcess()));
  if (std::strcmp(argv[1], "environment") == 0 && argc > 2) {
    std::FILE* out = std::fopen(argv[2], "wb");
    if (!out) ExitProcess(1002);
    char* strings = GetEnvironmentStringsA();
    for (const char* entry = strings; *entry; entry += std::strlen(entry) + 1)
      std::fprintf(out, "%s\n", entry);
    FreeEnvironmentStringsA(strings);
    ExitProcess(std::fclose(out) == 0 ? 0 : 1003);
  }
  const auto code = static_cast<UINT>(std::strtoll(argv[1], nullptr, 0));
  if (argc > 3 && std::strcmp(argv[2], "when") == 0) {
    for (int tries = 0; GetFileAttributesA(argv[3]) == INVALID_FILE_ATTRIBUTES; ++tries) {
      if (tries == 1200) ExitProcess(1001);
      Sleep(50);
    }
  } else if (argc > 2) {
    Sleep(static_cast<DWORD>(std::strtoul(argv[2], nullptr, 0)));
  }
  ExitProcess(code);
}
