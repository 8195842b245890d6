#include "pgp/pgpex.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "base/cmdline.h"
#include "base/file.h"
#include "base/text.h"
#include "pgp/run2.h"

namespace quillet::pgp {

namespace {

constexpr char kPassPhraseClause[] = "+force -z ";
constexpr char kMask[] = "********";

// The line with the quoted pass phrase of its pass-phrase clause replaced by the mask. The
// closing quote is found by the rules that split the line, so an escaped quote inside the pass
// phrase does not end it early.
std::string MaskPassPhrase(const std::string& line) {
  const std::string opening = std::string(kPassPhraseClause) + '"';
  const std::size_t start = line.find(opening);
  if (start == std::string::npos) return line;
  const std::size_t body = start + opening.size();
  std::size_t i = body;
  while (i < line.size()) {
    std::size_t backslashes = 0;
    while (i < line.size() && line[i] == '\\') ++backslashes, ++i;
    if (i < line.size() && line[i] == '"' && backslashes % 2 == 0) break;
    if (i < line.size()) ++i;
  }
  return line.substr(0, body) + kMask + line.substr(i);
}

// An argument as PGP must receive it: unchanged when it is one word, otherwise as one quoted
// argument without the blank that trimming leaves in front of a listing line.
std::string Arg(const std::string& text) {
  if (!text.empty() && text.find_first_of(" \t\"") == std::string::npos) return text;
  const std::size_t start = text.find_first_not_of(' ');
  return QuoteArgument(start == std::string::npos ? "" : text.substr(start));
}

std::string PassPhraseClause(const std::string& pass_phrase) {
  return kPassPhraseClause + QuoteArgument(pass_phrase);
}

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Lines(in);
}

std::string ListIndexError(int index) {
  return "List index out of bounds (" + std::to_string(index) + ")";
}

bool IsHex(std::string_view text) {
  return !text.empty() && std::ranges::all_of(text, [](char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
  });
}

std::string AsciiUpper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The short key ID of a listing's key line ("pub  1024/B14E7015 1996/08/20 ..."); nothing for
// any other line.
std::optional<std::string> ListedKeyId(const std::string& line) {
  if (!line.starts_with("pub") && !line.starts_with("sec")) return std::nullopt;
  const std::size_t slash = line.find('/');
  const std::size_t end = line.find(' ', slash);
  if (slash == std::string::npos || slash > 12 || end == std::string::npos) return std::nullopt;
  const std::string id = line.substr(slash + 1, end - slash - 1);
  if (id.size() != 8 || !IsHex(id)) return std::nullopt;
  return AsciiUpper(id);
}

// The hex digits of a fingerprint line ("          Key fingerprint = 1A2B ..."); nothing for
// any other line.
std::optional<std::string> ListedFingerprint(const std::string& line) {
  constexpr std::string_view kLabel = "Key fingerprint =";
  const std::size_t start = line.find_first_not_of(' ');
  if (start == std::string::npos || line.compare(start, kLabel.size(), kLabel) != 0)
    return std::nullopt;
  std::string digits;
  for (const char c : line.substr(start + kLabel.size()))
    if (c != ' ') digits += c;
  if (!IsHex(digits)) return std::nullopt;
  return AsciiUpper(digits);
}

// A listing cut down to its user-ID column, and the key each of its lines belongs to.
struct TrimmedListing {
  std::string text;
  std::string keys;
};

// A key's lines are its key line and the indented lines below it. It is named by its whole
// fingerprint where the listing gives a current one (40 or 64 digits; an old key's 32-digit
// fingerprint names nothing to PGP), and by its key ID otherwise; an ID that more than one key of
// the listing has names none of them.
TrimmedListing Trim(const std::vector<std::string>& listing) {
  std::vector<std::string> names;                  // of each key, in listing order
  std::vector<std::optional<std::size_t>> owners;  // the key of each line kept
  std::string text;
  for (const std::string& line : listing) {
    if (const std::optional<std::string> id = ListedKeyId(line)) {
      names.push_back("0x" + *id);
    } else if (const std::optional<std::string> fingerprint = ListedFingerprint(line)) {
      if (!names.empty() && (fingerprint->size() == 40 || fingerprint->size() == 64))
        names.back() = "0x" + *fingerprint;
      continue;
    } else if (!line.starts_with(' ') || !NamesKey(line)) {
      names.emplace_back();  // lines of no key follow
    }
    owners.push_back(names.empty() ? std::nullopt : std::optional(names.size() - 1));
    const std::string kept = line.substr(0, 255);
    text += (kept.size() > 29 ? kept.substr(29) : std::string()) + "\r\n";
  }
  TrimmedListing trimmed{std::move(text), {}};
  for (const std::optional<std::size_t>& owner : owners) {
    const std::string name = owner ? names[*owner] : std::string();
    const bool shared = !name.empty() && std::ranges::count(names, name) > 1;
    trimmed.keys += (shared ? std::string(kAmbiguousKey) : name) + "\r\n";
  }
  return trimmed;
}

// A key as a key list names it, checked: anything else it may have been given is unknown.
std::string ListedKey(const std::string& key) {
  if (key.empty() || key == kAmbiguousKey) return key;
  if (key.starts_with("0x") && IsHex(key.substr(2))) return key;
  return kUnknownKey;
}

// A key or user ID as PGP must receive it; a key list's line that names no single key stops
// the operation.
std::string KeyArg(const std::string& key) {
  if (key == kAmbiguousKey) throw Error(kAmbiguousKeyMessage);
  if (key == kUnknownKey) throw Error(kUnknownKeyMessage);
  return Arg(key);
}

bool IsChecksumLine(const std::string& line) {
  if (line.size() != 5 || line[0] != '=') return false;
  for (const char c : line.substr(1))
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '/') return false;
  return true;
}

}  // namespace

