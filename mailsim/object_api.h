// The client's object API: the session object is the root, from which the program reaches the
// logged-in user's account, its mailbox and its messages. Every object reads the store anew at
// each call, so that it shows changes made through token commands as well.
#pragma once

#include "mailsim/mail_client.h"
#include "platform/autoobject.h"

namespace quillet::mailsim {

class Session : public ole::AutoObject {
 public:
  explicit Session(MailClient& client);
  static const ole::DispatchTable& Table();

  // The account of the user the client is logged in as.
  ole::Value Login();

 private:
  MailClient& client_;
};

}  // namespace quillet::mailsim
