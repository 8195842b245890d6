#include "pgp26/packets.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "pgp26/armour.h"

namespace pgp26 {

namespace {

enum PacketTag : int {
  kSecretKey = 5,
  kPublicKey = 6,
  kSecretSubkey = 7,
  kUnprotectedData = 9,  // symmetrically encrypted data; the protected kind is tag 18
  kPublicSubkey = 14,
};

struct Packet {
  int tag;
  std::uint8_t first;  // the first byte of its body; 0 for an empty body
};

// The length of a new-format packet body, or of its first chunk, read at `at`; `more` tells
// whether more chunks follow. Nothing when the data ends within it.
std::optional<std::size_t> NewLength(std::string_view data, std::size_t& at, bool& more) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(data[i]); };
  more = false;
  if (at >= data.size()) return std::nullopt;
  const std::uint8_t first = byte(at);
  if (first < 192) {
    at += 1;
    return first;
  }
  if (first < 224) {
    if (data.size() - at < 2) return std::nullopt;
    at += 2;
    return ((first - 192u) << 8) + byte(at - 1) + 192u;
  }
  if (first == 255) {
    if (data.size() - at < 5) return std::nullopt;
    std::size_t length = 0;
    for (std::size_t i = 1; i < 5; ++i) length = length << 8 | byte(at + i);
    at += 5;
    return length;
  }
  more = true;
  at += 1;
  return std::size_t{1} << (first & 0x1F);
}

// The packets at the top level of `data`, in order; nothing unless `data` is whole packets from
// its first byte to its last, so that text is not taken for packets.
std::optional<std::vector<Packet>> TopLevelPackets(std::string_view data) {
  std::vector<Packet> packets;
  std::size_t at = 0;
  while (at < data.size()) {
    const auto header = static_cast<std::uint8_t>(data[at++]);
    if (!(header & 0x80)) return std::nullopt;
    const bool new_format = header & 0x40;
    Packet packet{new_format ? header & 0x3F : (header >> 2) & 0x0F, 0};
    bool first_chunk = true;
    for (bool more = true; more;) {
      std::optional<std::size_t> length;
      if (new_format) {
        length = NewLength(data, at, more);
      } else if ((header & 0x03) == 3) {  // the old format's indeterminate length: to the end
        length = data.size() - at;
        more = false;
      } else {
        const std::size_t length_bytes = std::size_t{1} << (header & 0x03);
        if (data.size() - at >= length_bytes) {
          length = 0;
          for (std::size_t i = 0; i < length_bytes; ++i)
            length = *length << 8 | static_cast<std::uint8_t>(data[at + i]);
          at += length_bytes;
        }
        more = false;
      }
      if (!length || *length > data.size() - at) return std::nullopt;
      if (first_chunk && *length > 0) packet.first = static_cast<std::uint8_t>(data[at]);
      first_chunk = false;
      at += *length;
    }
    packets.push_back(packet);
  }
  return packets;
}

}  // namespace

std::optional<std::string> PacketData(std::string_view text) {
  if (std::optional<std::string> data = ArmouredData(text)) return data;
  if (!text.empty() && (static_cast<std::uint8_t>(text.front()) & 0x80)) return std::string(text);
  return std::nullopt;
}

bool HoldsVersion3Keys(std::string_view data) {
  const std::optional<std::vector<Packet>> packets = TopLevelPackets(data);
  return packets && std::any_of(packets->begin(), packets->end(), [](const Packet& packet) {
           const bool key = packet.tag == kSecretKey || packet.tag == kPublicKey ||
                            packet.tag == kSecretSubkey || packet.tag == kPublicSubkey;
           return key && (packet.first == 2 || packet.first == 3);
         });
}

bool HoldsUnprotectedData(std::string_view data) {
  const std::optional<std::vector<Packet>> packets = TopLevelPackets(data);
  return packets && std::any_of(packets->begin(), packets->end(), [](const Packet& packet) {
           return packet.tag == kUnprotectedData;
         });
}

}  // namespace pgp26