void ClearOutput(const std::string& path) {
  std::error_code error;
  std::filesystem::remove(path, error);
  if (error || std::filesystem::exists(path, error))
    throw Error("Cannot remove the earlier file " + path);
  RemoveSplitArmour(path);
}

bool RemoveSplitArmour(const std::string& path) {
  if (!path.ends_with(".asc")) return false;
  bool found = false;
  std::error_code ignored;
  for (int part = 1; std::filesystem::remove(PgpDirectory::SplitArmourPart(path, part), ignored);
       ++part)
    found = true;
  return found;
}

std::optional<std::string> ReadOutput(std::int32_t exit_code, const std::string& path) {
  std::error_code error;
  if (exit_code != 0 || !std::filesystem::is_regular_file(path, error)) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return std::nullopt;
  return content;
}

std::optional<std::string> ReadArmouredOutput(std::int32_t exit_code, const std::string& path,
                                              std::string_view kind) {
  std::optional<std::string> content = ReadOutput(exit_code, path);
  if (!content) return std::nullopt;
  std::istringstream in(*content);
  std::vector<std::string> lines = Lines(in);
  while (!lines.empty() && lines.back().empty()) lines.pop_back();
  const std::string block(kind);
  const auto begins = [](const std::string& line) { return line.starts_with("-----BEGIN PGP "); };
  const auto begin = std::ranges::find_if(lines, begins);
  // The classic program lists a key before its block, and those lines name the key; nothing but
  // cipher text may go into a message's place.
  const bool placed = begin == lines.begin() || (begin != lines.end() && block != "MESSAGE");
  const bool whole = placed && std::ranges::count_if(lines, begins) == 1 &&
                     *begin == "-----BEGIN PGP " + block + "-----" && lines.end() - begin >= 3 &&
                     lines.back() == "-----END PGP " + block + "-----" &&
                     IsChecksumLine(lines[lines.size() - 2]);
  if (!whole) return std::nullopt;
  return content;
}

