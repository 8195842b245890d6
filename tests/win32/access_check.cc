// Reads the access lists that an installation left and fails when any lets the machine's other
// users do more than it should:
//   win32_access_check.exe {--programs|--log|--private} {PATH|SDDL} ...
// Each kind applies to the paths after it; a folder counts with everything below it (not through
// links). An argument that begins with "O:" or "D:" is an access list as the installer writes
// it, checked as it stands. The other users are Everyone, Authenticated Users, Interactive and
// Users.
//   --programs  programs and configuration: others may read and run them, no more
//   --log       the run log: others may append, no more, and appending must be granted
//   --private   files for administrators or one user alone: others are not named at all
// Every finding is one line naming the path, the group and what it may do; the exit code is 1
// when there is one.
//
// Wine keeps no access lists: it turns one that is set into the file's mode bits and shows those
// bits as a list when asked. What a file's list shows there is what the mode lets others do,
// which is where a grant to everyone would show; an append-only grant cannot show at all, so
// under Wine the log's file is only checked for what others must not do, and the installer's list
// for it, given as SDDL, for the rest.
#include <windows.h>
// After windows.h.
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32/access_rights.h"

namespace {

namespace fs = std::filesystem;
using quillet::win32::kAppendAccess;
using quillet::win32::kReadAndExecute;

enum class Kind { kPrograms, kLog, kPrivate };

int findings = 0;

void Report(const fs::path& path, const std::string& what) {
  std::printf("FAIL: %s: %s\n", path.string().c_str(), what.c_str());
  ++findings;
}

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (!ConvertSidToStringSidA(sid, &text)) return "?";
  std::string result = text;
  LocalFree(text);
  return result;
}

bool IsOthers(const std::string& sid) {
  return sid == "S-1-1-0" || sid == "S-1-5-11" || sid == "S-1-5-4" || sid == "S-1-5-32-545";
}

std::string Sddl(PSECURITY_DESCRIPTOR descriptor) {
  char* text = nullptr;
  if (!ConvertSecurityDescriptorToStringSecurityDescriptorA(
          descriptor, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
          &text, nullptr))
    return "?";
  std::string result = text;
  LocalFree(text);
  return result;
}

bool UnderWine() {
  const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Checks the owner and the list of `descriptor`, which `path` names in the findings. With
// `must_append`, the other users must be granted what the program asks for to append.
void Check(const fs::path& path, PSECURITY_DESCRIPTOR descriptor, Kind kind, bool must_append) {
  PSID owner = nullptr;
  BOOL defaulted = FALSE, present = FALSE;
  PACL dacl = nullptr;
  GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
  GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted);
  if (!present) dacl = nullptr;
  const std::string sddl = Sddl(descriptor);
  if (owner && IsOthers(SidText(owner))) Report(path, "owned by " + SidText(owner) + " " + sddl);
  if (!dacl) Report(path, "no access list: everyone may do anything " + sddl);
  DWORD granted = 0;  // to the other users, all of them together
  GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                             FILE_ALL_ACCESS};
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&header))) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* ace = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    const std::string sid = SidText(&ace->SidStart);
    if (!IsOthers(sid)) continue;
    DWORD mask = ace->Mask;
    MapGenericMask(&mask, &mapping);
    // An entry only for what is made later counts too: it is what those files will get.
    granted |= mask;
    const DWORD allowed = kind == Kind::kPrograms ? kReadAndExecute
                          : kind == Kind::kLog    ? kAppendAccess | FILE_READ_ATTRIBUTES
                                                  : 0;
    if (mask & ~allowed) {
      char text[64];
      std::snprintf(text, sizeof text, "%s may 0x%08lX", sid.c_str(),
                    static_cast<unsigned long>(mask));
      Report(path, text + std::string(" ") + sddl);
    }
  }
  if (kind == Kind::kLog && must_append && (granted & kAppendAccess) != kAppendAccess)
    Report(path, "the users may not append to it " + sddl);
}

void Check(const fs::path& path, Kind kind) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, nullptr, nullptr, &descriptor) != ERROR_SUCCESS) {
    Report(path, "its access list cannot be read");
    return;
  }
  Check(path, descriptor, kind, !UnderWine());
  LocalFree(descriptor);
}

void CheckSddl(const std::string& sddl, Kind kind) {
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    Report(sddl, "not an access list");
    return;
  }
  Check(sddl, descriptor, kind, true);
  LocalFree(descriptor);
}

void CheckTree(const fs::path& path, Kind kind) {
  if (!fs::exists(fs::symlink_status(path))) {
    Report(path, "missing");
    return;
  }
  Check(path, kind);
  if (!fs::is_directory(fs::symlink_status(path))) return;
  std::error_code error;
  for (fs::recursive_directory_iterator it(path, error), end; !error && it != end;
       it.increment(error))
    Check(it->path(), kind);
  if (error) Report(path, "cannot be read through: " + error.message());
}

}  // namespace

int main(int argc, char** argv) {
  Kind kind = Kind::kPrograms;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--programs") {
      kind = Kind::kPrograms;
    } else if (arg == "--log") {
      kind = Kind::kLog;
    } else if (arg == "--private") {
      kind = Kind::kPrivate;
    } else if (arg.starts_with("O:") || arg.starts_with("D:")) {
      CheckSddl(arg, kind);
    } else {
      CheckTree(arg, kind);
    }
  }
  return findings ? 1 : 0;
}
