// The operating system beneath pgp: the few things POSIX systems and Windows do differently, one
// implementation per platform (system_posix.cc, system_win32.cc).
//
// Text crosses this interface in the system's narrow encoding, the one the program's arguments,
// file names, console and outputs are in; GnuPG takes and gives UTF-8 (user IDs, pass phrases,
// the home's name). On POSIX systems the two are the same bytes, a UTF-8 locale being assumed as
// GnuPG assumes it. On Windows the narrow encoding is the ANSI code page: the C runtime hands main
// its arguments in it, programs such as Quillet pass them in it, and the narrow file functions
// take names in it.
#ifndef QUILLET_PGP26_SYSTEM_H_
#define QUILLET_PGP26_SYSTEM_H_

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace pgp26::system {

// --- The process

// Leaves no memory image of the process for others to read when it fails (no core dump, no
// error report), and makes a write past a file-size limit fail rather than end the process.
void KeepProcessPrivate();

// From now on a request to end the process (Ctrl-C, a closed console, a termination request)
// calls `stop` once, on a thread of its own, with the notice the user is to be given; `stop`
// ends the process.
void OnStopRequest(void (*stop)(const std::string& notice));

// The folder that holds the running program, or an empty path when it cannot be found.
std::filesystem::path ProgramFolder();

// The folder of the GnuPG programs that the installation names, in UTF-8 as GPGME takes it, or
// nothing when none is named: then GnuPG is found as GPGME finds it (on Windows beside the
// program, elsewhere on the search path; POSIX systems never name one).
std::optional<std::string> InstalledGnupgFolder();

// Another program's process, watched from before it is told to end, so that a process that
// takes over its ID later is not mistaken for it.
class ProcessWatch {
 public:
  explicit ProcessWatch(long pid);
  ~ProcessWatch();
  ProcessWatch(const ProcessWatch&) = delete;
  ProcessWatch& operator=(const ProcessWatch&) = delete;

  // Returns once the process has ended, or after `milliseconds`.
  void WaitForEnd(int milliseconds);

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

// --- The console

// Turns off the echo of standard input when it is a console; returns what turns it back on, or
// an empty function when standard input is no console.
std::function<void()> TurnEchoOff();

// True when standard input is a console (a terminal).
bool InputIsConsole();

// One line of standard input without its line end; nothing at the end of the input.
std::optional<std::string> ReadLine();

// --- Text

std::string ToUtf8(std::string_view text);
std::string FromUtf8(std::string_view utf8);

// The path as text for messages.
std::string PathText(const std::filesystem::path& path);

// --- Files

// Writes `bytes` into a file that has no name until it is complete, then gives it the name
// `path`, replacing a file there: a process that dies first leaves nothing. Fails with
// std::errc::operation_not_supported where the file system offers no such file (always on
// Windows).
std::error_code WriteAnonymous(const std::string& path, std::string_view bytes);

// Writes `bytes` into the new file `partial`, flushed to the disk, then renames it to `path`,
// replacing a file there (but never a folder). The file is the user's alone: on POSIX systems
// mode 0600 whatever the umask; on Windows, where permission bits mean nothing, an access list
// of its own that names the user alone, whatever the folder's would give. On Windows it is also
// marked for deletion until it is complete, so that a process that dies while writing leaves
// nothing.
std::error_code WriteAndRename(const std::string& partial, const std::string& path,
                               std::string_view bytes);

// Overwrites the file's contents with zeros and flushes them to the disk.
bool OverwriteWithZeros(const std::string& path);

// --- GnuPG

// The name GnuPG is given for the home `home`, in UTF-8. Where the agent's socket names would
// not fit under it (POSIX socket names are short), a short alias that only this user can have
// made, which the caller removes at the end; `alias` tells.
struct GnupgHome {
  std::string name;
  bool alias = false;
};
GnupgHome GnupgHomeName(const std::filesystem::path& home);

}  // namespace pgp26::system

#endif  // QUILLET_PGP26_SYSTEM_H_
