// pgp: the classic PGP 2.6 command line, performed with GnuPG through GPGME.
//
//   pgp [+force] [-z "pass phrase"] -kv[c] [userid] [secring.pgp]   (c: with fingerprints)
//   pgp -ka keyfile | -kxa userid keyfile | -kr userid | -kg | -kc [userid]
//   pgp [+force] [-z "pass phrase"] -ks userid [-u your_userid]    (certifies the key)
//   pgp [+force] [-z "pass phrase"] -{e|se|s|c}[a][t][w] file [recipient...] [-u signer]
//   pgp [+force] [-z "pass phrase"] file         (decrypts file.asc or file.pgp into file)
//
// The key rings are those of the GnuPG home $PGPPATH, or of the folder that holds this program;
// its config.txt may name the user's own key (MyName) and have messages encrypted to it too
// (EncryptToSelf), as in PGP 2.6 (config.h).
// A decryption also writes the verdict on the signatures to $QUILLET_SIGNATURE_RECORD when that
// names a file (verdict.h). An encryption of the file that $QUILLET_MAIL_TEXT names takes it as a
// mail's text and encrypts it as UTF-8; a classic PGP program knows no such variable and encrypts
// the code page's bytes, as its correspondents expect them.
#include <gpgme.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "pgp26/commands.h"
#include "pgp26/config.h"
#include "pgp26/console.h"
#include "pgp26/failure.h"
#include "pgp26/files.h"
#include "pgp26/process.h"
#include "pgp26/session.h"
#include "pgp26/system.h"
#include "pgp26/verdict.h"

namespace pgp26 {
namespace {

struct Arguments {
  bool force = false;
  std::optional<std::string> pass_phrase;
  std::optional<std::string> signer;
  std::string command;  // without its '-'; empty for decryption
  std::vector<std::string> operands;
};

constexpr char kUsage[] =
    "usage: pgp [+force] [-z pass] {-e|-se|-s|-c}[a][t][w] file [userid...] [-u signer]\n"
    "       pgp [+force] [-z pass] file\n"
    "       pgp -kv[c] [userid] [secring.pgp] | -kc [userid] | -ka file | -kxa userid file\n"
    "       pgp -kr userid | -kg | [+force] [-z pass] -ks userid [-u your_userid]";

// Several words of a user ID arrive as several arguments when the caller did not quote it.
std::string Joined(std::vector<std::string>::const_iterator begin,
                   std::vector<std::string>::const_iterator end) {
  std::string text;
  for (auto word = begin; word != end; ++word) text += (text.empty() ? "" : " ") + *word;
  return text;
}

// PGP 2.6 took a word that began with '-' or '+' for an option wherever it stood, so a user ID
// that looked like one (keys come from other people, and callers pass user IDs unquoted) could
// switch an option or make the next word the signer. Here options and the command come first;
// from the first operand on, and from a key command on, every word is an operand. The signer
// alone may follow, as in "-seaw file recipient... -u signer": the last "-u" after the file,
// with every word after it as the signer's user ID; so may the certifier in "-ks userid -u
// your_userid".
Arguments Parse(const std::vector<std::string>& args) {
  Arguments parsed;
  std::size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-z" || arg == "-u") {
      if (i + 1 == args.size()) throw Failure(kBadArgument, "Option " + arg + " needs a value.");
      (arg == "-z" ? parsed.pass_phrase : parsed.signer) = args[++i];
    } else if (arg.starts_with("+")) {
      if (arg != "+force" && arg != "+force=on" && arg != "+batchmode")
        throw Failure(kBadArgument, "Unknown option '" + arg + "'.");
      parsed.force = parsed.force || arg.starts_with("+force");
      // PGP 2.6's batch mode: no question that a script could not answer.
      if (arg == "+batchmode") AskNoSideQuestions();
    } else if (arg.size() > 1 && arg[0] == '-' && parsed.command.empty()) {
      parsed.command = arg.substr(1);
      if (parsed.command.starts_with("k")) {
        ++i;
        break;
      }
    } else {
      break;
    }
  }
  parsed.operands.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  std::vector<std::string>& ops = parsed.operands;
  if (parsed.command.empty() || (parsed.command.starts_with("k") && parsed.command != "ks"))
    return parsed;
  const auto signer = std::find(ops.rbegin(), ops.rend(), "-u");
  if (signer == ops.rend()) return parsed;
  if (signer == ops.rbegin()) throw Failure(kBadArgument, "Option -u needs a value.");
  parsed.signer = Joined(signer.base(), ops.cend());
  ops.erase(signer.base() - 1, ops.end());
  return parsed;
}

std::filesystem::path PgpDirectory() {
  if (const char* path = std::getenv("PGPPATH"); path && *path) return path;
  std::filesystem::path folder = system::ProgramFolder();
  if (folder.empty()) throw Failure(kOtherError, "Cannot find the PGP directory; set PGPPATH.");
  return folder;
}

