#include "platform/gui.h"

namespace quillet::gui {

void Gui::SetTitleFromPath(const std::string& program_path) {
  const std::size_t slash = program_path.find_last_of("\\/:");
  std::string name = slash == std::string::npos ? program_path : program_path.substr(slash + 1);
  if (const std::size_t dot = name.rfind('.'); dot != std::string::npos) name.resize(dot);
  for (std::size_t i = 1; i < name.size(); ++i)
    if (name[i] >= 'A' && name[i] <= 'Z') name[i] = static_cast<char>(name[i] - 'A' + 'a');
  title_ = name;
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
