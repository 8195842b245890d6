// The configuration file quillet.ini: where the PGP program is, and how a window takes it up.
// Each user may have one of their own, in their application data, which Setup writes and which
// counts for that user alone; otherwise the one in the Windows directory counts, which the
// installer writes. Its PGP program may be named through environment variables
// ("%APPDATA%\Quillet\PGP\pgp.exe"): such a program is the user's own copy, made on first use
// from the installation's.
#pragma once

#include <string>

#include "pgp/pgpex.h"
#include "platform/gui.h"
#include "platform/system.h"
#include "ui/app.h"

namespace quillet::ui {

// The Windows directory with the separator appended.
std::string WindowsDir(System& system);

// A full path split after its last separator (or drive colon): the directory keeps the
// separator, so directory + file gives the path back.
struct SplitFile {
  std::string directory;
  std::string file;
};
SplitFile SplitPath(const std::string& path);

// Writes the four lines: this program's path, the PGP program's path, a notice, and the warning
// not to delete the file. Raises Error when the file cannot be written, or, leaving the file as it
// was, when a path contains a line break.
void WriteConfiguration(const std::string& config_path, const std::string& program_path,
                        const std::string& pgp_path);

// A window's PGP components, which the configuration sets up.
struct PgpSetup {
  pgp::TPGP& pgp;
  pgp::TPGPList& recipients;
  pgp::TPGPList& senders;
};

// Lets the user pick the PGP program with `dialog` and writes the user's own quillet.ini, then
// sets `setup` up for it and writes the key-listing batch file; false when the user cancels.
bool ChoosePgpProgram(App& app, gui::OpenFileSettings& dialog, const PgpSetup& setup);

// What a window does when quillet.ini is there but cannot be read.
enum class Unreadable {
  kRaise,       // raise the Error: the window reports it and loads no keys
  kLeaveEmpty,  // go on with no PGP location: the lists then report it as they load
};

enum class Configured { kRead, kChosen, kNotChosen };

// Takes up the PGP program that quillet.ini names into `setup` and points the lists at its key
// listings; without the file, lets the user choose the program (ChoosePgpProgram). A program
// named through a variable that is not there yet is copied from the "GnuPG" folder beside this
// program, with the batch file and, unless there is one, a config.txt ("EncryptToSelf = on",
// "ArmorLines = 0") written beside it; without that copy, the file counts as unreadable. The keys are left for the caller to load, as it wants them after each outcome.
Configured LoadConfiguration(App& app, gui::OpenFileSettings& dialog, const PgpSetup& setup,
                             Unreadable unreadable);

}  // namespace quillet::ui
