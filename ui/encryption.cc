#include "ui/encryption.h"

#include <filesystem>
#include <fstream>
#include <vector>

#include "base/error.h"
#include "base/text.h"

namespace quillet::ui {

void DeleteFile(const std::string& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

void AppendFileToBody(channel::TWP& wpo, const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) throw Error("Cannot open " + file);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    wpo.ExecuteToken("ItemSetText(\"X00\"; Message!; \"" + line + "\";Yes! )");
    wpo.ExecuteToken("ItemSetText(\"X00\"; Message!;\"\r\n\";Yes! )");
  }
}

bool EncryptBody(channel::TWP& wpo, gui::Gui& gui, const std::string& pgp_path,
                 const EncryptStep& step) {
  const std::string temp = pgp_path + "temppgp";
  const std::string armoured = temp + ".asc";
  DeleteFile(armoured);
  wpo.ExecuteToken("ItemSaveMessage(\"X00\";\"" + temp + "\";AnsiText!)");
  bool ran = false;
  {
    const DeletedAfterUse plain(temp);
    ran = step(temp);
  }
  if (!ran) return false;
  if (!std::filesystem::exists(armoured)) {
    gui.Confirm(kNotEncrypted, gui::Buttons::kOk);
    return false;
  }
  wpo.ExecuteToken("ItemSetText(\"X00\"; Message!; \"\"; )");
  try {
    AppendFileToBody(wpo, armoured);
  } catch (const std::exception&) {
    // The rest of the armoured text cannot be copied; the attachments are still encrypted.
  }
  DeleteFile(armoured);
  return true;
}

void EncryptAttachments(channel::TWP& wpo, gui::Gui& gui, const std::string& pgp_path,
                        const std::string& item_id, const EncryptStep& step) {
  wpo.ExecuteToken("ItemAttachmentGetCount(\"" + item_id + "\")");
  const int count = ParseInteger(wpo.GetResult());

  bool all_encrypted = true;
  for (int i = 0; i < count; ++i) {
    const std::string file = pgp_path + "doc" + std::to_string(i);
    DeleteFile(file + ".asc");
    wpo.ExecuteToken("ItemAttachmentSaveAs (\"" + item_id + "\";" + std::to_string(i) + ";\"" +
                     file + "\")");
    {
      const DeletedAfterUse plain(file);
      step(file);
    }
    all_encrypted = all_encrypted && std::filesystem::exists(file + ".asc");
  }
  if (!all_encrypted) {
    gui.Confirm(kNotEncrypted, gui::Buttons::kOk);
    return;
  }
  for (int i = 0; i < count; ++i) wpo.ExecuteToken("AttachmentDelete(0)");
  for (int i = 0; i < count; ++i)
    wpo.ExecuteToken("AttachmentAdd (\"" + pgp_path + "doc" + std::to_string(i) + ".asc\"; Yes!;)");
}

}  // namespace quillet::ui
