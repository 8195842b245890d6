// The operations of the classic PGP command line, each performed with GnuPG. Each returns the
// exit code of a successful run and throws Failure otherwise.
#ifndef QUILLET_PGP26_COMMANDS_H_
#define QUILLET_PGP26_COMMANDS_H_

#include <optional>
#include <string>
#include <vector>

#include "pgp26/session.h"

namespace pgp26 {

// What a key listing shows of each key besides its user IDs.
enum class KeyView { kUserIds, kFingerprints, kCertifications };

// -kv[c] [userid] [ring]: lists the public ring, or the secret one when a ring argument names it;
// -kvc shows each key's fingerprint too. -kc [userid]: the public ring with fingerprints and the
// certifications of each user ID, each checked.
int ViewKeys(Session& session, const std::vector<std::string>& operands, KeyView view);

// -ka FILE: adds every key block found in the file. At an interactive console (console.h) it
// then asks whether each key pair added is the user's own (to be trusted ultimately), and offers,
// as PGP 2.6 did, to certify the keys added that are not certified yet, with the key `my_name`
// names (as for -ks).
int AddKeys(Session& session, const std::string& file, const std::optional<std::string>& my_name);

// -ks USERID [-u MYID]: certifies every user ID of the key with the user's secret key: the one
// `signer` names, else the first of the secret ring. Unless `force`, only once the person at the
// console has confirmed it.
int CertifyKey(Session& session, const std::string& user_id,
               const std::optional<std::string>& signer, bool force);

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
  // The file is the text of a mail, in the system's narrow encoding: it is encrypted as UTF-8,
  // which current mail programs read, not as the code page's bytes.
  bool mail_text = false;
};

int Encrypt(Session& session, const EncryptRequest& request);

// FILE: decrypts or verifies FILE.asc (or FILE.pgp) into FILE. Given a `record` path, also
// writes the verdict on the message's signatures there (verdict.h) once they are verified.
int Decrypt(Session& session, const std::string& file, bool force,
            const std::optional<std::string>& record);

}  // namespace pgp26

#endif  // QUILLET_PGP26_COMMANDS_H_
