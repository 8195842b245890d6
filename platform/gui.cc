#include "platform/gui.h"

#include "base/text.h"

namespace quillet::gui {

void Gui::SetTitleFromPath(const std::string& program_path) {
  const std::size_t slash = program_path.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? program_path : program_path.substr(slash + 1);
  if (const std::size_t dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
  // The first letter keeps its case.
  title_ = name.empty() ? name : name.front() + AsciiLower(std::string_view(name).substr(1));
}

void Gui::ReportError(const std::string& message) {
  std::string text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  ShowMessage({text, title_, Icon::kError, Buttons::kOk});
}

Answer Gui::Confirm(const std::string& text, Buttons buttons) {
  return ShowMessage({text, "Confirm", Icon::kQuestion, buttons});
}

}  // namespace quillet::gui
