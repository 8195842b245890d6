#include "pgp26/key_text.h"

#include <cctype>
#include <cstring>
#include <ctime>

namespace pgp26 {

std::string ShortKeyId(const char* key_id) {
  std::string id = key_id ? key_id : "";
  if (id.size() > 8) id = id.substr(id.size() - 8);
  for (char& c : id) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return id;
}

std::string UtcDate(long timestamp, bool with_time) {
  const std::time_t time = timestamp > 0 ? static_cast<std::time_t>(timestamp) : 0;
  std::tm parts{};
  gmtime_r(&time, &parts);
  char text[32];
  std::strftime(text, sizeof text, with_time ? "%Y/%m/%d %H:%M" : "%Y/%m/%d", &parts);
  return text;
}

std::string FirstUserId(gpgme_key_t key) {
  return key && key->uids && key->uids->uid ? key->uids->uid : "";
}

std::string KeySummary(gpgme_key_t key) {
  const gpgme_subkey_t primary = key->subkeys;
  if (!primary) return "key without key material";
  return std::to_string(primary->length) + "-bit key, key ID " + ShortKeyId(primary->keyid) +
         ", created " + UtcDate(primary->timestamp);
}

}  // namespace pgp26
