// Owning handles for GPGME objects, and the few conversions every command needs.
#ifndef QUILLET_PGP26_GPGME_HANDLES_H_
#define QUILLET_PGP26_GPGME_HANDLES_H_

#include <gpgme.h>

#include <memory>
#include <string>
#include <string_view>
#include <type_traits>

namespace pgp26 {

struct ContextDeleter {
  void operator()(gpgme_ctx_t ctx) const { gpgme_release(ctx); }
};
struct DataDeleter {
  void operator()(gpgme_data_t data) const { gpgme_data_release(data); }
};
struct KeyDeleter {
  void operator()(gpgme_key_t key) const { gpgme_key_unref(key); }
};

using Context = std::unique_ptr<std::remove_pointer_t<gpgme_ctx_t>, ContextDeleter>;
using Data = std::unique_ptr<std::remove_pointer_t<gpgme_data_t>, DataDeleter>;
using Key = std::unique_ptr<std::remove_pointer_t<gpgme_key_t>, KeyDeleter>;

// A context for `protocol` with the process-wide engine settings; throws Failure when GnuPG
// cannot be set up.
Context NewContext(gpgme_protocol_t protocol);

// A second owner of the same key.
Key ShareKey(gpgme_key_t key);

// An empty in-memory buffer for GPGME to write into.
Data NewData();

// A buffer that reads `bytes`; GPGME copies them, so `bytes` need not outlive it.
Data DataFrom(std::string_view bytes);

// Everything written into `data` so far.
std::string DataText(gpgme_data_t data);

// GPGME's description of an error, for messages.
std::string ErrorText(gpgme_error_t error);

}  // namespace pgp26

#endif  // QUILLET_PGP26_GPGME_HANDLES_H_
