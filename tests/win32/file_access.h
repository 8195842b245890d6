// Access lists of files and folders on Windows, as the tests of private files set and read them;
// shared by the ports' contract tests and the PGP program's tests.
#pragma once

#include <windows.h>
// After windows.h.
#include <aclapi.h>
#include <sddl.h>

#include <filesystem>
#include <stdexcept>
#include <string>

#include "platform/win32/unique_handle.h"

namespace quillet::win32_test {

// Gives everyone full access to `folder` and to what is made in it, as a folder that all the
// machine's users share may.
inline void LetEveryoneIn(const std::filesystem::path& folder) {
  PSECURITY_DESCRIPTOR everyone = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1,
                                                            &everyone, nullptr) ||
      !SetFileSecurityW(folder.c_str(), DACL_SECURITY_INFORMATION, everyone))
    throw std::runtime_error("cannot open up " + folder.string());
  LocalFree(everyone);
}

// True when the file's access list has entries, and those that allow anything name the user or
// the system itself (which, like root, can reach every file anyway); Wine shows a file's mode bits
// as such a list.
inline bool AdmitsUserAlone(const std::string& path) {
  win32::UniqueHandle token;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put());
  unsigned char user[256];
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, user, sizeof user, &size)) return false;
  const PSID user_sid = reinterpret_cast<TOKEN_USER*>(user)->User.Sid;
  unsigned char system[SECURITY_MAX_SID_SIZE];
  DWORD system_size = sizeof system;
  CreateWellKnownSid(WinLocalSystemSid, nullptr, system, &system_size);
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  bool own = dacl != nullptr;  // no list at all lets everyone in
  for (DWORD i = 0; own && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    own = GetAce(dacl, i, &ace);
    const BYTE type = own ? static_cast<ACE_HEADER*>(ace)->AceType : 0;
    if (!own || type == ACCESS_DENIED_ACE_TYPE) continue;
    const PSID sid = &static_cast<ACCESS_ALLOWED_ACE*>(ace)->SidStart;
    own = type == ACCESS_ALLOWED_ACE_TYPE && (EqualSid(sid, user_sid) || EqualSid(sid, system));
  }
  LocalFree(descriptor);
  return own;
}

}  // namespace quillet::win32_test
