// fakepgp: a stand-in PGP command-line program with the classic 2.6 switch syntax, for tests
// only. It does no cryptography: an "encrypted" file is the plain bytes in hex between armour
// lines, with a checksum line of its own, and the key rings are one text file of
// `pub|BITS|KEYID|DATE|User ID` and `sec|...` lines; consecutive lines of one type and key ID
// are one key's user IDs, and a key's fingerprint is its key ID five times. Environment
// variables let a test log the arguments, choose the exit code, delay the run, demand a pass
// phrase or inject a fault:
//   FAKEPGP_FAIL=KIND          every run fails that way
//   FAKEPGP_FAIL=KIND@SUFFIX   only runs with an argument that ends in SUFFIX do
// KIND: nooutput (exits 1, writes nothing), exit (writes its output, exits 3), empty (an empty
// output), truncated (the first half of the output), errortext (an error text in place of the
// output), directory (a folder in the output's place), killed (writes half, then dies at once),
// split (armour split into FILE.as1, FILE.as2 in place of FILE.asc, as a classic program without
// "ArmorLines = 0" does).
//   FAKEPGP_CLASSIC=1          as the classic program: -kxa writes the key's listing before the
//                              block, and -kxa and -kr of a key that is not there exit 0
//   FAKEPGP_RECORD=TEXT        a decryption writes TEXT to the signature record file that
//                              QUILLET_SIGNATURE_RECORD names; without it, as a classic PGP
//                              program, it writes none
#include <cctype>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/text.h"

namespace {

using quillet::AsciiLower;

using Strings = std::vector<std::string>;

const std::string kMessageBegin = "-----BEGIN PGP MESSAGE-----";
const std::string kMessageEnd = "-----END PGP MESSAGE-----";
const std::string kKeyBegin = "-----BEGIN PGP PUBLIC KEY BLOCK-----";
const std::string kKeyEnd = "-----END PGP PUBLIC KEY BLOCK-----";
const char kHex[] = "0123456789ABCDEFabcdef";
// Every armour ends its data with a checksum line; no reader here checks it.
const std::string kChecksum = "=FAKE";

int Usage() {
  std::fputs(
      "usage: fakepgp [+force] [-z pass] {-eaw|-seaw|-saw|-caw} file [userid...] | file"
      " | -kxa userid file | -ka file | -kr userid | -kg | -kv[c] [userid] [ring]\n",
      stderr);
  return 1;
}

// As our PGP program, it also writes why it failed where QUILLET_NOTICE says.
int Fail(const std::string& message) {
  std::fprintf(stderr, "fakepgp: %s\n", message.c_str());
  if (const char* notice = std::getenv("QUILLET_NOTICE"))
    std::ofstream(notice, std::ios::binary) << message << "\n";
  return 1;
}

std::optional<std::string> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Binary mode everywhere, so that a Windows build writes exactly the line ends asked for.
int WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
  return out ? 0 : Fail("cannot write " + path);
}

// Splits on "\n" and drops a "\r" before it, so files written on either system read the same.
Strings Lines(const std::string& text) {
  std::istringstream in(text);
  return quillet::Lines(in);
}

// --- Armoured messages ---------------------------------------------------------------------

int Encrypt(const std::string& mode, const Strings& operands) {
  if (operands.empty()) return Usage();
  const std::optional<std::string> data = ReadFile(operands[0]);
  if (!data) return Fail("file '" + operands[0] + "' does not exist");
  std::string out = kMessageBegin + "\r\nMode: " + mode + "\r\n";
  for (std::size_t i = 0; i < data->size(); ++i) {
    const auto byte = static_cast<unsigned char>((*data)[i]);
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
    if (i % 32 == 31 || i + 1 == data->size()) out += "\r\n";  // 32 bytes make 64 hex digits
  }
  out += kChecksum + "\r\n" + kMessageEnd + "\r\n";
  return WriteFile(operands[0] + ".asc", out);
}