bool NamesKey(const std::string& user_id) {
  return user_id.find_first_not_of(" \t") != std::string::npos;
}

void AppendToRunLog(System& system, const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += MaskPassPhrase(line) + "\r\n";
  system.AppendToLog(system.RunLogPath(), text);
}

std::int32_t RunLogged(Platform& platform, const std::string& program,
                       const std::string& parameters, const std::string& directory, int show_mode,
                       const EnvironmentAddition& environment) {
  const std::string command_line = QuoteProgram(directory + program) + " " + parameters;
  const std::int32_t exit_code =
      RunAndWait(platform.processes, platform.gui, command_line, show_mode, environment);
  AppendToRunLog(platform.system,
                 {"parameters", command_line, "Exit Code", std::to_string(exit_code)});
  return exit_code;
}

bool ShellRunConfirmed(Platform& platform, const std::string& file, const std::string& parameters,
                       const std::string& directory, int show_mode) {
  platform.processes.ShellOpen(file, parameters, directory, show_mode);
  return platform.gui.Confirm("Click OK after DOS program runs", gui::Buttons::kOkCancel) ==
         gui::Answer::kOk;
}

// --- TPGP ---

TPGP::TPGP(Platform& platform, gui::Window* owner) : platform_(platform), owner_(owner) {}

std::optional<std::int32_t> TPGP::RunPGP(const std::string& parameters,
                                         const EnvironmentAddition& environment) {
  LastNotice.clear();
  AppendToRunLog(platform_.system,
                 {"Command line", QuoteProgram(PGPPath + PGPProg) + " " + parameters});
  if (PGPProg.empty()) {
    if (owner_) owner_->BringToForeground();
    platform_.gui.Confirm("You must first select the PGP program.", gui::Buttons::kOk);
    return std::nullopt;
  }
  const std::string notice = Directory().Notice();
  ClearOutput(notice);
  const FileRemovedAtExit notice_removed(notice);
  EnvironmentAddition with_notice = environment;
  with_notice.emplace_back(kNoticeVariable, notice);
  const std::int32_t exit_code =
      RunLogged(platform_, PGPProg, " " + parameters, PGPPath, kShowConsole, with_notice);
  if (const std::optional<std::string> text = ReadOutput(0, notice)) {
    std::istringstream in(*text);
    GetLine(in, LastNotice);
  }
  return exit_code;
}

std::optional<std::int32_t> TPGP::GenerateKey() {
  return RunPGP("-kg");
}

std::optional<std::int32_t> TPGP::RemoveKey(const std::string& user_id) {
  return RunPGP("-kr " + KeyArg(user_id));
}

std::optional<std::int32_t> TPGP::AddKey(const std::string& key_file) {
  return RunPGP("-ka " + Arg(key_file));
}

std::optional<std::int32_t> TPGP::ExtractKey(const std::string& user_id,
                                             const std::string& key_file) {
  return RunPGP("-kxa " + KeyArg(user_id) + " " + Arg(key_file));
}

DecryptResult TPGP::DecryptFile(const std::string& file, const std::string& pass_phrase) {
  const std::string record = Directory().SignatureRecord();
  // Only this run's record may be read, and none outlives the run.
  ClearOutput(record);
  const FileRemovedAtExit removed(record);
  DecryptResult result;
  result.exit_code =
      RunPGP(PassPhraseClause(pass_phrase) + " " + Arg(file), {{kSignatureRecordVariable, record}});
  result.signature = TakeSignatureRecord(record);
  result.notice = LastNotice;
  return result;
}

