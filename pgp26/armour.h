// The ASCII armour around PGP data, checked by itself: when GnuPG cannot read a message, this
// tells whether its armour was broken in transit before the data inside is blamed.
#ifndef QUILLET_PGP26_ARMOUR_H_
#define QUILLET_PGP26_ARMOUR_H_

#include <optional>
#include <string>
#include <string_view>

namespace pgp26 {

// Why the first broken armour block in `text` cannot be read ("its checksum does not match
// its contents", ...), or nothing when every block is whole or there is no armour at all.
// Lines may end in CR LF and carry trailing blanks, as mail leaves them; the block of a
// signed message's text ("BEGIN PGP SIGNED MESSAGE") is text, and only its signature is armour.
std::optional<std::string> ArmourProblem(std::string_view text);

// The binary data of the first armour block in `text` (a signed message's text is no such block),
// or nothing when there is none or it is not whole as ArmourProblem checks it.
std::optional<std::string> ArmouredData(std::string_view text);

}  // namespace pgp26

#endif  // QUILLET_PGP26_ARMOUR_H_
