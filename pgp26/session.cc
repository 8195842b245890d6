#include "pgp26/session.h"

#include <cctype>
#include <fstream>

#include "pgp26/console.h"
#include "pgp26/failure.h"
#include "pgp26/key_text.h"
#include "pgp26/system.h"

namespace pgp26 {

namespace {

namespace fs = std::filesystem;

constexpr int kConsoleTries = 3;

// Letters beyond ASCII keep their case: user IDs are UTF-8, which the locale may not be.
std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& c : lower)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return lower;
}

bool IsHex(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

void PrepareHome(const fs::path& home) {
  std::error_code error;
  if (!fs::exists(home, error)) {
    fs::create_directories(home, error);
    fs::permissions(home, fs::perms::owner_all, error);
  }
  if (!fs::is_directory(home, error))
    throw Failure(kOtherError,
                  "The PGP directory '" + system::PathText(home) + "' does not exist.");
  // Caching stays off so that a pass phrase is never remembered from one run to the next.
  const fs::path conf = home / "gpg-agent.conf";
  if (fs::exists(conf, error)) return;
  std::ofstream out(conf, std::ios::binary);
  out << "default-cache-ttl 0\nmax-cache-ttl 0\nallow-loopback-pinentry\n";
  if (!out.flush()) throw Failure(kOtherError, "Cannot write '" + system::PathText(conf) + "'.");
}

}  // namespace

bool MatchesUserId(gpgme_key_t key, std::string_view pattern) {
  if (pattern.find_first_not_of(" \t") == std::string_view::npos) return false;
  const std::string wanted = Lower(system::ToUtf8(pattern));
  if (wanted.size() > 2 && wanted.starts_with("0x") && IsHex(wanted.substr(2))) {
    for (gpgme_subkey_t sub = key->subkeys; sub; sub = sub->next)
      if (sub->fpr && Lower(sub->fpr).ends_with(wanted.substr(2))) return true;
    return false;
  }
  const bool address = wanted.size() > 2 && wanted.front() == '<' && wanted.back() == '>';
  for (gpgme_user_id_t uid = key->uids; uid; uid = uid->next) {
    if (address ? (uid->email && "<" + Lower(uid->email) + ">" == wanted)
                : (uid->uid && Lower(uid->uid).find(wanted) != std::string::npos))
      return true;
  }
  return false;
}

Session::Session(const fs::path& home, std::optional<std::string> pass_phrase)
    : home_(home), pass_phrase_(std::move(pass_phrase)) {
  PrepareHome(home_);
  const system::GnupgHome name = system::GnupgHomeName(home_);
  gnupg_home_ = name.name;
  alias_ = name.alias;
  // Nobody could reach an agent started under the alias by the home's own name, so whatever
  // agent serves the alias at the end goes.
  agent_.emplace(gnupg_home_, alias_);
  cleanup_on_interrupt_.emplace([this] { EndRun(); });
}

Session::~Session() {
  cleanup_on_interrupt_.reset();
  EndRun();
}

void Session::EndRun() {
  agent_->StopIfStarted();
  std::error_code error;
  if (alias_) fs::remove(gnupg_home_, error);
}

Context Session::NewContext() {
  Context ctx = pgp26::NewContext(GPGME_PROTOCOL_OpenPGP, nullptr, gnupg_home_.c_str());
  gpgme_ctx_t raw = ctx.get();
  gpgme_error_t error = gpgme_set_pinentry_mode(raw, GPGME_PINENTRY_MODE_LOOPBACK);
  // gpg keeps conventional pass phrases in the agent's cache too, by the message's salt.
  if (!error) error = gpgme_set_ctx_flag(raw, "no-symkey-cache", "1");
  if (error) throw Failure(kOtherError, "Cannot set up GnuPG: " + ErrorText(error));
  gpgme_set_keylist_mode(raw, GPGME_KEYLIST_MODE_LOCAL);
  gpgme_set_passphrase_cb(raw, &Session::PassPhraseCallback, this);
  return ctx;
}

gpgme_error_t Session::PassPhraseCallback(void* hook, const char* uid_hint,
                                          const char* /*passphrase_info*/, int prev_was_bad,
                                          int fd) {
  return static_cast<Session*>(hook)->AnswerPassPhrase(uid_hint, prev_was_bad != 0, fd);
}

gpgme_error_t Session::AnswerPassPhrase(const char* uid_hint, bool prev_was_bad, int fd) {
  asked_ = true;
  if (prev_was_bad) {
    refused_ = true;
    Notice("Error:  Bad pass phrase.");
  }
  std::string phrase;
  if (pass_phrase_) {
    if (refused_) return gpg_error(GPG_ERR_CANCELED);
    phrase = *pass_phrase_;
  } else {
    if (console_tries_ >= kConsoleTries) return gpg_error(GPG_ERR_CANCELED);
    ++console_tries_;
    // The hint is the key ID followed by the user ID.
    std::string user = uid_hint ? uid_hint : "";
    const std::size_t blank = user.find(' ');
    user = blank == std::string::npos ? std::string() : ShownUserId(user.c_str() + blank + 1);
    const std::string prompt =
        user.empty() ? std::string()
                     : "You need a pass phrase to unlock your secret key.\nKey for user ID \"" +
                           user + "\"\n\n";
    const std::optional<std::string> answer = AskSecret(prompt + "Enter pass phrase: ");
    if (!answer) return gpg_error(GPG_ERR_CANCELED);
    phrase = *answer;
  }
  // GnuPG's own pass-phrase prompts give UTF-8 too, so a key serves both.
  phrase = system::ToUtf8(phrase) + '\n';
  if (gpgme_io_writen(fd, phrase.data(), phrase.size()) != 0) return gpg_error(GPG_ERR_CANCELED);
  return 0;
}

gpgme_error_t Session::RunWithPassPhrase(const std::function<gpgme_error_t()>& operation) {
  for (;;) {
    asked_ = refused_ = false;
    agent_->ForgetPassPhrases();
    const gpgme_error_t error = operation();
    const gpgme_err_code_t code = gpgme_err_code(error);
    pass_phrase_failed_ =
        error && asked_ && (refused_ || code == GPG_ERR_BAD_PASSPHRASE || code == GPG_ERR_CANCELED);
    if (!pass_phrase_failed_ || pass_phrase_ || console_tries_ >= kConsoleTries) return error;
    if (!refused_) Notice("Error:  Bad pass phrase.");
  }
}

std::vector<Key> Session::ListKeys(bool secret) {
  const Context ctx = NewContext();
  std::vector<Key> keys;
  gpgme_error_t error = gpgme_op_keylist_start(ctx.get(), nullptr, secret ? 1 : 0);
  while (!error) {
    gpgme_key_t key = nullptr;
    error = gpgme_op_keylist_next(ctx.get(), &key);
    if (!error) keys.emplace_back(key);
  }
  gpgme_op_keylist_end(ctx.get());
  if (gpgme_err_code(error) != GPG_ERR_EOF)
    throw Failure(kKeyViewError, "Cannot read the key ring: " + ErrorText(error));
  return keys;
}

Key Session::FindKey(std::string_view pattern, bool secret, Usage usage) {
  for (Key& key : ListKeys(secret)) {
    if (!MatchesUserId(key.get(), pattern)) continue;
    if (usage == Usage::kAny) return std::move(key);
    if (key->revoked || key->expired || key->disabled || key->invalid) continue;
    if (usage == Usage::kEncrypt ? key->can_encrypt : key->can_sign) return std::move(key);
  }
  return nullptr;
}

}  // namespace pgp26