int RunKeyCommand(Session& session, const Arguments& args, const Config& config) {
  const std::string& command = args.command;
  const std::vector<std::string>& ops = args.operands;
  if (command == "kv" || command == "kvv") return ViewKeys(session, ops, KeyView::kUserIds);
  if (command == "kvc") return ViewKeys(session, ops, KeyView::kFingerprints);
  if (command == "kc") return ViewKeys(session, ops, KeyView::kCertifications);
  if (command == "kg" && ops.empty()) return GenerateKey(session);
  if (command == "ka" && ops.size() == 1) return AddKeys(session, ops[0], config.my_name);
  // PGP 2.6's own key: the one -u names, else MyName's.
  if (command == "ks" && !ops.empty())
    return CertifyKey(session, Joined(ops.begin(), ops.end()),
                      args.signer ? args.signer : config.my_name, args.force);
  if (command == "kr" && !ops.empty())
    return RemoveKey(session, Joined(ops.begin(), ops.end()), args.force);
  if ((command == "kxa" || command == "kx") && ops.size() >= 2)
    return ExtractKey(session, Joined(ops.begin(), ops.end() - 1), ops.back(), command == "kxa",
                      args.force);
  throw Failure(kBadArgument, kUsage);
}

int RunMessageCommand(Session& session, const Arguments& args, const Config& config) {
  EncryptRequest request;
  for (const char letter : args.command) {
    bool* flag = letter == 'e'   ? &request.encrypt
                 : letter == 's' ? &request.sign
                 : letter == 'c' ? &request.conventional
                 : letter == 'a' ? &request.armor
                 : letter == 't' ? &request.text
                 : letter == 'w' ? &request.wipe
                                 : nullptr;
    if (!flag) throw Failure(kBadArgument, "Unknown command '-" + args.command + "'.\n" + kUsage);
    *flag = true;
  }
  const bool valid =
      request.conventional ? !request.encrypt && !request.sign : request.encrypt || request.sign;
  if (!valid || args.operands.empty()) throw Failure(kBadArgument, kUsage);
  request.force = args.force;
  request.file = args.operands[0];
  request.recipients.assign(args.operands.begin() + 1, args.operands.end());
  // PGP 2.6's own key: the one -u names, else MyName's.
  request.signer = args.signer ? args.signer : config.my_name;
  request.encrypt_to_self = config.encrypt_to_self;
  const char* mail_text = std::getenv("QUILLET_MAIL_TEXT");
  request.mail_text = mail_text && request.file == mail_text;
  if (!request.encrypt && !request.recipients.empty())
    throw Failure(kBadArgument, "Only encryption takes recipients.\n" + std::string(kUsage));
  return Encrypt(session, request);
}

int Run(const std::vector<std::string>& argv) {
  const Arguments args = Parse(argv);
  // The caller may name a file for the verdict on a decrypted message's signatures; one left
  // there by an earlier run goes first, so that whatever this run ends in, it cannot be taken
  // for this run's.
  std::optional<std::string> record;
  if (const char* path = std::getenv("QUILLET_SIGNATURE_RECORD");
      args.command.empty() && path && *path) {
    record = path;
    RemoveRecord(*record);
  }
  if (args.command.empty() && args.operands.size() != 1) throw Failure(kBadArgument, kUsage);
  if (gpgme_engine_check_version(GPGME_PROTOCOL_OpenPGP))
    throw Failure(kOtherError, "GnuPG is not installed.");
  gpgme_engine_info_t engine = nullptr;
  gpgme_get_engine_info(&engine);
  std::fprintf(stderr, "pgp: classic PGP commands performed by GnuPG %s\n",
               engine && engine->version ? engine->version : "");

  std::optional<std::string> pass_phrase = args.pass_phrase;
  if (const char* env = std::getenv("PGPPASS"); !pass_phrase && env) pass_phrase = env;
  const std::filesystem::path directory = PgpDirectory();
  const Config config = ReadConfig(directory / "config.txt");
  Session session(directory, pass_phrase);
  if (args.command.empty()) return Decrypt(session, args.operands[0], args.force, record);
  if (args.command.starts_with("k")) return RunKeyCommand(session, args, config);
  return RunMessageCommand(session, args, config);
}

// Ends a failed run: the person at the console is told why, and so is the program that ran pgp,
// in the file it named in QUILLET_NOTICE, since the console may close with the run.
int Failed(const std::string& text, int code) {
  std::fflush(stdout);
  Notice(text);
  if (const char* path = std::getenv("QUILLET_NOTICE"); path && *path) {
    try {
      WriteWholeFile(path, text + "\n", code);
    } catch (const Failure&) {
      // The console has it.
    }
  }
  return code;
}

}  // namespace
}  // namespace pgp26

int main(int argc, char** argv) {
  pgp26::ProtectProcess();
  // The arguments and file names are the system's narrow text (system.h); with the user's locale
  // the C library reads them so too, on Windows in the ANSI code page that main gets them in.
  std::setlocale(LC_ALL, "");
  // Otherwise GPGME would run gpgconf twice to find the GnuPG programs, and then each one it
  // found for its version: four program starts in every run, a second each under Wine. It finds
  // gpg by itself, and the agent is reached without it (agent.h).
  gpgme_set_global_flag("disable-gpgconf", "1");
  // This copy of pgp lives in the user's PGP folder; the GnuPG programs it runs are the
  // installation's, which only administrators may change, and gpg finds its agent beside itself.
  if (const std::optional<std::string> gnupg = pgp26::system::InstalledGnupgFolder())
    gpgme_set_global_flag("w32-inst-dir", gnupg->c_str());
  gpgme_check_version(nullptr);
  try {
    return pgp26::Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const pgp26::Failure& failure) {
    return pgp26::Failed(failure.what(), failure.code());
  } catch (const std::exception& error) {
    return pgp26::Failed(std::string("pgp: ") + error.what(), pgp26::kOtherError);
  }
}
