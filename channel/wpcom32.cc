#include "channel/wpcom32.h"

#include "base/error.h"

namespace quillet::channel {

TWP::TWP(ole::Com& com) : Commander(com.CreateOleObject("GroupWiseCommander")) {}

void TWP::ExecuteToken(const std::string& command) {
  // Both arguments go by reference, as the mail client expects; what it writes into the first
  // is not used.
  std::string text = command;
  std::string reply = ResultText;
  const ole::Value performed =
      ole::Get(Commander, "execute", {ole::Value(&text), ole::Value(&reply)});
  ResultCode = ole::Convert(performed, ole::VarType::kInt).AsInt();
  // The mail client answers FALSE for a command it did not perform.
  if (!ole::Convert(performed, ole::VarType::kBool).AsBool())
    throw Error("The mail client refused the command " +
                command.substr(0, command.find_first_of("( ")));
  ResultText = reply;
}

}  // namespace quillet::channel
