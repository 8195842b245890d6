#include "pgp26/gpgme_handles.h"

#include <sys/types.h>

#include "pgp26/failure.h"

namespace pgp26 {

Context NewContext(gpgme_protocol_t protocol) {
  gpgme_ctx_t raw = nullptr;
  if (const gpgme_error_t error = gpgme_new(&raw))
    throw Failure(kOtherError, "Cannot start GnuPG: " + ErrorText(error));
  Context ctx(raw);
  if (const gpgme_error_t error = gpgme_set_protocol(raw, protocol))
    throw Failure(kOtherError, "Cannot set up GnuPG: " + ErrorText(error));
  return ctx;
}

Key ShareKey(gpgme_key_t key) {
  gpgme_key_ref(key);
  return Key(key);
}

Data NewData() {
  gpgme_data_t data = nullptr;
  if (const gpgme_error_t error = gpgme_data_new(&data))
    throw Failure(kOtherError, "Cannot make a buffer: " + ErrorText(error));
  return Data(data);
}

Data DataFrom(std::string_view bytes) {
  gpgme_data_t data = nullptr;
  if (const gpgme_error_t error = gpgme_data_new_from_mem(&data, bytes.data(), bytes.size(), 1))
    throw Failure(kOtherError, "Cannot make a buffer: " + ErrorText(error));
  return Data(data);
}

std::string DataText(gpgme_data_t data) {
  std::string text;
  if (gpgme_data_seek(data, 0, SEEK_SET) < 0) return text;
  char buffer[8192];
  for (ssize_t n; (n = gpgme_data_read(data, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<std::size_t>(n));
  return text;
}

std::string ErrorText(gpgme_error_t error) {
  return gpgme_strerror(error);
}

}  // namespace pgp26
