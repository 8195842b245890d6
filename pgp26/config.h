// The PGP folder's config.txt, read as PGP 2.6 read it: "Name = value" lines, names in any case,
// "#" beginning a comment outside quotes, values quoted or not, "on" or "off" for a switch.
// Options that pgp does not know are ignored, as PGP 2.6 ignored those it did not know.
#ifndef QUILLET_PGP26_CONFIG_H_
#define QUILLET_PGP26_CONFIG_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pgp26 {

// The options pgp honours. ArmorLines is taken and has no effect: pgp never splits its armour.
struct Config {
  // MyName: the user ID of the user's own key, which signs when no -u names a signer.
  std::optional<std::string> my_name;
  // EncryptToSelf: encryption to public keys is to the user's own key too.
  bool encrypt_to_self = false;
};

// The options of `text`, read from the file `name`; a malformed line (no "=", a quote that is not
// closed or text after it, a switch neither on nor off) throws Failure(kBadArgument) naming the
// file and the line.
Config ParseConfig(std::string_view text, const std::string& name);

// The options of the file `path`; without that file, none.
Config ReadConfig(const std::filesystem::path& path);

}  // namespace pgp26

#endif  // QUILLET_PGP26_CONFIG_H_
