// The message commands: encrypting and signing (-e, -s, -c) and decrypting or verifying.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "base/file.h"
#include "base/text.h"
#include "pgp26/armour.h"
#include "pgp26/commands.h"
#include "pgp26/console.h"
#include "pgp26/failure.h"
#include "pgp26/files.h"
#include "pgp26/key_text.h"
#include "pgp26/packets.h"
#include "pgp26/system.h"
#include "pgp26/verdict.h"

namespace pgp26 {

namespace {

using quillet::AsciiLower;

constexpr char kUnprotected[] =
    "This message has no integrity protection (it was made by PGP 2 or another old program), so "
    "it is not decrypted; nothing was written.";

std::string ReadInput(const std::string& file) {
  std::optional<std::string> bytes = ReadWholeFile(file);
  if (!bytes) throw Failure(kFileNotFound, "File '" + file + "' does not exist.");
  return std::move(*bytes);
}

// The code a failed run of this request ends with.
int ErrorCodeOf(const EncryptRequest& request, bool pass_phrase_failed) {
  if (request.conventional) return kConventionalError;
  if (request.sign && (!request.encrypt || pass_phrase_failed)) return kSignError;
  return kEncryptError;
}

// The keys a message is encrypted to and signed with, found with one search.
struct MessageKeys {
  std::vector<Key> recipients;
  Key signer;  // none for the default one
};

bool SameKey(gpgme_key_t a, gpgme_key_t b) {
  return a == b || (a->fpr && b->fpr && std::string_view(a->fpr) == b->fpr);
}

// Who "self" is, as PGP 2.6 chose: the signer (-u, else MyName), else the first key of the secret
// ring, by its fingerprint.
std::string SelfPattern(Session& session, const EncryptRequest& request) {
  if (request.signer) return *request.signer;
  const std::vector<Key> secret = session.ListKeys(true);
  if (secret.empty() || !secret.front()->fpr)
    throw Failure(kEncryptError,
                  "EncryptToSelf is on, but the secret key ring 'secring.pgp' holds no key.");
  return std::string("0x") + secret.front()->fpr;
}

// PGP 2.6's warning about a key that is not certified, for the person at the console.
std::string NotCertifiedWarning(const std::string& user_id) {
  return "WARNING:  Because this public key is not certified with a trusted\n"
         "signature, it is not known with high confidence that this public key\n"
         "actually belongs to: \"" +
         user_id + "\".";
}

// At an interactive console, asks as PGP 2.6 did before encrypting to a recipient whose key is
// not certified; elsewhere the key the caller named is used as it is, so that no run without a
// person to answer ever waits.
void ConfirmUncertified(Session& session, const std::vector<Key>& recipients) {
  if (!Interactive()) return;
  for (const Key& recipient : recipients) {
    const std::vector<Key> listed = recipient->fpr
                                        ? session.CertifiedKeys(std::string("0x") + recipient->fpr)
                                        : std::vector<Key>();
    if (!listed.empty() && IsCertified(listed.front().get())) continue;
    std::fprintf(stderr, "\n%s\n%s\n\n", KeyDescription(recipient.get()).c_str(),
                 NotCertifiedWarning(FirstUserId(recipient.get())).c_str());
    if (!AskYesNo("Are you sure you want to use this public key (y/N)? "))
      throw Failure(kEncryptError, "Encryption cancelled: the key of \"" +
                                       FirstUserId(recipient.get()) + "\" is not certified.");
  }
}

MessageKeys FindMessageKeys(Session& session, const EncryptRequest& request) {
  std::vector<std::string> recipients = request.recipients;
  if (request.encrypt && recipients.empty()) {
    const std::optional<std::string> answer = AskLine(
        "A user ID is required to select the recipient's public key.\n"
        "Enter the recipient's user ID: ");
    if (!answer || answer->empty()) throw Failure(kEncryptError, "No recipient given.");
    recipients.push_back(*answer);
  }
  // With EncryptToSelf the user's own key is one more recipient, found as the others are.
  if (request.encrypt && request.encrypt_to_self)
    recipients.push_back(SelfPattern(session, request));
  std::vector<Lookup> lookups;
  for (const std::string& pattern : recipients) lookups.push_back({pattern, Usage::kEncrypt});
  const bool named_signer = request.sign && request.signer;
  if (named_signer) lookups.push_back({*request.signer, Usage::kSign});
  std::vector<std::vector<Key>> keys = session.FindKeys(lookups);
  MessageKeys found;
  for (std::size_t i = 0; i < recipients.size(); ++i) {
    Key key = SoleKey(std::move(keys[i]), recipients[i], kEncryptError);
    if (!key)
      throw Failure(kEncryptError, "Key matching userid '" + recipients[i] +
                                       "' not found in key ring 'pubring.pgp', or not usable "
                                       "for encryption.");
    const bool listed =
        std::any_of(found.recipients.begin(), found.recipients.end(),
                    [&](const Key& other) { return SameKey(other.get(), key.get()); });
    if (!listed) found.recipients.push_back(std::move(key));
  }
  if (named_signer) {
    found.signer = SoleKey(std::move(keys.back()), *request.signer, kSignError);
    if (!found.signer)
      throw Failure(kSignError, "Secret key for user ID \"" + *request.signer +
                                    "\" not found in key ring 'secring.pgp', or not usable for "
                                    "signing.");
  }
  return found;
}

void AskConventionalPassPhrase(Session& session) {
  std::fputs("You need a pass phrase to encrypt the file.\n", stderr);
  const std::optional<std::string> first = AskSecret("Enter pass phrase: ");
  const std::optional<std::string> second =
      first ? AskSecret("Enter same pass phrase again: ") : std::nullopt;
  if (!second) throw Failure(kConventionalError, "No pass phrase given.");
  if (*first != *second) throw Failure(kConventionalError, "Pass phrases were different.");
  session.SetPassPhrase(*first);
}

// Where the cipher text of FILE is, and where its plain text goes.
struct DecryptPaths {
  std::string input, output;
};

DecryptPaths FindCipherText(const std::string& file) {
  std::error_code error;
  const std::string lower = AsciiLower(file);
  if ((lower.ends_with(".asc") || lower.ends_with(".pgp")) &&
      std::filesystem::is_regular_file(file, error))
    return {file, file.substr(0, file.size() - 4)};
  for (const char* extension : {".asc", ".pgp"})
    if (std::filesystem::is_regular_file(file + extension, error)) return {file + extension, file};
  throw Failure(kFileNotFound, "File '" + file + ".asc' does not exist.");
}

// What GnuPG had learnt of a message when it stopped.
struct Reading {
  bool has_recipients = false;  // it names the public keys it was encrypted to
  bool session_key = false;     // a key or pass phrase opened it: its data was being decrypted
  bool unprotected = false;     // its data carries no integrity check

