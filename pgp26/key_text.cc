#include "pgp26/key_text.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <string_view>

#include "pgp26/console.h"
#include "pgp26/system.h"

namespace pgp26 {

namespace {

// Listing lines put the user ID in this column so that it can be cut out by position.
constexpr int kUserIdColumn = 30;

// A certification's line, its signer's key ID and user ID in the columns of the pub line's.
std::string CertificationLine(gpgme_key_sig_t sig) {
  const gpgme_err_code_t status = gpgme_err_code(sig->status);
  const char mark = status == GPG_ERR_NO_ERROR ? '!' : status == GPG_ERR_NO_PUBKEY ? '?' : '*';
  const std::string signer = status == GPG_ERR_NO_PUBKEY || !sig->uid || !*sig->uid
                                 ? "(Unknown signator, can't be checked)"
                                 : ShownUserId(sig->uid);
  std::string line = std::string("sig") + mark + std::string(6, ' ') + ShortKeyId(sig->keyid);
  line.resize(kUserIdColumn, ' ');
  return line + signer + "\n";
}

}  // namespace

std::string GroupedFingerprint(const char* fpr) {
  const std::string_view digits = fpr ? fpr : "";
  std::string text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && i % 4 == 0) text += i == digits.size() / 2 ? "  " : " ";
    text += static_cast<char>(std::toupper(static_cast<unsigned char>(digits[i])));
  }
  return text;
}

std::string ShortKeyId(const char* key_id) {
  std::string id = key_id ? key_id : "";
  if (id.size() > 8) id = id.substr(id.size() - 8);
  for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return id;
}

std::string UtcDate(long timestamp, bool with_time) {
  using namespace std::chrono;
  const sys_seconds time{seconds{timestamp > 0 ? timestamp : 0}};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{time - day};
  char text[32];
  std::snprintf(text, sizeof text, "%04d/%02u/%02u", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()));
  std::string result = text;
  if (with_time) {
    std::snprintf(text, sizeof text, " %02d:%02d", static_cast<int>(clock.hours().count()),
                  static_cast<int>(clock.minutes().count()));
    result += text;
  }
  return result;
}

std::string ShownUserId(const char* utf8) {
  return utf8 ? Printable(system::FromUtf8(utf8)) : "";
}

std::string FirstUserId(gpgme_key_t key) {
  return ShownUserId(key && key->uids ? key->uids->uid : nullptr);
}

std::string KeySummary(gpgme_key_t key) {
  const gpgme_subkey_t primary = key->subkeys;
  if (!primary) return "key without key material";
  return std::to_string(primary->length) + "-bit key, key ID " + ShortKeyId(primary->keyid) +
         ", created " + UtcDate(primary->timestamp);
}

std::string KeyDescription(gpgme_key_t key) {
  return "Key for user ID: " + FirstUserId(key) + "\n" + KeySummary(key) + "\n" +
         std::string(10, ' ') + "Key fingerprint = " + GroupedFingerprint(key->fpr) + "\n";
}

std::string ListingLines(gpgme_key_t key, bool secret, bool fingerprint) {
  const gpgme_subkey_t primary = key->subkeys;
  const char* flag = key->disabled ? "- " : key->invalid ? "? " : "  ";
  char head[64];
  std::snprintf(head, sizeof head, "%s%s%4d/%s %s ", secret ? "sec" : "pub", flag,
                primary ? static_cast<int>(primary->length) : 0,
                ShortKeyId(primary ? primary->keyid : nullptr).c_str(),
                UtcDate(primary ? primary->timestamp : 0).c_str());
  std::string lines = head;
  const auto certifications = [&lines](gpgme_user_id_t uid) {
    for (gpgme_key_sig_t sig = uid->signatures; sig; sig = sig->next)
      if (!sig->revoked) lines += CertificationLine(sig);
  };
  gpgme_user_id_t uid = key->uids;
  if (key->revoked) {
    lines += "*** KEY REVOKED ***\n";
  } else {
    lines += ShownUserId(uid ? uid->uid : nullptr) + "\n";
  }
  if (fingerprint)
    lines += std::string(10, ' ') + "Key fingerprint = " + GroupedFingerprint(key->fpr) + "\n";
  if (uid && !key->revoked) {
    certifications(uid);
    uid = uid->next;
  }
  for (; uid; uid = uid->next) {
    lines += std::string(kUserIdColumn, ' ') + ShownUserId(uid->uid) + "\n";
    certifications(uid);
  }
  return lines;
}

}  // namespace pgp26