int Decrypt(const std::string& file) {
  const std::optional<std::string> armour = ReadFile(file + ".asc");
  if (!armour) return Fail("file '" + file + ".asc' does not exist");
  const Strings lines = Lines(*armour);
  std::size_t i = 0;
  while (i < lines.size() && lines[i] != kMessageBegin) ++i;
  if (i == lines.size()) return Fail("no PGP message in " + file + ".asc");
  std::string data;
  for (++i; i < lines.size() && lines[i] != kMessageEnd; ++i) {
    if (lines[i].starts_with("Mode:") || lines[i] == kChecksum) continue;
    if (lines[i].size() % 2 != 0 || lines[i].find_first_not_of(kHex) != std::string::npos)
      return Fail("malformed line in " + file + ".asc");
    for (std::size_t j = 0; j < lines[i].size(); j += 2)
      data += static_cast<char>(std::stoi(lines[i].substr(j, 2), nullptr, 16));
  }
  if (i == lines.size()) return Fail("unterminated PGP message in " + file + ".asc");
  return WriteFile(file, data);
}

// --- Key ring ------------------------------------------------------------------------------

struct Key {
  std::string type, bits, id, date, uid;
};

// The user ID is everything after the fourth '|', so it may itself contain '|'.
std::optional<Key> ParseKey(const std::string& line) {
  std::istringstream in(line);
  Key key;
  if (!std::getline(in, key.type, '|') || !std::getline(in, key.bits, '|') ||
      !std::getline(in, key.id, '|') || !std::getline(in, key.date, '|') || in.eof())
    return std::nullopt;
  std::getline(in, key.uid);
  return key;
}

// FNV-1a, so the same user ID always gets the same key ID.
std::string KeyId(const std::string& uid) {
  std::uint32_t hash = 2166136261u;
  for (unsigned char c : uid) hash = (hash ^ c) * 16777619u;
  char id[9];
  std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(hash));
  return id;
}

std::string Fingerprint(const Key& key) {
  std::string fingerprint;
  for (int i = 0; i < 5; ++i) fingerprint += key.id;
  return fingerprint;
}

// As PGP looks keys up: "0x" and the end of the fingerprint, or a part of a user ID, in any case.
bool Answers(const Key& key, const std::string& pattern) {
  const std::string wanted = AsciiLower(pattern);
  if (wanted.starts_with("0x")) return AsciiLower(Fingerprint(key)).ends_with(wanted.substr(2));
  return AsciiLower(key.uid).find(wanted) != std::string::npos;
}

std::string KeyLine(const std::string& type, const std::string& uid) {
  return type + "|1024|" + KeyId(uid) + "|2026/01/01|" + uid;
}

const char* const kRing = std::getenv("FAKEPGP_KEYS");
const bool kClassic = std::getenv("FAKEPGP_CLASSIC") != nullptr;

// A key that is not there: an error, or for the classic program a notice and success.
int KeyNotFound(const std::string& uid) {
  if (!kClassic) return Fail("key '" + uid + "' not found in key ring");
  std::printf("Key not found in key ring '%s'.\n", kRing ? kRing : "pubring.pgp");
  return 0;
}

Strings ReadRing() {
  const std::optional<std::string> text = kRing ? ReadFile(kRing) : std::nullopt;
  return text ? Lines(*text) : Strings{};
}

int WriteRing(const Strings& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return WriteFile(kRing, text);
}

// The block carries every user ID of the first public key that answers.
int ExtractKey(const Strings& operands) {
  if (operands.size() != 2) return Usage();
  std::string users, id, listing;
  for (const std::string& line : ReadRing()) {
    const std::optional<Key> key = ParseKey(line);
    if (!key || key->type != "pub") continue;
    if (id.empty() && Answers(*key, operands[0])) {
      id = key->id;
      listing = "Type Bits/KeyID    Date       User ID\r\npub  " + key->bits + "/" + key->id +
                " " + key->date + " " + key->uid + "\r\n\r\n";
    }
    if (!id.empty() && key->id != id) break;
    if (!id.empty()) users += "User: " + key->uid + "\r\n";
  }
  if (users.empty()) return KeyNotFound(operands[0]);
  return WriteFile(operands[1] + ".asc", (kClassic ? listing : "") + kKeyBegin + "\r\n" + users +
                                             kChecksum + "\r\n" + kKeyEnd + "\r\n");
}

