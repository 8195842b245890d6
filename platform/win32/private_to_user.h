// Security attributes that let the user alone reach a new file, as mode 0600 does on POSIX
// systems: one entry for the user's own account, and none inherited from the folder, which may let
// others read what is made in it. Header-only, so that the PGP program, a program of its own,
// makes its outputs private the same way.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/win32/unique_handle.h"

namespace quillet::win32 {

class PrivateToUser {
 public:
  PrivateToUser() {
    UniqueHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return;
    DWORD size = 0;
    GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    user_.resize(size);
    if (!GetTokenInformation(token.get(), TokenUser, user_.data(), size, &size)) return;
    const PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
    acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
    ACL* acl = reinterpret_cast<ACL*>(acl_.data());
    ready_ = InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
             AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid) &&
             InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
             SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
             SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_ = {sizeof attributes_, &descriptor_, FALSE};
  }
  PrivateToUser(const PrivateToUser&) = delete;
  PrivateToUser& operator=(const PrivateToUser&) = delete;

  // Nothing when the user's account could not be found.
  SECURITY_ATTRIBUTES* get() { return ready_ ? &attributes_ : nullptr; }

 private:
  std::vector<unsigned char> user_;  // a TOKEN_USER, which holds the account's SID
  std::vector<unsigned char> acl_;
  SECURITY_DESCRIPTOR descriptor_{};
  SECURITY_ATTRIBUTES attributes_{};
  bool ready_ = false;
};

}  // namespace quillet::win32
