// The client's token-command object: `execute` takes one command text of the token language,
// performs it on the mail client and leaves the reply in its second argument.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mailsim/mail_client.h"
#include "platform/autoobject.h"

namespace quillet::mailsim {

class Commander : public ole::AutoObject {
 public:
  explicit Commander(MailClient& client);
  static const ole::DispatchTable& Table();

  // TRUE when the command was performed; a command the client refuses answers FALSE or raises an
  // error with the client's description (MailClient::AnswerFalseForFaults), and changes nothing
  // either way. Commands whose effect is all that matters leave `reply` as it was.
  bool execute(std::string& command, std::string& reply);

 private:
  using Reply = std::optional<std::string>;
  // A command's handler gets the command's name as written and the text between its
  // parentheses.
  using Handler = Reply (Commander::*)(std::string_view name, std::string_view raw);

  Reply ItemMessageIdFromView(std::string_view name, std::string_view raw);
  Reply NewMail(std::string_view name, std::string_view raw);
  Reply EnvCheckCurrentWindow(std::string_view name, std::string_view raw);
  Reply ItemListCreateFromControl(std::string_view name, std::string_view raw);
  Reply ItemListGetItem(std::string_view name, std::string_view raw);
  Reply ItemListDelete(std::string_view name, std::string_view raw);
  Reply ItemGetText(std::string_view name, std::string_view raw);
  Reply ItemOpen(std::string_view name, std::string_view raw);
  Reply ItemSaveMessage(std::string_view name, std::string_view raw);
  Reply ItemSetText(std::string_view name, std::string_view raw);
  Reply ItemAttachmentGetCount(std::string_view name, std::string_view raw);
  Reply ItemAttachmentSaveAs(std::string_view name, std::string_view raw);
  Reply AttachmentDelete(std::string_view name, std::string_view raw);
  Reply AttachmentAdd(std::string_view name, std::string_view raw);

  MailClient& client_;
  // The item list of the last itemlistcreatefromcontrol, until itemlistdelete.
  struct ItemList {
    std::int32_t handle;
    std::vector<std::string> ids;
  };
  std::optional<ItemList> list_;
  std::int32_t next_handle_ = 1;
};

}  // namespace quillet::mailsim