int AddKeys(const Strings& operands) {
  if (operands.size() != 1) return Usage();
  const std::optional<std::string> text = ReadFile(operands[0]);
  if (!text) return Fail("file '" + operands[0] + "' does not exist");
  const Strings lines = Lines(*text);
  Strings ring = ReadRing();
  int blocks = 0, added = 0;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].find(kKeyBegin) == std::string::npos) continue;
    ++blocks;
    for (++i; i < lines.size() && lines[i].find(kKeyEnd) == std::string::npos; ++i) {
      const std::size_t at = lines[i].find("User: ");
      if (at == std::string::npos) continue;
      const std::string uid = lines[i].substr(at + 6);
      bool known = false;
      for (const std::string& line : ring) {
        const std::optional<Key> key = ParseKey(line);
        known = known || (key && key->type == "pub" && key->uid == uid);
      }
      if (!known) {
        ring.push_back(KeyLine("pub", uid));
        ++added;
      }
    }
  }
  if (blocks == 0) return Fail("no keys found in '" + operands[0] + "'");
  if (const int error = added > 0 ? WriteRing(ring) : 0) return error;
  std::printf("%d new key%s added to key ring.\n", added, added == 1 ? "" : "s");
  return 0;
}

int RemoveKeys(const std::string& uid) {
  const Strings ring = ReadRing();
  Strings kept;
  for (const std::string& line : ring) {
    const std::optional<Key> key = ParseKey(line);
    if (!key || !Answers(*key, uid)) kept.push_back(line);
  }
  if (kept.size() == ring.size()) return KeyNotFound(uid);
  return WriteRing(kept);
}

int GenerateKey() {
  const char* env = std::getenv("FAKEPGP_NEWKEY");
  const std::string uid = env ? env : "New Key <new@example.com>";
  Strings ring = ReadRing();
  ring.push_back(KeyLine("pub", uid));
  ring.push_back(KeyLine("sec", uid));
  return WriteRing(ring);
}

// An operand ending in ".pgp" names the ring, anything else selects user IDs (as PGP does);
// `fingerprints` adds a key's fingerprint line below its first line.
int ViewKeys(const Strings& operands, bool fingerprints) {
  std::string ring_name = "pubring.pgp", filter;
  for (const std::string& operand : operands)
    (AsciiLower(operand).ends_with(".pgp") ? ring_name : filter) = operand;
  const std::string base = AsciiLower(std::filesystem::path(ring_name).filename().string());
  const std::string type = base.starts_with("sec") ? "sec" : "pub";
  std::printf("\nKey ring: '%s'\nType Bits/KeyID    Date       User ID\n", ring_name.c_str());
  int found = 0;
  std::string shown;  // the key ID of the key last shown
  for (const std::string& line : ReadRing()) {
    const std::optional<Key> key = ParseKey(line);
    if (!key || key->type != type || !Answers(*key, filter)) continue;
    if (key->id == shown) {
      std::printf("%30s%s\n", "", key->uid.c_str());
      continue;
    }
    std::printf("%s  %4d/%s %s %s\n", type.c_str(), std::atoi(key->bits.c_str()), key->id.c_str(),
                key->date.c_str(), key->uid.c_str());
    if (fingerprints) std::printf("%10sKey fingerprint = %s\n", "", Fingerprint(*key).c_str());
    shown = key->id;
    ++found;
  }
  std::printf("%d matching key%s found.\n", found, found == 1 ? "" : "s");
  return 0;
}

int Run(const std::string& command, const Strings& operands) {
  if (command == "-eaw" || command == "-seaw" || command == "-saw" || command == "-caw")
    return Encrypt(command.substr(1), operands);
  if (command.empty() || command[0] != '-') return operands.empty() ? Decrypt(command) : Usage();
  if (command == "-kxa") return ExtractKey(operands);
  if (command == "-kv" || command == "-kvc") return ViewKeys(operands, command == "-kvc");
  if (command != "-ka" && command != "-kr" && command != "-kg") return Usage();
  if (!kRing) return Fail("no key ring: FAKEPGP_KEYS is not set");
  if (command == "-ka") return AddKeys(operands);
  if (command == "-kr") return operands.size() == 1 ? RemoveKeys(operands[0]) : Usage();
  return operands.empty() ? GenerateKey() : Usage();
}

