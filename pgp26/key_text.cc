#include "pgp26/key_text.h"

#include <cctype>
#include <chrono>
#include <cstdio>

#include "pgp26/console.h"
#include "pgp26/system.h"

namespace pgp26 {

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

}  // namespace pgp26