  void Learn(gpgme_decrypt_result_t result) {
    if (!result) return;
    has_recipients = has_recipients || result->recipients;
    // GPGME names the cipher once gpg has begun to decrypt the data, "?.?" otherwise; the
    // old mode without integrity check is "PGPCFB".
    const std::string_view cipher = result->symkey_algo ? result->symkey_algo : "";
    session_key = session_key || (!cipher.empty() && !cipher.starts_with("?"));
    unprotected = unprotected || result->legacy_cipher_nomdc || cipher.ends_with(".PGPCFB");
  }
};

// Why a message could not be read, from the cause that explains most: a refused pass phrase,
// a missing secret key, armour broken in transit, data without an integrity check, data altered
// after it was encrypted, or no PGP message at all.
Failure ReadingFailure(const Session& session, gpgme_error_t error, const Reading& reading,
                       bool signed_only, const std::string& input, const std::string& cipher_text) {
  const int code = signed_only              ? kSignatureCheckError
                   : reading.has_recipients ? kDecryptError
                                            : kConventionalDecryptError;
  const gpgme_err_code_t cause = gpgme_err_code(error);
  if (session.PassPhraseFailed()) return Failure(code, session.PassPhraseFailure());
  if (cause == GPG_ERR_NO_SECKEY)
    return Failure(code, "You do not have the secret key needed to decrypt this file.");
  if (const std::optional<std::string> problem = ArmourProblem(cipher_text))
    return Failure(kInvalidFile, "Error: the armour of '" + input + "' is corrupted (" + *problem +
                                     "); nothing was written.");
  const bool data_error = cause == GPG_ERR_NO_DATA || cause == GPG_ERR_BAD_DATA ||
                          cause == GPG_ERR_DECRYPT_FAILED || cause == GPG_ERR_INV_PACKET;
  // Unprotected data was refused before it was read, from its packets: GnuPG's word that data
  // is unprotected means protected data damaged into what looks like such a packet inside.
  if (reading.unprotected || reading.session_key || (reading.has_recipients && data_error))
    return Failure(kDamagedMessage,
                   "Error: the message has been altered or is damaged; nothing was written.");
  if (cause == GPG_ERR_NO_DATA)
    return Failure(kInvalidFile, "'" + input + "' holds no PGP message.");
  return Failure(code, "Error: " + ErrorText(error));
}

// Reports each signature as PGP did; false when one of them is bad, and the text is withheld.
bool ReportSignatures(const std::vector<Signature>& signatures) {
  bool intact = true;
  for (const Signature& sig : signatures) {
    const Verdict verdict = VerdictOf(sig);
    if (verdict == Verdict::kUnknown) {
      std::printf(
          "Key matching expected Key ID %s not found in key ring 'pubring.pgp', can't check "
          "signature integrity.\n",
          ShortKeyId(sig.fpr.c_str()).c_str());
      continue;
    }
    if (verdict == Verdict::kBad) {
      std::printf("WARNING: Bad signature, doesn't match file contents!\n");
      intact = false;
      continue;
    }
    if (verdict == Verdict::kError) {
      // As with an unknown signer, the text is not vouched for, and not withheld either.
      const std::string key_id = RecordKeyId(sig);
      const std::string signer = key_id == std::string(16, '0')
                                     ? "an unnamed key"
                                     : "key ID " + ShortKeyId(key_id.c_str());
      std::printf("Signature from %s could not be checked: %s.\n", signer.c_str(),
                  ErrorReason(sig).c_str());
      continue;
    }
    const char* kind = verdict == Verdict::kGood      ? "Good signature from user"
                       : verdict == Verdict::kRevoked ? "Signature made by REVOKED key, from user"
                       : sig.status == GPG_ERR_SIG_EXPIRED
                           ? "Expired signature from user"
                           : "Signature made by expired key, from user";
    std::printf("%s \"%s\".\nSignature made %s GMT\n", kind,
                ShownUserId(sig.user_id.c_str()).c_str(),
                UtcDate(static_cast<long>(sig.created), true).c_str());
    if (verdict == Verdict::kGood && !sig.certified)
      std::printf("\n%s\nKey fingerprint = %s\n",
                  NotCertifiedWarning(ShownUserId(sig.user_id.c_str())).c_str(),
                  GroupedFingerprint(sig.key_fpr.c_str()).c_str());
  }
  return intact;
}

}  // namespace

int Encrypt(Session& session, const EncryptRequest& request) {
  const std::string out = request.file + (request.armor ? ".asc" : ".pgp");
  // A forced run may replace an earlier output; when it fails, that output goes too, so that
  // whatever is left behind is this run's complete result.
  quillet::FileRemovedAtExit cleanup(out, request.force);
  const std::string input = ReadInput(request.file);
  const std::string plain = request.mail_text ? system::ToUtf8(input) : input;
  ConfirmOverwrite(out, request.force);
  gpgme_ctx_t ctx = session.context();
  gpgme_set_armor(ctx, request.armor ? 1 : 0);
  gpgme_set_textmode(ctx, request.text ? 1 : 0);

  const MessageKeys keys = FindMessageKeys(session, request);
  ConfirmUncertified(session, keys.recipients);
  std::vector<gpgme_key_t> recipient_list;
  for (const Key& key : keys.recipients) recipient_list.push_back(key.get());
  recipient_list.push_back(nullptr);
  if (keys.signer) gpgme_signers_add(ctx, keys.signer.get());
  if (request.conventional && !session.HasPassPhrase()) AskConventionalPassPhrase(session);

  const std::string name = std::filesystem::path(request.file).filename().string();
  Data cipher;
  const auto operation = [&] {
    const Data input = DataFrom(plain);
    gpgme_data_set_file_name(input.get(), name.c_str());
    cipher = NewData();
    // The recipients are the keys the caller named, and uncertified ones were confirmed above.
    const auto flags = GPGME_ENCRYPT_ALWAYS_TRUST;
    if (request.conventional)
      return gpgme_op_encrypt(ctx, nullptr, GPGME_ENCRYPT_SYMMETRIC, input.get(), cipher.get());
    if (!request.encrypt)
      return gpgme_op_sign(ctx, input.get(), cipher.get(), GPGME_SIG_MODE_NORMAL);
    if (!request.sign)
      return gpgme_op_encrypt(ctx, recipient_list.data(), flags, input.get(), cipher.get());
    return gpgme_op_encrypt_sign(ctx, recipient_list.data(), flags, input.get(), cipher.get());
  };
  // Encrypting to public keys alone takes no pass phrase and needs no agent.
  const bool takes_pass_phrase = request.sign || request.conventional;
  const gpgme_error_t error =
      takes_pass_phrase ? session.RunWithPassPhrase(operation) : operation();
  if (error) {
    const int code = ErrorCodeOf(request, session.PassPhraseFailed());
    if (session.PassPhraseFailed()) throw Failure(code, session.PassPhraseFailure());
    throw Failure(code, "Error: " + ErrorText(error));
  }
  const std::string result = DataText(cipher.get());
  if (result.empty()) throw Failure(ErrorCodeOf(request, false), "Error: GnuPG wrote nothing.");
  WriteWholeFile(out, result, kInvalidFile);
  cleanup.Keep();
  std::printf("%s file: %s\n", request.armor ? "Transport armor" : "Ciphertext", out.c_str());
  if (request.wipe) {
    if (WipeFile(request.file))
      std::printf("File %s wiped and deleted.\n", request.file.c_str());
    else
      Notice("Cannot wipe '" + request.file + "'.");
  }
  return kOk;
}

int Decrypt(Session& session, const std::string& file, bool force,
            const std::optional<std::string>& record) {
  const DecryptPaths paths = FindCipherText(file);
  quillet::FileRemovedAtExit cleanup(paths.output, force);  // as in Encrypt
  const std::string cipher_text = ReadInput(paths.input);
  // Refused before any key or pass phrase is sought: whoever holds the key, nothing could tell
  // whether the data was altered. (GnuPG cannot use a PGP 2 secret key either, and would only
  // have said that the key was missing.)
  if (const std::optional<std::string> packets = PacketData(cipher_text);
      packets && HoldsUnprotectedData(*packets))
    throw Failure(kDamagedMessage, kUnprotected);
  ConfirmOverwrite(paths.output, force);
  gpgme_ctx_t ctx = session.context();
  Data plain;
  Reading reading;
  gpgme_error_t error = session.RunWithPassPhrase([&] {
    const Data cipher = DataFrom(cipher_text);
    plain = NewData();
    const gpgme_error_t result =
        gpgme_op_decrypt_ext(ctx, GPGME_DECRYPT_VERIFY, cipher.get(), plain.get());
    reading.Learn(gpgme_op_decrypt_result(ctx));
    return result;
  });
  bool signed_only = false;
  if (gpgme_err_code(error) == GPG_ERR_NO_DATA && !reading.has_recipients && !reading.session_key) {
    // Not encrypted at all: perhaps a signed message, whose text comes out of the verification.
    const Data signed_text = DataFrom(cipher_text);
    plain = NewData();
    error = gpgme_op_verify(ctx, signed_text.get(), nullptr, plain.get());
    const gpgme_verify_result_t verified = gpgme_op_verify_result(ctx);
    if (!error && !(verified && verified->signatures)) error = gpg_error(GPG_ERR_NO_DATA);
    signed_only = gpgme_err_code(error) != GPG_ERR_NO_DATA;
  }
  if (error || reading.unprotected)
    throw ReadingFailure(session, error, reading, signed_only, paths.input, cipher_text);
  const std::vector<Signature> signatures =
      VerifiedSignatures(ctx, [&](const std::string& fpr) { return session.KeyNamed(fpr); });
  const bool intact = ReportSignatures(signatures);
  if (record) WriteRecord(*record, signatures);
  if (!intact) throw Failure(kSignatureCheckError, "Signature check failed; no output written.");
  WriteWholeFile(paths.output, DataText(plain.get()), kInvalidFile);
  cleanup.Keep();
  std::printf("Plaintext filename: %s\n", paths.output.c_str());
  return kOk;
}

}  // namespace pgp26