// --- Faults --------------------------------------------------------------------------------

// The fault this run is to show; empty for none.
std::string FaultOfThisRun(const Strings& args) {
  const char* env = std::getenv("FAKEPGP_FAIL");
  const std::string spec = env ? env : "";
  const std::size_t at = spec.find('@');
  if (at == std::string::npos) return spec;
  bool chosen = false;
  for (const std::string& arg : args) chosen = chosen || arg.ends_with(spec.substr(at + 1));
  return chosen ? spec.substr(0, at) : "";
}

// The file a successful run wrote, if it writes one: the armour of an encryption or an
// extraction, the plain text of a decryption.
std::string OutputOf(const std::string& command, const Strings& operands) {
  if (command == "-eaw" || command == "-seaw" || command == "-saw" || command == "-caw")
    return operands.at(0) + ".asc";
  if (command == "-kxa") return operands.at(1) + ".asc";
  return command[0] == '-' ? "" : command;
}

// Turns the output of a run that succeeded into the fault's; returns the exit code.
int Spoil(const std::string& fault, const std::string& path) {
  if (fault == "exit") return 3;
  if (path.empty()) return 0;
  const std::string whole = ReadFile(path).value_or("");
  if (fault == "empty") return WriteFile(path, "");
  if (fault == "truncated") return WriteFile(path, whole.substr(0, whole.size() / 2));
  if (fault == "errortext") return WriteFile(path, "Error: the disk is full.\r\n");
  if (fault == "directory") {
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    return 0;
  }
  if (fault == "split") {
    const std::string stem = path.substr(0, path.size() - 1);  // "FILE.as"
    const std::size_t half = whole.size() / 2;
    std::filesystem::remove(path);
    return WriteFile(stem + "1", whole.substr(0, half)) | WriteFile(stem + "2", whole.substr(half));
  }
  if (fault == "killed") {
    WriteFile(path, whole.substr(0, whole.size() / 2));
    std::_Exit(137);
  }
  return Fail("unknown fault " + fault);
}

}  // namespace

int main(int argc, char** argv) {
  const Strings args(argv + 1, argv + argc);
  if (const char* delay = std::getenv("FAKEPGP_DELAY"))
    std::this_thread::sleep_for(std::chrono::duration<double>(std::strtod(delay, nullptr)));
  if (const char* log = std::getenv("FAKEPGP_LOG")) {
    std::ofstream out(log, std::ios::binary | std::ios::app);
    for (const std::string& arg : args) out << arg << "\n";
    out << "<end>\n";
  }
  const char* exit_code = std::getenv("FAKEPGP_EXIT");
  const int success = exit_code ? std::atoi(exit_code) : 0;
  const std::string fault = FaultOfThisRun(args);
  if (fault == "nooutput") return exit_code ? success : 1;

  std::size_t i = 0;
  std::optional<std::string> pass;
  for (; i < args.size(); ++i) {
    if (args[i] == "-z" && i + 1 < args.size())
      pass = args[++i];
    else if (args[i] != "+force")
      break;
  }
  const char* expected = std::getenv("FAKEPGP_PASS");
  if (pass && expected && *pass != expected) return Fail("bad pass phrase");
  if (i == args.size()) return Usage();

  const Strings operands(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
  const int result = Run(args[i], operands);
  const char* record = std::getenv("QUILLET_SIGNATURE_RECORD");
  const char* verdict = std::getenv("FAKEPGP_RECORD");
  if (args[i][0] != '-' && record && verdict) WriteFile(record, verdict);
  if (result == 0 && !fault.empty()) return Spoil(fault, OutputOf(args[i], operands));
  return result == 0 ? success : result;
}
