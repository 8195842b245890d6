// The operations of the classic PGP command line, each performed with GnuPG. Each returns the
// exit code of a successful run and throws Failure otherwise.
#ifndef QUILLET_PGP26_COMMANDS_H_
#define QUILLET_PGP26_COMMANDS_H_

#include <optional>
#include <string>
#include <vector>

#include "pgp26/session.h"

namespace pgp26 {

// -kv[c] [userid] [ring]: lists the public ring, or the secret one when a ring argument names it;
// -kvc shows each key's fingerprint too.
int ViewKeys(Session& session, const std::vector<std::string>& operands, bool fingerprints);

// -ka FILE: adds every key block found in the file.
int AddKeys(Session& session, const std::string& file);

// -kx[a] USERID FILE: writes the public key to FILE with the armour extension.
int ExtractKey(Session& session, const std::string& user_id, const std::string& file, bool armor,
               bool force);

// -kr USERID: removes the key, and its secret key when the user agrees.
int RemoveKey(Session& session, const std::string& user_id, bool force);

// -kg: makes a key pair from answers given on the console.
int GenerateKey(Session& session);

// What -e, -s and -c ask for, with the a (armour), t (text) and w (wipe) letters.
struct EncryptRequest {
  bool encrypt = false;
  bool sign = false;
  bool conventional = false;
  bool armor = false;
  bool text = false;
  bool wipe = false;
  bool force = false;
  std::string file;
  std::vector<std::string> recipients;
  // The user's own key: the signer, and with `encrypt_to_self` a recipient too. Without it the
  // first key of the secret ring stands for the user.
  std::optional<std::string> signer;
  bool encrypt_to_self = false;
};

int Encrypt(Session& session, const EncryptRequest& request);

// FILE: decrypts or verifies FILE.asc (or FILE.pgp) into FILE. Given a `record` path, also
// writes the verdict on the message's signatures there (verdict.h) once they are verified.
int Decrypt(Session& session, const std::string& file, bool force,
            const std::optional<std::string>& record);

}  // namespace pgp26

#endif  // QUILLET_PGP26_COMMANDS_H_
