#include "pgp26/verdict.h"

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string_view>
#include <system_error>

#include "pgp26/console.h"
#include "pgp26/failure.h"
#include "pgp26/files.h"
#include "pgp26/gpgme_handles.h"

namespace pgp26 {

namespace {

namespace fs = std::filesystem;

constexpr char kHexDigits[] = "0123456789ABCDEF";

// `text` in upper case when it is all hex digits, else "".
std::string UpperHex(std::string_view text) {
  std::string hex;
  for (const char c : text) {
    const char upper = c >= 'a' && c <= 'f' ? static_cast<char>(c - 'a' + 'A') : c;
    if (std::string_view(kHexDigits).find(upper) == std::string_view::npos) return "";
    hex += upper;
  }
  return hex;
}

// The last 16 hex digits of `fpr` in upper case, or "" when it is not that many hex digits.
std::string LongKeyId(std::string_view fpr) {
  const std::string id = fpr.size() < 16 ? "" : UpperHex(fpr);
  return id.empty() ? id : id.substr(id.size() - 16);
}

std::string IsoTime(unsigned long seconds_since_1970) {
  using namespace std::chrono;
  const sys_seconds time{seconds{static_cast<long long>(seconds_since_1970)}};
  const sys_days day = floor<days>(time);
  const year_month_day date{day};
  const hh_mm_ss clock{time - day};
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", static_cast<int>(date.year()),
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                static_cast<int>(clock.hours().count()), static_cast<int>(clock.minutes().count()),
                static_cast<int>(clock.seconds().count()));
  return text;
}

// Keeps the record one word per field and one line per signature, whatever the user ID holds.
std::string PercentEscaped(std::string_view bytes) {
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x21 && byte <= 0x7E && byte != '%') {
      text += c;
    } else {
      text += '%';
      text += kHexDigits[byte >> 4];
      text += kHexDigits[byte & 0xF];
    }
  }
  return text;
}

const char* Keyword(Verdict verdict) {
  switch (verdict) {
    case Verdict::kGood:
      return "GOOD";
    case Verdict::kExpired:
      return "EXPIRED";
    case Verdict::kRevoked:
      return "REVOKED";
    case Verdict::kUnknown:
      return "UNKNOWN";
    case Verdict::kBad:
      return "BAD";
    case Verdict::kError:
      break;
  }
  return "ERROR";
}

// A full fingerprint: 40 hex digits (version 4 keys) or 64 (version 5), in upper case.
bool IsFingerprint(std::string_view fpr) {
  return (fpr.size() == 40 || fpr.size() == 64) &&
         fpr.find_first_not_of(kHexDigits) == std::string_view::npos;
}

}  // namespace

Verdict VerdictOf(const Signature& signature) {
  if (signature.status == GPG_ERR_BAD_SIGNATURE) return Verdict::kBad;
  if (LongKeyId(signature.fpr).empty()) return Verdict::kError;
  switch (signature.status) {
    case GPG_ERR_NO_ERROR:
      return IsFingerprint(signature.key_fpr) ? Verdict::kGood : Verdict::kError;
    case GPG_ERR_KEY_EXPIRED:
    case GPG_ERR_SIG_EXPIRED:
      return Verdict::kExpired;
    case GPG_ERR_CERT_REVOKED:
      return Verdict::kRevoked;
    case GPG_ERR_NO_PUBKEY:
      return Verdict::kUnknown;
    default:
      return Verdict::kError;
  }
}

std::string ErrorReason(const Signature& signature) {
  if (signature.status == GPG_ERR_NO_ERROR || signature.status == GPG_ERR_NO_PUBKEY)
    return "GnuPG did not name the signing key";
  return gpgme_strerror(signature.status);
}

std::string RecordKeyId(const Signature& signature) {
  const std::string key_id = LongKeyId(signature.fpr);
  return key_id.empty() ? std::string(16, '0') : key_id;
}

std::vector<Signature> VerifiedSignatures(gpgme_ctx_t ctx,
                                          const std::function<Key(const std::string&)>& key_named) {
  const gpgme_verify_result_t result = gpgme_op_verify_result(ctx);
  std::vector<Signature> signatures;
  for (gpgme_signature_t sig = result ? result->signatures : nullptr; sig; sig = sig->next) {
    Signature signature;
    signature.status = gpgme_err_code(sig->status);
    signature.fpr = sig->fpr ? sig->fpr : "";
    signature.created = sig->timestamp;
    // Under PGP's trust model (the session's), full validity comes only from the user's own key
    // or enough trusted introducers; marginal validity is not enough, as in PGP 2.6.
    signature.certified =
        sig->validity == GPGME_VALIDITY_FULL || sig->validity == GPGME_VALIDITY_ULTIMATE;
    signatures.push_back(std::move(signature));
  }
  // Only now: a lookup in `ctx` ends the result.
  for (Signature& signature : signatures) {
    if (signature.fpr.empty()) continue;
    const Key key = key_named(signature.fpr);
    if (!key) continue;
    if (key->uids && key->uids->uid) signature.user_id = key->uids->uid;
    if (key->fpr) signature.key_fpr = UpperHex(key->fpr);
  }
  return signatures;
}

std::string RecordText(const std::vector<Signature>& signatures) {
  if (signatures.empty()) return "NONE\n";
  std::string text;
  for (const Signature& signature : signatures) {
    const Verdict verdict = VerdictOf(signature);
    text += std::string(Keyword(verdict)) + ' ' + RecordKeyId(signature);
    if (verdict == Verdict::kGood)
      text += ' ' + signature.key_fpr + (signature.certified ? " CERTIFIED" : " UNCERTIFIED");
    if (verdict == Verdict::kGood || verdict == Verdict::kExpired || verdict == Verdict::kRevoked)
      text += ' ' + IsoTime(signature.created) + ' ' + PercentEscaped(signature.user_id);
    if (verdict == Verdict::kError) text += ' ' + PercentEscaped(ErrorReason(signature));
    text += '\n';
  }
  return text;
}

void RemoveRecord(const std::string& path) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  if (status.type() == fs::file_type::not_found) return;
  if (!error && !fs::is_directory(status) && fs::remove(path, error)) return;
  throw Failure(kInvalidFile, "Cannot remove the signature record '" + path +
                                  "' of an earlier run" + (error ? ": " + error.message() : "") +
                                  "; the message was not read.");
}

void WriteRecord(const std::string& path, const std::vector<Signature>& signatures) {
  try {
    WriteWholeFile(path, RecordText(signatures), kInvalidFile);
  } catch (const Failure& failure) {
    Notice(std::string("The signature check is not reported. ") + failure.what());
  }
}

}  // namespace pgp26