std::optional<std::int32_t> TPGP::EncryptFile(const std::string& file,
                                              const std::vector<std::string>& recipients,
                                              const std::vector<std::string>& signers,
                                              const std::string& pass_phrase, int mode) {
  std::string parameters;
  switch (mode) {
    case 0:
      parameters = PassPhraseClause(pass_phrase) + " -eaw ";
      break;
    case 1:
      parameters = PassPhraseClause(pass_phrase) + " -seaw ";
      break;
    case 2:
      parameters = PassPhraseClause(pass_phrase) + " -saw ";
      break;
    case 3:
      parameters = " -caw ";
      break;
  }
  parameters += Arg(file) + " ";
  if (mode == 0 || mode == 1) {
    for (const std::string& recipient : recipients)
      if (NamesKey(recipient)) parameters += KeyArg(recipient) + " ";
    // Without a signer PGP signs with its default key.
    if (!signers.empty() && NamesKey(signers.front()))
      parameters += " -u " + KeyArg(signers.front());
  }
  return RunPGP(parameters, {{kMailTextVariable, Directory().MailText()}});
}

void TPGP::WriteKeyListBatch() {
  const std::string program = QuoteProgram(PGPPath + PGPProg);
  WriteWholeFile(Directory().ListingBatch(),
                 program + " -kvc > " + PgpDirectory::kPublicListingName + "\r\n" + program +
                     " -kvc secring.pgp > " + PgpDirectory::kSecretListingName + "\r\n");
}

void TPGP::RefreshKeyListings() {
  const std::string keys = Directory().PublicListing();
  const std::string secret_keys = Directory().SecretListing();
  if (Forcecheck == forcetype::NoForce && std::filesystem::exists(keys)) return;
  // A listing the batch does not rewrite must not be trimmed a second time, nor keep the keys of
  // an earlier one.
  std::error_code ignored;
  for (const std::string& listing : {keys, secret_keys}) {
    std::filesystem::remove(listing, ignored);
    std::filesystem::remove(PgpDirectory::ListingKeys(listing), ignored);
  }
  if (!ShellRunConfirmed(platform_, Directory().ListingBatch(), "", PGPPath, kShowConsole)) return;
  TrimKeyListing(keys);
  TrimKeyListing(secret_keys);
}

void TPGP::TrimKeyListing(const std::string& path) {
  if (!std::filesystem::exists(path)) throw ENoFile("Key File Does Not Exist");
  std::vector<std::string> lines = ReadLines(path);
  if (lines.size() < 3) throw Error(ListIndexError(0));
  lines.erase(lines.begin(), lines.begin() + 3);
  const TrimmedListing trimmed = Trim(lines);
  // The keys first: a listing left untrimmed by a failure never has as many lines as they have.
  WriteWholeFile(PgpDirectory::ListingKeys(path), trimmed.keys);
  WriteWholeFile(path, trimmed.text);
}

// --- TPGPList ---

TPGPList::TPGPList(gui::ListBox& box) : box_(box) {
  box_.SetOnClick([this] { Click(); });
}

void TPGPList::LoadKeys() {
  if (Filename.empty()) throw ENoFile("Key Filename Property Not Set");
  if (!std::filesystem::exists(Filename)) throw ENoFile("Key File Does Not Exist");
  const std::vector<std::string> items = ReadLines(Filename);
  std::vector<std::string> keys = ReadLines(PgpDirectory::ListingKeys(Filename));
  if (keys.size() == items.size()) {
    for (std::string& key : keys) key = ListedKey(key);
  } else {
    keys.clear();
    for (const std::string& item : items) keys.emplace_back(NamesKey(item) ? kUnknownKey : "");
  }
  box_.SetItems(items);
  keys_ = std::move(keys);
}

std::string TPGPList::UserIDAt(int index) const {
  if (box_.Count() == 0) return {};
  if (index < 0 || static_cast<std::size_t>(index) >= keys_.size())
    throw Error(ListIndexError(index));
  return keys_[static_cast<std::size_t>(index)];
}

void TPGPList::UpdateSelection() {
  SelectedIDs.clear();
  for (int i = 0; i < box_.Count(); ++i)
    if (box_.Selected(i)) SelectedIDs.push_back(UserIDAt(i));
}

void TPGPList::Click() {
  UpdateSelection();
  if (on_click_) on_click_();
}

}  // namespace quillet::pgp
