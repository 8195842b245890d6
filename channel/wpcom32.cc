#include "channel/wpcom32.h"

namespace quillet::channel {

TWP::TWP(ole::Com& com) : Commander(com.CreateOleObject("GroupWiseCommander")) {}

void TWP::ExecuteToken(const std::string& command) {
  // Both arguments go by reference, as the mail client expects; what it writes into the first
  // is not used.
  std::string text = command;
  std::string reply = ResultText;
  const ole::Value code = ole::Get(Commander, "execute", {ole::Value(&text), ole::Value(&reply)});
  ResultText = reply;
  ResultCode = ole::Convert(code, ole::VarType::kInt).AsInt();
}

}  // namespace quillet::channel
