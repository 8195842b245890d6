// Values of GroupWise's C3PO interface that the program passes or compares.
#pragma once

#include <cstdint>

namespace quillet::host {

// Command identifiers carried by the menu entries.
inline constexpr std::int32_t kCmdPgpMenu = 98;
inline constexpr std::int32_t kCmdQuillet = 100;
inline constexpr std::int32_t kCmdEncrypt = 101;
inline constexpr std::int32_t kCmdDecrypt = 102;
inline constexpr std::int32_t kCmdKeyToRing = 103;
inline constexpr std::int32_t kCmdMailKey = 104;
inline constexpr std::int32_t kCmdNewKey = 105;

// Menus are added to every window whose context name starts with this, ignoring case.
inline constexpr char kMessageContext[] = "GW.MESSAGE";
// AddMenu's AddBefore for the "&PGP" pull-down: it goes before the menu bar's entry at this
// position, counted from 0, which in a message window puts it after "&Tools".
inline constexpr std::int32_t kPgpMenuPosition = 5;
// The command factory's answer to Init (bits 0 and 4).
inline constexpr std::int32_t kFactoryInitAnswer = 17;
// The event that tells the extension that GroupWise is closing.
inline constexpr char kClosingEvent[] = "GW#E#2";

}  // namespace quillet::host
