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

// "CAA3 FB61 5CC7 89FD 084B  7B18 8366 5BE8 C283 EB15": groups of 4 hex digits in upper case,
// the two halves set apart by a second blank.
std::string GroupedFingerprint(const char* fpr) {
  const std::string_view digits = fpr ? fpr : "";
  std::string text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && i % 4 == 0) text += i == digits.size() / 2 ? "  " : " ";
    text += static_cast<char>(std::toupper(static_cast<unsigned char>(digits[i])));
  }
  return text;
}

}  // namespace

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

std::string ListingLines(gpgme_key_t key, bool secret, bool fingerprint) {
  const gpgme_subkey_t primary = key->subkeys;
  const char* flag = key->disabled ? "- " : key->invalid ? "? " : "  ";
  char head[64];
  std::snprintf(head, sizeof head, "%s%s%4d/%s %s ", secret ? "sec" : "pub", flag,
                primary ? static_cast<int>(primary->length) : 0,
                ShortKeyId(primary ? primary->keyid : nullptr).c_str(),
                UtcDate(primary ? primary->timestamp : 0).c_str());
  std::string lines = head;
  gpgme_user_id_t uid = key->uids;
  if (key->revoked) {
    lines += "*** KEY REVOKED ***\n";
  } else {
    lines += ShownUserId(uid ? uid->uid : nullptr) + "\n";
    if (uid) uid = uid->next;
  }
  if (fingerprint)
    lines += std::string(10, ' ') + "Key fingerprint = " + GroupedFingerprint(key->fpr) + "\n";
  for (; uid; uid = uid->next)
    lines += std::string(kUserIdColumn, ' ') + ShownUserId(uid->uid) + "\n";
  return lines;
}

}  // namespace pgp26
