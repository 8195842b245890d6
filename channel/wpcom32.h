// The token channel of a window: one GroupWiseCommander object of the mail client, to which
// token commands are sent one at a time and whose replies are read back.
#pragma once

#include <cstdint>
#include <string>

#include "platform/automation.h"
#include "platform/com.h"

namespace quillet::channel {

class TWP {
 public:
  // Creates the mail client's token-command object; fails with the system's message when it
  // cannot be created.
  explicit TWP(ole::Com& com);

  // Sends one command. The reply replaces ResultText; a failing command raises the mail client's
  // description, or, when the mail client answers FALSE, that it refused the command, and leaves
  // ResultText as it was.
  void ExecuteToken(const std::string& command);
  // The reply of the last command.
  std::string GetResult() const { return ResultText; }

  ole::Value Commander;
  std::string ResultText;
  std::int32_t ResultCode = 0;
};

}  // namespace quillet::channel
