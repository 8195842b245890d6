// The configuration file quillet.ini in the Windows directory: where the PGP program is.
#pragma once

#include <string>

#include "platform/system.h"

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

// Line 2 of the file, split; empty when the file has fewer than two lines. Raises Error when the
// file cannot be read.
SplitFile ReadPgpLocation(const std::string& config_path);

// Writes the four lines: this program's path, the PGP program's path, a notice, and the warning
// not to delete the file. Raises Error when the file cannot be written, or, leaving the file as it
// was, when a path contains a line break.
void WriteConfiguration(const std::string& config_path, const std::string& program_path,
                        const std::string& pgp_path);

}  // namespace quillet::ui
