#include "channel/wpcom32.h"

#include <array>

#include "base/error.h"
#include "base/text.h"

namespace quillet::channel {

namespace {

// An argument the mail client reads up to the first quote, or to the first separator when it is
// not quoted, must hold none of them.
std::string_view Checked(std::string_view value, std::string_view stoppers) {
  if (value.find_first_of(stoppers) != std::string_view::npos)
    throw Error("A token command cannot carry the text " + std::string(value));
  return value;
}

std::string Quoted(std::string_view text) {
  std::string quoted(1, '"');
  quoted.append(Checked(text, "\"")).push_back('"');
  return quoted;
}

std::string Bare(std::string_view value) {
  return std::string(Checked(value, "\";()"));
}

std::string_view FieldName(TWP::Field field) {
  static constexpr std::array<std::string_view, 3> kNames = {"from!", "Subject!", "Message!"};
  return kNames[static_cast<std::size_t>(field)];
}

// Calls `on_line` for every line of `text` without its line end, and `on_break` after each line
// that had one.
template <typename OnLine, typename OnBreak>
void ForEachLine(std::string_view text, OnLine on_line, OnBreak on_break) {
  for (std::size_t start = 0; start < text.size();) {
    const std::size_t end = text.find('\n', start);
    on_line(WithoutCr(text.substr(start, end == std::string_view::npos ? end : end - start)));
    if (end == std::string_view::npos) break;
    on_break();
    start = end + 1;
  }
}

}  // namespace

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

std::string TWP::ItemMessageIdFromView(Spelling spelling) {
  ExecuteToken(spelling == Spelling::kLower ? "itemmessageidfromview()"
                                            : "ItemMessageIDFromView()");
  return ResultText;
}

void TWP::NewMail() {
  ExecuteToken("NewMail()");
}

bool TWP::EnvCheckCurrentWindow(int kind) {
  ExecuteToken("envcheckcurrentwindow(" + std::to_string(kind) + ")");
  return ResultText == "TRUE";
}

std::string TWP::FirstSelectedItem(int control) {
  ExecuteToken("itemlistcreatefromcontrol(" + std::to_string(control) + ";1;)");
  ExecuteToken("itemlistgetitem(" + Bare(ResultText) + ";0)");
  const std::string id = ResultText;
  ExecuteToken("itemlistdelete");
  return id;
}

std::string TWP::ItemGetText(const std::string& id, Field field) {
  ExecuteToken("itemgettext(" + Quoted(id) + ";" + std::string(FieldName(field)) + ")");
  return ResultText;
}

void TWP::ItemOpen(const std::string& id) {
  ExecuteToken("ItemOpen(" + Bare(id) + ")");
}

void TWP::ItemSaveMessage(const std::string& id, const std::string& file) {
  ExecuteToken("ItemSaveMessage(" + Quoted(id) + ";" + Quoted(file) + ";AnsiText!)");
}

int TWP::ItemAttachmentGetCount(const std::string& id) {
  ExecuteToken("ItemAttachmentGetCount(" + Quoted(id) + ")");
  return ParseInteger(ResultText);
}

void TWP::ItemAttachmentSaveAs(const std::string& id, int index, const std::string& file) {
  ExecuteToken("ItemAttachmentSaveAs (" + Quoted(id) + ";" + std::to_string(index) + ";" +
               Quoted(file) + ")");
}

void TWP::AttachmentAdd(const std::string& file) {
  ExecuteToken("AttachmentAdd (" + Quoted(file) + "; Yes!;)");
}

void TWP::AttachmentDelete(int index) {
  ExecuteToken("AttachmentDelete(" + std::to_string(index) + ")");
}

void TWP::ClearBody() {
  ExecuteToken("ItemSetText(" + Quoted(kNewItem) + "; Message!; \"\"; )");
}

// The line goes unchecked: ItemSetText's text runs to the last quote of the command.
void TWP::AppendToBody(std::string_view text) {
  ForEachLine(
      text,
      [this](std::string_view line) {
        ExecuteToken("ItemSetText(" + Quoted(kNewItem) + "; Message!; \"" + std::string(line) +
                     "\";Yes! )");
      },
      [this] { ExecuteToken("ItemSetText(" + Quoted(kNewItem) + "; Message!;\"\r\n\";Yes! )"); });
}

std::size_t TWP::LengthInBody(std::string_view text) {
  std::size_t length = 0;
  ForEachLine(
      text, [&length](std::string_view line) { length += line.size(); },
      [&length] { length += 2; });
  return length;
}

}  // namespace quillet::channel
