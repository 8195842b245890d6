// The message commands: encrypting and signing (-e, -s, -c) and decrypting or verifying.
#include <cctype>
#include <cstdio>
#include <filesystem>

#include "pgp26/commands.h"
#include "pgp26/console.h"
#include "pgp26/failure.h"
#include "pgp26/files.h"
#include "pgp26/key_text.h"

namespace pgp26 {

namespace {

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

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

std::vector<Key> RecipientKeys(Session& session, std::vector<std::string> patterns) {
  if (patterns.empty()) {
    const std::optional<std::string> answer = AskLine(
        "A user ID is required to select the recipient's public key.\n"
        "Enter the recipient's user ID: ");
    if (!answer || answer->empty()) throw Failure(kEncryptError, "No recipient given.");
    patterns.push_back(*answer);
  }
  std::vector<Key> keys;
  for (const std::string& pattern : patterns) {
    Key key = session.FindKey(pattern, false, Usage::kEncrypt);
    if (!key)
      throw Failure(kEncryptError, "Key matching userid '" + pattern +
                                       "' not found in key ring 'pubring.pgp', or not usable "
                                       "for encryption.");
    keys.push_back(std::move(key));
  }
  return keys;
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

// A forced run may replace an earlier output; when it fails, that output goes too, so that
// whatever is left behind is this run's complete result.
class RemoveOnFailure {
 public:
  RemoveOnFailure(std::string path, bool active) : path_(std::move(path)), active_(active) {}
  ~RemoveOnFailure() {
    std::error_code error;
    if (active_) std::filesystem::remove(path_, error);
  }
  RemoveOnFailure(const RemoveOnFailure&) = delete;
  RemoveOnFailure& operator=(const RemoveOnFailure&) = delete;
  void Keep() { active_ = false; }

 private:
  std::string path_;
  bool active_;
};

// Where the cipher text of FILE is, and where its plain text goes.
struct DecryptPaths {
  std::string input, output;
};

DecryptPaths FindCipherText(const std::string& file) {
  std::error_code error;
  const std::string lower = Lower(file);
  if ((lower.ends_with(".asc") || lower.ends_with(".pgp")) &&
      std::filesystem::is_regular_file(file, error))
    return {file, file.substr(0, file.size() - 4)};
  for (const char* extension : {".asc", ".pgp"})
    if (std::filesystem::is_regular_file(file + extension, error)) return {file + extension, file};
  throw Failure(kFileNotFound, "File '" + file + ".asc' does not exist.");
}

// Reports each signature; false when one of them does not match the text.
bool ReportSignatures(gpgme_ctx_t ctx) {
  const gpgme_verify_result_t result = gpgme_op_verify_result(ctx);
  bool intact = true;
  for (gpgme_signature_t sig = result ? result->signatures : nullptr; sig; sig = sig->next) {
    const gpgme_err_code_t code = gpgme_err_code(sig->status);
    const std::string made = "Signature made " + UtcDate(sig->timestamp, true) + " GMT";
    if (code == GPG_ERR_NO_PUBKEY) {
      std::printf(
          "Key matching expected Key ID %s not found in key ring 'pubring.pgp', can't check "
          "signature integrity.\n",
          ShortKeyId(sig->fpr).c_str());
      continue;
    }
    if (code != GPG_ERR_NO_ERROR && code != GPG_ERR_KEY_EXPIRED && code != GPG_ERR_SIG_EXPIRED &&
        code != GPG_ERR_CERT_REVOKED) {
      std::printf("WARNING: Bad signature, doesn't match file contents!\n");
      if (code != GPG_ERR_BAD_SIGNATURE) std::printf("(%s)\n", ErrorText(sig->status).c_str());
      intact = false;
      continue;
    }
    gpgme_key_t found = nullptr;
    const Key key(sig->fpr && !gpgme_get_key(ctx, sig->fpr, &found, 0) ? found : nullptr);
    std::printf("Good signature from user \"%s\".\n%s\n", FirstUserId(key.get()).c_str(),
                made.c_str());
    if (code == GPG_ERR_CERT_REVOKED) std::printf("WARNING: The signing key has been revoked.\n");
    if (code == GPG_ERR_KEY_EXPIRED) std::printf("WARNING: The signing key has expired.\n");
  }
  return intact;
}

}  // namespace

int Encrypt(Session& session, const EncryptRequest& request) {
  const std::string out = request.file + (request.armor ? ".asc" : ".pgp");
  RemoveOnFailure cleanup(out, request.force);
  const std::string plain = ReadInput(request.file);
  ConfirmOverwrite(out, request.force);
  const Context ctx = session.NewContext();
  gpgme_set_armor(ctx.get(), request.armor ? 1 : 0);
  gpgme_set_textmode(ctx.get(), request.text ? 1 : 0);

  std::vector<Key> recipients;
  std::vector<gpgme_key_t> recipient_list;
  if (request.encrypt) {
    recipients = RecipientKeys(session, request.recipients);
    for (const Key& key : recipients) recipient_list.push_back(key.get());
    recipient_list.push_back(nullptr);
  }
  if (request.sign && request.signer) {
    const Key signer = session.FindKey(*request.signer, true, Usage::kSign);
    if (!signer)
      throw Failure(kSignError, "Secret key for user ID \"" + *request.signer +
                                    "\" not found in key ring 'secring.pgp', or not usable for "
                                    "signing.");
    gpgme_signers_add(ctx.get(), signer.get());
  }
  if (request.conventional && !session.HasPassPhrase()) AskConventionalPassPhrase(session);

  const std::string name = std::filesystem::path(request.file).filename().string();
  Data cipher;
  const gpgme_error_t error = session.RunWithPassPhrase([&] {
    const Data input = DataFrom(plain);
    gpgme_data_set_file_name(input.get(), name.c_str());
    cipher = NewData();
    const auto flags = GPGME_ENCRYPT_ALWAYS_TRUST;
    if (request.conventional)
      return gpgme_op_encrypt(ctx.get(), nullptr, GPGME_ENCRYPT_SYMMETRIC, input.get(),
                              cipher.get());
    if (!request.encrypt)
      return gpgme_op_sign(ctx.get(), input.get(), cipher.get(), GPGME_SIG_MODE_NORMAL);
    if (!request.sign)
      return gpgme_op_encrypt(ctx.get(), recipient_list.data(), flags, input.get(), cipher.get());
    return gpgme_op_encrypt_sign(ctx.get(), recipient_list.data(), flags, input.get(),
                                 cipher.get());
  });
  if (error) {
    const int code = ErrorCodeOf(request, session.PassPhraseFailed());
    if (session.PassPhraseFailed()) throw Failure(code, "Error:  Bad pass phrase.");
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

int Decrypt(Session& session, const std::string& file, bool force) {
  const DecryptPaths paths = FindCipherText(file);
  RemoveOnFailure cleanup(paths.output, force);
  const std::string cipher_text = ReadInput(paths.input);
  ConfirmOverwrite(paths.output, force);
  const Context ctx = session.NewContext();
  Data plain;
  // Public-key messages name their recipients before any pass phrase is asked for; a message
  // without them is conventional.
  bool has_recipients = false;
  gpgme_error_t error = session.RunWithPassPhrase([&] {
    const Data cipher = DataFrom(cipher_text);
    plain = NewData();
    const gpgme_error_t result =
        gpgme_op_decrypt_ext(ctx.get(), GPGME_DECRYPT_VERIFY, cipher.get(), plain.get());
    const gpgme_decrypt_result_t decrypted = gpgme_op_decrypt_result(ctx.get());
    has_recipients = has_recipients || (decrypted && decrypted->recipients);
    return result;
  });
  bool signed_only = false;
  if (gpgme_err_code(error) == GPG_ERR_NO_DATA && !has_recipients) {
    // Not encrypted at all: a signed message, whose text comes out of the verification.
    const Data signed_text = DataFrom(cipher_text);
    plain = NewData();
    error = gpgme_op_verify(ctx.get(), signed_text.get(), nullptr, plain.get());
    const gpgme_verify_result_t verified = gpgme_op_verify_result(ctx.get());
    if (!error && !(verified && verified->signatures)) error = gpg_error(GPG_ERR_NO_DATA);
    if (gpgme_err_code(error) == GPG_ERR_NO_DATA)
      throw Failure(kInvalidFile, "'" + paths.input + "' holds no PGP message.");
    signed_only = true;
  }
  if (error) {
    const int code = signed_only      ? kSignatureCheckError
                     : has_recipients ? kDecryptError
                                      : kConventionalDecryptError;
    if (session.PassPhraseFailed()) throw Failure(code, "Error:  Bad pass phrase.");
    if (gpgme_err_code(error) == GPG_ERR_NO_SECKEY)
      throw Failure(code, "You do not have the secret key needed to decrypt this file.");
    throw Failure(code, "Error: " + ErrorText(error));
  }
  const bool intact = ReportSignatures(ctx.get());
  if (!intact) throw Failure(kSignatureCheckError, "Signature check failed; no output written.");
  WriteWholeFile(paths.output, DataText(plain.get()), kInvalidFile);
  cleanup.Keep();
  std::printf("Plaintext filename: %s\n", paths.output.c_str());
  return kOk;
}

}  // namespace pgp26
