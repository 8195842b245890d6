// The token channel of a window: one GroupWiseCommander object of the mail client, to which
// token commands are sent one at a time and whose replies are read back. The commands the program
// sends each have a member here, so that every command text is built in one place, by one rule:
//
// A text argument goes between double quotes as it stands; nothing is escaped. The mail client
// ends a quoted argument at the first quote that is followed by ";" or by the end of the
// arguments, except the text of ItemSetText, which it reads up to the last quote of the command.
// So the text of a body line may hold anything, quotes and semicolons included, and comes back
// as it was; an item ID or a file name that holds a quote could end its argument early, and is
// refused before anything is sent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/automation.h"
#include "platform/com.h"

namespace quillet::channel {

// The item ID of the item being composed in the current view, the new item.
inline constexpr char kNewItem[] = "X00";

class TWP {
 public:
  enum class Field { kFrom, kSubject, kMessage };
  // The same query is sent in two letter cases, each by the operations that have always sent it.
  enum class Spelling { kLower, kMixed };

  // Creates the mail client's token-command object; fails with the system's message when it
  // cannot be created.
  explicit TWP(ole::Com& com);

  // Sends one command. The reply replaces ResultText; a failing command raises the mail client's
  // description, or, when the mail client answers FALSE, that it refused the command, and leaves
  // ResultText as it was.
  void ExecuteToken(const std::string& command);
  // The reply of the last command.
  std::string GetResult() const { return ResultText; }

  // The ID of the item in the current view; kNewItem while a new mail is being composed.
  std::string ItemMessageIdFromView(Spelling spelling);
  void NewMail();
  // Whether the current window is of this kind.
  bool EnvCheckCurrentWindow(int kind);
  // The ID of the first item selected in an item-list control; the list is deleted again.
  std::string FirstSelectedItem(int control);
  std::string ItemGetText(const std::string& id, Field field);
  void ItemOpen(const std::string& id);
  // Writes the item's body into `file` as ANSI text.
  void ItemSaveMessage(const std::string& id, const std::string& file);
  int ItemAttachmentGetCount(const std::string& id);
  void ItemAttachmentSaveAs(const std::string& id, int index, const std::string& file);
  // AttachmentAdd and AttachmentDelete act on the item of the current view.
  void AttachmentAdd(const std::string& file);
  void AttachmentDelete(int index);

  // The new item's body: emptied, or `text` added at its end, two commands per line (the line,
  // then a line break); a last line without a line break gets none.
  void ClearBody();
  void AppendToBody(std::string_view text);
  // The characters AppendToBody puts into a body for `text`: each line end becomes CR LF.
  static std::size_t LengthInBody(std::string_view text);

  ole::Value Commander;
  std::string ResultText;
  std::int32_t ResultCode = 0;
};

}  // namespace quillet::channel
