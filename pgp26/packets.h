// What the OpenPGP packets of a message or a key file tell before GnuPG reads them: keys made by
// PGP 2.x (version 3 keys), which GnuPG no longer takes, and data encrypted without an integrity
// check, as PGP 2.x and other old programs encrypted it.
#ifndef QUILLET_PGP26_PACKETS_H_
#define QUILLET_PGP26_PACKETS_H_

#include <optional>
#include <string>
#include <string_view>

namespace pgp26 {

// The packets that `text` holds: the data of its first armour block when that is whole, or else
// `text` itself when it begins as binary packets do; nothing otherwise.
std::optional<std::string> PacketData(std::string_view text);

// True when `data` is whole OpenPGP packets and one at the top level is a public or secret key
// or subkey of version 2 or 3.
bool HoldsVersion3Keys(std::string_view data);

// True when `data` is whole OpenPGP packets and one at the top level is encrypted data without
// an integrity check.
bool HoldsUnprotectedData(std::string_view data);

}  // namespace pgp26

#endif  // QUILLET_PGP26_PACKETS_H_
