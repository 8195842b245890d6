#include "ui/config.h"

#include <filesystem>
#include <fstream>

#include "base/error.h"
#include "base/file.h"
#include "base/text.h"

namespace quillet::ui {

std::string WindowsDir(System& system) {
  return system.WindowsDirectory() + system.PathSeparator();
}

SplitFile SplitPath(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/:");
  if (cut == std::string::npos) return {"", path};
  return {path.substr(0, cut + 1), path.substr(cut + 1)};
}

namespace {

// Line 2 of the file, as written; empty when the file has fewer than two lines. Raises Error when
// the file cannot be read.
std::string ReadPgpProgram(const std::string& config_path) {
  std::ifstream in(config_path, std::ios::binary);
  if (!in) throw Error("Cannot open " + config_path);
  std::string own_path, pgp_path;
  GetLine(in, own_path);
  GetLine(in, pgp_path);
  return pgp_path;
}

std::string UserConfigPath(System& system) {
  const char separator = system.PathSeparator();
  return system.ExpandEnvironment("%APPDATA%") + separator + "Quillet" + separator + "quillet.ini";
}

// The user's own configuration when there is one, else the machine's.
std::string ConfigPath(System& system) {
  const std::string own = UserConfigPath(system);
  return std::filesystem::exists(own) ? own : WindowsDir(system) + "quillet.ini";
}

// Copies the installation's PGP program to `program`, in the user's folder, unless the same
// program is there: a new installation's program replaces the copy of the one before. True when
// it was copied.
bool ProvideUserCopy(System& system, const SplitFile& program) {
  const std::string path = program.directory + program.file;
  const std::string master = SplitPath(system.ModuleFileName()).directory + "GnuPG" +
                             system.PathSeparator() + program.file;
  const bool installed = std::filesystem::is_regular_file(master);
  if (std::filesystem::exists(path) && (!installed || ReadWholeFile(path) == ReadWholeFile(master)))
    return false;
  if (!installed)
    throw Error("The PGP program " + path + " is missing, and there is no " + master +
                " to make it from. Install Quillet again, or choose a PGP program with Setup.");
  std::error_code error;
  std::filesystem::create_directories(program.directory, error);
  if (!error)
    std::filesystem::copy_file(master, path, std::filesystem::copy_options::overwrite_existing,
                               error);
  if (error) throw Error("Cannot copy " + master + " to " + path + ": " + error.message());
  return true;
}

// Each path is one line of the file: a line break would end it early and make the rest lines of
// their own, so such a path is refused before the file is touched.
void RequireOneLine(const std::string& path, const std::string& whose,
                    const std::string& config_path) {
  if (path.find_first_of("\r\n") != std::string::npos)
    throw Error("The path of " + whose + " contains a line break and cannot be stored in " +
                config_path);
}

}  // namespace

void WriteConfiguration(const std::string& config_path, const std::string& program_path,
                        const std::string& pgp_path) {
  RequireOneLine(program_path, "this program", config_path);
  RequireOneLine(pgp_path, "the PGP program", config_path);
  WriteWholeFile(config_path, program_path + "\r\n" + pgp_path + "\r\n" +
                                  "Quillet keeps the location of the PGP program here.\r\n" +
                                  "Do not delete.  Required by QUILLET program\r\n");
}

namespace {

// Points the lists at the public and the secret key listing in the PGP directory.
void TakeUp(const SplitFile& location, const PgpSetup& setup) {
  setup.pgp.PGPProg = location.file;
  setup.pgp.PGPPath = location.directory;
  setup.recipients.Filename = setup.pgp.Directory().PublicListing();
  setup.senders.Filename = setup.pgp.Directory().SecretListing();
}

// The PGP options of a folder Quillet made, unless the user has set their own: the sender can
// decrypt what they sent, whose body now holds only cipher text, and long armour stays whole.
void WriteNewPgpConfig(const std::string& directory) {
  const std::string path = pgp::PgpDirectory(directory).Config();
  if (std::filesystem::exists(path)) return;
  WriteWholeFile(path, "EncryptToSelf = on\r\nArmorLines = 0\r\n");
}

}  // namespace

bool ChoosePgpProgram(App& app, gui::OpenFileSettings& dialog, const PgpSetup& setup) {
  System& system = app.platform().system;
  const std::string program_path = system.ModuleFileName();
  app.ShowResidentWindow();
  dialog.title = "Please select the PGP program";
  dialog.file_name.clear();
  if (!setup.pgp.PGPPath.empty()) dialog.initial_dir = setup.pgp.PGPPath;
  const std::optional<std::string> chosen = app.gui().OpenFileDialog(dialog);
  if (!chosen) return false;
  // Stored first: a path the configuration refuses is not taken up by the window either.
  const std::string config = UserConfigPath(system);
  std::error_code ignored;  // a folder that cannot be made fails the write, which says so
  std::filesystem::create_directories(SplitPath(config).directory, ignored);
  WriteConfiguration(config, program_path, *chosen);
  TakeUp(SplitPath(*chosen), setup);
  setup.pgp.WriteKeyListBatch();
  return true;
}

Configured LoadConfiguration(App& app, gui::OpenFileSettings& dialog, const PgpSetup& setup,
                             Unreadable unreadable) {
  System& system = app.platform().system;
  setup.pgp.PGPPath.clear();
  const std::string config = ConfigPath(system);
  if (!std::filesystem::exists(config))
    return ChoosePgpProgram(app, dialog, setup) ? Configured::kChosen : Configured::kNotChosen;
  SplitFile location;
  bool provided = false;
  try {
    const std::string named = ReadPgpProgram(config);
    const std::string expanded = system.ExpandEnvironment(named);
    location = SplitPath(expanded);
    if (expanded != named) provided = ProvideUserCopy(system, location);
  } catch (const Error&) {
    if (unreadable == Unreadable::kRaise) throw;
    location = {};
  }
  TakeUp(location, setup);
  if (provided) {
    setup.pgp.WriteKeyListBatch();
    WriteNewPgpConfig(setup.pgp.PGPPath);
  }
  return Configured::kRead;
}

}  // namespace quillet::ui
