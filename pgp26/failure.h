// Exit codes of the classic PGP command line, and the exception that ends a run with one.
#ifndef QUILLET_PGP26_FAILURE_H_
#define QUILLET_PGP26_FAILURE_H_

#include <stdexcept>
#include <string>

namespace pgp26 {

// Callers tell outcomes apart by these numbers, so they keep their historical values.
enum ExitCode : int {
  kOk = 0,
  kInvalidFile = 1,
  kFileNotFound = 2,
  kBadArgument = 5,
  kInterrupted = 6,
  kKeyGenerationError = 10,
  kNoSuchKey = 11,
  kKeyAddError = 12,
  kKeyExtractError = 13,
  kKeyViewError = 15,
  kKeyRemoveError = 16,
  kKeySignError = 18,
  kSignError = 20,
  kEncryptError = 21,
  kConventionalError = 22,
  kSignatureCheckError = 30,
  kDecryptError = 31,
  kConventionalDecryptError = 32,
  // Not one of PGP 2.6's: the data was altered or damaged after it was encrypted, or carries
  // no integrity check that could tell.
  kDamagedMessage = 34,
  kOtherError = 127,
};

// Thrown to end the run: main prints the message on standard error and exits with the code.
class Failure : public std::runtime_error {
 public:
  Failure(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

}  // namespace pgp26

#endif  // QUILLET_PGP26_FAILURE_H_
